#include "board/board_model.h"

namespace vyn::board {

bool BoardModel::Open(int count, std::string &error) {
    for (int number = 1; number <= count; ++number) {
        std::unique_ptr<Port> port = Port::Open(number, error);
        if (!port) {
            return false;
        }
        ports_.push_back(std::move(port));
    }
    return true;
}

Port *BoardModel::Find(std::string_view name) {
    if (!name.starts_with("COM")) {
        return nullptr;
    }
    int number = 0;
    if (!ParseNumber(name.substr(3), number, kMaxPorts) || number < 1 || number > portCount() ||
        name[3] == '0') {
        return nullptr;
    }
    return &At(number - 1);
}

Port *BoardModel::Destination(Port &port) {
    if (port.loopback) {
        return &port;
    }
    switch (port.plug.kind) {
        case Plug::Kind::kLoop:
            return &port;
        case Plug::Kind::kCross:
            if (port.plug.target >= 1 && port.plug.target <= portCount()) {
                return &At(port.plug.target - 1);
            }
            return nullptr;
        case Plug::Kind::kNone:
            break;
    }
    return nullptr;
}

Port *BoardModel::LineSource(Port &port, Wiring &wiring) {
    if (port.loopback) {
        wiring = Wiring::kInternal;
        return &port;
    }
    if (port.plug.kind == Plug::Kind::kLoop) {
        wiring = Wiring::kPlug;
        return &port;
    }
    // A cable: the port whose plug leads to this one.
    for (auto &other : ports_) {
        if (other->plug.kind == Plug::Kind::kCross && other->plug.target == port.number()) {
            wiring = Wiring::kCable;
            return other.get();
        }
    }
    wiring = Wiring::kNone;
    return nullptr;
}

ModemState BoardModel::Modem(Port &port) {
    Wiring wiring = Wiring::kNone;
    Port *source = LineSource(port, wiring);
    std::uint32_t driving = 0;
    if (source != nullptr) {
        // A port in internal loopback drives its own inputs, not its plug.
        driving = wiring == Wiring::kInternal || !source->loopback ? source->Outputs() : 0;
    }
    ModemState state;
    state.lines = port.Outputs() | FaultyInputs(WiredInputs(wiring, driving), port.lineFaults);
    state.readable = kInputLines & ~port.lineFaults.unread;
    return state;
}

void BoardModel::SetBreak(Port &port, bool on) {
    bool starts = on && !port.breakOn;
    port.breakOn = on;
    if (!starts || !port.open()) {
        return;
    }
    if (Port *receiver = Destination(port)) {
        receiver->ReceiveBreak();
    }
}

bool BoardModel::Transmit(Clock::time_point now) {
    bool busy = false;
    // What waited for a reader goes first, so that it stays ahead of what the line brings now.
    for (auto &port : ports_) {
        port->DeliverReceived();
    }
    for (auto &port : ports_) {
        sent_.clear();
        if (port->TakeSent(now, sent_) > 0) {
            if (Port *receiver = Destination(*port)) {
                receiver->Receive(sent_);
            }
        }
        busy = busy || port->Transmitting() || port->Delivering();
    }
    return busy;
}

bool BoardModel::Transmitting() const {
    for (const auto &port : ports_) {
        if (port->Transmitting() || port->Delivering()) {
            return true;
        }
    }
    return false;
}

void BoardModel::Housekeeping(Clock::time_point now) {
    for (auto &port : ports_) {
        if (!port->present()) {
            continue;
        }
        port->FollowTermios(now);
        port->RetryLock();
    }
}

bool BoardModel::SetPresent(Port &port, bool present, std::string &error) {
    if (present == port.present()) {
        return true;
    }
    if (!present) {
        if (presenceHooks_.removing) {
            presenceHooks_.removing(port);
        }
        port.Remove();
        return true;
    }
    if (!port.Restore(error)) {
        return false;
    }
    if (presenceHooks_.restored && !presenceHooks_.restored(port, error)) {
        if (presenceHooks_.removing) {
            presenceHooks_.removing(port);
        }
        port.Remove();
        return false;
    }
    return true;
}

std::uint32_t BoardModel::Reserve(Port &port, std::uint32_t &error) {
    if (!serviceRunning_) {
        error = ERROR_SERVICE_NOT_ACTIVE;
        return 0;
    }
    if (port.ras() != RasState::kHeld) {
        error = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::uint32_t handle = nextHandle_++;
    if (nextHandle_ == 0) {
        nextHandle_ = 1;
    }
    port.Lend(handle);
    return handle;
}

bool BoardModel::Free(std::uint32_t handle) {
    if (handle == 0) {
        return false;
    }
    for (auto &port : ports_) {
        if (port->ras() == RasState::kReserved && port->reservation() == handle) {
            port->Hold();
            return true;
        }
    }
    return false;
}

}  // namespace vyn::board
