// The object dictionary: every management object the agent reads or writes, with its type, whether
// it exists once per port or once per instance, and the value a freshly provisioned object takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vyn::mml {

enum class ValueType : uint8_t {
    Integer = 2,
    Octets = 4,
};

enum class Scope : uint8_t {
    PerPort,     // "object.INSTANCE.PORT", PORT 1 to 16
    ModuleWide,  // "object.INSTANCE"
};

struct ObjectDef {
    std::string_view name;
    ValueType type;
    Scope scope;
    int32_t defaultInteger;        // the provisioned value of an integer object
    std::string_view defaultText;  // the provisioned value of an octet string (portName: none)
};

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 16;
inline constexpr std::size_t kMaxInstanceLength = 31;
inline constexpr std::size_t kMaxPortNameLength = 19;
inline constexpr std::size_t kMaxOctetsLength = 64 * 1024;

// All objects, in a fixed order: an object's position is part of its identifier.
std::span<const ObjectDef> Dictionary();

// The position of the object named exactly `name`, if it is in the dictionary.
std::optional<std::size_t> FindObject(std::string_view name);

// The position of the per-port object that holds a port's device name (provisioning marks a
// port as present by creating it).
std::size_t PortNameObject();
std::size_t LoopOperatingObject();
// portErrStatRxTotal: the receive errors of a port.
std::size_t RxErrorsObject();

// An instance name is 1 to 31 printable ASCII characters (0x21-0x7E) other than ','. It may
// contain dots, but its last dot-separated part must not be a number: "portmodLoopOperating.a.3"
// would otherwise read as instance "a" with a port.
bool IsValidInstance(std::string_view instance);

// A device name for portName: not empty, at most 19 characters, printable, no '/'.
bool IsValidDeviceName(std::string_view device);

}  // namespace vyn::mml
