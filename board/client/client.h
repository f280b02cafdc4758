// The client of the virtual board's control protocol (see board/client/protocol.h).
//
// A Client talks to one board through its control socket. It connects on first use, keeps the
// connection for later requests, and when the board has gone away in between (restarted), it
// reconnects and sends the request once more. Every call waits at most the time-out given at
// construction (kBoardTimeout unless told). Failures carry a Win32 error code: the board's own
// answer code, or
//   2   (file not found)  no board socket at the path
//   21  (not ready)       the board cannot be reached
//   121 (timeout)         no answer in time
//   13  (invalid data)    an answer that is not one
// A Client may be shared between threads; its requests are served one at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "board/client/protocol.h"

namespace vyn::board {

struct Status {
    std::uint32_t error = 0;  // Win32 code; 0 on success
    std::string message;

    bool ok() const { return error == 0; }
};

template <typename T>
struct Result : Status {
    T value{};
};

struct ErrorCounters {
    std::uint64_t rxErrors = 0;  // framing errors + overruns
    std::uint64_t sent = 0;
    std::uint64_t received = 0;
    std::uint64_t delivered = 0;
    std::uint64_t corrupted = 0;
    std::uint64_t framingErrors = 0;
    std::uint64_t overruns = 0;
    std::uint64_t dropped = 0;      // lost by the drop fault, without an error
    std::uint64_t closedDrops = 0;  // arrived while nobody had the port open
    std::uint64_t breaks = 0;       // breaks that reached the receiver
};

// A port's modem lines (kLineRts ... kLineRi): outputs held and inputs on, and the inputs its
// driver can read.
struct ModemState {
    std::uint32_t lines = 0;
    std::uint32_t readable = kInputLines;
};

enum class PurgeWhat { kReceive, kTransmit, kBoth };

using KeyValues = std::vector<std::pair<std::string, std::string>>;

// A board answers at once; a board that does not within this time is taken as unreachable.
inline constexpr std::chrono::milliseconds kBoardTimeout{2000};

class Client {
  public:
    explicit Client(std::string socketPath, std::chrono::milliseconds timeout = kBoardTimeout);

    // The control socket of a board serving the directory `dir`.
    static std::string SocketPathIn(std::string_view dir);
    const std::string &socketPath() const { return path_; }

    // One request ("VERB ARG ..."); on success the value is the text after "OK".
    Result<std::string> Request(std::string_view verbAndArguments);

    Result<int> Ports();
    Status SetLine(std::string_view port, const LineSetting &line);
    Result<LineSetting> GetLine(std::string_view port);
    Status SetLoopback(std::string_view port, bool on);
    Status SetLoopbackByIndex(std::uint32_t index, bool on);
    Result<std::uint32_t> Queue(std::string_view port);
    Status Purge(std::string_view port, PurgeWhat what);
    Result<ErrorCounters> Errors(std::string_view port);
    Result<ModemState> SetOutputs(std::string_view port, std::uint32_t set, std::uint32_t clear);
    Result<ModemState> Modem(std::string_view port);
    Status Break(std::string_view port, bool on);
    Result<bool> ServiceRunning();
    Status SetServiceRunning(bool running);
    Result<std::uint32_t> Reserve(std::string_view port);
    Status Free(std::uint32_t handle);
    Result<bool> Held(std::string_view port);
    // Applies "key=value ..." settings (plug, loopback, corrupt, framing, drop, stray, rxbuf,
    // keepspeed, ras, and the line faults dead, stuck, swap, held, unread).
    Status Set(std::string_view port, std::string_view settings);
    Result<KeyValues> Show(std::string_view port);

  private:
    Status Connect();
    // Sends the line and reads one answer line, reconnecting once if the board went away.
    Status Exchange(const std::string &line, std::string &answer);

    std::string path_;
    std::chrono::milliseconds timeout_;
    std::mutex mutex_;
    UniqueFd socket_;
};

// Splits "key=value key=value" into pairs; false if a word has no '='.
bool ParseKeyValues(std::string_view text, KeyValues &pairs);

}  // namespace vyn::board
