#include "console/access/object_access.h"

#include "agent/client/agent_link.h"
#include "console/access/snmp_access.h"
#include "console/access/store_access.h"

namespace vyn::console {

namespace {

class StoreAccess final : public ObjectAccess {
  public:
    explicit StoreAccess(std::unique_ptr<mml::Store> store) : store_(std::move(store)) {}

    bool Read(std::span<mml::Binding> bindings, mml::Error &error) override {
        return store_->Read(bindings, error);
    }
    bool Write(std::span<mml::Binding> bindings, mml::Error &error) override {
        return store_->Write(bindings, error);
    }
    bool Update(std::span<mml::Binding> reads, const mml::Store::Decision &decide,
                mml::Error &error) override {
        return store_->Update(reads, decide, error);
    }
    bool ListPorts(const std::string &instance, std::vector<int> &ports,
                   mml::Error &error) override {
        return store_->ListPorts(instance, ports, error);
    }
    bool ListInstances(std::vector<std::string> &instances, mml::Error &error) override {
        return store_->ListInstances(instances, error);
    }
    std::optional<bool> Resident(const std::string &instance, mml::Error &error) override {
        bool resident = false;
        if (!store_->IsResident(instance, resident, error)) {
            return std::nullopt;
        }
        return resident;
    }
    std::optional<bool> AgentRunning(const std::string &instance) override {
        return agent::AgentRunning(instance);
    }
    bool Local() const override { return true; }

  private:
    std::unique_ptr<mml::Store> store_;
};

}  // namespace

std::unique_ptr<ObjectAccess> LocalAccess(std::unique_ptr<mml::Store> store) {
    return std::make_unique<StoreAccess>(std::move(store));
}

std::unique_ptr<ObjectAccess> OpenAccess(const AccessOptions &options, std::string &reason) {
    if (!options.remote.host.empty()) {
        return OpenSnmpAccess(options.remote, reason);
    }
    auto store = OpenStore(options, reason);
    return store ? LocalAccess(std::move(store)) : nullptr;
}

}  // namespace vyn::console
