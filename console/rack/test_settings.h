// A test's settings as a person types them (--speed 115200 --parity even ...), checked and turned
// into the port's test parameter objects. Settings left out keep the port's current values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/rack/port_snapshot.h"
#include "mml/store.h"
#include "mml/vocabulary.h"

namespace CLI {
class App;
}  // namespace CLI

namespace vyn::console {

// The settings given, in the objects' own encoding (the vocabulary's values).
struct TestSettings {
    std::optional<int32_t> speed;         // portLoopSpeed, baud
    std::optional<int32_t> dataBits;      // portLoopDataSize, 5 to 8
    std::optional<int32_t> parity;        // portLoopParity, a LoopParity
    std::optional<int32_t> stopBits;      // portStopBits, a LoopStopBits
    std::optional<int32_t> flow;          // portLoopFlow, a LoopFlow
    std::optional<int32_t> pattern;       // portLoopPattern, a LoopPattern
    std::optional<std::string> userData;  // portLoopUData
    std::optional<int32_t> dataCheck;     // portLoopDataCheck, a LoopDataCheck
    std::optional<int32_t> time;          // portLoopTime, seconds, 0 until stopped
    std::optional<int32_t> stopOnErrors;  // portLoopStopOnErr, 0 never
    std::optional<int32_t> mode;          // portLoopMode, a LoopMode
    std::optional<int32_t> rasStatus;     // portRasStatus, a RasStatus
    std::optional<int32_t> lines;         // portLoopLines, a LineWiring
    std::optional<int32_t> breakTime;     // portLoopBreakTime, milliseconds, 0 none
    std::optional<int32_t> dataTest;      // portLoopDataTest, a DataTest
};

// Declares the settings as options of `command` (--speed ... --internal). CLI11 checks each
// value as it is parsed (numbers in their ranges, the vocabulary's words, options that exclude
// each other) and puts it into `settings`, which must outlive the parse. User data implies the
// user pattern. A bad value fails the parse with a CLI::ParseError whose text is one line that
// names the option. Without `lineOptions` the speed, data bits, parity and stop bits are left
// to the caller (a sweep gives them step by step).
void AddSettingOptions(CLI::App &command, TestSettings &settings, bool lineOptions = true);

// The parameter bindings for one port (only the settings given).
std::vector<mml::Binding> SettingBindings(const TestSettings &settings, const std::string &instance,
                                          int port);

// The port at the other end of the cable for the port at `index` of the request's `ports`: a
// cable line test takes the ports in pairs (1 2 3 4: 1 with 2, 3 with 4). 0 for other tests.
int32_t CablePeer(const TestSettings &settings, const std::vector<int> &ports, std::size_t index);

// Empty when the request's ports suit the settings (a cable test needs them in pairs).
std::string CheckLinePorts(const TestSettings &settings, std::size_t portCount);

// Empty when a port with these current values can run a test with `settings`; else why not
// (a user-data pattern without data).
std::string CheckRunnable(const TestSettings &settings, const PortSnapshot &current);

// The line settings in short: "115200 8N1", "19200 7E2", "9600 5M1.5".
std::string ShortLineSettings(int32_t speed, int32_t dataBits, int32_t parity, int32_t stopBits);

}  // namespace vyn::console
