// What the programs create stays their owner's alone whatever the umask: the store and its log
// files 0600, the run directory 0700, the agent's sockets and lock files, the board's control
// socket. Each program is started here with a umask of 0, the console making the store, the
// subagent starting the agent for an SNMP request, the console testing through that agent.
#include <dirent.h>
#include <sys/stat.h>

#include "mml/vocabulary.h"
#include "tests/snmp/snmp_fixture.h"

namespace vyn::snmp::test {
namespace {

class AccessModesTest : public SnmpTest {
  protected:
    // The permission bits of `path`, or -1 when it does not exist.
    static int Mode(const std::string &path) {
        struct stat info {};
        return ::lstat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
    }
};

TEST_F(AccessModesTest, StoreRunDirectoryAndSocketsAreTheOwnersAloneWithAPermissiveUmask) {
    ::rmdir((dir_->path() + "/run").c_str());  // made by whichever program needs it first
    mode_t old = ::umask(0);
    Finished init =
        vyn::test::RunProgram({vyn::test::Program("vynloopctl"), "init", "demo", "1=COM1"});
    ASSERT_EQ(init.status, 0) << init.err;
    StartBoard(1);
    std::string why;
    ASSERT_TRUE(rig_->StartMaster(why)) << why;
    ASSERT_TRUE(rig_->StartSubagent(why)) << why;
    const std::string state = Object("portLoopState", "demo", 1);
    Finished set = rig_->Tool("snmpset", {Object("portLoopTime", "demo", 1), "i", "1", state, "i",
                                          std::to_string(LoopStateRequested)});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_TRUE(rig_->WaitValue(state, std::to_string(LoopStateComplete)));
    Finished test = vyn::test::RunProgram(
        {vyn::test::Program("vynloopctl"), "test", "demo", "1", "--time", "1", "--wait"});
    EXPECT_EQ(test.status, 0) << test.err;
    ::umask(old);

    for (const char *suffix : {"", "-wal", "-shm"}) {
        int mode = Mode(rig_->StorePath() + suffix);
        EXPECT_TRUE(mode == -1 || mode == 0600) << "mib.db" << suffix << ": " << std::oct << mode;
    }
    const std::string run = dir_->path() + "/run";
    EXPECT_EQ(Mode(run), 0700);
    int entries = 0;
    if (DIR *listing = ::opendir(run.c_str())) {
        while (dirent *entry = ::readdir(listing)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") {
                ++entries;
                EXPECT_EQ(Mode(run + "/" + name) & 077, 0)
                    << name << ": " << std::oct << Mode(run + "/" + name);
            }
        }
        ::closedir(listing);
    }
    EXPECT_GT(entries, 0) << "the agent left nothing in its run directory";
    EXPECT_EQ(Mode(rig_->DeviceDir() + "/Kyrx1"), 0600);
}

}  // namespace
}  // namespace vyn::snmp::test
