// Publishes each port's receive-error total to the management store as
// portErrStatRxTotal.<instance>.<port>: within a tenth of a second of a change, and once a second
// in any case. It runs on its own thread so that a slow or locked store never
// holds up the board's lines. Only objects that exist are set; a store failure is retried on the
// next round and never stops the board.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board/port.h"

namespace vyn::board {

class ErrorPublisher {
  public:
    struct Source {
        int portNumber;
        const PortCounters *counters;  // outlives the publisher
    };

    // The store is the one VYNLOOP_MIB names when the thread opens it.
    ErrorPublisher(std::string instance, std::vector<Source> sources);
    ~ErrorPublisher();
    ErrorPublisher(const ErrorPublisher &) = delete;
    ErrorPublisher &operator=(const ErrorPublisher &) = delete;

    void Start();

  private:
    void Run(std::stop_token stop);
    void PublishOnce();

    std::string instance_;
    std::vector<Source> sources_;
    std::uint32_t session_ = 0;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::jthread thread_;
};

}  // namespace vyn::board
