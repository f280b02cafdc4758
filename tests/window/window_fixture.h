// Shared pieces of the window tests: a private run directory, the peer program as the other
// process, a window procedure that records what it is sent, and a message pump with a limit.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/process.h"

namespace window_test {

using Lines = std::vector<std::string>;

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

std::string UniqueClassName(const char *purpose);
ATOM RegisterWith(const std::string &className, WNDPROC procedure);
HWND CreateOf(const std::string &className, LPVOID parameter = nullptr);

// Gets and dispatches messages until `done()` holds; false if 10 s passed or WM_QUIT came first.
bool PumpUntil(const std::function<bool()> &done);

// Each test gets its own run directory, where windows bind their sockets.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    // The files in the run directory.
    Lines Entries() const;
    // The one socket in the run directory ("" unless there is exactly one).
    std::string SocketPath() const;
    // window_peer (see window_peer.cpp) with these arguments.
    static std::unique_ptr<vyn::test::Child> Peer(const Lines &arguments);
    // A peer hosting a window of `className`, once it is ready.
    static std::unique_ptr<vyn::test::Child> HostInPeer(const std::string &className);
    // The peer's lines until its output ends.
    static Lines Rest(vyn::test::Child &peer);
    // Runs a peer to its end: its first line.
    static std::string RunPeer(const Lines &arguments);

    vyn::test::TempDir run_;
};

}  // namespace window_test
