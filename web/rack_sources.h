// The racks this server shows: its own (the local store, or the rack of --host) and the racks of
// its fleet, each with one live feed that every viewer of that rack shares. Objects for a
// request that changes something are opened per request, so that a long request (an extend
// waits for the agent) never holds up the feed.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "console/access/object_access.h"
#include "console/rack/fleet_read.h"
#include "web/live_feed.h"
#include "web/rack_sweep.h"
#include "web/web_options.h"

namespace vyn::web {

class RackSources {
  public:
    explicit RackSources(const WebOptions &options);
    ~RackSources();

    // Opens the server's own rack; false with the reason when its objects cannot be opened.
    bool Open(std::string &reason);

    // Whether `host` names a rack shown here ("" is the server's own).
    bool Knows(const std::string &host) const;

    // The feed of a known rack (made on first use).
    LiveFeed &Feed(const std::string &host);
    // The sweep of a known rack, whose progress its feed carries.
    RackSweep &Sweep(const std::string &host);

    // Fresh objects of a known rack for one request; null with the reason.
    std::unique_ptr<console::ObjectAccess> OpenObjects(const std::string &host,
                                                       std::string &reason);

    // The store path an agent started here uses.
    std::string StorePath() const;

    // Every rack of the fleet read at once, with its totals (cached for a moment, since a rack
    // that does not answer costs its time-out).
    std::string FleetJson();

    // Wakes every viewer: the server is stopping.
    void Close();

  private:
    struct Source {
        console::Rack rack;                            // used by its feed's reads only
        std::chrono::steady_clock::time_point opened;  // of rack.objects; its feed's reads only
        RackSweep sweep;
        std::unique_ptr<LiveFeed> feed;  // after what its reads use: stopped first
    };
    std::unique_ptr<Source> MakeSource(const std::string &host, std::string &reason);
    Source &SourceOf(const std::string &host);
    // Before a feed's read: opens the source's objects again when it has none (a rack whose
    // session failed) or when the local store's are due; false with the reason in the rack.
    bool Reopen(Source &source);

    const WebOptions &options_;
    mutable std::mutex mutex_;  // guards sources_, closed_
    std::map<std::string, std::unique_ptr<Source>> sources_;
    bool closed_ = false;

    std::mutex fleetMutex_;  // guards fleetJson_, fleetRead_; one fleet read at a time
    std::string fleetJson_;
    std::chrono::steady_clock::time_point fleetRead_{};
};

}  // namespace vyn::web
