// The objects a command reads and writes, wherever they are: the local store, or a remote rack's
// subagent over SNMP (--host). Commands are written against this one interface; which of the two
// serves them is chosen once, from the global options.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "console/access/access_options.h"
#include "mml/store.h"

namespace vyn::console {

class ObjectAccess {
  public:
    virtual ~ObjectAccess() = default;

    // Every binding's value, all or nothing.
    virtual bool Read(std::span<mml::Binding> bindings, mml::Error &error) = 0;
    // The same for whole port rows of `instance` (every binding is one of its per-port objects):
    // remotely one GETBULK over the port table, however many ports and objects.
    virtual bool ReadRows(const std::string &instance, std::span<mml::Binding> bindings,
                          mml::Error &error) {
        (void)instance;
        return Read(bindings, error);
    }
    // Writes every binding, all or none.
    virtual bool Write(std::span<mml::Binding> bindings, mml::Error &error) = 0;
    // Reads `reads`, lets `decide` choose the writes from what it read, writes them. Locally
    // one transaction; remotely a read followed by one all-or-none write.
    virtual bool Update(std::span<mml::Binding> reads, const mml::Store::Decision &decide,
                        mml::Error &error) = 0;
    // The provisioned ports of `instance`, ascending (none when it is not provisioned).
    virtual bool ListPorts(const std::string &instance, std::vector<int> &ports,
                           mml::Error &error) = 0;
    // Every instance that has objects, ascending.
    virtual bool ListInstances(std::vector<std::string> &instances, mml::Error &error) = 0;
    // Whether the instance is marked resident; nothing when this access cannot tell.
    virtual std::optional<bool> Resident(const std::string &instance, mml::Error &error) = 0;
    // Whether the instance's agent runs; nothing when this access cannot tell (remotely the
    // subagent starts the agent on demand).
    virtual std::optional<bool> AgentRunning(const std::string &instance) = 0;
    // True when the objects are local, so that the console may start an agent itself.
    virtual bool Local() const = 0;
};

// The local store or, with a remote host, the remote rack. Null with the reason when neither can
// be opened.
std::unique_ptr<ObjectAccess> OpenAccess(const AccessOptions &options, std::string &reason);

// The local store behind the interface.
std::unique_ptr<ObjectAccess> LocalAccess(std::unique_ptr<mml::Store> store);

}  // namespace vyn::console
