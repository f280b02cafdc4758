// Shared pieces of the window tests: a private run directory, the peer process, a message pump
// with a time limit, a window procedure that records what it is sent, and a raw socket client.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace window_test {

using namespace std::chrono_literals;
inline constexpr auto kLimit = 10s;

// A fresh run directory, made the process's VYNLOOP_RUNDIR for as long as it lives.
struct RunDirectory {
    RunDirectory();
    ~RunDirectory();
    std::vector<std::string> Entries() const;
    std::string path;
};

// A window_peer process (see window_peer.cpp) whose output the test reads line by line.
class Peer {
  public:
    explicit Peer(std::vector<std::string> arguments);
    ~Peer();  // kills and reaps the process if it still runs
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    bool WaitForLine(const std::string &line);
    // The exit code; nullopt when killed by a signal or still running after kLimit.
    std::optional<int> WaitForExit();
    void Signal(int signalNumber) const;
    std::vector<std::string> lines;

  private:
    bool ReadMore(std::chrono::steady_clock::time_point deadline);
    pid_t pid_ = -1;
    int output_ = -1;
    int pidFd_ = -1;
    std::string pending_;
};

// Runs a peer to its end and returns its first output line.
std::string RunPeer(std::vector<std::string> arguments);

std::string UniqueClassName(const char *purpose);

// What RecordingProc was sent, in order. It keeps WM_CREATE's creation data in `created`,
// passes WM_CLOSE to DefWindowProcA and returns lParam for messages from WM_USER on.
struct Sent {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
inline std::vector<Sent> delivered;
inline CREATESTRUCTA created;
bool WasSent(UINT message);
LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

ATOM RegisterWith(const std::string &className, WNDPROC procedure);
HWND CreateOf(const std::string &className, LPVOID parameter = nullptr);

// Gets and dispatches messages until `done()` holds; false if kLimit passed or WM_QUIT came first.
bool PumpUntil(const std::function<bool()> &done);

// A plain client connection to a window's socket, to send it anything at all.
class RawClient {
  public:
    explicit RawClient(const std::string &socketPath);
    ~RawClient();
    void Send(const std::string &bytes) const;
    std::string ReadToEnd() const;  // until the other side closes, or kLimit

  private:
    int fd_;
};

}  // namespace window_test
