#include "mml/dictionary.h"

#include <array>

#include "mml/record_fields.h"
#include "mml/vocabulary.h"

namespace vyn::mml {

namespace {

constexpr ObjectDef Int(std::string_view name, int32_t value) {
    return {name, ValueType::Integer, Scope::PerPort, value, {}};
}
constexpr ObjectDef Text(std::string_view name) {
    return {name, ValueType::Octets, Scope::PerPort, 0, {}};
}
constexpr ObjectDef InstanceText(std::string_view name) {
    return {name, ValueType::Octets, Scope::ModuleWide, 0, {}};
}

// Defaults: internal loopback, barber-pole pattern, 9600 baud 8N1 without flow control, data
// check on, 10 seconds, no stop on error, 4 KiB input buffer; no line or break test before the
// data test; results empty and zero; the
// instance's board serial number and run labels empty.
constexpr std::array kObjects = {
    Text("portName"),
    Int("portLoopMode", LoopModeInternal),
    Int("portLoopState", LoopStateIdle),
    Int("portLoopPattern", LoopPatternBarber),
    Text("portLoopUData"),
    Int("portLoopSpeed", 9600),
    Int("portLoopParity", ParityNone),
    Int("portLoopDataSize", 8),
    Int("portLoopFlow", FlowNone),
    Int("portLoopDataCheck", DataCheckOn),
    Int("portLoopTime", 10),
    Int("portLoopStopOnErr", 0),
    Int("portErrStatRxTotal", 0),
    Int("portStopBits", StopBitsOne),
    Int("portInBuffSize", 4096),
    Int("portRasStatus", RasStatusNoBorrow),
    Text("portLoopStopErr"),
    Int("portLoopTxTotal", 0),
    Int("portLoopRxTotal", 0),
    Int("portLoopInErrs", 0),
    Int("portLoopRate", 0),
    Int("portLoopAvgRate", 0),
    Int("portLoopTimeRemain", 0),
    Int("portLoopLocErr", 0),
    Text("portLoopErrData"),
    Int(ObjectLoopCorrupted, 0),
    Int(ObjectLoopLost, 0),
    Int(ObjectLoopExtra, 0),
    Int(ObjectLoopFrameErrs, 0),
    Int(ObjectLoopParityErrs, 0),
    Int(ObjectLoopOverruns, 0),
    Int(ObjectLoopBreaks, 0),
    Int(ObjectLoopLineShare, 0),
    Int(ObjectLoopFirstBadPos, 0),
    Int(ObjectLoopFirstBadExpected, 0),
    Int(ObjectLoopFirstBadReceived, 0),
    Int(ObjectLoopLines, LinesOff),
    Int(ObjectLoopLinePeer, 0),
    Int(ObjectLoopBreakTime, 0),
    Int(ObjectLoopDataTest, DataTestOn),
    Int(ObjectLoopLinesChecked, 0),
    Int(ObjectLoopLinesFailed, 0),
    Int(ObjectLoopBreaksBack, 0),
    Text(ObjectLoopLineResult),
    ObjectDef{
        "portmodLoopOperating", ValueType::Integer, Scope::ModuleWide, LoopOperatingActive, {}},
    InstanceText(kBoardSerialObject),
    InstanceText(kRunKeyObject),
    InstanceText(kRunOperatorObject),
    InstanceText(kRunNoteObject),
};

constexpr std::size_t PositionOf(std::string_view name) {
    for (std::size_t i = 0; i < kObjects.size(); ++i) {
        if (kObjects[i].name == name) {
            return i;
        }
    }
    return kObjects.size();
}

constexpr std::size_t kPortName = 0;
constexpr std::size_t kRxErrors = 12;
constexpr std::size_t kLoopOperating = PositionOf("portmodLoopOperating");
static_assert(kObjects[kPortName].name == "portName");
static_assert(kObjects[kRxErrors].name == "portErrStatRxTotal");
static_assert(kObjects[kLoopOperating].name == "portmodLoopOperating");

bool IsPrintable(char c) {
    return c >= 0x21 && c <= 0x7E;
}

bool IsDecimal(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const ObjectDef> Dictionary() {
    return kObjects;
}

std::optional<std::size_t> FindObject(std::string_view name) {
    for (std::size_t i = 0; i < kObjects.size(); ++i) {
        if (kObjects[i].name == name) {
            return i;
        }
    }
    return std::nullopt;
}

std::size_t PortNameObject() {
    return kPortName;
}
std::size_t LoopOperatingObject() {
    return kLoopOperating;
}
std::size_t RxErrorsObject() {
    return kRxErrors;
}

bool IsValidInstance(std::string_view instance) {
    if (instance.empty() || instance.size() > kMaxInstanceLength) {
        return false;
    }
    for (char c : instance) {
        if (!IsPrintable(c) || c == ',') {
            return false;
        }
    }
    std::size_t dot = instance.rfind('.');
    return dot == std::string_view::npos || !IsDecimal(instance.substr(dot + 1));
}

bool IsValidDeviceName(std::string_view device) {
    if (device.empty() || device.size() > kMaxPortNameLength || device == "." || device == "..") {
        return false;
    }
    for (char c : device) {
        if (!IsPrintable(c) || c == '/') {
            return false;
        }
    }
    return true;
}

}  // namespace vyn::mml
