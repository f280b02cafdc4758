// The Net-SNMP handler of vynLoopObjects: GET, GETNEXT (and so GETBULK) and the phases of SET,
// served from the store. A SET is checked varbind by varbind in its first phase (type, size,
// value, writability, row) and written in one store transaction for all its varbinds in the
// action phase; the undo phase writes back what that transaction replaced. The agent library
// calls it on its own thread, the main one, only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "snmp/netsnmp.h"
#include "snmp/store_view.h"

namespace vyn::snmp {

class RequestHandler {
  public:
    // `onTestRequested` is called for each port whose test a committed SET requested.
    RequestHandler(StoreView &view, std::function<void(const RowKey &)> onTestRequested);
    ~RequestHandler();
    RequestHandler(const RequestHandler &) = delete;
    RequestHandler &operator=(const RequestHandler &) = delete;

    // Registers the handler with the agent library; false when it refuses.
    bool Register();

  private:
    static int Dispatch(netsnmp_mib_handler *handler, netsnmp_handler_registration *registration,
                        netsnmp_agent_request_info *info, netsnmp_request_info *requests);

    void Get(netsnmp_agent_request_info *info, netsnmp_request_info *requests);
    void GetNext(netsnmp_agent_request_info *info, netsnmp_request_info *requests);
    void Check(netsnmp_agent_request_info *info, netsnmp_request_info *requests);
    void Write(netsnmp_agent_request_info *info, netsnmp_request_info *requests);
    void Finish(netsnmp_request_info *requests, bool undo);

    // What the action phase wrote, until the set is committed or undone. The master agent
    // handles one SET at a time; the fingerprint (the request's names and values) makes sure
    // that a later phase belongs to the same SET.
    struct PendingSet {
        std::string fingerprint;
        std::vector<mml::Binding> previous;
        std::vector<RowKey> requested;
    };

    StoreView &view_;
    std::function<void(const RowKey &)> onTestRequested_;
    std::optional<PendingSet> pending_;
    netsnmp_handler_registration *registration_ = nullptr;  // owned by the agent library
};

}  // namespace vyn::snmp
