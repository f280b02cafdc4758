// vynloop-web as a process beside a virtual board of sixteen ports and the agent:
// - a store change reaches an open live stream in under 1 s (the slowest of ten changes);
// - the idle server (nobody watching) uses under 0.1% of a core;
// - with four viewers of sixteen running ports it uses under 2% of a core;
// - its resident memory stays under 16 MiB all along.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/agent/bench_main.h"
#include "tests/support/process.h"

namespace vyn::bench {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kPorts = 16;
constexpr int kViewers = 4;
constexpr auto kMeasure = 10s;

// A live stream read on its own thread; remembers when a text first appeared in it.
class Viewer {
  public:
    explicit Viewer(int port) {
        thread_ = std::jthread([this, port] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(60s);
            client.Get("/api/events", [this](const char *data, std::size_t size) {
                frames_.fetch_add(1);
                std::lock_guard lock(mutex_);
                if (!wanted_.empty() &&
                    std::string(data, size).find(wanted_) != std::string::npos) {
                    seen_ = Clock::now();
                    wanted_.clear();
                }
                return !done_.load();
            });
        });
    }
    ~Viewer() { done_ = true; }
    void Want(const std::string &text) {
        std::lock_guard lock(mutex_);
        wanted_ = text;
        seen_.reset();
    }
    std::optional<Clock::time_point> Seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    int Frames() const { return frames_.load(); }

  private:
    std::mutex mutex_;  // guards wanted_ and seen_
    std::string wanted_;
    std::optional<Clock::time_point> seen_;
    std::atomic<int> frames_{0};
    std::atomic<bool> done_{false};
    std::jthread thread_;  // last: joined first
};

struct Rig {
    vyn::test::TempDir dir;
    std::unique_ptr<vyn::test::Child> board;
    std::unique_ptr<vyn::test::Child> web;
    int port = 0;
    std::vector<pid_t> agents;

    Rig() {
        std::string dev = dir / "dev";
        std::filesystem::create_directory(dev);
        setenv("VYNLOOP_MIB", (dir / "mib.db").c_str(), 1);
        setenv("VYNLOOP_RUNDIR", (dir / "run").c_str(), 1);
        setenv("VYNLOOP_DEVDIR", dev.c_str(), 1);
        setenv("VYNLOOP_AGENT", vyn::test::Program("vynloop").c_str(), 1);
        std::vector<std::string> init{vyn::test::Program("vynloopctl"), "init", "demo"};
        for (int i = 1; i <= kPorts; ++i) {
            init.push_back(std::to_string(i) + "=COM" + std::to_string(i));
        }
        if (vyn::test::RunProgram(init).status != 0) {
            throw std::runtime_error("cannot provision the store");
        }
        board = vyn::test::StartBoard(dev, kPorts);
        if (!board) {
            throw std::runtime_error("vynboard did not start");
        }
        web = std::make_unique<vyn::test::Child>(
            std::vector<std::string>{vyn::test::Program("vynloop-web"), "--port", "0"});
        std::string line;
        if (!web->ReadLine(line) || line.find("serving http://127.0.0.1:") == std::string::npos) {
            throw std::runtime_error("vynloop-web did not start: " + line);
        }
        port = std::stoi(line.substr(line.rfind(':') + 1));
    }
    ~Rig() {
        web.reset();
        for (pid_t pid : agents) {
            vyn::test::KillDetached(pid, vyn::test::Program("vynloop"));
        }
    }

    int Post(const std::string &path, const nlohmann::json &body) {
        httplib::Client client("127.0.0.1", port);
        auto session = client.Get("/api/session");
        std::string csrf = nlohmann::json::parse(session->body)["csrf"];
        auto answer = client.Post(path, {{"X-CSRF-Token", csrf}}, body.dump(), "application/json");
        if (answer && answer->status == 200) {
            nlohmann::json reply = nlohmann::json::parse(answer->body);
            if (reply.contains("agentStarted")) {
                agents.push_back(reply["agentStarted"].get<pid_t>());
            }
        }
        return answer ? answer->status : -1;
    }

    // The server's share of a core over `span`.
    double CpuShare(std::chrono::seconds span) {
        double before = PreciseCpuSeconds(web->pid());
        std::this_thread::sleep_for(span);
        return (PreciseCpuSeconds(web->pid()) - before) / static_cast<double>(span.count());
    }
};

bool MeasureWeb() {
    Rig rig;
    bool pass = true;
    // Idle: the page has been read once, nobody watches.
    httplib::Client("127.0.0.1", rig.port).Get("/api/rack");
    std::this_thread::sleep_for(1s);
    pass = Verdict("web_idle_cpu", 100 * rig.CpuShare(kMeasure), Bound::kUnder, 0.1, "%core", 3) &&
           pass;

    // A change in the store to the page: the slowest of ten.
    double slowest = 0;
    {
        Viewer viewer(rig.port);
        for (int i = 0; i < 10; ++i) {
            int speed = 1200 + i;
            viewer.Want("\"line\":\"" + std::to_string(speed) + " 8N1\"");
            std::vector<std::string> set{vyn::test::Program("vynloopctl"), "set",
                                         "portLoopSpeed.demo.16=" + std::to_string(speed)};
            vyn::test::RunProgram(set);
            auto written = Clock::now();
            if (!vyn::test::WaitFor([&] { return viewer.Seen().has_value(); }, 5000)) {
                return NotMeasured("web_change_to_page", "the change never reached the stream");
            }
            slowest = std::max(slowest, Milliseconds(*viewer.Seen() - written));
        }
    }
    pass = Verdict("web_change_to_page", slowest, Bound::kUnder, 1000, "ms", 0) && pass;

    // Four viewers of sixteen running ports.
    nlohmann::json ports = nlohmann::json::array();
    for (int i = 1; i <= kPorts; ++i) {
        ports.push_back(i);
    }
    if (rig.Post("/api/start",
                 {{"instance", "demo"},
                  {"ports", ports},
                  {"settings", {{"time", 0}, {"internal", true}, {"speed", 115200}}}}) != 200) {
        return NotMeasured("web_busy_cpu", "the tests did not start");
    }
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int i = 0; i < kViewers; ++i) {
        viewers.push_back(std::make_unique<Viewer>(rig.port));
    }
    std::this_thread::sleep_for(2s);
    double busy = 100 * rig.CpuShare(kMeasure);
    int frames = viewers[0]->Frames();
    pass = Verdict("web_busy_cpu", busy, Bound::kUnder, 2.0, "%core", 3,
                   std::to_string(frames) + " updates to each viewer") &&
           pass;
    long peak = ProcessMemoryKib(rig.web->pid(), "VmHWM");
    pass = Verdict("web_peak_rss", peak / 1024.0, Bound::kUnder, 16, "MiB", 1) && pass;
    rig.Post("/api/stop", {{"instance", "demo"}, {"ports", ports}});
    viewers.clear();
    return pass;
}

}  // namespace
}  // namespace vyn::bench

int main(int argc, char **argv) {
    return vyn::bench::RunBenchmarks(argc, argv, {{"web", vyn::bench::MeasureWeb}});
}
