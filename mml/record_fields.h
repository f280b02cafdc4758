// What the record of tests keeps of a port's objects, and the instance objects that label runs.
//
// Each recorded object has the column of the tests table that holds it. Settings are taken when
// a test is requested and again when it starts; results at each publication of a running test
// and at its end. Adding an object to the list adds its column to every store (an existing one
// when it is next opened) and to every report.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vyn::mml {

// The instance objects that label the runs of the record. The board's serial number stays with
// the instance; key, operator and note label only the tests requested in the same request.
inline constexpr std::string_view kBoardSerialObject = "portmodBoardSerial";
inline constexpr std::string_view kRunKeyObject = "portmodRunKey";
inline constexpr std::string_view kRunOperatorObject = "portmodRunOperator";
inline constexpr std::string_view kRunNoteObject = "portmodRunNote";
inline constexpr std::size_t kMaxRunLabelLength = 64;  // serial number, key, operator
inline constexpr std::size_t kMaxRunNoteLength = 255;

enum class RecordedPart : uint8_t { Setting, Result };

struct RecordedObject {
    std::string_view object;  // the per-port object
    std::string_view column;  // its column in the record (and its name in reports)
    RecordedPart part;
};

std::span<const RecordedObject> RecordedObjects();

}  // namespace vyn::mml
