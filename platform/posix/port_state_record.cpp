#include "platform/posix/port_state_record.h"

#include "platform/left_ports.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/unique_fd.h"
#include "platform/posix/locations.h"
#include "platform/posix/serial_file.h"
#include "platform/posix/uart_port.h"

namespace vyn::platform {

namespace {

constexpr char kRecordPrefix[] = "port-state.";
// The modem outputs a test changes and a close leaves as they are.
constexpr int kKeptModemBits = kModemLoopBit | TIOCM_DTR | TIOCM_RTS;

struct PortState {
    std::string path;
    int modem = 0;
    termios2 settings{};
};

// One record file per device, named after its path with '/' as '_'.
std::string RecordFile(const std::string &path) {
    std::string name = path;
    for (char &c : name) {
        c = c == '/' ? '_' : c;
    }
    return RunDirectory() + "/" + kRecordPrefix + name;
}

std::string ToHex(const void *data, std::size_t size) {
    std::string hex;
    char piece[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(piece, sizeof piece, "%02x", static_cast<const unsigned char *>(data)[i]);
        hex += piece;
    }
    return hex;
}

bool FromHex(const std::string &hex, void *data, std::size_t size) {
    if (hex.size() != size * 2) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        unsigned value = 0;
        if (std::sscanf(hex.c_str() + 2 * i, "%2x", &value) != 1) {
            return false;
        }
        static_cast<unsigned char *>(data)[i] = static_cast<unsigned char>(value);
    }
    return true;
}

bool ReadRecord(const std::string &file, PortState &state) {
    std::ifstream in(file);
    std::string key;
    std::string hex;
    return static_cast<bool>(in >> key >> state.path) && key == "path" &&
           static_cast<bool>(in >> key >> state.modem) && key == "modem" &&
           static_cast<bool>(in >> key >> hex) && key == "termios" &&
           FromHex(hex, &state.settings, sizeof state.settings);
}

// Writes the record whole or not at all: a file that a crash cut short is never read.
bool WriteRecord(const std::string &file, const PortState &state) {
    std::string temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "path " << state.path << "\nmodem " << state.modem << "\ntermios "
            << ToHex(&state.settings, sizeof state.settings) << "\n";
        if (!out.flush()) {
            return false;
        }
    }
    ::chmod(temporary.c_str(), 0600);
    return ::rename(temporary.c_str(), file.c_str()) == 0;
}

void PutBack(int fd, const PortState &state) {
    int now = 0;
    if (::ioctl(fd, TIOCMGET, &now) == 0) {
        int off = now & kKeptModemBits & ~state.modem;
        int on = state.modem & kKeptModemBits & ~now;
        if (off != 0) {
            ::ioctl(fd, TIOCMBIC, &off);  // the loopback first goes here
        }
        if (on != 0) {
            ::ioctl(fd, TIOCMBIS, &on);
        }
    }
    ::ioctl(fd, TCSETS2, &state.settings);
}

// Opens the record's port when it is a terminal that nobody holds, puts it back and removes the
// record. A port held by a living agent keeps its record.
bool RestoreFromRecord(const std::string &file) {
    PortState state;
    if (!ReadRecord(file, state)) {
        std::filesystem::remove(file);
        return false;
    }
    // A console is never opened, whatever a record says.
    struct stat named {};
    if (::stat(state.path.c_str(), &named) != 0 || !S_ISCHR(named.st_mode) ||
        IsConsoleDevice(::major(named.st_rdev), ::minor(named.st_rdev)) ||
        IsActiveConsole(named.st_rdev)) {
        std::filesystem::remove(file);
        return false;
    }
    UniqueFd fd(::open(state.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios2 current{};
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0 || info.st_rdev != named.st_rdev ||
        ::ioctl(fd.Get(), TCGETS2, &current) != 0) {
        std::filesystem::remove(file);  // gone, or no longer a terminal: nothing to put back
        return false;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    PutBack(fd.Get(), state);
    std::filesystem::remove(file);
    ::flock(fd.Get(), LOCK_UN);
    return true;
}

}  // namespace

std::unique_ptr<PortStateRecord> PortStateRecord::Keep(const std::string &path, int fd) {
    PortState state;
    state.path = path;
    if (RunDirectory().empty() || ::ioctl(fd, TCGETS2, &state.settings) != 0 ||
        ::ioctl(fd, TIOCMGET, &state.modem) != 0) {
        return nullptr;
    }
    std::string file = RecordFile(path);
    if (!WriteRecord(file, state)) {
        return nullptr;
    }
    return std::unique_ptr<PortStateRecord>(new PortStateRecord(file));
}

PortStateRecord::~PortStateRecord() {
    ::unlink(file_.c_str());
}

int RestoreLeftPorts() {
    std::string dir = RunDirectory();
    std::error_code error;
    if (dir.empty()) {
        return 0;
    }
    int restored = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir, error)) {
        std::string name = entry.path().filename().string();
        if (name.rfind(kRecordPrefix, 0) == 0 && name.find(".new") == std::string::npos &&
            RestoreFromRecord(entry.path().string())) {
            ++restored;
        }
    }
    return restored;
}

void RestoreLeftPort(const std::string &path, int fd) {
    std::string file = RecordFile(path);
    PortState state;
    if (!std::filesystem::exists(file)) {
        return;
    }
    if (ReadRecord(file, state) && state.path == path) {
        PutBack(fd, state);
    }
    std::filesystem::remove(file);
}

}  // namespace vyn::platform

int PutBackLeftPorts() {
    return vyn::platform::RestoreLeftPorts();
}
