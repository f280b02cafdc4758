#include "console/object_access.h"

#include "console/agent_link.h"
#include "console/output.h"
#include "console/snmp_access.h"
#include "console/store_access.h"

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
        return console::AgentRunning(instance);
    }
    bool Local() const override { return true; }

  private:
    std::unique_ptr<mml::Store> store_;
};

}  // namespace

std::unique_ptr<ObjectAccess> LocalAccess(std::unique_ptr<mml::Store> store) {
    return std::make_unique<StoreAccess>(std::move(store));
}

std::unique_ptr<ObjectAccess> OpenAccess(const GlobalOptions &globals, int &status) {
    if (!globals.remote.host.empty()) {
        std::string reason;
        auto access = OpenSnmpAccess(globals.remote, reason);
        status = access ? kExitSuccess : Fail(reason);
        return access;
    }
    auto store = OpenStore(globals, status);
    return store ? LocalAccess(std::move(store)) : nullptr;
}

}  // namespace vyn::console
