#include "console/rack/error_kinds.h"

#include <cstdio>

#include "console/rack/line_result.h"
#include "console/rack/loop_state.h"

namespace vyn::console {

namespace {

struct Kind {
    const char *object;
    const char *json;
    const char *singular;
    const char *plural;
};

constexpr Kind kKinds[] = {
    {ObjectLoopCorrupted, "corrupted", "corrupted", "corrupted"},
    {ObjectLoopLost, "lost", "lost", "lost"},
    {ObjectLoopExtra, "extra", "extra", "extra"},
    {ObjectLoopFrameErrs, "frameErrors", "frame error", "frame errors"},
    {ObjectLoopParityErrs, "parityErrors", "parity error", "parity errors"},
    {ObjectLoopOverruns, "overruns", "overrun", "overruns"},
    {ObjectLoopBreaks, "breaks", "break", "breaks"},
};

uint32_t Count(const PortSnapshot &port, const char *object) {
    return static_cast<uint32_t>(port.Integer(object));
}

// 'A' for a printable character, else its code: 0x0d.
std::string Character(uint32_t code) {
    char text[16];
    if (code >= 0x20 && code < 0x7f && code != '\'') {
        std::snprintf(text, sizeof text, "'%c'", static_cast<char>(code));
    } else {
        std::snprintf(text, sizeof text, "0x%02x", code & 0xffu);
    }
    return text;
}

}  // namespace

std::string KindsSummary(const PortSnapshot &port) {
    std::string summary;
    for (const Kind &kind : kKinds) {
        uint32_t count = Count(port, kind.object);
        if (count != 0) {
            summary += (summary.empty() ? "" : ", ") + std::to_string(count) + " " +
                       (count == 1 ? kind.singular : kind.plural);
        }
    }
    return summary;
}

std::string FirstMisfit(const PortSnapshot &port) {
    uint32_t position = Count(port, ObjectLoopFirstBadPos);
    if (position == 0) {
        return "";
    }
    return "first misfit: character " + std::to_string(position) + ", " +
           Character(Count(port, ObjectLoopFirstBadExpected)) + " expected, " +
           Character(Count(port, ObjectLoopFirstBadReceived)) + " received";
}

std::optional<std::string> LineShareWarning(const PortSnapshot &port) {
    Outcome outcome = ClassifyOutcome(port.State(), port.Result());
    bool ran =
        outcome == Outcome::Passed || outcome == Outcome::Errors || outcome == Outcome::Stopped;
    int32_t share = port.Integer(ObjectLoopLineShare);
    int32_t flow = port.Integer("portLoopFlow");
    bool held = flow == FlowXonXoff || flow == FlowRtsCts || flow == FlowDtrDsr;
    if (!ran || held || port.Integer("portLoopTxTotal") == 0 || share >= kLowLineSharePercent) {
        return std::nullopt;
    }
    return "the line carried " + std::to_string(share) +
           "% of what its speed allows, with no flow control holding it: the port or its "
           "driver did not keep the line busy";
}

std::vector<std::string> ResultDetails(const PortSnapshot &port) {
    std::vector<std::string> lines;
    std::string kinds = KindsSummary(port);
    std::string misfit = FirstMisfit(port);
    if (!kinds.empty() || !misfit.empty()) {
        lines.push_back(kinds.empty() ? misfit : misfit.empty() ? kinds : kinds + "; " + misfit);
    }
    if (std::optional<std::string> warning = LineShareWarning(port)) {
        lines.push_back("warning: " + *warning);
    }
    if (std::string detail = LineDetail(port); !detail.empty()) {
        lines.push_back(detail);
    }
    return lines;
}

nlohmann::json KindsJson(const PortSnapshot &port) {
    nlohmann::json kinds = nlohmann::json::object();
    for (const Kind &kind : kKinds) {
        kinds[kind.json] = Count(port, kind.object);
    }
    return kinds;
}

nlohmann::json FirstMisfitJson(const PortSnapshot &port) {
    uint32_t position = Count(port, ObjectLoopFirstBadPos);
    if (position == 0) {
        return nullptr;
    }
    return {{"position", position},
            {"expected", Count(port, ObjectLoopFirstBadExpected)},
            {"received", Count(port, ObjectLoopFirstBadReceived)}};
}

}  // namespace vyn::console
