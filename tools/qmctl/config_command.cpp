// "qmctl config get|set": the driver's settings, as the properties of its
// automation interface (ISMSDriver), named case-insensitively.
#include <array>
#include <cstdio>

#include "platform/utf.h"
#include "tools/qmctl/commands.h"
#include "tools/qmctl/driver_client.h"
#include "tools/qmctl/json_text.h"

namespace qm {
namespace {

constexpr char kUsage[] =
    "Usage: qmctl config get [KEY]\n"
    "       qmctl config set KEY VALUE\n"
    "Reads or changes a setting of the running driver. KEY is one of (any case):\n"
    "  PortName BaudRate DataBits Parity StopBits SendMode ReadMode DeleteMode\n"
    "  Timeout ModemChecks PollingMemory PollingTime DeleteAfter Advanced\n"
    "and, for reading only, ModemName SignalStrength ModemFeatures ModemFailures\n"
    "StatusStr StatusCode ErrorNum OutboxSize PID. \"config get\" without KEY\n"
    "lists the settings. Advanced takes true/false (also 1/0, yes/no, on/off).\n";

enum class Kind { kText, kNumber, kByte, kBool };

struct Setting {
  const char* name;
  Kind kind;
  bool writable;
};

// The properties of ISMSDriver that hold a value, in the interface's order.
constexpr std::array<Setting, 23> kSettings = {{
    {"PortName", Kind::kText, true},
    {"BaudRate", Kind::kNumber, true},
    {"DataBits", Kind::kByte, true},
    {"Parity", Kind::kText, true},
    {"StopBits", Kind::kByte, true},
    {"SendMode", Kind::kText, true},
    {"ReadMode", Kind::kText, true},
    {"DeleteMode", Kind::kText, true},
    {"Timeout", Kind::kNumber, true},
    {"ModemName", Kind::kText, false},
    {"SignalStrength", Kind::kNumber, false},
    {"ModemChecks", Kind::kNumber, true},
    {"ModemFeatures", Kind::kNumber, false},
    {"ModemFailures", Kind::kNumber, false},
    {"StatusStr", Kind::kText, false},
    {"StatusCode", Kind::kNumber, false},
    {"PollingMemory", Kind::kText, true},
    {"PollingTime", Kind::kNumber, true},
    {"DeleteAfter", Kind::kNumber, true},
    {"Advanced", Kind::kBool, true},
    {"ErrorNum", Kind::kNumber, false},
    {"OutboxSize", Kind::kNumber, false},
    {"PID", Kind::kNumber, false},
}};

const Setting* FindSetting(std::string_view key) {
  for (const Setting& setting : kSettings) {
    if (EqualsIgnoreCase(setting.name, key)) return &setting;
  }
  return nullptr;
}

Json Read(RemoteObject& driver, const Setting& setting) {
  switch (setting.kind) {
    case Kind::kText:
      return driver.Get<std::string>(setting.name);
    case Kind::kNumber:
      return driver.Get<uint32_t>(setting.name);
    case Kind::kByte:
      return driver.Get<uint8_t>(setting.name);
    case Kind::kBool:
      return driver.Get<bool>(setting.name);
  }
  return nullptr;
}

std::string AsText(const Json& value) { return value.is_string() ? value.get<std::string>() : value.dump(); }

std::optional<bool> ParseBool(std::string_view text) {
  for (const char* yes : {"true", "1", "yes", "on"}) {
    if (EqualsIgnoreCase(text, yes)) return true;
  }
  for (const char* no : {"false", "0", "no", "off"}) {
    if (EqualsIgnoreCase(text, no)) return false;
  }
  return std::nullopt;
}

// `text` as a value of the setting's type, or nothing when it is not one.
std::optional<sdbus::Variant> ParseValue(const Setting& setting, const std::string& text) {
  switch (setting.kind) {
    case Kind::kText:
      if (IsValidUtf8(text)) return sdbus::Variant(text);
      break;
    case Kind::kNumber:
      if (const auto number = ParseUnsigned(text)) return sdbus::Variant(*number);
      break;
    case Kind::kByte:
      if (const auto number = ParseUnsigned(text, 255)) return sdbus::Variant(static_cast<uint8_t>(*number));
      break;
    case Kind::kBool:
      if (const auto flag = ParseBool(text)) return sdbus::Variant(*flag);
      break;
  }
  return std::nullopt;
}

const char* TypeWord(Kind kind) {
  switch (kind) {
    case Kind::kText:
      return "text";
    case Kind::kNumber:
      return "a number";
    case Kind::kByte:
      return "a number 0-255";
    case Kind::kBool:
      return "true or false";
  }
  return "";
}

// "config get" alone: every writable setting; one that cannot be read is
// reported and the rest still shown.
int ListSettings(RemoteObject& driver, bool json) {
  Json all = Json::object();
  int status = 0;
  for (const Setting& setting : kSettings) {
    if (!setting.writable) continue;
    try {
      all[setting.name] = Read(driver, setting);
    } catch (const CommandFailure& failure) {
      if (failure.code() != ExitCode::kRefused) throw;
      std::fprintf(stderr, "qmctl: %s: %s\n", setting.name, failure.what());
      all[setting.name] = nullptr;
      status = ToInt(ExitCode::kRefused);
    }
  }
  if (json) {
    PrintLine(JsonLine(all));
  } else {
    for (const auto& [name, value] : all.items()) PrintLine(name + " = " + (value.is_null() ? "" : AsText(value)));
  }
  return status;
}

}  // namespace

int RunConfig(const CommandArgs& args) {
  int status = 0;
  const auto parsed = ParseCommand(args, {}, kUsage, status);
  if (!parsed) return status;
  const std::vector<std::string>& words = parsed->positional();
  if (words.empty()) return UsageError("config needs get or set", kUsage);
  const bool set = words[0] == "set";
  if (!set && words[0] != "get") return UsageError("unknown config action '" + words[0] + "'", kUsage);
  if (set ? words.size() != 3 : words.size() > 2) {
    return UsageError(set ? "config set needs KEY and VALUE" : "config get takes at most one KEY", kUsage);
  }
  const Setting* setting = nullptr;
  if (words.size() > 1) {
    setting = FindSetting(words[1]);
    if (!setting) return UsageError("unknown setting '" + words[1] + "'", kUsage);
    if (set && !setting->writable) return UsageError(std::string(setting->name) + " cannot be changed", kUsage);
  }
  std::optional<sdbus::Variant> newValue;
  if (set) {
    newValue = ParseValue(*setting, words[2]);
    if (!newValue) return UsageError(std::string(setting->name) + " needs " + TypeWord(setting->kind), kUsage);
  }
  DriverClient client(parsed->global());
  RemoteObject driver = client.Create("SMSDriver");
  if (!setting) return ListSettings(driver, parsed->global().json);
  if (newValue) driver.Set(setting->name, *newValue);
  // After a set, the value as the driver now reports it ("PDU" reads "pdu").
  const Json value = Read(driver, *setting);
  if (parsed->global().json) {
    PrintLine(JsonLine(Json{{setting->name, value}}));
  } else {
    PrintLine(AsText(value));
  }
  return 0;
}

}  // namespace qm
