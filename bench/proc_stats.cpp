#include "bench/proc_stats.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace vyn::bench {

namespace {

// The number of the "FIELD:   N kB" (or "FIELD:   N") line of /proc/PID/FILE; -1 when
// unreadable.
long FieldKib(pid_t pid, const char *file, const char *field) {
    std::ifstream text("/proc/" + std::to_string(pid) + "/" + file);
    std::string wanted = std::string(field) + ":";
    for (std::string line; std::getline(text, line);) {
        if (line.compare(0, wanted.size(), wanted) == 0) {
            std::istringstream value(line.substr(wanted.size()));
            long kib = -1;
            value >> kib;
            return kib;
        }
    }
    return -1;
}

}  // namespace

double ProcessCpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The command name (field 2) may hold blanks and parentheses: count from its last ')'.
    std::size_t end = text.rfind(')');
    if (end == std::string::npos || end + 2 >= text.size()) {
        return -1;
    }
    std::istringstream fields(text.substr(end + 2));
    std::string skip;
    for (int field = 3; field < 14; ++field) {
        fields >> skip;
    }
    unsigned long long user = 0;
    unsigned long long system = 0;
    if (!(fields >> user >> system)) {
        return -1;
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double PreciseCpuSeconds(pid_t pid) {
    double total = 0;
    std::error_code error;
    for (const auto &task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        unsigned long long nanoseconds = 0;
        if (stat >> nanoseconds) {
            total += static_cast<double>(nanoseconds) / 1e9;
        }
    }
    return error ? -1 : total;
}

long ProcessMemoryKib(pid_t pid, const char *field) {
    return FieldKib(pid, "status", field);
}

long RollupKib(pid_t pid, const char *field) {
    return FieldKib(pid, "smaps_rollup", field);
}

int ProcessThreads(pid_t pid) {
    return static_cast<int>(FieldKib(pid, "status", "Threads"));
}

double LoadAverage() {
    std::ifstream file("/proc/loadavg");
    double load = -1;
    file >> load;
    return file ? load : -1;
}

int ProcessDescriptors(pid_t pid) {
    std::error_code error;
    std::filesystem::directory_iterator entries("/proc/" + std::to_string(pid) + "/fd", error);
    if (error) {
        return -1;
    }
    int count = 0;
    for (auto it = entries; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            return -1;
        }
        ++count;
    }
    return count;
}

}  // namespace vyn::bench
