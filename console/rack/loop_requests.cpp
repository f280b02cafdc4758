#include "console/rack/loop_requests.h"

#include "console/rack/loop_state.h"
#include "console/rack/port_snapshot.h"

namespace vyn::console {

namespace {

std::vector<mml::Binding> StateReads(const std::string &instance, const std::vector<int> &ports) {
    std::vector<mml::Binding> reads;
    for (int port : ports) {
        reads.push_back(PortBinding("portLoopState", instance, port));
    }
    return reads;
}

}  // namespace

bool RequestTests(ObjectAccess &objects, const std::string &instance, const std::vector<int> &ports,
                  const TestSettings &settings, const std::vector<mml::Binding> &labels,
                  int &busyPort, mml::Error &error) {
    busyPort = 0;
    std::vector<mml::Binding> reads = StateReads(instance, ports);
    return objects.Update(
        reads,
        [&](std::span<const mml::Binding> states) {
            std::vector<mml::Binding> writes = labels;
            for (std::size_t i = 0; i < ports.size(); ++i) {
                if (TestUnderway(states[i].value.integer)) {
                    busyPort = ports[i];
                    return std::vector<mml::Binding>{};
                }
                std::vector<mml::Binding> more = SettingBindings(settings, instance, ports[i]);
                writes.insert(writes.end(), more.begin(), more.end());
                if (settings.lines) {
                    writes.push_back(
                        PortBinding(ObjectLoopLinePeer, instance, ports[i],
                                    mml::Value::Integer(CablePeer(settings, ports, i))));
                }
                // The request last, after the values it asks the agent to use.
                writes.push_back(PortBinding("portLoopState", instance, ports[i],
                                             mml::Value::Integer(LoopStateRequested)));
            }
            return writes;
        },
        error);
}

bool RequestStops(ObjectAccess &objects, const std::string &instance, const std::vector<int> &ports,
                  std::vector<int32_t> &before, mml::Error &error) {
    std::vector<mml::Binding> reads = StateReads(instance, ports);
    return objects.Update(
        reads,
        [&](std::span<const mml::Binding> states) {
            std::vector<mml::Binding> writes;
            before.clear();
            for (std::size_t i = 0; i < ports.size(); ++i) {
                before.push_back(states[i].value.integer);
                if (states[i].value.integer == LoopStateRunning) {
                    writes.push_back(PortBinding("portLoopState", instance, ports[i],
                                                 mml::Value::Integer(LoopStateStopping)));
                }
            }
            return writes;
        },
        error);
}

bool OfferTime(ObjectAccess &objects, const std::string &instance, int port, int32_t seconds,
               bool &running, mml::Error &error) {
    std::vector<mml::Binding> reads = StateReads(instance, {port});
    return objects.Update(
        reads,
        [&](std::span<const mml::Binding> states) {
            running = states[0].value.integer == LoopStateRunning;
            if (!running) {
                return std::vector<mml::Binding>{};
            }
            return std::vector<mml::Binding>{
                PortBinding("portLoopTimeRemain", instance, port, mml::Value::Integer(seconds))};
        },
        error);
}

}  // namespace vyn::console
