#include "console/rack/extend_test.h"

#include <chrono>
#include <thread>
#include <vector>

#include "console/rack/loop_requests.h"
#include "console/rack/loop_state.h"

namespace vyn::console {

namespace {

using namespace std::chrono_literals;

// Waits for the agent's next publication after the offer: it counts down from the new time
// when it took it.
enum class Taken { Yes, No, Ended, Failed };
Taken AwaitTaken(ObjectAccess &objects, const std::string &instance, int port, int32_t seconds,
                 int32_t &left, mml::Error &error) {
    auto deadline = std::chrono::steady_clock::now() + 6s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<PortSnapshot> now;
        if (!ReadSnapshots(objects, instance, {port}, now, error)) {
            return Taken::Failed;
        }
        if (now[0].State() != LoopStateRunning) {
            return Taken::Ended;
        }
        left = now[0].Integer("portLoopTimeRemain");
        if (left < seconds) {
            return left > seconds - LeaseRenewMargin ? Taken::Yes : Taken::No;
        }
        std::this_thread::sleep_for(100ms);
    }
    return Taken::No;
}

ExtendOutcome Refused(const std::string &label, const std::string &reason) {
    return {ExtendOutcome::Kind::Refused, label + reason, 0};
}

}  // namespace

ExtendOutcome ExtendTest(ObjectAccess &objects, const std::string &instance,
                         const PortSnapshot &port, const std::string &label, int32_t seconds) {
    if (port.State() != LoopStateRunning) {
        return Refused(label, " is not running (" + LoopStateWord(port.State()) + ")");
    }
    if (port.Integer("portLoopTime") != 0 || port.Integer("portRasStatus") == RasStatusNoBorrow) {
        return Refused(
            label,
            ": only a test without a time limit on a port with --ras-status 1 runs in periods "
            "that can be renewed");
    }
    int32_t left = port.Integer("portLoopTimeRemain");
    if (seconds - LeaseRenewMargin <= left) {
        return Refused(label, " has " + std::to_string(left) + " s left; give more than " +
                                  std::to_string(left + LeaseRenewMargin));
    }
    // The agent reads the offer and then publishes its own time over it; an offer written in
    // between is lost, so it is made again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool running = false;
        mml::Error error;
        if (!OfferTime(objects, instance, port.port, seconds, running, error)) {
            return {ExtendOutcome::Kind::StoreFailure, error.message, 0};
        }
        if (!running) {
            return Refused(label, " is no longer running");
        }
        switch (AwaitTaken(objects, instance, port.port, seconds, left, error)) {
            case Taken::Failed:
                return {ExtendOutcome::Kind::StoreFailure, error.message, 0};
            case Taken::Ended:
                return Refused(label, " is no longer running");
            case Taken::Yes:
                return {ExtendOutcome::Kind::Taken, "", left};
            case Taken::No:
                break;
        }
    }
    return Refused(label, ": the agent did not take the new time");
}

}  // namespace vyn::console
