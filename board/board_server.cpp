#include "board/board_server.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace vyn::board {

namespace {

// Poller tags: the kind in the high word, a port index or descriptor in the low word.
constexpr std::uint64_t kSignalTag = 1ull << 32;
constexpr std::uint64_t kTimerTag = 2ull << 32;
constexpr std::uint64_t kListenerTag = 3ull << 32;
constexpr std::uint64_t kConnectionTag = 4ull << 32;
constexpr std::uint64_t kPortTag = 5ull << 32;
constexpr std::uint64_t kOpensTag = 6ull << 32;

// While characters are on a line the timer ticks fast enough to keep every queue moving
// smoothly; otherwise it only wakes the housekeeping.
constexpr std::chrono::microseconds kBusyTick{5000};
constexpr std::chrono::microseconds kIdleTick{50000};
constexpr std::chrono::milliseconds kHousekeepingPeriod{250};

}  // namespace

BoardServer::BoardServer() : handler_(model_) {}

BoardServer::~BoardServer() {
    publisher_.reset();
    control_.reset();
    for (const std::string &link : links_) {
        unlink(link.c_str());
    }
}

bool BoardServer::Start(const ServeOptions &options, std::string &error) {
    if (!model_.Open(options.ports, error) || !poller_.Open(error) || !timer_.Open(error) ||
        !opens_.Open(error)) {
        return false;
    }
    for (int index = 0; index < model_.portCount(); ++index) {
        if (!opens_.Watch(model_.At(index).device(), index, error)) {
            return false;
        }
    }
    poller_.Add(opens_.fd(), EPOLLIN, kOpensTag);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    signals_.Reset(signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals_.Valid()) {
        error = std::string("cannot create a signal descriptor: ") + std::strerror(errno);
        return false;
    }
    poller_.Add(signals_.Get(), EPOLLIN, kSignalTag);
    poller_.Add(timer_.fd(), EPOLLIN, kTimerTag);
    timer_.SetPeriod(kIdleTick);
    input_.assign(static_cast<std::size_t>(model_.portCount()), Input::kOff);
    for (int index = 0; index < model_.portCount(); ++index) {
        UpdatePortInput(index);
    }
    // The socket first: it tells whether another board already serves the directory, before
    // anything there is touched.
    control_ = std::make_unique<ControlServer>(poller_, handler_, kListenerTag, kConnectionTag);
    if (!control_->Listen(options.dir + "/" + std::string(kSocketName), error) ||
        !CreateLinks(options.dir, error)) {
        return false;
    }
    if (!options.instance.empty()) {
        std::vector<ErrorPublisher::Source> sources;
        for (int index = 0; index < model_.portCount(); ++index) {
            sources.push_back({model_.At(index).number(), &model_.At(index).counters});
        }
        publisher_ = std::make_unique<ErrorPublisher>(options.instance, std::move(sources));
        publisher_->Start();
    }
    return true;
}

bool BoardServer::CreateLinks(const std::string &dir, std::string &error) {
    for (int index = 0; index < model_.portCount(); ++index) {
        Port &port = model_.At(index);
        std::string link = dir + "/" + port.name();
        struct stat status {};
        if (lstat(link.c_str(), &status) == 0) {
            if (!S_ISLNK(status.st_mode)) {
                error = link + " exists and is not a link";
                return false;
            }
            unlink(link.c_str());  // left behind by a board that did not end cleanly
        }
        if (symlink(port.device().c_str(), link.c_str()) != 0) {
            error = "cannot create " + link + ": " + std::strerror(errno);
            return false;
        }
        links_.push_back(link);
    }
    // A killed board with more ports left links beyond this board's last port. Each points at a
    // pseudo-terminal number that the system hands out again, so a stale COMn could open some
    // other program's terminal: they go too.
    for (int number = model_.portCount() + 1; number <= BoardModel::kMaxPorts; ++number) {
        std::string link = dir + "/" + Port::NameOf(number);
        struct stat status {};
        if (lstat(link.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
            unlink(link.c_str());
        }
    }
    return true;
}

void BoardServer::Run() {
    std::array<epoll_event, 64> events;
    bool running = true;
    bool busy = false;
    while (running) {
        bool ticked = false;
        int count = poller_.Wait(events, -1);
        Clock::time_point now = Clock::now();
        for (int i = 0; i < count; ++i) {
            std::uint64_t tag = events[static_cast<std::size_t>(i)].data.u64;
            std::uint32_t low = static_cast<std::uint32_t>(tag);
            switch (tag & ~0xffffffffull) {
                case kSignalTag:
                    running = false;
                    break;
                case kTimerTag:
                    timer_.Acknowledge();
                    ticked = true;
                    break;
                case kListenerTag:
                    control_->Accept();
                    break;
                case kConnectionTag:
                    // A request about a port's lines or breaks finds the port open when its
                    // sender opened it before asking.
                    opens_.Apply(model_);
                    control_->Service(static_cast<int>(low),
                                      events[static_cast<std::size_t>(i)].events, now);
                    break;
                case kPortTag:
                    OnPortReadable(static_cast<int>(low),
                                   events[static_cast<std::size_t>(i)].events, now);
                    break;
                case kOpensTag:
                    opens_.Apply(model_);
                    break;
                default:
                    break;
            }
        }
        // Characters move on timer ticks only, so that a burst of other events does not turn
        // into a burst of tiny deliveries; a line that just got characters speeds the timer up.
        // Opens and closes are taken first: what a program wrote after opening another port
        // finds that port open.
        opens_.Apply(model_);
        if (ticked) {
            busy = model_.Transmit(now);
        } else if (!busy) {
            busy = model_.Transmitting();
        }
        for (int index = 0; index < model_.portCount(); ++index) {
            UpdatePortInput(index);
        }
        if (now >= nextHousekeeping_) {
            Housekeeping(now);
        }
        timer_.SetPeriod(busy ? kBusyTick : kIdleTick);
    }
}

void BoardServer::OnPortReadable(int index, std::uint32_t events, Clock::time_point now) {
    bool alive = model_.At(index).ReadFromWriters(now);
    if (!alive || (events & (EPOLLHUP | EPOLLERR)) != 0) {
        // No slave end left (the board's own descriptor normally prevents it): stop listening
        // so the hang-up cannot spin the loop, and look again at the next housekeeping.
        poller_.Remove(model_.At(index).masterFd());
        input_[static_cast<std::size_t>(index)] = Input::kGone;
    }
}

void BoardServer::UpdatePortInput(int index) {
    Input &state = input_[static_cast<std::size_t>(index)];
    if (state == Input::kGone) {
        return;
    }
    Port &port = model_.At(index);
    Input wanted = port.HasRoom() ? Input::kOn : Input::kOff;
    if (wanted == state) {
        return;
    }
    std::uint32_t events = wanted == Input::kOn ? EPOLLIN : 0u;
    std::uint64_t tag = kPortTag | static_cast<std::uint32_t>(index);
    if (!poller_.Modify(port.masterFd(), events, tag)) {
        poller_.Add(port.masterFd(), events, tag);
    }
    state = wanted;
}

void BoardServer::Housekeeping(Clock::time_point now) {
    nextHousekeeping_ = now + kHousekeepingPeriod;
    model_.Housekeeping(now);
    control_->DropStale(now);
    for (std::size_t index = 0; index < input_.size(); ++index) {
        if (input_[index] == Input::kGone) {
            input_[index] = Input::kOff;  // listen again; a hang-up that persists comes back
            UpdatePortInput(static_cast<int>(index));
        }
    }
}

}  // namespace vyn::board
