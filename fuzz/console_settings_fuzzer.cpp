// The console's test settings and frame words as a person may type them. The input is words
// separated by NUL or newline: each is read as a frame word ("8N1"), and all of them as the
// options of a test command. A frame is refused with a reason, or writes back as a word that
// reads as the same frame; settings are refused with a one-line error, or every value given is
// in its range or vocabulary and becomes an object of the right type.
#include <CLI/CLI.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "console/rack/frame.h"
#include "console/rack/test_settings.h"
#include "fuzz/fuzz_check.h"
#include "mml/dictionary.h"
#include "mml/vocabulary.h"

namespace {

using vyn::vocabulary::WordOf;

constexpr std::size_t kMaxWords = 24;

void CheckFrameWord(std::string_view word) {
    vyn::console::Frame frame;
    std::string reason;
    if (!vyn::console::ParseFrame(word, frame, reason)) {
        FUZZ_CHECK(!reason.empty() && reason.find('\n') == std::string::npos);
        return;
    }
    FUZZ_CHECK(frame.dataBits >= kMinDataBits && frame.dataBits <= kMaxDataBits);
    FUZZ_CHECK(WordOf(vyn::vocabulary::kParityWords, frame.parity));
    FUZZ_CHECK(WordOf(vyn::vocabulary::kStopBitsWords, frame.stopBits));
    FUZZ_CHECK(StopBitsFitDataBits(frame.dataBits, frame.stopBits));
    std::string text = vyn::console::FrameText(frame.dataBits, frame.parity, frame.stopBits);
    vyn::console::Frame again;
    FUZZ_CHECK(vyn::console::ParseFrame(text, again, reason));
    FUZZ_CHECK(again.dataBits == frame.dataBits && again.parity == frame.parity &&
               again.stopBits == frame.stopBits);
}

void CheckSettings(const vyn::console::TestSettings &s) {
    using namespace vyn::vocabulary;
    FUZZ_CHECK(!s.speed || *s.speed >= 1);
    FUZZ_CHECK(!s.dataBits || (*s.dataBits >= kMinDataBits && *s.dataBits <= kMaxDataBits));
    FUZZ_CHECK(!s.parity || WordOf(kParityWords, *s.parity));
    FUZZ_CHECK(!s.stopBits || WordOf(kStopBitsWords, *s.stopBits));
    FUZZ_CHECK(!s.flow || WordOf(kFlowWords, *s.flow));
    FUZZ_CHECK(!s.pattern || WordOf(kPatternWords, *s.pattern));
    FUZZ_CHECK(!s.userData || (s.pattern == LoopPatternUser &&
                               s.userData->size() <= static_cast<std::size_t>(UserDataSize)));
    FUZZ_CHECK(!s.dataCheck || WordOf(kDataCheckWords, *s.dataCheck));
    FUZZ_CHECK(!s.time || *s.time >= 0);
    FUZZ_CHECK(!s.stopOnErrors || *s.stopOnErrors >= 0);
    FUZZ_CHECK(!s.mode || WordOf(kLoopModeWords, *s.mode));
    FUZZ_CHECK(!s.rasStatus || WordOf(kRasStatusWords, *s.rasStatus));
    for (const vyn::mml::Binding &binding : vyn::console::SettingBindings(s, "fz", 1)) {
        const vyn::mml::ObjectDef &def = vyn::mml::Dictionary()[binding.key.object];
        FUZZ_CHECK(binding.value.type == static_cast<uint8_t>(def.type));
        FUZZ_CHECK(binding.key.instance == "fz" && binding.key.port == 1);
    }
    vyn::console::ShortLineSettings(s.speed.value_or(9600), s.dataBits.value_or(8),
                                    s.parity.value_or(ParityNone),
                                    s.stopBits.value_or(StopBitsOne));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> words = {"test"};
    while (!input.empty() && words.size() <= kMaxWords) {
        std::size_t end = input.find_first_of(std::string_view("\0\n", 2));
        words.emplace_back(input.substr(0, end));
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
        CheckFrameWord(words[i]);
    }
    for (bool lineOptions : {true, false}) {
        CLI::App command;
        vyn::console::TestSettings settings;
        vyn::console::AddSettingOptions(command, settings, lineOptions);
        std::vector<const char *> argv;
        for (const std::string &word : words) {
            argv.push_back(word.c_str());
        }
        try {
            command.parse(static_cast<int>(argv.size()), argv.data());
        } catch (const CLI::ParseError &error) {
            FUZZ_CHECK(std::string_view(error.what()).find('\n') == std::string_view::npos);
            continue;
        }
        CheckSettings(settings);
    }
    return 0;
}
