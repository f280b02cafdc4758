// The system calls of this file are Windows' own, from <windows.h>.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <type_traits>

#include "base/host.h"

namespace vyn {

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// The processes this console started, by id, for as long as it may ask how they ended.
std::map<pid_t, UniqueHandle> &Started() {
    static std::map<pid_t, UniqueHandle> started;
    return started;
}

bool IsConsole(HANDLE handle, DWORD &mode) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// One argument as the program's C runtime splits its command line back: quoted when it holds a
// blank or a quote, with the backslashes before a quote (and before the closing one) doubled.
std::string Quoted(const std::string &word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) {
        return word;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            quoted.append(2 * backslashes + 1, '\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted.push_back(c);
    }
    quoted.append(backslashes, '\\');
    quoted.push_back('"');
    return quoted;
}

std::string SystemText(DWORD code) {
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) {
        text[--length] = '\0';
    }
    return length > 0 ? text : "error " + std::to_string(code);
}

}  // namespace

// The live view moves the cursor with escape sequences, which a Windows console takes once
// asked to; a console that cannot is treated as no terminal, and gets plain lines.
std::string OwnHostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) {
        return {};
    }
    return std::string(name, size);
}

bool StdoutIsTerminal() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (!IsConsole(out, mode)) {
        return false;
    }
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool StdinIsTerminal() {
    DWORD mode = 0;
    return IsConsole(GetStdHandle(STD_INPUT_HANDLE), mode);
}

std::size_t TerminalWidth(std::FILE *file) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    if (handle != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(handle, &info) &&
        info.srWindow.Right > info.srWindow.Left) {
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
    }
    return 80;
}

std::filesystem::path OwnProgramFile() {
    std::string name(MAX_PATH, '\0');
    for (;;) {
        DWORD length = GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(2 * name.size());
    }
}

const char *AgentProgramName() {
    return "vynloop.exe";
}

char PathListSeparator() {
    return ';';
}

bool IsExecutableFile(const std::filesystem::path &path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

std::vector<std::string> OwnEnvironment() {
    std::vector<std::string> entries;
    char *block = GetEnvironmentStringsA();
    if (block == nullptr) {
        return entries;
    }
    for (const char *entry = block; *entry != '\0'; entry += entries.back().size() + 1) {
        entries.emplace_back(entry);
    }
    FreeEnvironmentStringsA(block);
    return entries;
}

bool StartDetached(const std::vector<std::string> &argv,
                   const std::vector<std::string> &environment, pid_t &pid, std::string &reason) {
    std::string commandLine;
    for (const std::string &word : argv) {
        if (!commandLine.empty()) {
            commandLine.push_back(' ');
        }
        commandLine += Quoted(word);
    }
    std::string block;
    for (const std::string &entry : environment) {
        block += entry;
        block.push_back('\0');
    }
    block.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // No console of its own nor ours (DETACHED_PROCESS), so Ctrl-C here never reaches it, and
    // no handle of ours.
    if (!CreateProcessA(argv.front().c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, block.data(), nullptr,
                        &startup, &process)) {
        reason = SystemText(GetLastError());
        return false;
    }
    CloseHandle(process.hThread);
    pid = static_cast<pid_t>(process.dwProcessId);
    Started()[pid] = UniqueHandle(process.hProcess);
    return true;
}

std::optional<std::string> DetachedEnded(pid_t pid) {
    auto found = Started().find(pid);
    if (found == Started().end()) {
        return "ended";
    }
    DWORD code = 0;
    if (WaitForSingleObject(found->second.get(), 0) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(found->second.get(), &code)) {
        return std::nullopt;
    }
    Started().erase(found);
    return "exited with status " + std::to_string(code);
}

void EndDetached(pid_t pid) {
    auto found = Started().find(pid);
    if (found != Started().end()) {
        TerminateProcess(found->second.get(), 1);
        Started().erase(found);
    }
}

}  // namespace vyn
