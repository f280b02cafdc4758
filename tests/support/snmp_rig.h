// Private Net-SNMP daemons for one test or benchmark, all in its own directory: a master agent
// (snmpd) listening on 127.0.0.1 with a free port and an AgentX socket in the directory, a
// notification receiver (snmptrapd) that the master sends to, and vynloop-snmp on that socket.
// Nothing reads or writes the system's SNMP configuration or state (SNMPCONFPATH and
// SNMP_PERSISTENT_DIR point into the directory; daemons start with -C). Each daemon counts as
// ready once it answers an SNMP request. Everything started here is ended by its process id.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "tests/support/process.h"

namespace vyn::snmp::test {

using vyn::test::Finished;

// Where the MIB modules are: the build's copy of the project's MIB, the standard modules that
// scripts/lib/fetch-mibs fetched, then the Net-SNMP modules that Debian ships.
std::string MibSearchPath();

// A UDP socket on a port of 127.0.0.1 that the kernel chose, held as long as this lives, so that no
// other process can take the port meanwhile. Handed to snmpd or snmptrapd it is their listening
// socket (whichever of them runs); kept to itself, it is a port where requests go unanswered.
class UdpPort {
  public:
    UdpPort();
    int fd() const { return fd_.Get(); }
    int port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

  private:
    UniqueFd fd_;
    int port_ = -1;
};

// How a tool authenticates: the read-only community, the read-write one, the SNMPv3 user (with
// privacy; with authentication only; with a wrong password).
enum class Credentials { ReadOnly, ReadWrite, User, UserWithoutPrivacy, WrongPassword };
inline constexpr const char *kReadCommunity = "public";
inline constexpr const char *kWriteCommunity = "private";
inline constexpr const char *kUser = "vynadmin";
inline constexpr const char *kAuthPassword = "vyn-auth-secret";
inline constexpr const char *kPrivPassword = "vyn-priv-secret";

class SnmpRig {
  public:
    // `dir` must exist; the rig sets the environment of the programs it runs (the store
    // VYNLOOP_MIB, VYNLOOP_RUNDIR, VYNLOOP_DEVDIR and Net-SNMP's paths) to places inside it.
    explicit SnmpRig(std::string dir);
    ~SnmpRig();
    SnmpRig(const SnmpRig &) = delete;
    SnmpRig &operator=(const SnmpRig &) = delete;

    const std::string &dir() const { return dir_; }
    std::string StorePath() const { return dir_ + "/mib.db"; }
    std::string DeviceDir() const { return dir_ + "/dev"; }

    // Each false with the reason in `why`. The master's configuration: communities, the user
    // and the notification sink for the credentials above, its AgentX socket in the directory.
    bool StartMaster(std::string &why);
    // The same with `config` instead (its listening address is added), so that an example
    // configuration can be tried; a line in `config` may say @TRAPSINK@ for the receiver's
    // address and @AGENTX@ for the socket's.
    bool StartMasterWith(const std::string &config, std::string &why);
    std::string MasterLog() const;
    bool StartTrapReceiver(std::string &why);
    // Ready once VYNLOOP-MIB's objects answer (the store must hold an instance by then).
    // `options` follow the socket; by default the master is checked every second, so that a
    // test sees a restart at once.
    bool StartSubagent(std::string &why,
                       const std::vector<std::string> &options = {"--ping-interval", "1"});
    // The same without waiting for it to answer.
    void LaunchSubagent(const std::vector<std::string> &options = {"--ping-interval", "1"});
    // SIGTERM, then the exit status (-1 when it did not end in time).
    int StopSubagent();
    int StopMaster();

    pid_t subagentPid() const { return subagent_ ? subagent_->pid() : -1; }
    std::string SubagentLog() const;
    std::string MasterAddress() const { return masterPort_.Address(); }

    // A Net-SNMP tool ("snmpget", "snmpset", ...) against the master, with the MIB loaded.
    // Leading arguments that start with '-' are options: they go before the master's address.
    Finished Tool(const std::string &tool, const std::vector<std::string> &args,
                  Credentials credentials = Credentials::ReadWrite) const;
    // One object's value as snmpget prints it bare (enumerations as numbers, no units); "" on
    // failure.
    std::string Value(const std::string &object) const;
    // True once the object reads `expected` (see Value), polling within `limitMs`.
    bool WaitValue(const std::string &object, const std::string &expected,
                   int limitMs = 60000) const;

    // True once vynloopctl reads `object` as `expected` through the master (v2c, the read
    // community), as a remote console would, polling within `limitMs`.
    bool WaitConsoleValue(const std::string &object, const std::string &expected,
                          int limitMs = 60000) const;

    // The notifications received so far, one line each, their varbinds separated by tabs.
    std::vector<std::string> Notifications() const;

  private:
    Finished Run(const std::string &tool, const std::vector<std::string> &args,
                 Credentials credentials, const std::string &timeoutSeconds) const;
    bool WaitAnswer(const std::vector<std::string> &request, const std::string &prefix,
                    int limitMs) const;
    std::string DefaultMasterConfig() const;
    void EndStartedAgents();

    std::string dir_;
    UdpPort masterPort_;
    UdpPort trapPort_;
    std::unique_ptr<vyn::test::Child> master_;
    std::unique_ptr<vyn::test::Child> receiver_;
    std::unique_ptr<vyn::test::Child> subagent_;
    int subagentRuns_ = 0;
};

}  // namespace vyn::snmp::test
