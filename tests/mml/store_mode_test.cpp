#include <sys/stat.h>

#include "tests/mml/mml_fixture.h"

namespace vyn::mml::test {
namespace {

TEST_F(StoreTest, TheStoreAndItsLogFilesAreTheOwnersAloneWhateverTheUmask) {
    mode_t old = umask(0);
    auto store = Provisioned();
    umask(old);
    MmlSessionHandle session = OpenSession();  // a second connection keeps the log files
    Error error;
    ASSERT_TRUE(store->SetValue("portLoopTime.demo.1", Value::Integer(5), error));
    for (const char *suffix : {"", "-wal", "-shm"}) {
        struct stat info {};
        ASSERT_EQ(stat((path_ + suffix).c_str(), &info), 0) << suffix;
        EXPECT_EQ(info.st_mode & 07777, 0600u) << suffix;
    }
    MMLTerminate(session);
}

}  // namespace
}  // namespace vyn::mml::test
