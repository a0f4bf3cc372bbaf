// The API's request bodies and query parameters, checked strictly: a body
// must be a JSON object with only the known fields, each of its type and in
// its range, so that a typing mistake is an error, not a silent default.
// The error texts name the field and are the API's "error" answers (400).
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qm {

template <class T>
struct Parsed {
  T value{};
  std::string error;  // "" when the input was good
  bool ok() const { return error.empty(); }
};

inline constexpr std::size_t kMaxTextCodePoints = 4000;
inline constexpr std::size_t kMaxNumberDigits = 20;  // what an SMS address holds
inline constexpr std::size_t kMaxUrlBytes = 1024;
inline constexpr int kMaxUssdTimeout = 300;

struct SendInput {
  std::string to;
  std::string text;
  bool flash = false;
  bool report = false;
  std::string wapPushUrl;
};

struct UssdInput {
  std::string code;
  int timeoutSeconds = 30;
};

struct CountInput {
  std::string text;
  std::string wapPushUrl;
};

struct ListQuery {
  int page = 1;
  int perPage = 50;
  std::string q;
  int64_t sinceId = 0;
};

Parsed<SendInput> ParseSendInput(std::string_view body);
Parsed<UssdInput> ParseUssdInput(std::string_view body);
Parsed<CountInput> ParseCountInput(std::string_view body);
// {"token": "..."} -> the token.
Parsed<std::string> ParseLoginInput(std::string_view body);
// page, per_page, q, since_id; any other parameter is an error.
Parsed<ListQuery> ParseListQuery(const std::multimap<std::string, std::string>& params);
// A message id in a path: decimal, 1 to 2^31-1.
Parsed<int32_t> ParseMessageId(std::string_view text);

}  // namespace qm
