#include "integration/handler_template.h"

#include <array>

namespace qm {
namespace {

enum class Placeholder { kFrom, kTo, kInternalId, kId, kCustom, kTimestamp, kDate, kStatus, kBody, kError };

struct PlaceholderName {
  std::string_view text;
  Placeholder placeholder;
  std::string_view variable;  // the environment variable of a command's value
};

// Tried in this order at each position: "_INTERNALID_" before "_ID_".
constexpr std::array<PlaceholderName, 10> kPlaceholders = {{
    {"_FROM_", Placeholder::kFrom, "QM_FROM"},
    {"_TO_", Placeholder::kTo, "QM_TO"},
    {"_INTERNALID_", Placeholder::kInternalId, "QM_INTERNALID"},
    {"_ID_", Placeholder::kId, "QM_ID"},
    {"_CUSTOM_", Placeholder::kCustom, "QM_CUSTOM"},
    {"_TIMESTAMP_", Placeholder::kTimestamp, "QM_TIMESTAMP"},
    {"_DATE_", Placeholder::kDate, "QM_DATE"},
    {"_STATUS_", Placeholder::kStatus, "QM_STATUS"},
    {"_BODY_", Placeholder::kBody, "QM_BODY"},
    {"_ERROR_", Placeholder::kError, "QM_ERROR"},
}};

// The placeholder that starts at `at`, if any; a status placeholder counts
// only when there is a status.
const PlaceholderName* PlaceholderAt(std::string_view text, std::size_t at, const HandlerValues& values) {
  if (text[at] != '_') return nullptr;
  for (const PlaceholderName& name : kPlaceholders) {
    if (text.substr(at, name.text.size()) != name.text) continue;
    if (name.placeholder == Placeholder::kStatus && values.status.empty()) return nullptr;
    return &name;
  }
  return nullptr;
}

const std::string& RawValue(Placeholder placeholder, const HandlerValues& values) {
  switch (placeholder) {
    case Placeholder::kFrom: return values.from;
    case Placeholder::kTo: return values.to;
    case Placeholder::kInternalId: return values.internalId;
    case Placeholder::kId: return values.id;
    case Placeholder::kCustom: return values.custom;
    case Placeholder::kTimestamp: return values.timestamp;
    case Placeholder::kDate: return values.date;
    case Placeholder::kStatus: return values.status;
    case Placeholder::kBody:
    case Placeholder::kError: return values.body;
  }
  return values.body;
}

bool IsUrlSafe(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("$-.!*'(),").find(static_cast<char>(c)) != std::string_view::npos;
}

void AppendPercent(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 0x0F];
}

std::string LineBreaksAsText(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "%0d";
    } else if (c == '\n') {
      out += "%0a";
    } else {
      out += c;
    }
  }
  return out;
}

// Where a position of a shell command stands.
enum class Quoting { kNone, kSingle, kDouble };

}  // namespace

std::string_view StatusWord(HandlerStatus status) {
  switch (status) {
    case HandlerStatus::kNone: return "";
    case HandlerStatus::kSent: return "sent";
    case HandlerStatus::kFailed: return "failed";
    case HandlerStatus::kDelivered: return "delivered";
    case HandlerStatus::kUndelivered: return "undelivered";
  }
  return "";
}

HandlerValues ValuesOf(const SMSMessage& message, HandlerStatus status, std::time_t now) {
  HandlerValues values;
  values.from = message.from;
  values.to = message.to;
  values.internalId = std::to_string(static_cast<uint32_t>(message.id));
  values.id = std::to_string(static_cast<uint32_t>(message.reference));
  values.custom = message.custom;
  values.timestamp = std::to_string(message.timestamp);
  std::tm local{};
  localtime_r(&now, &local);
  char date[32] = {};
  std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  values.date = date;
  values.status = std::string(StatusWord(status));
  values.body = message.body;
  return values;
}

std::string CommandBodyText(std::string_view body) {
  std::string out;
  for (char c : LineBreaksAsText(body)) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out;
}

ShellTemplate FillShellTemplate(std::string_view command, const HandlerValues& values) {
  ShellTemplate filled;
  for (const PlaceholderName& name : kPlaceholders) {
    const bool body = name.placeholder == Placeholder::kBody || name.placeholder == Placeholder::kError;
    std::string value = body ? CommandBodyText(values.body) : RawValue(name.placeholder, values);
    // An environment value ends at a NUL byte; cut it there knowingly.
    value = value.substr(0, value.find('\0'));
    filled.environment.emplace_back(std::string(name.variable), std::move(value));
  }
  Quoting quoting = Quoting::kNone;
  for (std::size_t i = 0; i < command.size();) {
    const char c = command[i];
    if (const PlaceholderName* name = PlaceholderAt(command, i, values)) {
      const std::string reference = "${" + std::string(name->variable) + "}";
      switch (quoting) {
        case Quoting::kNone: filled.script += "\"" + reference + "\""; break;
        case Quoting::kDouble: filled.script += reference; break;
        case Quoting::kSingle: filled.script += "'\"" + reference + "\"'"; break;
      }
      i += name->text.size();
      continue;
    }
    filled.script += c;
    ++i;
    if (quoting == Quoting::kSingle) {
      if (c == '\'') quoting = Quoting::kNone;
    } else if (c == '\\' && i < command.size()) {
      filled.script += command[i++];  // an escaped character quotes nothing
    } else if (c == '"') {
      quoting = quoting == Quoting::kDouble ? Quoting::kNone : Quoting::kDouble;
    } else if (c == '\'' && quoting == Quoting::kNone) {
      quoting = Quoting::kSingle;
    }
  }
  return filled;
}

std::string UrlEncode(std::string_view text) {
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUrlSafe(c)) {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else {
      AppendPercent(out, c);
    }
  }
  return out;
}

std::string EncodeUnsafeUrlBytes(std::string_view url) {
  std::string out;
  for (char ch : url) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      AppendPercent(out, c);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string FillUrlTemplate(std::string_view url, const HandlerValues& values) {
  std::string filled;
  for (std::size_t i = 0; i < url.size();) {
    const PlaceholderName* name = PlaceholderAt(url, i, values);
    if (!name) {
      filled += url[i++];
      continue;
    }
    switch (name->placeholder) {
      case Placeholder::kFrom:
      case Placeholder::kTo: filled += UrlEncode(RawValue(name->placeholder, values)); break;
      case Placeholder::kBody:
      case Placeholder::kError: filled += UrlEncode(LineBreaksAsText(values.body)); break;
      default: filled += RawValue(name->placeholder, values); break;
    }
    i += name->text.size();
  }
  return EncodeUnsafeUrlBytes(filled);
}

}  // namespace qm
