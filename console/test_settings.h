// A test's settings as a person types them (--speed 115200 --parity even ...), checked and turned
// into the port's test parameter objects. Settings left out keep the port's current values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/port_snapshot.h"
#include "mml/store.h"

namespace vyn::console {

// The words from the command line, empty when not given.
struct SettingWords {
    std::string speed, dataBits, parity, stopBits, flow, pattern, data, dataHex, time, stopOnErrors,
        rasStatus;
    bool noCheck = false, check = false, internal = false, external = false;
};

// The checked values, in the objects' own encoding.
struct TestSettings {
    std::optional<int32_t> speed;         // portLoopSpeed, baud
    std::optional<int32_t> dataBits;      // portLoopDataSize, 5 to 8
    std::optional<int32_t> parity;        // portLoopParity, 1 none ... 5 space
    std::optional<int32_t> stopBits;      // portStopBits, 1 one, 2 one and a half, 3 two
    std::optional<int32_t> flow;          // portLoopFlow, 1 none ... 4 dtrdsr
    std::optional<int32_t> pattern;       // portLoopPattern, 1 barber pole, 2 user data
    std::optional<std::string> userData;  // portLoopUData
    std::optional<int32_t> dataCheck;     // portLoopDataCheck, 1 check, 2 count only
    std::optional<int32_t> time;          // portLoopTime, seconds, 0 until stopped
    std::optional<int32_t> stopOnErrors;  // portLoopStopOnErr, 0 never
    std::optional<int32_t> mode;          // portLoopMode, 1 internal, 2 external
    std::optional<int32_t> rasStatus;     // portRasStatus, 0 or 1
};

inline constexpr std::size_t kMaxUserData = 256;  // what the agent keeps of portLoopUData

// Checks every word; false with a one-line reason naming the option.
bool ParseSettings(const SettingWords &words, TestSettings &settings, std::string &reason);

// The parameter bindings for one port (only the settings given).
std::vector<mml::Binding> SettingBindings(const TestSettings &settings, const std::string &instance,
                                          int port);

// Empty when a port with these current values can run a test with `settings`; else why not
// (a user-data pattern without data).
std::string CheckRunnable(const TestSettings &settings, const PortSnapshot &current);

// The line settings in short: "115200 8N1", "19200 7E2", "9600 5M1.5".
std::string ShortLineSettings(int32_t speed, int32_t dataBits, int32_t parity, int32_t stopBits);

}  // namespace vyn::console
