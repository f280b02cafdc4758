#include "board/error_publisher.h"

#include <chrono>
#include <cstring>
#include <limits>

#include "mml/vynmall.h"

namespace vyn::board {

namespace {

// A request's records in memory of the library's, so that MMLFreeVarBindList can free them.
class Records {
  public:
    explicit Records(std::uint32_t count) {
        list_.list = static_cast<MmlVarBind *>(MMLAlloc(count * sizeof(MmlVarBind)));
        list_.len = list_.list != nullptr ? count : 0;
        if (list_.list != nullptr) {
            std::memset(list_.list, 0, count * sizeof(MmlVarBind));
        }
    }
    ~Records() { MMLFreeVarBindList(&list_); }
    Records(const Records &) = delete;
    Records &operator=(const Records &) = delete;

    MmlVarBindList *list() { return &list_; }
    MmlVarBind &operator[](std::uint32_t index) { return list_.list[index]; }
    std::uint32_t size() const { return list_.len; }

  private:
    MmlVarBindList list_{};
};

struct Target {
    MmlOid oid;
    std::int32_t total;
};

}  // namespace

ErrorPublisher::ErrorPublisher(std::string instance, std::vector<Source> sources)
    : instance_(std::move(instance)), sources_(std::move(sources)) {}

ErrorPublisher::~ErrorPublisher() {
    if (thread_.joinable()) {
        thread_.request_stop();
        wake_.notify_all();
        thread_.join();
    }
    if (session_ != 0) {
        MMLTerminate(session_);
    }
}

void ErrorPublisher::Start() {
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void ErrorPublisher::Run(std::stop_token stop) {
    // Totals that change are published within a tenth of a second, so that a test's last
    // receive errors reach its result; unchanged ones are written again once a second, for a
    // store that was provisioned anew.
    constexpr auto kLook = std::chrono::milliseconds(100);
    constexpr auto kRefresh = std::chrono::seconds(1);
    std::unique_lock lock(mutex_);
    std::vector<std::uint64_t> published(sources_.size(), 0);
    auto lastPublished = std::chrono::steady_clock::time_point{};
    while (!stop.stop_requested()) {
        bool changed = false;
        for (std::size_t i = 0; i < sources_.size(); ++i) {
            std::uint64_t total = sources_[i].counters->RxErrors();
            changed = changed || total != published[i];
            published[i] = total;
        }
        auto now = std::chrono::steady_clock::now();
        if (changed || now - lastPublished >= kRefresh) {
            PublishOnce();
            lastPublished = now;
        }
        wake_.wait_for(lock, stop, kLook, [] { return false; });
    }
}

void ErrorPublisher::PublishOnce() {
    if (session_ == 0 && MMLInitialize(1, 0, 0, 0, 0, &session_) != 0) {
        session_ = 0;  // no store yet: try again next round
        return;
    }
    std::vector<Target> targets;
    for (const Source &source : sources_) {
        std::string name =
            "portErrStatRxTotal." + instance_ + "." + std::to_string(source.portNumber);
        Target target{};
        if (MMLStrToMMLOid(name.c_str(), &target.oid) == 0) {
            std::uint64_t total = source.counters->RxErrors();
            std::uint64_t limit = std::numeric_limits<std::int32_t>::max();
            target.total = static_cast<std::int32_t>(total < limit ? total : limit);
            targets.push_back(target);
        }
    }
    // Find which objects exist: each noSuchName names one that does not.
    while (!targets.empty()) {
        Records get(static_cast<std::uint32_t>(targets.size()));
        if (get.size() != targets.size()) {
            return;
        }
        for (std::uint32_t i = 0; i < get.size(); ++i) {
            get[i].oid = targets[i].oid;
            get[i].type = MML_TYPE_NULL;
        }
        std::int32_t status = 0;
        std::int32_t index = 0;
        if (MMLRequestLocal(session_, MML_REQUEST_GET, get.list(), &status, &index) != 0) {
            return;  // next round; the session opens the store anew itself when it has to
        }
        if (status != MML_ERROR_STATUS_NO_SUCH_NAME) {
            break;
        }
        if (index < 1 || static_cast<std::size_t>(index) > targets.size()) {
            return;
        }
        targets.erase(targets.begin() + (index - 1));
    }
    if (targets.empty()) {
        return;
    }
    Records set(static_cast<std::uint32_t>(targets.size()));
    if (set.size() != targets.size()) {
        return;
    }
    for (std::uint32_t i = 0; i < set.size(); ++i) {
        set[i].oid = targets[i].oid;
        set[i].type = MML_TYPE_INTEGER;
        set[i].value.integer = targets[i].total;
    }
    std::int32_t status = 0;
    std::int32_t index = 0;
    // A failed set is tried again next round with the same session: a store held busy by another
    // program or replaced under the board is the session's to deal with, and opening a session
    // for every failed round only churns memory.
    MMLRequestLocal(session_, MML_REQUEST_SET, set.list(), &status, &index);
}

}  // namespace vyn::board
