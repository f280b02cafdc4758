#include "board/request_handler.h"

#include <optional>

namespace vyn::board {

Answer Ok(std::string_view values) {
    Answer answer;
    answer.line = "OK";
    if (!values.empty()) {
        answer.line += ' ';
        answer.line += values;
    }
    answer.line += '\n';
    return answer;
}

Answer Error(std::uint32_t code, std::string_view text, bool close) {
    Answer answer;
    answer.line = "ERR " + std::to_string(code) + " " + std::string(text) + "\n";
    answer.close = close;
    return answer;
}

namespace {

bool Printable(std::string_view line) {
    for (char c : line) {
        if ((c < 0x20 || c > 0x7e) && c != '\t') {
            return false;
        }
    }
    return true;
}

bool ParseOnOff(std::string_view text, bool &on) {
    if (text == "on" || text == "off") {
        on = text == "on";
        return true;
    }
    return false;
}

std::string_view ParityName(Parity parity) {
    static constexpr std::string_view kNames[] = {"none", "odd", "even", "mark", "space"};
    return kNames[static_cast<int>(parity)];
}

std::string_view StopName(StopBits stop) {
    static constexpr std::string_view kNames[] = {"1", "1.5", "2"};
    return kNames[static_cast<int>(stop)];
}

std::string_view RasName(RasState state) {
    switch (state) {
        case RasState::kHeld:
            return "hold";
        case RasState::kReserved:
            return "reserved";
        case RasState::kFree:
            break;
    }
    return "free";
}

std::string PlugName(const Plug &plug) {
    switch (plug.kind) {
        case Plug::Kind::kLoop:
            return "loop";
        case Plug::Kind::kCross:
            return "cross:COM" + std::to_string(plug.target);
        case Plug::Kind::kNone:
            break;
    }
    return "none";
}

std::string Counters(const PortCounters &counters) {
    auto value = [](const std::atomic<std::uint64_t> &counter) {
        return std::to_string(counter.load(std::memory_order_relaxed));
    };
    return "rx_errors=" + std::to_string(counters.RxErrors()) + " sent=" + value(counters.sent) +
           " received=" + value(counters.received) + " delivered=" + value(counters.delivered) +
           " corrupted=" + value(counters.corrupted) +
           " framing_errors=" + value(counters.framingErrors) +
           " overruns=" + value(counters.overruns) + " dropped=" + value(counters.dropped) +
           " closed_drops=" + value(counters.closedDrops) + " breaks=" + value(counters.breaks);
}

// Applies the changes of a SET whose settings were all valid.
void Apply(PortChanges &changes, Port &port, Clock::time_point now) {
    if (changes.plug) {
        port.plug = *changes.plug;
    }
    if (changes.loopback) {
        port.loopback = *changes.loopback;
    }
    if (changes.corrupt) {
        port.faults.SetCorruptEvery(*changes.corrupt);
    }
    if (changes.framing) {
        port.faults.SetFramingEvery(*changes.framing);
    }
    if (changes.drop) {
        port.faults.SetDropEvery(*changes.drop);
    }
    if (changes.stray) {
        port.faults.SetStray(std::move(*changes.stray));
    }
    if (changes.keepSpeed) {
        port.KeepSpeed(*changes.keepSpeed, now);
    }
    if (changes.receiveBuffer) {
        port.SetReceiveBuffer(*changes.receiveBuffer);
    }
    ApplyLineChanges(changes, port.lineFaults);
    if (changes.hold && *changes.hold && port.ras() == RasState::kFree) {
        port.Hold();
    } else if (changes.hold && !*changes.hold) {
        port.Release();
    }
}

}  // namespace

Answer RequestHandler::Handle(std::string_view line, Clock::time_point now) {
    if (!Printable(line)) {
        return Error(ERROR_INVALID_PARAMETER, "not a board request", true);
    }
    Words words = SplitWords(line);
    if (words.size() < 3 || words[0] != kRequestPrefix) {
        return Error(ERROR_INVALID_PARAMETER, "not a board request", true);
    }
    if (words[1] != std::to_string(kProtocolVersion)) {
        return Error(ERROR_NOT_SUPPORTED, "protocol version not supported", true);
    }
    Words args(words.begin() + 3, words.end());
    return Dispatch(words[2], args, now);
}

Answer RequestHandler::Dispatch(std::string_view verb, const Words &args, Clock::time_point now) {
    if (verb == "PORTS") {
        return args.empty() ? Ok(std::to_string(board_.portCount()))
                            : Error(ERROR_INVALID_PARAMETER, "PORTS takes no argument");
    }
    if (verb == "LINE") {
        return Line(args, now);
    }
    if (verb == "GETLINE") {
        return GetLine(args);
    }
    if (verb == "LOOPBACK") {
        return Loopback(args, false);
    }
    if (verb == "LOOPBACK-INDEX") {
        return Loopback(args, true);
    }
    if (verb == "QUEUE") {
        return Queue(args);
    }
    if (verb == "PURGE") {
        return Purge(args);
    }
    if (verb == "ERRORS") {
        return Errors(args);
    }
    if (verb == "OUTPUTS") {
        return Outputs(args);
    }
    if (verb == "MODEM") {
        return Modem(args);
    }
    if (verb == "BREAK") {
        return Break(args);
    }
    if (verb == "SERVICE") {
        return Service(args);
    }
    if (verb == "RESERVE") {
        return Reserve(args);
    }
    if (verb == "FREE") {
        return Free(args);
    }
    if (verb == "HELD") {
        return Held(args);
    }
    if (verb == "SET") {
        return Set(args, now);
    }
    if (verb == "SHOW") {
        return Show(args);
    }
    return Error(ERROR_INVALID_FUNCTION, "unknown request " + std::string(verb));
}

Port *RequestHandler::PortArgument(const Words &args, std::size_t count, Answer &answer,
                                   bool absentToo) {
    if (args.empty()) {
        answer = Error(ERROR_INVALID_PARAMETER, "no port given");
        return nullptr;
    }
    Port *port = board_.Find(args[0]);
    if (port == nullptr) {
        answer = Error(ERROR_FILE_NOT_FOUND, "no port " + std::string(args[0]));
        return nullptr;
    }
    if (count != 0 && args.size() != count) {
        answer = Error(ERROR_INVALID_PARAMETER, "wrong number of arguments");
        return nullptr;
    }
    if (!absentToo && !port->present()) {
        answer = Error(ERROR_DEVICE_NOT_CONNECTED, port->name() + " is not present");
        return nullptr;
    }
    return port;
}

Answer RequestHandler::Line(const Words &args, Clock::time_point now) {
    Answer answer;
    Port *port = PortArgument(args, 6, answer);
    if (port == nullptr) {
        return answer;
    }
    LineSetting line;
    int parity = 0;
    int stop = 0;
    if (!ParseNumber(args[1], line.baud, kMaxBaud) || line.baud == 0) {
        return Error(ERROR_INVALID_PARAMETER, "baud rate must be 1 to 4000000");
    }
    if (!ParseNumber(args[2], line.data, 8) || line.data < 5) {
        return Error(ERROR_INVALID_PARAMETER, "data bits must be 5 to 8");
    }
    if (!ParseNumber(args[3], parity, 4)) {
        return Error(ERROR_INVALID_PARAMETER, "parity must be 0 to 4");
    }
    if (!ParseNumber(args[4], stop, 2)) {
        return Error(ERROR_INVALID_PARAMETER, "stop bits must be 0 to 2");
    }
    if (!ParseFlow(args[5], line.flow)) {
        return Error(ERROR_INVALID_PARAMETER, "flow must be none, xonxoff, rtscts or dtrdsr");
    }
    line.parity = static_cast<Parity>(parity);
    line.stop = static_cast<StopBits>(stop);
    port->SetLine(line, now);
    return Ok();
}

Answer RequestHandler::GetLine(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 1, answer);
    if (port == nullptr) {
        return answer;
    }
    const LineSetting &line = port->line();
    return Ok(std::to_string(line.baud) + " " + std::to_string(line.data) + " " +
              std::to_string(static_cast<int>(line.parity)) + " " +
              std::to_string(static_cast<int>(line.stop)) + " " + std::string(FlowName(line.flow)));
}

Answer RequestHandler::Loopback(const Words &args, bool byIndex) {
    Port *port = nullptr;
    Answer answer;
    if (byIndex) {
        int index = 0;
        if (args.size() != 2 || !ParseNumber(args[0], index, BoardModel::kMaxPorts)) {
            return Error(ERROR_INVALID_PARAMETER, "usage: LOOPBACK-INDEX index on|off");
        }
        if (index >= board_.portCount()) {
            return Error(ERROR_FILE_NOT_FOUND, "no port with index " + std::string(args[0]));
        }
        port = &board_.At(index);
        if (!port->present()) {
            return Error(ERROR_DEVICE_NOT_CONNECTED, port->name() + " is not present");
        }
    } else if ((port = PortArgument(args, 2, answer)) == nullptr) {
        return answer;
    }
    bool on = false;
    if (!ParseOnOff(args[1], on)) {
        return Error(ERROR_INVALID_PARAMETER, "loopback must be on or off");
    }
    port->loopback = on;
    return Ok();
}

Answer RequestHandler::Queue(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 1, answer);
    return port == nullptr ? answer : Ok(std::to_string(port->QueueBytes()));
}

Answer RequestHandler::Purge(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 2, answer);
    if (port == nullptr) {
        return answer;
    }
    bool rx = args[1] == "rx" || args[1] == "both";
    bool tx = args[1] == "tx" || args[1] == "both";
    if (!rx && !tx) {
        return Error(ERROR_INVALID_PARAMETER, "purge rx, tx or both");
    }
    if (rx) {
        port->PurgeReceive();
    }
    if (tx) {
        port->PurgeTransmit();
    }
    return Ok();
}

Answer RequestHandler::Errors(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 1, answer);
    return port == nullptr ? answer : Ok(Counters(port->counters));
}

Answer RequestHandler::Service(const Words &args) {
    if (args.empty()) {
        return Ok(board_.serviceRunning() ? "running" : "stopped");
    }
    if (args.size() != 1 || (args[0] != "running" && args[0] != "stopped")) {
        return Error(ERROR_INVALID_PARAMETER, "service must be running or stopped");
    }
    board_.SetServiceRunning(args[0] == "running");
    return Ok();
}

Answer RequestHandler::Reserve(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 1, answer);
    if (port == nullptr) {
        return answer;
    }
    std::uint32_t error = 0;
    std::uint32_t handle = board_.Reserve(*port, error);
    if (handle == 0) {
        return Error(error, error == ERROR_SERVICE_NOT_ACTIVE
                                ? "the remote access service is not running"
                                : "the remote access service does not hold " + port->name());
    }
    return Ok(std::to_string(handle));
}

Answer RequestHandler::Free(const Words &args) {
    std::uint32_t handle = 0;
    if (args.size() != 1 || !ParseNumber(args[0], handle, UINT32_MAX)) {
        return Error(ERROR_INVALID_PARAMETER, "usage: FREE handle");
    }
    return board_.Free(handle) ? Ok() : Error(ERROR_INVALID_HANDLE, "no such reservation");
}

Answer RequestHandler::Held(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 1, answer);
    return port == nullptr ? answer : Ok(port->ras() == RasState::kHeld ? "yes" : "no");
}

// One key=value of a SET into `changes`: kValid, kBadValue or kUnknownKey.
RequestHandler::Setting RequestHandler::ParseSetting(std::string_view key, std::string_view value,
                                                     PortChanges &changes) {
    bool valid = true;
    if (key == "plug") {
        Plug plug;
        if (value == "loop") {
            plug.kind = Plug::Kind::kLoop;
        } else if (value.starts_with("cross:")) {
            Port *target = board_.Find(value.substr(6));
            valid = target != nullptr;
            plug.kind = Plug::Kind::kCross;
            plug.target = valid ? target->number() : 0;
        } else {
            valid = value == "none";
        }
        changes.plug = plug;
    } else if (key == "loopback") {
        bool on = false;
        valid = ParseOnOff(value, on);
        changes.loopback = on;
    } else if (key == "corrupt" || key == "framing" || key == "drop") {
        std::uint32_t every = 0;
        valid = ParseNumber(value, every, UINT32_MAX);
        (key == "corrupt"   ? changes.corrupt
         : key == "framing" ? changes.framing
                            : changes.drop) = every;
    } else if (key == "keepspeed") {
        std::uint32_t baud = 0;
        valid = ParseNumber(value, baud, kMaxBaud);
        changes.keepSpeed = baud;
    } else if (key == "stray") {
        std::vector<std::uint8_t> bytes;
        valid = ParseStrayBytes(value, bytes);
        changes.stray = std::move(bytes);
    } else if (key == "rxbuf") {
        std::size_t bytes = 0;
        valid =
            ParseNumber(value, bytes, Port::kMaxReceiveBuffer) && bytes >= Port::kPtyReceiveShare;
        changes.receiveBuffer = bytes;
    } else if (key == "present") {
        valid = value == "yes" || value == "no";
        changes.present = value == "yes";
    } else if (key == "ras") {
        valid = value == "hold" || value == "free";
        changes.hold = value == "hold";
    } else {
        return ParseLineSetting(key, value, changes);
    }
    return valid ? Setting::kValid : Setting::kBadValue;
}

Answer RequestHandler::Set(const Words &args, Clock::time_point now) {
    Answer answer;
    Port *port = PortArgument(args, 0, answer, true);
    if (port == nullptr) {
        return answer;
    }
    if (args.size() < 2) {
        return Error(ERROR_INVALID_PARAMETER, "nothing to set");
    }
    PortChanges changes;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::size_t equals = args[i].find('=');
        if (equals == std::string_view::npos) {
            return Error(ERROR_INVALID_PARAMETER,
                         "expected key=value, not " + std::string(args[i]));
        }
        std::string_view key = args[i].substr(0, equals);
        switch (ParseSetting(key, args[i].substr(equals + 1), changes)) {
            case Setting::kValid:
                break;
            case Setting::kBadValue:
                return Error(ERROR_INVALID_PARAMETER, "bad value in " + std::string(args[i]));
            case Setting::kUnknownKey:
                return Error(ERROR_INVALID_PARAMETER, "unknown setting " + std::string(key));
        }
    }
    // A port comes back before the rest applies to the new device, and goes only after it.
    std::string why;
    if (changes.present && *changes.present && !board_.SetPresent(*port, true, why)) {
        return Error(ERROR_GEN_FAILURE, port->name() + " cannot come back: " + why);
    }
    Apply(changes, *port, now);
    if (changes.present && !*changes.present) {
        board_.SetPresent(*port, false, why);
    }
    return Ok();
}

Answer RequestHandler::Show(const Words &args) {
    Answer answer;
    Port *port = PortArgument(args, 1, answer, true);
    if (port == nullptr) {
        return answer;
    }
    const LineSetting &line = port->line();
    std::string values =
        "port=" + port->name() + " present=" + (port->present() ? "yes" : "no") +
        " device=" + (port->present() ? port->device() : "none") +
        " baud=" + std::to_string(line.baud) + " data=" + std::to_string(line.data) +
        " parity=" + std::string(ParityName(line.parity)) +
        " stop=" + std::string(StopName(line.stop)) + " flow=" + std::string(FlowName(line.flow)) +
        " loopback=" + (port->loopback ? "on" : "off") + " plug=" + PlugName(port->plug) +
        " corrupt=" + std::to_string(port->faults.corruptEvery()) +
        " framing=" + std::to_string(port->faults.framingEvery()) +
        " drop=" + std::to_string(port->faults.dropEvery()) +
        " stray=" + FormatStrayBytes(port->faults.stray()) +
        " keepspeed=" + std::to_string(port->keptSpeed()) +
        " open=" + (port->open() ? "yes" : "no") + " ras=" + std::string(RasName(port->ras())) +
        " held=" + (port->ras() == RasState::kHeld ? "yes" : "no") +
        " handle=" + std::to_string(port->reservation()) +
        " queue=" + std::to_string(port->QueueBytes()) +
        " rxbuf=" + std::to_string(port->receiveBuffer()) +
        " rxwaiting=" + std::to_string(port->ReceiveWaiting()) + " " +
        LineFaultValues(port->lineFaults) + " lines=" + FormatLineNames(board_.Modem(*port).lines) +
        " " + Counters(port->counters);
    return Ok(values);
}

}  // namespace vyn::board
