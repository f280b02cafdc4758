#include "web/login.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "base/text.h"

namespace vyn::web {

namespace {

using namespace std::chrono_literals;

constexpr int kIterations = 100000;
constexpr std::size_t kHashBytes = 32;
constexpr auto kSessionLife = 12h;
constexpr std::size_t kMaxSessions = 1000;

bool FromHex(std::string_view hex, std::string &bytes) {
    bytes.clear();
    if (hex.empty() || hex.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

std::string Derive(std::string_view password, std::string_view salt, int iterations) {
    std::string hash(kHashBytes, '\0');
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(hash.size()),
                          reinterpret_cast<unsigned char *>(hash.data())) != 1) {
        throw std::runtime_error("PBKDF2 failed");
    }
    return hash;
}

std::vector<std::string> Split(const std::string &line, char separator) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t at; (at = line.find(separator, start)) != std::string::npos; start = at + 1) {
        fields.push_back(line.substr(start, at - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

}  // namespace

std::string RandomHex(std::size_t count) {
    std::string bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), static_cast<int>(count)) != 1) {
        throw std::runtime_error("no random bytes");
    }
    return HexText(bytes);
}

std::string HashPassword(const std::string &user, const std::string &password) {
    std::string salt;
    FromHex(RandomHex(16), salt);
    return user + ":pbkdf2-sha256:" + std::to_string(kIterations) + ":" + HexText(salt) + ":" +
           HexText(Derive(password, salt, kIterations));
}

Logins::Logins() : open_{"", RandomHex(32)} {}

bool Logins::Load(const std::string &path, std::string &reason) {
    std::ifstream file(path);
    if (!file) {
        reason = "cannot read the credentials file " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> fields = Split(line, ':');
        Credential credential;
        bool good = fields.size() == 5 && !fields[0].empty() && fields[1] == "pbkdf2-sha256" &&
                    FromHex(fields[3], credential.salt) && FromHex(fields[4], credential.hash) &&
                    credential.hash.size() == kHashBytes;
        if (good) {
            try {
                credential.iterations = std::stoi(fields[2]);
            } catch (const std::exception &) {
                good = false;
            }
        }
        if (!good || credential.iterations < 1) {
            reason = path + ":" + std::to_string(number) +
                     ": not a credentials line (see vynloop-web --hash-password)";
            return false;
        }
        users_[fields[0]] = std::move(credential);
    }
    if (users_.empty()) {
        reason = "the credentials file " + path + " names no user";
        return false;
    }
    required_ = true;
    return true;
}

std::optional<std::pair<std::string, Logins::Session>> Logins::LogIn(std::string_view user,
                                                                     std::string_view password) {
    auto found = users_.find(user);
    // An unknown user costs the same derivation as a known one.
    static const std::string noSalt(16, '\0');
    const std::string &salt = found != users_.end() ? found->second.salt : noSalt;
    int iterations = found != users_.end() ? found->second.iterations : kIterations;
    std::string hash = Derive(password, salt, iterations);
    if (found == users_.end() ||
        CRYPTO_memcmp(hash.data(), found->second.hash.data(), kHashBytes) != 0) {
        return std::nullopt;
    }
    std::string token = RandomHex(32);
    Session session{std::string(user), RandomHex(32)};
    std::lock_guard lock(mutex_);
    auto now = std::chrono::steady_clock::now();
    std::erase_if(sessions_, [now](const auto &entry) { return entry.second.expires < now; });
    if (sessions_.size() >= kMaxSessions) {
        sessions_.erase(sessions_.begin());
    }
    sessions_[token] = {session, now + kSessionLife};
    return std::pair{token, session};
}

void Logins::LogOut(std::string_view token) {
    std::lock_guard lock(mutex_);
    if (auto found = sessions_.find(token); found != sessions_.end()) {
        sessions_.erase(found);
    }
}

std::optional<Logins::Session> Logins::Find(std::string_view token) {
    if (!required_) {
        return open_;
    }
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(token);
    if (found == sessions_.end() || found->second.expires < std::chrono::steady_clock::now()) {
        return std::nullopt;
    }
    return found->second.session;
}

}  // namespace vyn::web
