// The line protocol through which other processes reach a window, and the names of the sockets
// that carry it.
//
// A top-level window listens on a Unix stream socket in the run directory whose file name is
// derived from its class name. A client connects, sends one request line and reads one answer
// line; the window's process then closes the connection. Version 1 knows three requests:
//
//   VYNWIN 1 FIND *                     is a window listening here (any title)?
//   VYNWIN 1 FIND =<title>              ... and is <title> its title?
//   VYNWIN 1 CLOSE <wParam> <lParam>    post WM_CLOSE to the window
//   VYNWIN 1 POST <name> <wParam> <lParam>
//                                       post the message registered under <name> in the window's
//                                       process (RegisterWindowMessageA); a name that process
//                                       never registered is refused
//
// Every answer is "OK\n" or "ERR <code>\n" with a Win32 error code, which the client reports
// through GetLastError. Names and titles are percent-encoded: every byte outside
// [A-Za-z0-9._-] becomes %XX, so a token never holds a blank, a line end or a slash. wParam is an
// unsigned and lParam a signed decimal number. A request line is at most kMaxRequestLine bytes
// including its line end; anything else gets "ERR 87" and the connection is dropped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace vyn::platform {

inline constexpr std::size_t kMaxRequestLine = 1024;
inline constexpr std::size_t kMaxAnswerLine = 32;
// Longest class name, window title or message name that can be carried (as Win32 atoms).
inline constexpr std::size_t kMaxWindowName = 255;

// Percent-encodes every byte outside [A-Za-z0-9._-].
std::string EncodeWindowName(std::string_view name);
// The inverse; nullopt for a malformed escape or an empty result.
std::optional<std::string> DecodeWindowName(std::string_view encoded);

// The socket file name (not the path) of a class: "<encoded class>.window". Because the encoding
// leaves no slash and the suffix is fixed, the name can never leave its directory.
std::string WindowSocketFileName(std::string_view className);

struct WindowRequest {
    enum class Kind { Find, Close, Post };
    Kind kind = Kind::Find;
    bool anyTitle = true;  // Find without a title
    std::string name;      // Find: the title; Post: the message name
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Request lines, with their line end.
std::string FormatFindRequest(const char *title);
std::string FormatCloseRequest(WPARAM wParam, LPARAM lParam);
std::string FormatPostRequest(std::string_view messageName, WPARAM wParam, LPARAM lParam);

// Parses one request line given without its line end; nullopt for anything malformed.
std::optional<WindowRequest> ParseWindowRequest(std::string_view line);

// "OK\n" for ERROR_SUCCESS, else "ERR <code>\n".
std::string FormatWindowAnswer(DWORD code);
// The code of an answer line given without its line end; nullopt when malformed.
std::optional<DWORD> ParseWindowAnswer(std::string_view line);

}  // namespace vyn::platform
