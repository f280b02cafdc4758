#include "console/rack/line_result.h"

#include "mml/vocabulary.h"

namespace vyn::console {

namespace {

uint32_t Bits(const PortSnapshot &port, const char *object) {
    return static_cast<uint32_t>(port.Integer(object));
}

nlohmann::json NameList(uint32_t lines) {
    nlohmann::json names = nlohmann::json::array();
    for (const vocabulary::Word &line : vocabulary::kLineInputWords) {
        if ((lines & static_cast<uint32_t>(line.value)) != 0) {
            names.push_back(std::string(line.word));
        }
    }
    return names;
}

}  // namespace

std::string LineNames(uint32_t lines) {
    std::string text;
    for (const vocabulary::Word &line : vocabulary::kLineInputWords) {
        if ((lines & static_cast<uint32_t>(line.value)) != 0) {
            if (!text.empty()) {
                text += ' ';
            }
            text += line.word;
        }
    }
    return text.empty() ? "none" : text;
}

std::string LinesSummary(const PortSnapshot &port) {
    if (port.Text(ObjectLoopLineResult).empty()) {
        return {};
    }
    uint32_t failed = Bits(port, ObjectLoopLinesFailed);
    if (failed != 0) {
        return "lines: " + LineNames(failed) + " failed";
    }
    return "lines ok";
}

std::string LineDetail(const PortSnapshot &port) {
    const std::string &lines = port.Text(ObjectLoopLineResult);
    if (lines.empty() || port.Result().find(lines) != std::string::npos) {
        return {};
    }
    return lines;
}

nlohmann::json LinesJson(const PortSnapshot &port) {
    if (port.Text(ObjectLoopLineResult).empty()) {
        return nullptr;
    }
    auto wiring = vocabulary::WordOf(vocabulary::kLineWiringWords, port.Integer(ObjectLoopLines));
    return {{"wiring", wiring ? nlohmann::json(std::string(*wiring)) : nlohmann::json()},
            {"checked", NameList(Bits(port, ObjectLoopLinesChecked))},
            {"failed", NameList(Bits(port, ObjectLoopLinesFailed))},
            {"breaksBack", Bits(port, ObjectLoopBreaksBack)},
            {"result", port.Text(ObjectLoopLineResult)}};
}

}  // namespace vyn::console
