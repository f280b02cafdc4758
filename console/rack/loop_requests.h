// What the console (and any other face of a rack) asks of the agent through a port's objects. Each
// request reads the ports' loop states and writes in the same store transaction, so that it never
// overwrites a state that the agent wrote in between.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/access/object_access.h"
#include "console/rack/test_settings.h"
#include "mml/store.h"

namespace vyn::console {

// Writes the settings and the loop state requested on every port, with `labels` (instance
// objects that label the request's run), unless a test is underway on one of them: then nothing
// is written and `busyPort` names it (0 otherwise). False on a store failure.
bool RequestTests(ObjectAccess &objects, const std::string &instance, const std::vector<int> &ports,
                  const TestSettings &settings, const std::vector<mml::Binding> &labels,
                  int &busyPort, mml::Error &error);

// Writes the loop state stopping on those of `ports` whose test is running. `before` gets each
// port's state as read, in the order of `ports`.
bool RequestStops(ObjectAccess &objects, const std::string &instance, const std::vector<int> &ports,
                  std::vector<int32_t> &before, mml::Error &error);

// Writes portLoopTimeRemain if the port's test still runs; `running` tells whether it did.
bool OfferTime(ObjectAccess &objects, const std::string &instance, int port, int32_t seconds,
               bool &running, mml::Error &error);

}  // namespace vyn::console
