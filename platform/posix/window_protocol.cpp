#include "platform/posix/window_protocol.h"

#include <charconv>
#include <vector>

#include "base/text.h"

namespace vyn::platform {

namespace {

constexpr std::string_view kMagic = "VYNWIN";
constexpr std::string_view kVersion = "1";

bool IsPlainByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// Splits at single blanks; an empty token (two blanks, a leading or trailing blank) fails.
std::optional<std::vector<std::string_view>> SplitTokens(std::string_view line) {
    std::vector<std::string_view> tokens;
    while (true) {
        std::size_t blank = line.find(' ');
        std::string_view token = line.substr(0, blank);
        if (token.empty() || tokens.size() == 8) {
            return std::nullopt;
        }
        tokens.push_back(token);
        if (blank == std::string_view::npos) {
            return tokens;
        }
        line.remove_prefix(blank + 1);
    }
}

template <class T>
std::optional<T> ParseNumber(std::string_view text) {
    T value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool ParseParameters(std::string_view wText, std::string_view lText, WindowRequest &request) {
    auto wParam = ParseNumber<WPARAM>(wText);
    auto lParam = ParseNumber<LPARAM>(lText);
    if (!wParam || !lParam) {
        return false;
    }
    request.wParam = *wParam;
    request.lParam = *lParam;
    return true;
}

std::string Parameters(WPARAM wParam, LPARAM lParam) {
    return std::to_string(wParam) + " " + std::to_string(lParam);
}

}  // namespace

std::string EncodeWindowName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(name.size());
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (IsPlainByte(byte)) {
            encoded.push_back(c);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[byte >> 4]);
            encoded.push_back(kHex[byte & 0xF]);
        }
    }
    return encoded;
}

std::optional<std::string> DecodeWindowName(std::string_view encoded) {
    std::string name;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        auto byte = static_cast<unsigned char>(encoded[i]);
        if (IsPlainByte(byte)) {
            name.push_back(encoded[i]);
            continue;
        }
        if (byte != '%' || i + 2 >= encoded.size() || HexDigit(encoded[i + 1]) < 0 ||
            HexDigit(encoded[i + 2]) < 0) {
            return std::nullopt;
        }
        name.push_back(static_cast<char>(HexDigit(encoded[i + 1]) * 16 + HexDigit(encoded[i + 2])));
        i += 2;
    }
    if (name.empty() || name.size() > kMaxWindowName) {
        return std::nullopt;
    }
    return name;
}

std::string WindowSocketFileName(std::string_view className) {
    return EncodeWindowName(className) + ".window";
}

std::string FormatFindRequest(const char *title) {
    std::string line = "VYNWIN 1 FIND ";
    line += title == nullptr ? std::string("*") : "=" + EncodeWindowName(title);
    return line + "\n";
}

std::string FormatCloseRequest(WPARAM wParam, LPARAM lParam) {
    return "VYNWIN 1 CLOSE " + Parameters(wParam, lParam) + "\n";
}

std::string FormatPostRequest(std::string_view messageName, WPARAM wParam, LPARAM lParam) {
    return "VYNWIN 1 POST " + EncodeWindowName(messageName) + " " + Parameters(wParam, lParam) +
           "\n";
}

std::optional<WindowRequest> ParseWindowRequest(std::string_view line) {
    auto tokens = SplitTokens(line);
    if (!tokens || tokens->size() < 4 || (*tokens)[0] != kMagic || (*tokens)[1] != kVersion) {
        return std::nullopt;
    }
    const auto &t = *tokens;
    WindowRequest request;
    if (t[2] == "FIND" && t.size() == 4) {
        request.kind = WindowRequest::Kind::Find;
        if (t[3] == "*") {
            return request;
        }
        if (t[3][0] != '=') {
            return std::nullopt;
        }
        request.anyTitle = false;
        if (t[3].size() > 1) {  // "=" alone asks for an empty title
            auto title = DecodeWindowName(t[3].substr(1));
            if (!title) {
                return std::nullopt;
            }
            request.name = std::move(*title);
        }
        return request;
    }
    if (t[2] == "CLOSE" && t.size() == 5) {
        request.kind = WindowRequest::Kind::Close;
        return ParseParameters(t[3], t[4], request) ? std::optional(request) : std::nullopt;
    }
    if (t[2] == "POST" && t.size() == 6) {
        request.kind = WindowRequest::Kind::Post;
        auto name = DecodeWindowName(t[3]);
        if (!name || !ParseParameters(t[4], t[5], request)) {
            return std::nullopt;
        }
        request.name = std::move(*name);
        return request;
    }
    return std::nullopt;
}

std::string FormatWindowAnswer(DWORD code) {
    return code == ERROR_SUCCESS ? std::string("OK\n") : "ERR " + std::to_string(code) + "\n";
}

std::optional<DWORD> ParseWindowAnswer(std::string_view line) {
    if (line == "OK") {
        return ERROR_SUCCESS;
    }
    constexpr std::string_view kError = "ERR ";
    if (line.substr(0, kError.size()) != kError) {
        return std::nullopt;
    }
    auto code = ParseNumber<DWORD>(line.substr(kError.size()));
    if (!code || *code == ERROR_SUCCESS) {
        return std::nullopt;
    }
    return code;
}

}  // namespace vyn::platform
