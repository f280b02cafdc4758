// The console's own rules, without processes: settings as typed, the pass rule, and the live
// view's output on a terminal and elsewhere.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "console/live_view.h"
#include "console/loop_state.h"
#include "console/progress_line.h"
#include "console/test_settings.h"

namespace vyn::console {
namespace {

TEST(SettingsTest, TypedSettingsBecomeTheObjectsValues) {
    SettingWords words;
    words.speed = "115200";
    words.dataBits = "5";
    words.parity = "mark";
    words.stopBits = "1.5";
    words.flow = "dtrdsr";
    words.dataHex = "55 aa:0D";
    words.time = "0";
    words.noCheck = true;
    words.external = true;
    TestSettings settings;
    std::string reason;
    ASSERT_TRUE(ParseSettings(words, settings, reason)) << reason;
    EXPECT_EQ(settings.parity, 4);
    EXPECT_EQ(settings.stopBits, 2);
    EXPECT_EQ(settings.flow, 4);
    EXPECT_EQ(settings.pattern, 2) << "data implies the user pattern";
    EXPECT_EQ(settings.userData, std::string("\x55\xaa\x0d"));
    EXPECT_EQ(settings.dataCheck, 2);
    EXPECT_EQ(settings.mode, 2);
    EXPECT_EQ(SettingBindings(settings, "demo", 3).size(), 10u) << "time 0 is a setting too";
    EXPECT_EQ(ShortLineSettings(9600, 5, 4, 2), "9600 5M1.5");
    EXPECT_EQ(ShortLineSettings(19200, 7, 3, 3), "19200 7E2");

    auto refused = [](SettingWords bad) {
        TestSettings ignored;
        std::string why;
        return !ParseSettings(bad, ignored, why) && why.find("\n") == std::string::npos;
    };
    SettingWords bad;
    bad.dataHex = "abc";
    EXPECT_TRUE(refused(bad)) << "an odd digit";
    bad = {};
    bad.data = std::string(257, 'x');
    EXPECT_TRUE(refused(bad)) << "more than the agent keeps";
    bad.data = "x";
    bad.pattern = "barber";
    EXPECT_TRUE(refused(bad));
    bad = {};
    bad.check = bad.noCheck = true;
    EXPECT_TRUE(refused(bad));
    bad = {};
    bad.speed = "2147483648";
    EXPECT_TRUE(refused(bad));
}

TEST(OutcomeTest, OnlyAFullRunWithoutErrorsPasses) {
    const char *clean =
        "Loopback test complete, no errors detected. Avg transmission rate was "
        "9600 Baud. Barber pole pattern used due to 5 bit data size.";
    EXPECT_EQ(ClassifyOutcome(5, clean), Outcome::Passed);
    EXPECT_EQ(ClassifyOutcome(2, clean), Outcome::Stopped);
    EXPECT_EQ(ClassifyOutcome(5, "Loopback test complete, 1 receive error detected. Avg ..."),
              Outcome::Errors);
    EXPECT_EQ(ClassifyOutcome(4, "Loopback test terminated due to errors after 3 seconds, ..."),
              Outcome::Errors);
    EXPECT_EQ(ClassifyOutcome(5,
                              "Infinite loopback test terminated due to loss of "
                              "communications, no errors detected. Avg ..."),
              Outcome::Failed);
    EXPECT_EQ(ClassifyOutcome(4, "Loopback test failed, no data characters received"),
              Outcome::Failed);
    EXPECT_EQ(ClassifyOutcome(4, clean), Outcome::Failed) << "shut down";
    EXPECT_EQ(ClassifyOutcome(7, ""), Outcome::Pending);
    EXPECT_EQ(ClassifyOutcome(0, ""), Outcome::None);
}

// What a LiveView writes, through a memory stream.
class Captured {
  public:
    Captured() : file_(open_memstream(&data_, &size_)) {}
    ~Captured() {
        std::fclose(file_);
        std::free(data_);
    }
    std::FILE *file() { return file_; }
    std::string Take() {
        std::fflush(file_);
        std::string text(data_, size_);
        std::rewind(file_);
        return text;
    }

  private:
    char *data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE *file_;
};

TEST(LiveViewTest, RedrawsInPlaceOnATerminalAndPrintsOnlyChangesElsewhere) {
    Captured plain;
    LiveView piped(plain.file(), false);
    piped.Show({"a", "b"});
    EXPECT_EQ(plain.Take(), "a\nb\n");
    piped.Show({"a", "c"});
    EXPECT_EQ(plain.Take(), "c\n");

    Captured tty;
    LiveView terminal(tty.file(), true);
    terminal.Show({"a", "b"});
    terminal.Show({"a", std::string(500, 'x')});
    std::string drawn = tty.Take();
    EXPECT_NE(drawn.find("\x1b[2A"), std::string::npos) << "back up over both lines";
    EXPECT_EQ(drawn.find(std::string(500, 'x')), std::string::npos) << "cut to the width";

    EXPECT_EQ(ProgressBar(5, 10), "[##########..........]");
    EXPECT_EQ(ProgressBar(-3, 10), ProgressBar(0, 10));
    EXPECT_EQ(ProgressBar(12, 10), ProgressBar(10, 10));
    for (unsigned tick = 0; tick < 40; ++tick) {
        EXPECT_EQ(MovingBlock(tick).size(), kBarWidth + 2);
        EXPECT_NE(MovingBlock(tick), MovingBlock(tick + 1));
    }
}

}  // namespace
}  // namespace vyn::console
