#include "console/json_report.h"

#include "base/text.h"
#include "console/rack/error_kinds.h"
#include "console/rack/line_result.h"
#include "console/rack/loop_state.h"
#include "mml/dictionary.h"

namespace vyn::console {

namespace {

nlohmann::json PortHeader(const PortSnapshot &port) {
    return {{"port", port.port},
            {"device", port.Device()},
            {"loopState", port.State()},
            {"loopStateWord", LoopStateWord(port.State())},
            {"outcome", OutcomeWord(ClassifyOutcome(port.State(), port.Result()))}};
}

}  // namespace

nlohmann::json StatusJson(const InstanceView &view, std::optional<bool> agentRunning,
                          std::optional<bool> resident, int32_t loopOperating) {
    nlohmann::json ports = nlohmann::json::array();
    for (const PortSnapshot &port : view.ports) {
        nlohmann::json objects = nlohmann::json::object();
        nlohmann::json hex = nlohmann::json::object();
        for (std::string_view name : PortObjectNames()) {
            std::string key(name);
            if (mml::Dictionary()[*mml::FindObject(name)].type == mml::ValueType::Integer) {
                objects[key] = port.Integer(name);
            } else {
                objects[key] = port.Text(name);
                hex[key] = HexText(port.Text(name));
            }
        }
        nlohmann::json entry = PortHeader(port);
        entry["objects"] = std::move(objects);
        entry["octetsHex"] = std::move(hex);
        ports.push_back(std::move(entry));
    }
    return {{"instance", view.instance},
            {"agentRunning", agentRunning ? nlohmann::json(*agentRunning) : nlohmann::json()},
            {"resident", resident ? nlohmann::json(*resident) : nlohmann::json()},
            {"loopOperating", loopOperating},
            {"ports", std::move(ports)}};
}

nlohmann::json ResultsJson(const InstanceView &view) {
    nlohmann::json ports = nlohmann::json::array();
    for (const PortSnapshot &port : view.ports) {
        nlohmann::json entry = PortHeader(port);
        entry["result"] = port.Result();
        entry["txTotal"] = static_cast<uint32_t>(port.Integer("portLoopTxTotal"));
        entry["rxTotal"] = static_cast<uint32_t>(port.Integer("portLoopRxTotal"));
        entry["inErrs"] = static_cast<uint32_t>(port.Integer("portLoopInErrs"));
        entry["avgRate"] = static_cast<uint32_t>(port.Integer("portLoopAvgRate"));
        entry["errorsByKind"] = KindsJson(port);
        entry["lineSharePercent"] = static_cast<uint32_t>(port.Integer(ObjectLoopLineShare));
        entry["firstMisfit"] = FirstMisfitJson(port);
        entry["lines"] = LinesJson(port);
        ports.push_back(std::move(entry));
    }
    return {{"instance", view.instance}, {"ports", std::move(ports)}};
}

std::string DumpJson(const nlohmann::json &document) {
    return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace vyn::console
