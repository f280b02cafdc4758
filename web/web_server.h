// vynloop-web's HTTP server: the pages, the JSON API, the live streams, and the guards in front
// of them (login, cross-site protection, the stream limit).
#pragma once

#include <memory>
#include <string>

#include "web/agent_children.h"
#include "web/live_feed.h"
#include "web/login.h"
#include "web/login_throttle.h"
#include "web/rack_sources.h"
#include "web/web_options.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace vyn::web {

class WebServer {
  public:
    explicit WebServer(WebOptions options);
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Checks the options, loads the credentials, opens the rack and binds the address. False
    // with a one-line reason.
    bool Bind(std::string &reason);
    // The port bound (the one chosen when asked for 0).
    int Port() const { return port_; }
    // "http://127.0.0.1:8080/".
    std::string Url() const;
    // Serves until Stop(); call after Bind().
    void Serve();
    // Ends Serve() from any thread; open streams end too.
    void Stop();

  private:
    void Route();
    // The guards every request passes; true when the request was answered (refused) here.
    bool Refused(const httplib::Request &request, httplib::Response &response);
    std::optional<Logins::Session> SessionOf(const httplib::Request &request);
    bool SameOrigin(const httplib::Request &request) const;

    // True when `host` is a rack shown here; else answers 404.
    bool KnownRack(const std::string &host, httplib::Response &response);
    void ServeEvents(const httplib::Request &request, httplib::Response &response);
    void ServeAction(const httplib::Request &request, httplib::Response &response,
                     const std::string &action);
    void ServeLogin(const httplib::Request &request, httplib::Response &response);
    void ServeSession(const httplib::Request &request, httplib::Response &response);
    void ServeRecords(const httplib::Request &request, httplib::Response &response);
    void ServeSweepStop(const httplib::Request &request, httplib::Response &response);

    const WebOptions options_;
    Logins logins_;           // loaded in Bind, then only its sessions change (guarded inside)
    LoginThrottle throttle_;  // guarded inside
    RackSources racks_;
    StreamLimit streams_;
    AgentChildren agents_;
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
};

}  // namespace vyn::web
