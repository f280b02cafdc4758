// Shared set-up of the agent tests: a fresh scripted store and a clean port table.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "agent/loop/engine.h"
#include "agent/mib/store_access.h"
#include "agent/table/port_state.h"
#include "tests/support/fake_mml.h"

class AgentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_mml::Reset();
        snprintf(instanceName, sizeof instanceName, "abc");
        entry = &PortTestTable[2];
        entry->portNumber = 3;
        entry->engineState = Idle;
        entry->msgText[0] = 0;
        entry->errData[0] = 0;
        entry->resultListBuilt = 0;
        entry->resultBindings = nullptr;
    }

    // Every object of port 3 of instance abc, as a console provisions it.
    void ProvisionPort(const std::string &device = "COM3") {
        auto &objects = fake_mml::GetScript().objects;
        auto name = [](const char *object) { return std::string(object) + ".abc.3"; };
        objects[name("portName")] = fake_mml::Text(device);
        const char *integers[] = {"portLoopMode",      "portLoopState",      "portLoopPattern",
                                  "portLoopSpeed",     "portLoopParity",     "portLoopDataSize",
                                  "portLoopFlow",      "portLoopDataCheck",  "portLoopTime",
                                  "portLoopStopOnErr", "portErrStatRxTotal", "portStopBits",
                                  "portInBuffSize",    "portRasStatus",      "portLoopTxTotal",
                                  "portLoopRxTotal",   "portLoopInErrs",     "portLoopRate",
                                  "portLoopAvgRate",   "portLoopTimeRemain", "portLoopLocErr"};
        for (const char *object : integers) {
            objects[name(object)] = fake_mml::Integer(0);
        }
        for (const char *object : kResultKindObjects) {
            objects[name(object)] = fake_mml::Integer(0);
        }
        objects[name("portLoopUData")] = fake_mml::Text("");
        objects[name("portLoopStopErr")] = fake_mml::Text("");
        objects[name("portLoopErrData")] = fake_mml::Text("");
        objects[name("portLoopSpeed")] = fake_mml::Integer(9600);
        objects[name("portLoopDataSize")] = fake_mml::Integer(8);
        objects[name(ObjectLoopLines)] = fake_mml::Integer(LinesOff);
        objects[name(ObjectLoopDataTest)] = fake_mml::Integer(DataTestOn);
        for (const char *object : {ObjectLoopLinePeer, ObjectLoopBreakTime, ObjectLoopLinesChecked,
                                   ObjectLoopLinesFailed, ObjectLoopBreaksBack}) {
            objects[name(object)] = fake_mml::Integer(0);
        }
        objects[name(ObjectLoopLineResult)] = fake_mml::Text("");
    }

    std::string Message() { return entry->msgText; }

    PortTestEntry *entry = nullptr;
};
