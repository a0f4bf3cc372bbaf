// The token that opens the web API: 32 random bytes as hex, made at the first
// start and kept as "http.token" in the configuration (saved to the private
// key store). It is compared in constant time and never logged, except in the
// one start-up line that gives the console's address.
#pragma once

#include <string>
#include <string_view>

namespace qm {

class ConfigStore;

inline constexpr std::string_view kSessionCookie = "qm_session";

// 64 lower-case hex digits from the system's random generator; "" when it
// failed (then nobody can log in rather than with a guessable token).
std::string NewSessionToken();

// The stored token, or a new one stored in `config` (`created` says which;
// the caller saves the configuration).
std::string SessionToken(ConfigStore& config, bool& created);

// Pure functions; any thread.
// Equal, in a time that does not depend on where they differ.
bool SameToken(std::string_view expected, std::string_view given);
// "Bearer <token>" -> the token; "" for anything else.
std::string_view BearerToken(std::string_view authorization);
// The value of cookie `name` in a Cookie header; "" when absent.
std::string_view CookieValue(std::string_view cookies, std::string_view name);

}  // namespace qm
