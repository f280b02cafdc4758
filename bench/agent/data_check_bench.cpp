// Speed of the reader's data check on a clean stream, against plain memcmp of the same bytes.
//
// The stream is the 60-byte barber-pole pattern sent endlessly, received in 4096-byte reads;
// the check carries its place in the pattern from one read to the next, as the reader does.
// Since 4096 is not a multiple of 60, every read starts at a different place in the pattern;
// fifteen reads make 1024 whole patterns, so fifteen buffers cover every case. The baseline
// compares the same fifteen buffers with memcmp against the expected stream at the same places.
//
// The check is also timed on the same stream with every 1000th character corrupted, where the
// segment check and the alignment both take their slow paths; that speed is shown against the
// slowest line the reader has to follow (16 ports at 4 Mbaud: 6.4 MB/s).
//
// After the benchmarks, the medians are compared with the targets: at least 2 GB/s, and at
// least a quarter of memcmp's speed, on the clean stream; at least 100 times the 16 fast lines on
// the noisy one. The exit status is 1 when a target is missed.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "agent/loop/data_check.h"
#include "agent/loop/line_math.h"
#include "bench/agent/verdict.h"

namespace {

constexpr uint32_t kReadSize = 4096;
constexpr double kFloorBytesPerSecond = 2e9;
constexpr double kFloorShareOfMemcmp = 0.25;
// A hundred times what sixteen 4 Mbaud lines carry (400 000 characters a second each).
constexpr double kFloorNoisyBytesPerSecond = 100 * 16 * 400000.0;

// The pattern, the expected stream the reader builds from it, and what arrives on the line.
struct CleanStream {
    char pattern[256] = {};
    uint32_t patternLength = 0;
    uint32_t reads = 0;  // distinct reads before the stream repeats itself
    std::vector<char> expected;
    std::vector<char> received;

    CleanStream() {
        patternLength = BarberPolePattern(8, pattern);
        expected.resize(ExpectedStreamLength(patternLength, kReadSize));
        FillExpectedStream(pattern, patternLength, expected.data(),
                           static_cast<uint32_t>(expected.size()));
        reads = patternLength / std::gcd(patternLength, kReadSize);
        received.resize(static_cast<std::size_t>(reads) * kReadSize);
        FillExpectedStream(pattern, patternLength, received.data(),
                           static_cast<uint32_t>(received.size()));
    }

    const char *Read(uint32_t index) const {
        return received.data() + static_cast<std::size_t>(index) * kReadSize;
    }
};

// The same stream with every 1000th character's low bit flipped, as a noisy line gives it.
struct NoisyStream : CleanStream {
    NoisyStream() {
        for (std::size_t i = kNoiseEvery - 1; i < received.size(); i += kNoiseEvery) {
            received[i] ^= 1;
        }
    }
    static constexpr std::size_t kNoiseEvery = 1000;
};

const CleanStream &Stream() {
    static const CleanStream stream;
    return stream;
}

const NoisyStream &Noisy() {
    static const NoisyStream stream;
    return stream;
}

void BM_CheckReceivedData(benchmark::State &state) {
    const CleanStream &stream = Stream();
    DataCheckState check = {};
    DataCheckResult result = {};
    uint32_t errors = 0;
    uint32_t read = 0;
    for (auto _ : state) {
        CheckReceivedData(stream.expected.data(), stream.patternLength, stream.Read(read),
                          kReadSize, &check, &result);
        errors += result.dataErrors;
        benchmark::DoNotOptimize(check);
        read = read + 1 == stream.reads ? 0 : read + 1;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kReadSize);
    if (errors != 0) {
        state.SkipWithError("the check found data errors in a clean stream");
    }
}

// Every noisy read has about four misfits: both checks take their slow paths.
void BM_CheckNoisyData(benchmark::State &state) {
    const NoisyStream &stream = Noisy();
    DataCheckState check = {};
    DataCheckResult result = {};
    uint32_t read = 0;
    for (auto _ : state) {
        CheckReceivedData(stream.expected.data(), stream.patternLength, stream.Read(read),
                          kReadSize, &check, &result);
        benchmark::DoNotOptimize(check);
        read = read + 1 == stream.reads ? 0 : read + 1;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kReadSize);
    if (check.alignment.corrupted == 0 || check.alignment.lost + check.alignment.extra != 0) {
        state.SkipWithError("the alignment did not count the noise as corrupted characters");
    }
}

void BM_Memcmp(benchmark::State &state) {
    const CleanStream &stream = Stream();
    uint32_t mismatches = 0;
    uint32_t read = 0;
    uint32_t position = 0;
    for (auto _ : state) {
        const char *data = stream.Read(read);
        const char *wanted = stream.expected.data() + position;
        benchmark::DoNotOptimize(data);
        benchmark::DoNotOptimize(wanted);
        int difference = std::memcmp(data, wanted, kReadSize);
        benchmark::DoNotOptimize(difference);
        mismatches += difference != 0;
        position = (position + kReadSize) % stream.patternLength;
        read = read + 1 == stream.reads ? 0 : read + 1;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kReadSize);
    if (mismatches != 0) {
        state.SkipWithError("the stream does not match its expected bytes");
    }
}

BENCHMARK(BM_CheckReceivedData)->MinTime(0.3)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_CheckNoisyData)->MinTime(0.3)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Memcmp)->MinTime(0.3)->Repetitions(5)->ReportAggregatesOnly(true);

// The console report, keeping the median speed of each benchmark aside.
class MedianKeeper : public benchmark::ConsoleReporter {
  public:
    // Colours only on a terminal.
    MedianKeeper() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) {
                failed_[run.run_name.function_name] = run.error_message;
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                auto rate = run.counters.find("bytes_per_second");
                if (rate != run.counters.end()) {
                    medians_[run.run_name.function_name] = rate->second.value;
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The median bytes per second of a benchmark; 0 when it failed or did not run.
    double Median(const std::string &name) const {
        auto found = medians_.find(name);
        return found == medians_.end() || failed_.count(name) != 0 ? 0 : found->second;
    }
    std::string Failure(const std::string &name) const {
        auto found = failed_.find(name);
        return found == failed_.end() ? "" : found->second;
    }

  private:
    std::map<std::string, double> medians_;
    std::map<std::string, std::string> failed_;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    MedianKeeper reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    double check = reporter.Median("BM_CheckReceivedData");
    double memcmp = reporter.Median("BM_Memcmp");
    bool pass = true;
    if (check == 0) {
        std::string why = reporter.Failure("BM_CheckReceivedData");
        pass = vyn::bench::NotMeasured("data_check_speed", why.empty() ? "not run" : why);
    } else {
        std::printf(
            "data check %.2f GB/s, memcmp %.2f GB/s (GB = 10^9 bytes; medians of 5, 4096-byte "
            "reads)\n",
            check / 1e9, memcmp / 1e9);
        pass = vyn::bench::Verdict("data_check_speed", check / 1e9, vyn::bench::Bound::kAtLeast,
                                   kFloorBytesPerSecond / 1e9, "GB/s", 2);
    }
    double noisy = reporter.Median("BM_CheckNoisyData");
    if (noisy == 0) {
        std::string why = reporter.Failure("BM_CheckNoisyData");
        pass = vyn::bench::NotMeasured("data_check_noisy_speed", why.empty() ? "not run" : why) &&
               pass;
    } else {
        std::printf("data check on a noisy stream %.3f GB/s\n", noisy / 1e9);
        pass =
            vyn::bench::Verdict("data_check_noisy_speed", noisy / 1e9, vyn::bench::Bound::kAtLeast,
                                kFloorNoisyBytesPerSecond / 1e9, "GB/s", 3) &&
            pass;
    }
    if (check == 0 || memcmp == 0) {
        pass = vyn::bench::NotMeasured("data_check_vs_memcmp", "a speed is missing") && pass;
    } else {
        pass = vyn::bench::Verdict("data_check_vs_memcmp", check / memcmp,
                                   vyn::bench::Bound::kAtLeast, kFloorShareOfMemcmp, "", 3) &&
               pass;
    }
    return pass ? 0 : 1;
}
