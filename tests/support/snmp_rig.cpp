#include "tests/support/snmp_rig.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vyn::snmp::test {

namespace {

constexpr const char *kMasterProgram = "/usr/sbin/snmpd";
constexpr const char *kReceiverProgram = "/usr/sbin/snmptrapd";
// sysUpTime.0: every master agent answers it.
constexpr const char *kUptime = ".1.3.6.1.2.1.1.3.0";
constexpr const char *kObjects = ".1.3.6.1.4.1.8072.9999.9999.1.1";
constexpr int kReadyLimitMs = 30000;
constexpr int kStopLimitMs = 30000;

void Write(const std::string &path, const std::string &text) {
    std::ofstream(path) << text;
}

std::vector<std::string> CredentialArgs(Credentials credentials) {
    switch (credentials) {
        case Credentials::ReadOnly:
            return {"-v2c", "-c", kReadCommunity};
        case Credentials::ReadWrite:
            return {"-v2c", "-c", kWriteCommunity};
        case Credentials::User:
            return {"-v3", "-l",          "authPriv", "-u",  kUser, "-a",         "SHA",
                    "-A",  kAuthPassword, "-x",       "AES", "-X",  kPrivPassword};
        case Credentials::UserWithoutPrivacy:
            return {"-v3", "-l", "authNoPriv", "-u", kUser, "-a", "SHA", "-A", kAuthPassword};
        case Credentials::WrongPassword:
            return {"-v3",        "-l", "authPriv",         "-u", kUser, "-a",
                    "SHA",        "-A", "not-the-password", "-x", "AES", "-X",
                    kPrivPassword};
    }
    return {};
}

}  // namespace

std::string MibSearchPath() {
    return VYNLOOP_MIB_SEARCH_PATH;
}

UdpPort::UdpPort() {
    // Close-on-exec, and above descriptor 3, which a child takes it as.
    UniqueFd low(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (low.Valid()) {
        fd_.Reset(::fcntl(low.Get(), F_DUPFD_CLOEXEC, 10));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_.Valid() &&
        ::bind(fd_.Get(), reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd_.Get(), reinterpret_cast<sockaddr *>(&address), &length) == 0) {
        port_ = ntohs(address.sin_port);
    }
}

SnmpRig::SnmpRig(std::string dir) : dir_(std::move(dir)) {
    // cert_indexes: made by Net-SNMP on first use otherwise, with a note on standard error.
    for (const char *sub : {"/persist", "/persist/cert_indexes", "/run", "/dev"}) {
        ::mkdir((dir_ + sub).c_str(), 0700);
    }
    ::setenv("VYNLOOP_MIB", StorePath().c_str(), 1);
    ::setenv("VYNLOOP_RUNDIR", (dir_ + "/run").c_str(), 1);
    ::setenv("VYNLOOP_DEVDIR", DeviceDir().c_str(), 1);
    ::setenv("SNMPCONFPATH", dir_.c_str(), 1);
    ::setenv("SNMP_PERSISTENT_DIR", (dir_ + "/persist").c_str(), 1);
    ::setenv("MIBDIRS", MibSearchPath().c_str(), 1);
    ::setenv("MIBS", "", 1);  // the daemons load no module; the tools name theirs
    vyn::test::AdoptOrphans();
}

SnmpRig::~SnmpRig() {
    subagent_.reset();
    EndStartedAgents();
    receiver_.reset();
    master_.reset();
}

std::string SnmpRig::DefaultMasterConfig() const {
    std::ostringstream conf;
    conf << "master agentx\n"
         << "agentXSocket unix:@AGENTX@\n"
         << "agentXPerms 0600 0700\n"
         << "rocommunity " << kReadCommunity << " 127.0.0.1\n"
         << "rwcommunity " << kWriteCommunity << " 127.0.0.1\n"
         << "createUser " << kUser << " SHA \"" << kAuthPassword << "\" AES \"" << kPrivPassword
         << "\"\n"
         << "rwuser " << kUser << " priv\n"
         << "trap2sink @TRAPSINK@ " << kReadCommunity << "\n";
    return conf.str();
}

bool SnmpRig::StartMaster(std::string &why) {
    return StartMasterWith(DefaultMasterConfig(), why);
}

bool SnmpRig::StartMasterWith(const std::string &config, std::string &why) {
    std::string text = config;
    for (const auto &[mark, value] :
         {std::pair<std::string, std::string>{"@AGENTX@", dir_ + "/agentx.sock"},
          {"@TRAPSINK@", trapPort_.Address()}}) {
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;) {
            text.replace(at, mark.size(), value);
        }
    }
    // Only 127.0.0.1, and notifications leave from it too. snmpd serves on the rig's socket.
    Write(dir_ + "/snmpd.conf", "[snmp] clientaddr 127.0.0.1\nagentaddress udp:" + MasterAddress() +
                                    "\nagentXTimeout 5\n" + text);
    master_ = std::make_unique<vyn::test::Child>(
        std::vector<std::string>{kMasterProgram, "-f", "-Lf", dir_ + "/snmpd.log", "-C", "-c",
                                 dir_ + "/snmpd.conf", "-I", "-smux"},
        dir_ + "/snmpd.out", dir_ + "/snmpd.err", masterPort_.fd());
    if (WaitAnswer({"snmpget", "-On", kUptime}, ".1.3.6.1.2.1.1.3.0", kReadyLimitMs)) {
        return true;
    }
    master_.reset();
    why = "snmpd did not answer: " + MasterLog();
    return false;
}

std::string SnmpRig::MasterLog() const {
    return vyn::test::ReadFile(dir_ + "/snmpd.log");
}

int SnmpRig::StopMaster() {
    if (!master_) {
        return -1;
    }
    master_->Signal(SIGTERM);
    int status = master_->Wait(kStopLimitMs);
    master_.reset();
    return status;
}

bool SnmpRig::StartTrapReceiver(std::string &why) {
    Write(dir_ + "/snmptrapd.conf", std::string("authCommunity log ") + kReadCommunity + "\n");
    receiver_ = std::make_unique<vyn::test::Child>(
        std::vector<std::string>{kReceiverProgram, "-f", "-X", "-C", "-c", dir_ + "/snmptrapd.conf",
                                 "-Lf", dir_ + "/traps.log", "-M", MibSearchPath(), "-m",
                                 "VYNLOOP-MIB", "-F", "vynloop-trap %v\\n",
                                 "udp:" + trapPort_.Address()},
        dir_ + "/snmptrapd.out", dir_ + "/snmptrapd.err", trapPort_.fd());
    const std::string target = trapPort_.Address();
    bool ready = vyn::test::WaitFor(
        [&] {
            vyn::test::RunProgram({"/usr/bin/snmptrap", "-v2c", "-c", kReadCommunity, target, "",
                                   ".1.3.6.1.4.1.8072.9999.9999.77",
                                   ".1.3.6.1.4.1.8072.9999.9999.77.1", "s", "receiver-ready"});
            return vyn::test::ReadFile(dir_ + "/traps.log").find("receiver-ready") !=
                   std::string::npos;
        },
        kReadyLimitMs);
    if (!ready) {
        why = "snmptrapd received nothing: " + vyn::test::ReadFile(dir_ + "/snmptrapd.err");
    }
    return ready;
}

void SnmpRig::LaunchSubagent(const std::vector<std::string> &options) {
    std::vector<std::string> argv{vyn::test::Program("vynloop-snmp"), "--agentx",
                                  "unix:" + dir_ + "/agentx.sock"};
    argv.insert(argv.end(), options.begin(), options.end());
    ++subagentRuns_;
    const std::string log = dir_ + "/subagent-" + std::to_string(subagentRuns_) + ".log";
    subagent_ = std::make_unique<vyn::test::Child>(argv, dir_ + "/subagent.out", log);
}

bool SnmpRig::StartSubagent(std::string &why, const std::vector<std::string> &options) {
    LaunchSubagent(options);
    if (WaitAnswer({"snmpgetnext", "-On", kObjects}, std::string(kObjects) + ".", kReadyLimitMs)) {
        return true;
    }
    why = "vynloop-snmp did not answer: " + SubagentLog();
    return false;
}

int SnmpRig::StopSubagent() {
    if (!subagent_) {
        return -1;
    }
    subagent_->Signal(SIGTERM);
    int status = subagent_->Wait(kStopLimitMs);
    subagent_.reset();
    return status;
}

std::string SnmpRig::SubagentLog() const {
    return vyn::test::ReadFile(dir_ + "/subagent-" + std::to_string(subagentRuns_) + ".log");
}

Finished SnmpRig::Tool(const std::string &tool, const std::vector<std::string> &args,
                       Credentials credentials) const {
    return Run(tool, args, credentials, "10");
}

Finished SnmpRig::Run(const std::string &tool, const std::vector<std::string> &args,
                      Credentials credentials, const std::string &timeoutSeconds) const {
    // One try: a retried SET would be applied twice.
    std::vector<std::string> argv{"/usr/bin/" + tool, "-t", timeoutSeconds, "-r", "0"};
    for (std::string &arg : CredentialArgs(credentials)) {
        argv.push_back(std::move(arg));
    }
    argv.insert(argv.end(), {"-M", MibSearchPath(), "-m", "VYNLOOP-MIB"});
    auto operands = args.begin();
    while (operands != args.end() && operands->size() > 1 && (*operands)[0] == '-' &&
           (*operands)[1] != '.') {
        argv.push_back(*operands++);
    }
    argv.push_back(MasterAddress());
    argv.insert(argv.end(), operands, args.end());
    return vyn::test::RunProgram(argv, 60000);
}

std::string SnmpRig::Value(const std::string &object) const {
    Finished run = Tool("snmpget", {"-Oqv", "-Oe", "-OU", object}, Credentials::ReadOnly);
    if (run.status != 0 || run.out.empty()) {
        return "";
    }
    return run.out.substr(0, run.out.size() - 1);
}

bool SnmpRig::WaitConsoleValue(const std::string &object, const std::string &expected,
                               int limitMs) const {
    std::vector<std::string> get{vyn::test::Program("vynloopctl"),
                                 "--host",
                                 MasterAddress(),
                                 "-v",
                                 "2c",
                                 "-c",
                                 kReadCommunity,
                                 "get",
                                 object};
    return vyn::test::WaitFor(
        [&get, &expected] { return vyn::test::RunProgram(get).out == expected + "\n"; }, limitMs);
}

bool SnmpRig::WaitValue(const std::string &object, const std::string &expected, int limitMs) const {
    return vyn::test::WaitFor([&] { return Value(object) == expected; }, limitMs);
}

std::vector<std::string> SnmpRig::Notifications() const {
    std::vector<std::string> found;
    std::istringstream log(vyn::test::ReadFile(dir_ + "/traps.log"));
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("vynloop-trap ", 0) == 0 &&
            line.find("vynLoopTestCompleted") != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

bool SnmpRig::WaitAnswer(const std::vector<std::string> &request, const std::string &prefix,
                         int limitMs) const {
    std::vector<std::string> args(request.begin() + 1, request.end());
    return vyn::test::WaitFor(
        [&] {
            Finished run = Run(request[0], args, Credentials::ReadOnly, "1");
            return run.status == 0 && run.out.rfind(prefix, 0) == 0;
        },
        limitMs);
}

void SnmpRig::EndStartedAgents() {
    for (int run = 1; run <= subagentRuns_; ++run) {
        std::string log = vyn::test::ReadFile(dir_ + "/subagent-" + std::to_string(run) + ".log");
        for (pid_t pid : vyn::test::AgentsStarted(log)) {
            vyn::test::KillDetached(pid, vyn::test::Program("vynloop"));
        }
    }
}

}  // namespace vyn::snmp::test
