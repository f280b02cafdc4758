// Who may change things: the users of a credentials file, their sessions, and the token that
// every changing request carries so that another site cannot make a browser send one.
//
// A credentials file holds one user a line, "NAME:pbkdf2-sha256:ITERATIONS:SALT:HASH" (SALT and
// HASH in hex); `vynloop-web --hash-password NAME` writes such a line. Blank lines and lines
// starting with '#' are skipped.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace vyn::web {

inline constexpr std::string_view kSessionCookie = "vynloop_session";
inline constexpr std::string_view kCsrfHeader = "X-CSRF-Token";

// A credentials line for `user` with `password`.
std::string HashPassword(const std::string &user, const std::string &password);

// `count` random bytes from the system's generator, in hex.
std::string RandomHex(std::size_t count);

class Logins {
  public:
    // Without a credentials file nobody logs in: every request acts as the one open session,
    // whose token the page reads from /api/session.
    Logins();
    // Reads the credentials file; false with the reason when it cannot be read or a line is bad.
    bool Load(const std::string &path, std::string &reason);

    bool Required() const { return required_; }

    struct Session {
        std::string user;
        std::string csrf;
    };
    // A new session when the user and password match; else nothing.
    std::optional<std::pair<std::string, Session>> LogIn(std::string_view user,
                                                         std::string_view password);
    void LogOut(std::string_view token);
    // The session of a cookie's token (the open session when no login is required).
    std::optional<Session> Find(std::string_view token);

  private:
    struct Credential {
        int iterations = 0;
        std::string salt;  // bytes
        std::string hash;  // bytes
    };
    struct Stored {
        Session session;
        std::chrono::steady_clock::time_point expires;
    };

    bool required_ = false;
    std::map<std::string, Credential, std::less<>> users_;  // set before serving, then read-only
    Session open_;                                          // set in the constructor
    std::mutex mutex_;
    std::map<std::string, Stored, std::less<>> sessions_;  // guarded by mutex_
};

}  // namespace vyn::web
