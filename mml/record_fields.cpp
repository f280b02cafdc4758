#include "mml/record_fields.h"

#include "mml/vocabulary.h"

namespace vyn::mml {

namespace {

constexpr RecordedObject Setting(std::string_view object, std::string_view column) {
    return {object, column, RecordedPart::Setting};
}
constexpr RecordedObject Result(std::string_view object, std::string_view column) {
    return {object, column, RecordedPart::Result};
}

constexpr RecordedObject kRecorded[] = {
    Setting("portName", "device"),
    Setting("portLoopMode", "mode"),
    Setting("portLoopSpeed", "speed"),
    Setting("portLoopDataSize", "data_bits"),
    Setting("portLoopParity", "parity"),
    Setting("portStopBits", "stop_bits"),
    Setting("portLoopFlow", "flow"),
    Setting("portLoopPattern", "pattern"),
    Setting("portLoopDataCheck", "data_check"),
    Setting("portLoopTime", "duration"),
    Setting("portLoopStopOnErr", "error_limit"),
    Setting("portInBuffSize", "in_buffer"),
    Setting(ObjectLoopLines, "line_wiring"),
    Setting(ObjectLoopLinePeer, "line_peer"),
    Setting(ObjectLoopBreakTime, "break_time"),
    Setting(ObjectLoopDataTest, "data_test"),
    Result("portLoopStopErr", "result"),
    Result("portLoopTxTotal", "sent"),
    Result("portLoopRxTotal", "received"),
    Result("portLoopInErrs", "errors"),
    Result("portLoopRate", "rate"),
    Result("portLoopAvgRate", "avg_rate"),
    Result("portLoopLocErr", "error_position"),
    Result("portLoopErrData", "error_data"),
    Result(ObjectLoopCorrupted, "corrupted"),
    Result(ObjectLoopLost, "lost"),
    Result(ObjectLoopExtra, "extra"),
    Result(ObjectLoopFrameErrs, "frame_errors"),
    Result(ObjectLoopParityErrs, "parity_errors"),
    Result(ObjectLoopOverruns, "overruns"),
    Result(ObjectLoopBreaks, "breaks"),
    Result(ObjectLoopLineShare, "line_share"),
    Result(ObjectLoopFirstBadPos, "first_bad_position"),
    Result(ObjectLoopFirstBadExpected, "first_bad_expected"),
    Result(ObjectLoopFirstBadReceived, "first_bad_received"),
    Result(ObjectLoopLinesChecked, "lines_checked"),
    Result(ObjectLoopLinesFailed, "lines_failed"),
    Result(ObjectLoopBreaksBack, "breaks_back"),
    Result(ObjectLoopLineResult, "line_result"),
};

}  // namespace

std::span<const RecordedObject> RecordedObjects() {
    return kRecorded;
}

}  // namespace vyn::mml
