// A test with its own directory, store and private SNMP daemons (see snmp_rig.h).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mml/store.h"
#include "tests/support/process.h"
#include "tests/support/snmp_rig.h"

namespace vyn::snmp::test {

class SnmpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::make_unique<vyn::test::TempDir>();
        rig_ = std::make_unique<SnmpRig>(dir_->path());
    }
    void TearDown() override {
        // A clean end: no crash on the way out, and no sanitizer report (they change the status).
        if (rig_->subagentPid() > 0) {
            EXPECT_EQ(rig_->StopSubagent(), 0) << rig_->SubagentLog();
        }
        rig_.reset();
        board_.reset();
        dir_.reset();
    }

    // The instance's ports (devices COM<port>), created in the test's store.
    void Provision(const std::string &instance, const std::vector<int> &ports) {
        mml::Error error;
        auto store = mml::Store::Create(rig_->StorePath(), error);
        ASSERT_TRUE(store) << error.message;
        std::vector<mml::PortDevice> devices;
        for (int port : ports) {
            devices.push_back({port, "COM" + std::to_string(port)});
        }
        ASSERT_TRUE(store->Provision(instance, devices, false, error)) << error.message;
    }

    std::unique_ptr<mml::Store> Store() {
        mml::Error error;
        auto store = mml::Store::Open(rig_->StorePath(), error);
        EXPECT_TRUE(store) << error.message;
        return store;
    }

    // The master, the notification receiver and the subagent, each ready.
    void StartDaemons() {
        std::string why;
        ASSERT_TRUE(rig_->StartTrapReceiver(why)) << why;
        ASSERT_TRUE(rig_->StartMaster(why)) << why;
        ASSERT_TRUE(rig_->StartSubagent(why)) << why;
    }

    // A virtual board with `ports` ports in the test's device directory.
    void StartBoard(int ports) {
        board_ = vyn::test::StartBoard(rig_->DeviceDir(), ports);
        ASSERT_TRUE(board_) << "the board did not start";
    }

    static std::string Object(const std::string &column, const std::string &instance,
                              int port = 0) {
        std::string name = "VYNLOOP-MIB::" + column + ".\"" + instance + "\"";
        return port > 0 ? name + "." + std::to_string(port) : name;
    }

    std::unique_ptr<vyn::test::TempDir> dir_;
    std::unique_ptr<SnmpRig> rig_;
    std::unique_ptr<vyn::test::Child> board_;
};

}  // namespace vyn::snmp::test
