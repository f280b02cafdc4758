#include "web/rack_sources.h"

#include <algorithm>

#include "console/access/snmp_access.h"
#include "console/access/store_access.h"
#include "console/rack/loop_state.h"
#include "web/rack_json.h"

namespace vyn::web {

namespace {

using namespace std::chrono_literals;

constexpr auto kFleetFresh = 2s;
// A store connection keeps what it has read of a file that was since replaced or damaged; the
// local rack's feed opens the store afresh this often, so that the page tells of it.
constexpr auto kReopenPeriod = 5s;

// Net-SNMP's option parsing is not thread-safe: sessions are opened one at a time.
std::mutex &OpenMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

RackSources::RackSources(const WebOptions &options) : options_(options) {}

RackSources::~RackSources() {
    Close();
}

bool RackSources::Open(std::string &reason) {
    std::unique_ptr<Source> own = MakeSource("", reason);
    if (!own) {
        return false;
    }
    std::lock_guard lock(mutex_);
    sources_[""] = std::move(own);
    return true;
}

bool RackSources::Knows(const std::string &host) const {
    return host.empty() ||
           std::find(options_.fleet.begin(), options_.fleet.end(), host) != options_.fleet.end();
}

std::unique_ptr<console::ObjectAccess> RackSources::OpenObjects(const std::string &host,
                                                                std::string &reason) {
    std::lock_guard lock(OpenMutex());
    if (host.empty()) {
        return console::OpenAccess(options_.access, reason);
    }
    console::RemoteOptions remote = options_.access.remote;
    remote.host = host;
    return console::OpenSnmpAccess(remote, reason);
}

std::unique_ptr<RackSources::Source> RackSources::MakeSource(const std::string &host,
                                                             std::string &reason) {
    auto source = std::make_unique<Source>();
    source->rack.host = host;
    source->rack.objects = OpenObjects(host, reason);
    if (!source->rack.objects) {
        return nullptr;
    }
    source->opened = std::chrono::steady_clock::now();
    Source &own = *source;
    source->feed = std::make_unique<LiveFeed>([this, &own] {
        console::Rack &rack = own.rack;
        rack.error.clear();
        rack.instances.clear();
        AgentStates agents;
        if (Reopen(own)) {
            console::ReadRack(rack);
            for (const console::RackInstance &instance : rack.instances) {
                // Asked only while a test runs there: only then does its answer change a row.
                if (std::any_of(instance.ports.begin(), instance.ports.end(), [](const auto &port) {
                        return console::TestOrphaned(port.State(), false);
                    })) {
                    agents[instance.instance] = rack.objects->AgentRunning(instance.instance);
                }
            }
        }
        nlohmann::json state = RackJson(rack, agents);
        state["sweep"] = own.sweep.Progress();
        return state.dump();
    });
    return source;
}

bool RackSources::Reopen(Source &source) {
    console::Rack &rack = source.rack;
    auto now = std::chrono::steady_clock::now();
    if (rack.objects && (!rack.objects->Local() || now - source.opened < kReopenPeriod)) {
        return true;
    }
    source.opened = now;
    rack.objects = OpenObjects(rack.host, rack.error);
    return rack.objects != nullptr;
}

LiveFeed &RackSources::Feed(const std::string &host) {
    return *SourceOf(host).feed;
}

RackSweep &RackSources::Sweep(const std::string &host) {
    return SourceOf(host).sweep;
}

RackSources::Source &RackSources::SourceOf(const std::string &host) {
    std::lock_guard lock(mutex_);
    auto found = sources_.find(host);
    if (found == sources_.end()) {
        std::string reason;
        std::unique_ptr<Source> source = MakeSource(host, reason);
        if (!source) {
            // A rack whose session cannot be opened shows the reason as its state.
            source = std::make_unique<Source>();
            std::string state =
                nlohmann::json{
                    {"host", host}, {"error", reason}, {"instances", nlohmann::json::array()}}
                    .dump();
            source->feed = std::make_unique<LiveFeed>([state] { return state; });
        }
        if (closed_) {
            source->feed->Close();
            source->sweep.Close();
        }
        found = sources_.emplace(host, std::move(source)).first;
    }
    return *found->second;
}

std::string RackSources::StorePath() const {
    return console::StorePath(options_.access);
}

std::string RackSources::FleetJson() {
    std::lock_guard lock(fleetMutex_);
    if (!fleetJson_.empty() && std::chrono::steady_clock::now() - fleetRead_ < kFleetFresh) {
        return fleetJson_;
    }
    std::vector<console::Rack> racks;
    {
        std::lock_guard opening(OpenMutex());
        racks = console::OpenRacks(options_.access.remote, options_.fleet);
    }
    console::ReadRacks(racks);
    nlohmann::json document = {{"racks", nlohmann::json::array()}};
    for (const console::Rack &rack : racks) {
        nlohmann::json entry = {{"host", rack.host},
                                {"reachable", rack.error.empty()},
                                {"instances", rack.instances.size()},
                                {"totals", RackTotals(rack)}};
        if (!rack.error.empty()) {
            entry["error"] = rack.error;
        }
        document["racks"].push_back(std::move(entry));
    }
    fleetJson_ = document.dump();
    fleetRead_ = std::chrono::steady_clock::now();
    return fleetJson_;
}

void RackSources::Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (auto &[host, source] : sources_) {
        source->feed->Close();
        source->sweep.Close();
    }
}

}  // namespace vyn::web
