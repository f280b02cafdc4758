// The running board: its ports, their links in the board's directory, the control socket, and
// the one event loop (epoll + a timer) that moves every character.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "board/board_model.h"
#include "board/control_server.h"
#include "board/error_publisher.h"
#include "board/open_watch.h"
#include "board/poller.h"
#include "board/request_handler.h"

namespace vyn::board {

struct ServeOptions {
    std::string dir;
    int ports = 1;
    std::string instance;  // non-empty: publish receive-error totals for this instance
};

class BoardServer {
  public:
    BoardServer();
    ~BoardServer();
    BoardServer(const BoardServer &) = delete;
    BoardServer &operator=(const BoardServer &) = delete;

    // Creates the ports, their links and the control socket. SIGTERM and SIGINT must already be
    // blocked in every thread: the loop takes them from a signalfd.
    bool Start(const ServeOptions &options, std::string &error);
    // Runs until SIGTERM or SIGINT.
    void Run();

  private:
    // kGone: the pty reported a hang-up, listened to again at the next housekeeping; kAbsent:
    // the port is removed.
    enum class Input { kOff, kOn, kGone, kAbsent };

    bool CreateLinks(std::string &error);
    bool CreateLink(const Port &port, std::string &error);
    void OnRemoving(Port &port);
    bool OnRestored(Port &port, std::string &error);
    void OnPortReadable(int index, std::uint32_t events, Clock::time_point now);
    void UpdatePortInput(int index);
    void Housekeeping(Clock::time_point now);

    BoardModel model_;
    RequestHandler handler_;
    Poller poller_;
    PeriodicTimer timer_;
    OpenWatch opens_;
    UniqueFd signals_;
    std::unique_ptr<ControlServer> control_;
    std::unique_ptr<ErrorPublisher> publisher_;
    std::string dir_;
    std::vector<std::string> links_;
    std::vector<Input> input_;
    Clock::time_point nextHousekeeping_{};
};

}  // namespace vyn::board
