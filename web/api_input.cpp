#include "web/api_input.h"

#include <charconv>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/utf.h"

namespace qm {
namespace {

using nlohmann::json;

// One field of a body: its name and how to take it.
struct Field {
  std::string_view name;
  bool required = false;
  std::function<std::string(const json&)> take;  // an error text, or ""
};

std::string TakeString(const json& value, std::string_view name, std::string& out, std::size_t maxBytes) {
  if (!value.is_string()) return "'" + std::string(name) + "' must be a string";
  out = value.get<std::string>();
  if (out.size() > maxBytes) return "'" + std::string(name) + "' is too long";
  return {};
}

std::string TakeBool(const json& value, std::string_view name, bool& out) {
  if (!value.is_boolean()) return "'" + std::string(name) + "' must be true or false";
  out = value.get<bool>();
  return {};
}

// Whole numbers only: 3.0, 1e2, -1 and 2^70 are refused, not rounded or wrapped.
std::string TakeInt(const json& value, std::string_view name, int& out, int low, int high) {
  const std::string range =
      "'" + std::string(name) + "' must be a whole number from " + std::to_string(low) + " to " + std::to_string(high);
  if (!value.is_number_integer()) return range;
  if (value.is_number_unsigned()) {
    const auto number = value.get<uint64_t>();
    if (number > static_cast<uint64_t>(high)) return range;
    out = static_cast<int>(number);
  } else {
    const auto number = value.get<int64_t>();
    if (number < low || number > high) return range;
    out = static_cast<int>(number);
  }
  if (out < low) return range;
  return {};
}

// Parses the body as an object and hands each known field to its taker.
std::string ReadObject(std::string_view body, const std::vector<Field>& fields) {
  const json document = json::parse(body, nullptr, false);
  if (document.is_discarded()) return "the body is not valid JSON (UTF-8)";
  if (!document.is_object()) return "the body must be a JSON object";
  for (const auto& [key, value] : document.items()) {
    bool known = false;
    for (const Field& field : fields) {
      if (field.name != key) continue;
      known = true;
      if (std::string error = field.take(value); !error.empty()) return error;
    }
    if (!known) return "unknown field '" + TruncateCodePoints(SanitizeUtf8(key), 64) + "'";
  }
  for (const Field& field : fields) {
    if (field.required && !document.contains(field.name)) return "'" + std::string(field.name) + "' is missing";
  }
  return {};
}

std::string CheckText(const std::string& text) {
  if (CountCodePoints(text) > kMaxTextCodePoints) {
    return "'text' is longer than " + std::to_string(kMaxTextCodePoints) + " characters";
  }
  return {};
}

// "+", then digits; '*' and '#' for service numbers.
std::string CheckNumber(const std::string& to) {
  const std::string_view digits = std::string_view(to).substr(to.starts_with('+') ? 1 : 0);
  if (digits.empty()) return "'to' must be a phone number";
  if (digits.size() > kMaxNumberDigits) return "'to' has more than 20 digits";
  for (const char c : digits) {
    if ((c < '0' || c > '9') && c != '*' && c != '#') return "'to' must be a phone number (digits, an optional +)";
  }
  return {};
}

bool ReadDecimal(std::string_view text, int64_t& out) {
  if (text.empty() || text.size() > 18) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= 0;
}

}  // namespace

Parsed<SendInput> ParseSendInput(std::string_view body) {
  Parsed<SendInput> parsed;
  SendInput& in = parsed.value;
  parsed.error = ReadObject(
      body, {{"to", true, [&](const json& v) { return TakeString(v, "to", in.to, kMaxNumberDigits + 1); }},
             {"text", true, [&](const json& v) { return TakeString(v, "text", in.text, kMaxTextCodePoints * 4); }},
             {"flash", false, [&](const json& v) { return TakeBool(v, "flash", in.flash); }},
             {"report", false, [&](const json& v) { return TakeBool(v, "report", in.report); }},
             {"wap_push_url", false,
              [&](const json& v) { return TakeString(v, "wap_push_url", in.wapPushUrl, kMaxUrlBytes); }}});
  if (parsed.ok()) parsed.error = CheckNumber(in.to);
  if (parsed.ok()) parsed.error = CheckText(in.text);
  return parsed;
}

Parsed<UssdInput> ParseUssdInput(std::string_view body) {
  Parsed<UssdInput> parsed;
  UssdInput& in = parsed.value;
  parsed.error = ReadObject(body, {{"code", true, [&](const json& v) { return TakeString(v, "code", in.code, 160); }},
                                   {"timeout", false, [&](const json& v) {
                                      return TakeInt(v, "timeout", in.timeoutSeconds, 1, kMaxUssdTimeout);
                                    }}});
  if (parsed.ok() && TrimBlanks(in.code).empty()) parsed.error = "'code' must not be empty";
  return parsed;
}

Parsed<CountInput> ParseCountInput(std::string_view body) {
  Parsed<CountInput> parsed;
  CountInput& in = parsed.value;
  parsed.error = ReadObject(
      body, {{"text", true, [&](const json& v) { return TakeString(v, "text", in.text, kMaxTextCodePoints * 4); }},
             {"wap_push_url", false,
              [&](const json& v) { return TakeString(v, "wap_push_url", in.wapPushUrl, kMaxUrlBytes); }}});
  if (parsed.ok()) parsed.error = CheckText(in.text);
  return parsed;
}

Parsed<std::string> ParseLoginInput(std::string_view body) {
  Parsed<std::string> parsed;
  parsed.error =
      ReadObject(body, {{"token", true, [&](const json& v) { return TakeString(v, "token", parsed.value, 256); }}});
  return parsed;
}

Parsed<ListQuery> ParseListQuery(const std::multimap<std::string, std::string>& params) {
  Parsed<ListQuery> parsed;
  ListQuery& query = parsed.value;
  for (const auto& [name, text] : params) {
    int64_t number = 0;
    if (name == "q") {
      if (text.size() > 256) parsed.error = "'q' is too long";
      query.q = text;
    } else if (name == "page") {
      if (!ReadDecimal(text, number) || number < 1 || number > 1000000) {
        parsed.error = "'page' must be a whole number from 1 to 1000000";
      }
      query.page = static_cast<int>(number);
    } else if (name == "per_page") {
      if (!ReadDecimal(text, number) || number < 1 || number > 500) {
        parsed.error = "'per_page' must be a whole number from 1 to 500";
      }
      query.perPage = static_cast<int>(number);
    } else if (name == "since_id") {
      if (!ReadDecimal(text, number) || number > std::numeric_limits<int32_t>::max()) {
        parsed.error = "'since_id' must be a whole number from 0 to 2147483647";
      }
      query.sinceId = number;
    } else {
      parsed.error = "unknown parameter '" + TruncateCodePoints(SanitizeUtf8(name), 64) + "'";
    }
    if (!parsed.ok()) break;
  }
  return parsed;
}

Parsed<int32_t> ParseMessageId(std::string_view text) {
  Parsed<int32_t> parsed;
  int64_t number = 0;
  if (!ReadDecimal(text, number) || number < 1 || number > std::numeric_limits<int32_t>::max()) {
    parsed.error = "the message id must be a whole number from 1 to 2147483647";
  }
  parsed.value = static_cast<int32_t>(number);
  return parsed;
}

}  // namespace qm
