#include "web/web_server.h"

#include <httplib.h>

#include "web/pages.h"
#include "web/rack_actions.h"
#include "web/run_records.h"

namespace vyn::web {

namespace {

using namespace std::chrono_literals;

// A stream sends a comment this often when nothing changed, so that a closed viewer is noticed.
constexpr auto kKeepAlive = 10s;
constexpr std::size_t kMaxBody = 64 * 1024;
// Threads beside those that the open streams may hold, for pages and requests.
constexpr int kRequestThreads = 6;
// Runs listed on the records page, newest first.
constexpr std::size_t kRunsListed = 200;

void Text(httplib::Response &response, int status, const std::string &text) {
    response.status = status;
    response.set_content(text + "\n", "text/plain; charset=utf-8");
}

void Json(httplib::Response &response, int status, const nlohmann::json &body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

std::string CookieValue(const httplib::Request &request, std::string_view name) {
    std::string cookies = request.get_header_value("Cookie");
    std::size_t at = 0;
    while (at < cookies.size()) {
        std::size_t end = cookies.find(';', at);
        if (end == std::string::npos) {
            end = cookies.size();
        }
        std::string_view pair(cookies.data() + at, end - at);
        while (!pair.empty() && pair.front() == ' ') {
            pair.remove_prefix(1);
        }
        if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=') {
            return std::string(pair.substr(name.size() + 1));
        }
        at = end + 1;
    }
    return {};
}

// The host part of a Host header: "127.0.0.1" of "127.0.0.1:8080", "::1" of "[::1]:8080".
std::string HostName(const std::string &header) {
    if (header.starts_with("[")) {
        std::size_t close = header.find(']');
        return close == std::string::npos ? header : header.substr(1, close - 1);
    }
    return header.substr(0, header.find(':'));
}

}  // namespace

WebServer::WebServer(WebOptions options)
    : options_(std::move(options)), racks_(options_), streams_(options_.maxStreams) {}

WebServer::~WebServer() {
    Stop();
}

std::string WebServer::Url() const {
    std::string host = options_.address.find(':') != std::string::npos
                           ? "[" + options_.address + "]"
                           : options_.address;
    return (options_.certificate.empty() ? "http://" : "https://") + host + ":" +
           std::to_string(port_) + "/";
}

bool WebServer::Bind(std::string &reason) {
    reason = CheckWebOptions(options_);
    if (!reason.empty()) {
        return false;
    }
    if (!options_.credentials.empty() && !logins_.Load(options_.credentials, reason)) {
        return false;
    }
    if (!racks_.Open(reason)) {
        return false;
    }
    if (options_.certificate.empty()) {
        server_ = std::make_unique<httplib::Server>();
    } else {
        auto secure = std::make_unique<httplib::SSLServer>(options_.certificate.c_str(),
                                                           options_.key.c_str());
        if (!secure->is_valid()) {
            reason = "cannot use the certificate " + options_.certificate + " with the key " +
                     options_.key;
            return false;
        }
        server_ = std::move(secure);
    }
    const std::size_t threads = static_cast<std::size_t>(options_.maxStreams + kRequestThreads);
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server_->set_payload_max_length(kMaxBody);
    Route();
    port_ = options_.port == 0
                ? server_->bind_to_any_port(options_.address)
                : (server_->bind_to_port(options_.address, options_.port) ? options_.port : -1);
    if (port_ < 0) {
        reason = "cannot listen on " + options_.address + " port " + std::to_string(options_.port);
        return false;
    }
    return true;
}

void WebServer::Serve() {
    server_->listen_after_bind();
}

void WebServer::Stop() {
    racks_.Close();
    if (server_) {
        server_->stop();
    }
}

std::optional<Logins::Session> WebServer::SessionOf(const httplib::Request &request) {
    return logins_.Find(CookieValue(request, kSessionCookie));
}

bool WebServer::SameOrigin(const httplib::Request &request) const {
    if (!request.has_header("Origin")) {
        return true;  // not sent by a page of another site (browsers send it on every POST)
    }
    std::string scheme = options_.certificate.empty() ? "http://" : "https://";
    return request.get_header_value("Origin") == scheme + request.get_header_value("Host");
}

bool WebServer::Refused(const httplib::Request &request, httplib::Response &response) {
    // Without a login the server answers only to its loopback name, so that another site's
    // name pointed at 127.0.0.1 (DNS rebinding) does not make its pages this server's.
    if (!logins_.Required() && !IsLoopback(HostName(request.get_header_value("Host")))) {
        Text(response, 403, "this server answers only to its loopback address");
        return true;
    }
    if (request.method != "GET" && request.method != "HEAD" && request.method != "POST") {
        Text(response, 405, "only GET and POST are served");
        return true;
    }
    if (request.method == "POST") {
        if (!SameOrigin(request)) {
            Text(response, 403,
                 "cross-site request refused: a page of another site cannot change "
                 "anything here");
            return true;
        }
        if (request.get_header_value("Content-Type").find("application/json") != 0) {
            Text(response, 415, "a request that changes something sends JSON");
            return true;
        }
    }
    bool open = request.path == "/api/session" || request.path == "/api/login";
    if (!request.path.starts_with("/api/") || open) {
        return false;
    }
    std::optional<Logins::Session> session = SessionOf(request);
    if (!session) {
        Text(response, 401, "log in first");
        return true;
    }
    if (request.method == "POST" && request.get_header_value(kCsrfHeader.data()) != session->csrf) {
        Text(response, 403, "cross-site request refused: the request lacks this session's token");
        return true;
    }
    return false;
}

void WebServer::ServeSession(const httplib::Request &request, httplib::Response &response) {
    std::optional<Logins::Session> session = SessionOf(request);
    nlohmann::json body = {{"loginRequired", logins_.Required()},
                           {"loggedIn", session.has_value()},
                           {"fleet", !options_.fleet.empty()},
                           {"maxStreams", streams_.Limit()}};
    if (session) {
        body["user"] = session->user;
        body["csrf"] = session->csrf;
    }
    Json(response, 200, body);
}

void WebServer::ServeLogin(const httplib::Request &request, httplib::Response &response) {
    nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object() || !body.contains("user") || !body["user"].is_string() ||
        !body.contains("password") || !body["password"].is_string()) {
        Json(response, 400, {{"error", "give \"user\" and \"password\""}});
        return;
    }
    if (!logins_.Required()) {
        Json(response, 200, {{"ok", true}});
        return;
    }
    if (auto wait = throttle_.Wait(request.remote_addr); wait.count() > 0) {
        response.set_header("Retry-After", std::to_string(wait.count()));
        Json(response, 429,
             {{"error", "too many failed logins from this address: try again in " +
                            std::to_string(wait.count()) + " s"}});
        return;
    }
    auto login =
        logins_.LogIn(body["user"].get<std::string>(), body["password"].get<std::string>());
    if (!login) {
        throttle_.Failed(request.remote_addr);
        Json(response, 401, {{"error", "wrong user name or password"}});
        return;
    }
    throttle_.Succeeded(request.remote_addr);
    response.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + login->first +
                                          "; Path=/; HttpOnly; SameSite=Strict" +
                                          (options_.certificate.empty() ? "" : "; Secure"));
    Json(response, 200, {{"ok", true}, {"user", login->second.user}, {"csrf", login->second.csrf}});
}

void WebServer::ServeEvents(const httplib::Request &request, httplib::Response &response) {
    std::string host = request.get_param_value("host");
    if (!racks_.Knows(host)) {
        Text(response, 404, host + " is not a rack of this server");
        return;
    }
    if (!streams_.TryOpen()) {
        Text(response, 503,
             "too many live views open (at most " + std::to_string(streams_.Limit()) + ")");
        return;
    }
    // Holds its place in the limit and in the feed for as long as the stream is open.
    struct Stream {
        Stream(StreamLimit &limit, LiveFeed &feed) : limit(limit), feed(feed), viewer(feed) {}
        ~Stream() { limit.Close(); }
        StreamLimit &limit;
        LiveFeed &feed;
        LiveFeed::Viewer viewer;
    };
    auto stream = std::make_shared<Stream>(streams_, racks_.Feed(host));
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream", [stream](std::size_t, httplib::DataSink &sink) {
            std::shared_ptr<const std::string> state = stream->viewer.Next(kKeepAlive);
            if (!state && stream->feed.Closed()) {
                sink.done();
                return false;
            }
            std::string frame = state ? "data: " + *state + "\n\n" : ": still here\n\n";
            return sink.write(frame.data(), frame.size());
        });
}

void WebServer::ServeAction(const httplib::Request &request, httplib::Response &response,
                            const std::string &action) {
    std::string host = request.get_param_value("host");
    if (!KnownRack(host, response)) {
        return;
    }
    if (action == "sweep") {
        if (std::string refusal = racks_.Sweep(host).Refusal(); !refusal.empty()) {
            Json(response, 409, {{"error", refusal}});
            return;
        }
    }
    nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        Json(response, 400, {{"error", "the request is not a JSON object"}});
        return;
    }
    std::string reason;
    std::unique_ptr<console::ObjectAccess> objects = racks_.OpenObjects(host, reason);
    if (!objects) {
        Json(response, 503, {{"error", reason}});
        return;
    }
    SweepPlan plan;
    Answer answer = action == "start"   ? StartTests(*objects, racks_.StorePath(), body)
                    : action == "stop"  ? StopTests(*objects, body)
                    : action == "sweep" ? PlanSweepRequest(*objects, racks_.StorePath(), body, plan)
                                        : ExtendRun(*objects, body);
    if (answer.startedAgent > 0) {
        agents_.Add(answer.startedAgent);
    }
    // The sweep runs on with the objects of this request, on a thread of its own.
    if (action == "sweep" && answer.status == 200 &&
        !racks_.Sweep(host).Start(
            std::move(plan), std::move(objects), racks_.StorePath(),
            [this](pid_t pid) { agents_.Add(pid); }, reason)) {
        answer = {409, {{"error", reason}}};
    }
    Json(response, answer.status, answer.body);
}

bool WebServer::KnownRack(const std::string &host, httplib::Response &response) {
    if (racks_.Knows(host)) {
        return true;
    }
    Json(response, 404, {{"error", host + " is not a rack of this server"}});
    return false;
}

void WebServer::ServeSweepStop(const httplib::Request &request, httplib::Response &response) {
    std::string host = request.get_param_value("host");
    if (!KnownRack(host, response)) {
        return;
    }
    if (!racks_.Sweep(host).Stop()) {
        Json(response, 409, {{"error", "no sweep is running on this rack"}});
        return;
    }
    Json(response, 200, {{"ok", true}});
}

void WebServer::ServeRecords(const httplib::Request &request, httplib::Response &response) {
    if (!request.get_param_value("host").empty() || !options_.access.remote.host.empty()) {
        Text(response, 404, "the record of a remote rack is read on that rack");
        return;
    }
    Download download;
    if (!request.has_param("run")) {
        download = ListRuns(options_.access, kRunsListed);
    } else {
        std::string reason;
        std::unique_ptr<console::ObjectAccess> objects = racks_.OpenObjects("", reason);
        if (!objects) {
            Text(response, 503, reason);
            return;
        }
        download = RunReport(options_.access, *objects, request.get_param_value("run"),
                             request.get_param_value("format"));
    }
    response.status = download.status;
    if (!download.fileName.empty()) {
        response.set_header("Content-Disposition",
                            "attachment; filename=\"" + download.fileName + "\"");
    }
    response.set_content(download.body, download.type);
}

void WebServer::Route() {
    httplib::Server &server = *server_;
    server.set_pre_routing_handler(
        [this](const httplib::Request &request, httplib::Response &response) {
            return Refused(request, response) ? httplib::Server::HandlerResponse::Handled
                                              : httplib::Server::HandlerResponse::Unhandled;
        });
    server.set_exception_handler(
        [](const httplib::Request &, httplib::Response &response, std::exception_ptr) {
            Text(response, 500, "the server could not answer this request");
        });
    server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (response.body.empty()) {
            Text(response, response.status,
                 "the request cannot be served (HTTP " + std::to_string(response.status) + ")");
        }
    });
    server.Get("/api/session",
               [this](const httplib::Request &request, httplib::Response &response) {
                   ServeSession(request, response);
               });
    server.Post("/api/login", [this](const httplib::Request &request, httplib::Response &response) {
        ServeLogin(request, response);
    });
    server.Post("/api/logout",
                [this](const httplib::Request &request, httplib::Response &response) {
                    logins_.LogOut(CookieValue(request, kSessionCookie));
                    Json(response, 200, {{"ok", true}});
                });
    server.Get("/api/rack", [this](const httplib::Request &request, httplib::Response &response) {
        std::string host = request.get_param_value("host");
        if (KnownRack(host, response)) {
            response.set_content(*racks_.Feed(host).Current(), "application/json");
        }
    });
    server.Get("/api/events", [this](const httplib::Request &request, httplib::Response &response) {
        ServeEvents(request, response);
    });
    server.Get("/api/runs", [this](const httplib::Request &request, httplib::Response &response) {
        ServeRecords(request, response);
    });
    server.Get("/api/fleet", [this](const httplib::Request &, httplib::Response &response) {
        response.set_content(racks_.FleetJson(), "application/json");
    });
    server.Get("/api/sweep", [this](const httplib::Request &request, httplib::Response &response) {
        std::string host = request.get_param_value("host");
        if (KnownRack(host, response)) {
            Json(response, 200, racks_.Sweep(host).Progress());
        }
    });
    server.Post("/api/sweep/stop",
                [this](const httplib::Request &request, httplib::Response &response) {
                    ServeSweepStop(request, response);
                });
    for (std::string action : {"start", "stop", "extend", "sweep"}) {
        server.Post("/api/" + action,
                    [this, action](const httplib::Request &request, httplib::Response &response) {
                        ServeAction(request, response, action);
                    });
    }
    server.Get(".*", [](const httplib::Request &request, httplib::Response &response) {
        const Page *page = FindPage(request.path);
        if (page == nullptr) {
            Text(response, 404, "no such page");
            return;
        }
        response.set_header("Cache-Control", "no-cache");
        response.set_header("X-Content-Type-Options", "nosniff");
        response.set_header("Content-Security-Policy",
                            "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                            "frame-ancestors 'none'");
        response.set_content(std::string(page->body), std::string(page->type));
    });
}

}  // namespace vyn::web
