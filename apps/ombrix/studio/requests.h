// The checks and lookups the studio's server makes on each request, kept
// apart from the network code: the token, the Host and Origin headers,
// query and cookie parsing, and the static files of the front end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace ombrix::studio {

// 128 random bits from the kernel, as 32 lowercase hex digits.
std::string MakeToken();
// Compares in time that depends on the lengths only, not on where the texts differ.
bool SameToken(std::string_view a, std::string_view b);

// %XX escapes resolved ('+' too when `plus_is_space`); nothing for a
// malformed escape or a decoded NUL.
std::optional<std::string> PercentDecode(std::string_view text, bool plus_is_space);
// The request target split at '?'.
struct Target {
  std::string_view path, query;
};
Target SplitTarget(std::string_view target);
// The decoded value of `name` in a query string, the first one given.
std::optional<std::string> QueryValue(std::string_view query, std::string_view name);
// The value of cookie `name` in a Cookie header.
std::optional<std::string> CookieValue(std::string_view header, std::string_view name);

// Host must name the loopback address or localhost with the server's port:
// a page from another site whose name was rebound to 127.0.0.1 sends its own.
bool HostAllowed(std::string_view host, uint16_t port);
// A WebSocket's Origin, when there is one, must be this server's own page.
bool OriginAllowed(std::string_view origin, uint16_t port);

// The front end's folder: `web` when given, else the installed one beside
// the executable (<prefix>/share/ombrix/studio), else the build tree's.
// Throws std::runtime_error when none holds index.html.
std::filesystem::path FindWebRoot(const std::string& web);
// The file a request path names inside `root` (canonical), "/" meaning
// index.html. Nothing for a path that leaves the root (through "..", a
// link or an escape), names a hidden entry or a missing or non-regular file.
std::optional<std::filesystem::path> WebFile(const std::filesystem::path& root, std::string_view path);
// The Content-Type for a file, by its extension.
std::string_view ContentType(const std::filesystem::path& file);

}  // namespace ombrix::studio
