// The board's control socket: accepts clients, frames their requests into lines and writes the
// answers, never blocking the board's loop.
//
// Only root and the board's own user may connect. Requests are bounded in size; a request left
// incomplete for kPartialLimit, or a client that stops reading its answers, is dropped.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "base/unique_fd.h"
#include "board/line_pacer.h"
#include "board/poller.h"
#include "board/request_handler.h"

namespace vyn::board {

class ControlServer {
  public:
    static constexpr std::size_t kMaxConnections = 64;
    static constexpr std::size_t kMaxPendingOutput = 64 * 1024;
    static constexpr std::chrono::seconds kPartialLimit{5};

    // `tagBase` | fd tags the connections in the poller; `listenerTag` the listening socket.
    ControlServer(Poller &poller, RequestHandler &handler, std::uint64_t listenerTag,
                  std::uint64_t tagBase);
    ~ControlServer();
    ControlServer(const ControlServer &) = delete;
    ControlServer &operator=(const ControlServer &) = delete;

    // Binds the socket at `path` (replacing a stale one; refusing if a board answers there).
    bool Listen(const std::string &path, std::string &error);
    void Accept();
    void Service(int fd, std::uint32_t events, Clock::time_point now);
    void DropStale(Clock::time_point now);

  private:
    struct Connection {
        UniqueFd fd;
        std::string input;
        std::string output;
        Clock::time_point partialSince{};
        bool closing = false;
        bool wantsOutput = false;
    };

    void ReadRequests(Connection &connection, Clock::time_point now);
    // Sends what it can; false when the connection is over.
    bool Flush(Connection &connection);
    void Close(int fd);

    Poller &poller_;
    RequestHandler &handler_;
    std::uint64_t listenerTag_;
    std::uint64_t tagBase_;
    UniqueFd listener_;
    std::string path_;
    std::map<int, Connection> connections_;
};

}  // namespace vyn::board
