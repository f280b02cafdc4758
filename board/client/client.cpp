#include "board/client/client.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/unix_socket.h"

namespace vyn::board {

namespace {

using Deadline = std::chrono::steady_clock::time_point;

Status Failure(std::uint32_t code, std::string message) {
    return Status{code, std::move(message)};
}

enum class Outcome { kDone, kLost, kTimedOut };

Outcome SendAll(int fd, const std::string &line, Deadline deadline) {
    std::size_t sent = 0;
    while (sent < line.size()) {
        ssize_t count = send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EAGAIN) {
            if (!WaitReady(fd, POLLOUT, deadline)) {
                return Outcome::kTimedOut;
            }
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return Outcome::kLost;
        }
    }
    return Outcome::kDone;
}

// Answers come one per request, so everything up to the newline is the one answer.
Outcome ReceiveLine(int fd, std::string &line, Deadline deadline) {
    line.clear();
    char buffer[1024];
    for (;;) {
        ssize_t count = recv(fd, buffer, sizeof buffer, 0);
        if (count > 0) {
            line.append(buffer, static_cast<std::size_t>(count));
            std::size_t end = line.find('\n');
            if (end != std::string::npos) {
                line.resize(end);
                return Outcome::kDone;
            }
            if (line.size() > 64 * 1024) {
                return Outcome::kLost;
            }
        } else if (count < 0 && errno == EAGAIN) {
            if (!WaitReady(fd, POLLIN, deadline)) {
                return Outcome::kTimedOut;
            }
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            return Outcome::kLost;
        }
    }
}

// Turns an answer line into the values after OK, or the error it carries.
Result<std::string> ParseAnswer(std::string_view answer) {
    Result<std::string> result;
    if (answer == "OK" || answer.starts_with("OK ")) {
        result.value = std::string(answer.substr(answer.size() > 2 ? 3 : 2));
        return result;
    }
    if (answer.starts_with("ERR ")) {
        std::string_view rest = answer.substr(4);
        std::size_t blank = rest.find(' ');
        std::uint32_t code = 0;
        if (ParseNumber(rest.substr(0, blank), code, UINT32_MAX) && code != 0) {
            result.error = code;
            result.message =
                blank == std::string_view::npos ? "" : std::string(rest.substr(blank + 1));
            return result;
        }
    }
    result.error = ERROR_INVALID_DATA;
    result.message = "unexpected answer from the board: " + std::string(answer.substr(0, 80));
    return result;
}

template <typename T>
Result<T> Carry(const Status &status) {
    Result<T> result;
    result.error = status.error;
    result.message = status.message;
    return result;
}

template <typename T>
Result<T> BadAnswer(std::string_view values) {
    Result<T> result;
    result.error = ERROR_INVALID_DATA;
    result.message = "unexpected answer from the board: " + std::string(values.substr(0, 80));
    return result;
}

template <typename T>
Result<T> Number(const Result<std::string> &answer, std::uint64_t max) {
    if (!answer.ok()) {
        return Carry<T>(answer);
    }
    Result<T> result;
    if (!ParseNumber(answer.value, result.value, max)) {
        return BadAnswer<T>(answer.value);
    }
    return result;
}

Result<bool> Word(const Result<std::string> &answer, std::string_view yes, std::string_view no) {
    if (!answer.ok()) {
        return Carry<bool>(answer);
    }
    if (answer.value != yes && answer.value != no) {
        return BadAnswer<bool>(answer.value);
    }
    Result<bool> result;
    result.value = answer.value == yes;
    return result;
}

std::string Joined(std::string_view verb, std::string_view port, std::string_view rest = {}) {
    std::string text(verb);
    text += ' ';
    text += port;
    if (!rest.empty()) {
        text += ' ';
        text += rest;
    }
    return text;
}

}  // namespace

bool ParseKeyValues(std::string_view text, KeyValues &pairs) {
    pairs.clear();
    for (std::string_view word : SplitWords(text)) {
        std::size_t equals = word.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            return false;
        }
        pairs.emplace_back(std::string(word.substr(0, equals)),
                           std::string(word.substr(equals + 1)));
    }
    return true;
}

Client::Client(std::string socketPath, std::chrono::milliseconds timeout)
    : path_(std::move(socketPath)), timeout_(timeout) {}

std::string Client::SocketPathIn(std::string_view dir) {
    return std::string(dir) + "/" + std::string(kSocketName);
}

Status Client::Connect() {
    UniqueFd fd;
    switch (int error = ConnectUnix(path_, fd, true)) {
        case 0:
            socket_ = std::move(fd);
            return {};
        case ENAMETOOLONG:
            return Failure(ERROR_INVALID_PARAMETER, "board socket path too long: " + path_);
        default:
            return Failure(error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_NOT_READY,
                           "no board answers at " + path_ + ": " + std::strerror(error));
    }
}

Status Client::Exchange(const std::string &line, std::string &answer) {
    Deadline deadline = std::chrono::steady_clock::now() + timeout_;
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool fresh = !socket_.Valid();
        if (fresh) {
            if (Status status = Connect(); !status.ok()) {
                return status;
            }
        }
        Outcome outcome = SendAll(socket_.Get(), line, deadline);
        if (outcome == Outcome::kDone) {
            outcome = ReceiveLine(socket_.Get(), answer, deadline);
        }
        if (outcome == Outcome::kDone) {
            return {};
        }
        socket_.Reset();  // the stream is out of step or gone
        if (outcome == Outcome::kTimedOut) {
            return Failure(ERROR_SEM_TIMEOUT, "the board did not answer in time");
        }
        if (fresh) {
            break;  // a new connection that fails at once will not do better a second time
        }
    }
    return Failure(ERROR_NOT_READY, "the board closed the connection");
}

Result<std::string> Client::Request(std::string_view verbAndArguments) {
    std::string line = FormatRequest(verbAndArguments);
    if (line.size() > kMaxRequestBytes) {
        return Carry<std::string>(Failure(ERROR_INVALID_PARAMETER, "request too long"));
    }
    std::string answer;
    Status status;
    {
        std::lock_guard lock(mutex_);
        status = Exchange(line, answer);
    }
    if (!status.ok()) {
        return Carry<std::string>(status);
    }
    return ParseAnswer(answer);
}

Result<int> Client::Ports() {
    return Number<int>(Request("PORTS"), 1 << 16);
}

Status Client::SetLine(std::string_view port, const LineSetting &line) {
    std::string values = std::to_string(line.baud) + " " + std::to_string(line.data) + " " +
                         std::to_string(static_cast<int>(line.parity)) + " " +
                         std::to_string(static_cast<int>(line.stop)) + " " +
                         std::string(FlowName(line.flow));
    return Request(Joined("LINE", port, values));
}

Result<LineSetting> Client::GetLine(std::string_view port) {
    Result<std::string> answer = Request(Joined("GETLINE", port));
    if (!answer.ok()) {
        return Carry<LineSetting>(answer);
    }
    std::vector<std::string_view> words = SplitWords(answer.value);
    Result<LineSetting> result;
    int parity = 0;
    int stop = 0;
    if (words.size() != 5 || !ParseNumber(words[0], result.value.baud, kMaxBaud) ||
        !ParseNumber(words[1], result.value.data, 8) || !ParseNumber(words[2], parity, 4) ||
        !ParseNumber(words[3], stop, 2) || !ParseFlow(words[4], result.value.flow)) {
        return BadAnswer<LineSetting>(answer.value);
    }
    result.value.parity = static_cast<Parity>(parity);
    result.value.stop = static_cast<StopBits>(stop);
    return result;
}

Status Client::SetLoopback(std::string_view port, bool on) {
    return Request(Joined("LOOPBACK", port, on ? "on" : "off"));
}

Status Client::SetLoopbackByIndex(std::uint32_t index, bool on) {
    return Request(Joined("LOOPBACK-INDEX", std::to_string(index), on ? "on" : "off"));
}

Result<std::uint32_t> Client::Queue(std::string_view port) {
    return Number<std::uint32_t>(Request(Joined("QUEUE", port)), UINT32_MAX);
}

Status Client::Purge(std::string_view port, PurgeWhat what) {
    std::string_view which = what == PurgeWhat::kReceive    ? "rx"
                             : what == PurgeWhat::kTransmit ? "tx"
                                                            : "both";
    return Request(Joined("PURGE", port, which));
}

Result<ErrorCounters> Client::Errors(std::string_view port) {
    Result<std::string> answer = Request(Joined("ERRORS", port));
    if (!answer.ok()) {
        return Carry<ErrorCounters>(answer);
    }
    KeyValues pairs;
    if (!ParseKeyValues(answer.value, pairs)) {
        return BadAnswer<ErrorCounters>(answer.value);
    }
    Result<ErrorCounters> result;
    ErrorCounters &counters = result.value;
    std::pair<std::string_view, std::uint64_t *> fields[] = {
        {"rx_errors", &counters.rxErrors},       {"sent", &counters.sent},
        {"received", &counters.received},        {"delivered", &counters.delivered},
        {"corrupted", &counters.corrupted},      {"framing_errors", &counters.framingErrors},
        {"overruns", &counters.overruns},        {"dropped", &counters.dropped},
        {"closed_drops", &counters.closedDrops}, {"breaks", &counters.breaks}};
    for (auto &[key, target] : fields) {
        bool found = false;
        for (const auto &[name, value] : pairs) {
            if (name == key) {
                found = ParseNumber(value, *target, UINT64_MAX);
            }
        }
        if (!found) {
            return BadAnswer<ErrorCounters>(answer.value);
        }
    }
    return result;
}

namespace {

Result<ModemState> ModemAnswer(const Result<std::string> &answer) {
    if (!answer.ok()) {
        return Carry<ModemState>(answer);
    }
    std::vector<std::string_view> words = SplitWords(answer.value);
    Result<ModemState> result;
    if (words.size() != 2 || !ParseNumber(words[0], result.value.lines, 255) ||
        !ParseNumber(words[1], result.value.readable, 255)) {
        return BadAnswer<ModemState>(answer.value);
    }
    return result;
}

}  // namespace

Result<ModemState> Client::SetOutputs(std::string_view port, std::uint32_t set,
                                      std::uint32_t clear) {
    return ModemAnswer(
        Request(Joined("OUTPUTS", port, std::to_string(set) + " " + std::to_string(clear))));
}

Result<ModemState> Client::Modem(std::string_view port) {
    return ModemAnswer(Request(Joined("MODEM", port)));
}

Status Client::Break(std::string_view port, bool on) {
    return Request(Joined("BREAK", port, on ? "on" : "off"));
}

Result<bool> Client::ServiceRunning() {
    return Word(Request("SERVICE"), "running", "stopped");
}

Status Client::SetServiceRunning(bool running) {
    return Request(running ? "SERVICE running" : "SERVICE stopped");
}

Result<std::uint32_t> Client::Reserve(std::string_view port) {
    return Number<std::uint32_t>(Request(Joined("RESERVE", port)), UINT32_MAX);
}

Status Client::Free(std::uint32_t handle) {
    return Request("FREE " + std::to_string(handle));
}

Result<bool> Client::Held(std::string_view port) {
    return Word(Request(Joined("HELD", port)), "yes", "no");
}

Status Client::Set(std::string_view port, std::string_view settings) {
    return Request(Joined("SET", port, settings));
}

Result<KeyValues> Client::Show(std::string_view port) {
    Result<std::string> answer = Request(Joined("SHOW", port));
    if (!answer.ok()) {
        return Carry<KeyValues>(answer);
    }
    Result<KeyValues> result;
    if (!ParseKeyValues(answer.value, result.value)) {
        return BadAnswer<KeyValues>(answer.value);
    }
    return result;
}

}  // namespace vyn::board
