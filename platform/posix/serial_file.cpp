// CreateFileA: "\\.\NAME" resolves inside the device directory to a serial port, or names the
// board's control device. Nothing is opened before the name and the object it names have passed
// every check, and a console is never opened.
#include "platform/posix/serial_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/names.h"
#include "platform/posix/board_port.h"
#include "platform/posix/control_device.h"
#include "platform/posix/error.h"
#include "platform/posix/locations.h"
#include "platform/posix/overlapped.h"
#include "platform/posix/port_state_record.h"
#include "platform/posix/serial_line.h"
#include "platform/posix/termios_line.h"
#include "platform/posix/uart_port.h"

namespace vyn::platform {

namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";
}  // namespace

// The terminals this machine's kernel writes its console to (for example a serial port that is
// not a virtual console), from sysfs: nothing is opened to learn it.
bool IsActiveConsole(dev_t device) {
    std::ifstream active("/sys/class/tty/console/active");
    std::string name;
    while (active >> name) {
        if (name.find('/') != std::string::npos || name == "." || name == "..") {
            continue;
        }
        std::ifstream numbers("/sys/class/tty/" + name + "/dev");
        unsigned major = 0;
        unsigned minor = 0;
        char colon = 0;
        if (numbers >> major >> colon >> minor && colon == ':' && major == ::major(device) &&
            minor == ::minor(device)) {
            return true;
        }
    }
    return false;
}

namespace {

// Gives up what an open port claimed, before its descriptor closes.
void Unclaim(int fd) {
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
}

HANDLE Fail(DWORD &error, DWORD code) {
    error = code;
    return nullptr;
}

// Opens the object that `where` (an O_PATH descriptor) names, and nothing else: through /proc
// when it is there, else by the path, checked to be the same object afterwards.
UniqueFd OpenSameObject(int where, const std::string &path, const struct stat &expected) {
    constexpr int kFlags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    std::string viaProc = "/proc/self/fd/" + std::to_string(where);
    UniqueFd fd(::open(viaProc.c_str(), kFlags));
    if (!fd.Valid() && errno == ENOENT) {
        fd.Reset(::open(path.c_str(), kFlags));
    }
    if (!fd.Valid()) {
        return fd;
    }
    struct stat opened {};
    if (::fstat(fd.Get(), &opened) != 0 || opened.st_rdev != expected.st_rdev ||
        opened.st_ino != expected.st_ino || opened.st_dev != expected.st_dev) {
        errno = EINVAL;
        return UniqueFd();
    }
    return fd;
}

}  // namespace

DWORD DeviceNameOf(const char *fileName, std::string &name) {
    if (fileName == nullptr || std::strncmp(fileName, kDevicePrefix, 4) != 0) {
        return ERROR_INVALID_NAME;
    }
    const char *rest = fileName + 4;
    std::size_t length = ::strnlen(rest, kMaxDeviceName + 1);
    if (length == 0 || length > kMaxDeviceName) {
        return ERROR_INVALID_NAME;
    }
    std::string candidate(rest, length);
    if (candidate == "." || candidate == "..") {
        return ERROR_INVALID_NAME;
    }
    for (char c : candidate) {
        if (c == '/' || c == '\\' || c == ' ' || static_cast<unsigned char>(c) < 0x20 ||
            c == 0x7f) {
            return ERROR_INVALID_NAME;
        }
    }
    name = std::move(candidate);
    return ERROR_SUCCESS;
}

bool IsConsoleDevice(unsigned major, unsigned minor) {
    return (major == 4 && minor < 64) || major == 5;
}

bool IsPtySlave(unsigned major) {
    return major >= 136 && major <= 143;
}

SerialPort::SerialPort(UniqueFd fd, std::unique_ptr<PortDriver> driver, std::uint64_t channel,
                       DWORD access)
    : fd_(std::move(fd)),
      driver_(std::move(driver)),
      channel_(channel),
      access_(access),
      dcb_(DefaultDcb()) {}

SerialPort::~SerialPort() {
    if (IsOpen()) {
        OnClose();
    }
}

void SerialPort::OnClose() {
    if (closed_.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    Reactor::Instance().Detach(channel_);
    driver_->Release();
    stateRecord_.reset();  // put back: nothing left to restore after a crash
    Unclaim(fd_.Get());
}

COMMTIMEOUTS SerialPort::Timeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

void SerialPort::SetTimeouts(const COMMTIMEOUTS &timeouts) {
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
}

DCB SerialPort::LastDcb() const {
    std::lock_guard lock(mutex_);
    return dcb_;
}

void SerialPort::SetLastDcb(const DCB &dcb) {
    std::lock_guard lock(mutex_);
    dcb_ = dcb;
}

HANDLE OpenSerialPort(const std::string &name, DWORD access, DWORD &error) {
    std::string path = DeviceDirectory() + "/" + name;
    // An O_PATH descriptor names the object (links followed) without opening it.
    UniqueFd where(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!where.Valid()) {
        return Fail(error, Win32ErrorFromErrno(errno));
    }
    struct stat status {};
    if (::fstat(where.Get(), &status) != 0) {
        return Fail(error, Win32ErrorFromErrno(errno));
    }
    if (!S_ISCHR(status.st_mode)) {
        return Fail(error, ERROR_INVALID_PARAMETER);  // a file, a directory, a FIFO, a socket
    }
    unsigned major = ::major(status.st_rdev);
    unsigned minor = ::minor(status.st_rdev);
    if (IsConsoleDevice(major, minor) || IsActiveConsole(status.st_rdev)) {
        return Fail(error, kErrorConsolePort);
    }
    UniqueFd fd = OpenSameObject(where.Get(), path, status);
    if (!fd.Valid()) {
        // EBUSY: someone holds it with TIOCEXCL.
        return Fail(error, errno == EBUSY ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
    }
    termios2 settings{};
    if (::ioctl(fd.Get(), TCGETS2, &settings) != 0) {
        return Fail(error, ERROR_INVALID_PARAMETER);  // not a terminal
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return Fail(error, errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : Win32ErrorFromErrno(errno));
    }
    std::unique_ptr<PortDriver> driver;
    std::unique_ptr<PortStateRecord> record;
    if (IsPtySlave(major)) {
        auto board = std::make_unique<BoardPort>(fd.Get(), name, BoardSocketPath());
        // Between a port's release and the service taking its lock back, the lock alone would
        // let us in.
        if (board->HeldByService()) {
            ::flock(fd.Get(), LOCK_UN);
            return Fail(error, ERROR_ACCESS_DENIED);
        }
        driver = std::move(board);
    } else {
        // What an agent that died with the port open left on it goes first, so that the driver
        // finds the port as it was before that agent.
        RestoreLeftPort(path, fd.Get());
        record = PortStateRecord::Keep(path, fd.Get());
        driver = std::make_unique<UartPort>(fd.Get(), KernelUartSystem());
    }
    ::ioctl(fd.Get(), TIOCEXCL);
    MakeRaw(settings);
    if (::ioctl(fd.Get(), TCSETS2, &settings) != 0) {
        DWORD code = Win32ErrorFromErrno(errno);
        Unclaim(fd.Get());
        return Fail(error, code);
    }
    std::uint64_t channel = Reactor::Instance().Attach(fd.Get(), *driver, error);
    if (channel == 0) {
        Unclaim(fd.Get());
        return nullptr;
    }
    auto port = std::make_shared<SerialPort>(std::move(fd), std::move(driver), channel, access);
    port->KeepStateRecord(std::move(record));
    error = ERROR_SUCCESS;
    return HandleTable::Instance().Insert(std::move(port));
}

std::shared_ptr<SerialPort> PortOf(HANDLE file) {
    auto &table = HandleTable::Instance();
    auto port = table.FindAs<SerialPort>(file);
    if (!port || !port->IsOpen()) {
        FailWith(table.FindAs<ControlDevice>(file) ? ERROR_INVALID_FUNCTION : ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return port;
}

}  // namespace vyn::platform

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD /*shareMode*/, LPVOID /*security*/,
                          DWORD creationDisposition, DWORD /*flags*/, HANDLE /*templateFile*/) {
    using namespace vyn::platform;
    std::string name;
    DWORD error = DeviceNameOf(fileName, name);
    if (error == ERROR_SUCCESS && creationDisposition != OPEN_EXISTING) {
        error = ERROR_INVALID_PARAMETER;  // devices are opened, never created
    }
    HANDLE handle = nullptr;
    if (error == ERROR_SUCCESS) {
        // The board's control device is named after its control socket.
        handle = vyn::SameName(name, vyn::board::kSocketName) ? OpenControlDevice(error)
                                                              : OpenSerialPort(name, access, error);
    }
    if (handle == nullptr) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}
