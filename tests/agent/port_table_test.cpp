// The port table's discovery of ports with test objects, and the instance name.
#include "agent/shell/shell.h"
#include "tests/agent/agent_fixture.h"

namespace {

using PortTableTest = AgentTest;

TEST_F(PortTableTest, FindsExactlyTheProvisionedPortsAndGivesEveryEntryItsEvents) {
    for (int port : {1, 2, 5}) {
        fake_mml::GetScript().objects["portLoopState.abc." + std::to_string(port)] =
            fake_mml::Integer(0);
    }
    ASSERT_EQ(InitPortTestTable(7), 1);
    for (int i = 0; i < PORT_COUNT; ++i) {
        const PortTestEntry &e = PortTestTable[i];
        int expected = (i == 0 || i == 1 || i == 4) ? i + 1 : -1;
        EXPECT_EQ(e.portNumber, expected) << "entry " << i;
        EXPECT_NE(e.readSlots[0].overlapped.hEvent, nullptr);
        EXPECT_NE(e.readSlots[1].overlapped.hEvent, nullptr);
        EXPECT_NE(e.writeEvent, nullptr);
        EXPECT_EQ(e.writeOverlapped.hEvent, e.writeEvent);
        EXPECT_EQ(WaitForSingleObject(e.writeEvent, 0), WAIT_TIMEOUT);
        EXPECT_EQ(e.portHandle.load(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(e.monitorThread.load(), INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(fake_mml::Requests().size(), 16u);
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

TEST_F(PortTableTest, ARefusedNameStopsTheTableAndLeavesLaterEntriesUntouched) {
    fake_mml::GetScript().refusedNames["portLoopState.abc.4"] = 2;
    for (int i = 4; i < PORT_COUNT; ++i) {
        PortTestTable[i].portNumber = 99;
    }
    EXPECT_EQ(InitPortTestTable(7), 0);
    EXPECT_STREQ(PortTestTable[3].msgText,
                 "Internal Error MMLStrToMMLOid(a) failed for portLoopState.abc.4, Error 2");
    for (int i = 4; i < PORT_COUNT; ++i) {
        EXPECT_EQ(PortTestTable[i].portNumber, 99);
    }
    EXPECT_EQ(fake_mml::LiveAllocations(), 0);
}

TEST(InstanceNameTest, TakesTheFirstWordCutTo31Characters) {
    struct Case {
        const char *line;
        const char *name;
    } cases[] = {
        {"abc,def", "abc"},
        {"abc def", "abc"},
        {" ,, abc", "abc"},
        {"", ""},
        {" , ", ""},
        {"0123456789012345678901234567890123456789", "0123456789012345678901234567890"},
    };
    for (const auto &c : cases) {
        char name[INSTANCE_NAME_SIZE];
        TakeInstanceName(c.line, name);
        EXPECT_STREQ(name, c.name) << "line '" << c.line << "'";
    }
}

}  // namespace
