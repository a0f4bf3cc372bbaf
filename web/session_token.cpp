#include "web/session_token.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>

#include "base/config_store.h"
#include "platform/utf.h"

namespace qm {

std::string NewSessionToken() {
  std::array<unsigned char, 32> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string token;
  for (const unsigned char byte : bytes) {
    token += kDigits[byte >> 4];
    token += kDigits[byte & 15];
  }
  return token;
}

std::string SessionToken(ConfigStore& config, bool& created) {
  std::string token = config.GetString("http.token");
  created = token.size() < 32;  // a hand-made short value would be guessable
  if (created) {
    token = NewSessionToken();
    config.SetString("http.token", token);
  }
  return token;
}

bool SameToken(std::string_view expected, std::string_view given) {
  // An empty expected token (no random bytes) opens nothing.
  if (expected.empty() || expected.size() != given.size()) return false;
  return CRYPTO_memcmp(expected.data(), given.data(), expected.size()) == 0;
}

std::string_view BearerToken(std::string_view authorization) {
  authorization = TrimBlanks(authorization);
  if (!StartsWithIgnoreCase(authorization, "Bearer ")) return {};
  return TrimBlanks(authorization.substr(7));
}

std::string_view CookieValue(std::string_view cookies, std::string_view name) {
  while (!cookies.empty()) {
    const std::size_t semicolon = cookies.find(';');
    const std::string_view pair = TrimBlanks(cookies.substr(0, semicolon));
    cookies = semicolon == std::string_view::npos ? std::string_view() : cookies.substr(semicolon + 1);
    const std::size_t equals = pair.find('=');
    if (equals != std::string_view::npos && TrimBlanks(pair.substr(0, equals)) == name) {
      return TrimBlanks(pair.substr(equals + 1));
    }
  }
  return {};
}

}  // namespace qm
