// "qmctl config": the driver's settings, by their configuration names
// (modem.port) with the driver running or stopped, or as the properties of
// its automation interface (PortName), named case-insensitively, while it
// runs; and the choice of the modem's port.
#include <array>
#include <cstdio>
#include <iostream>

#include "app/port_wizard.h"
#include "base/config_store.h"
#include "platform/environment.h"
#include "platform/utf.h"
#include "tools/qmctl/commands.h"
#include "tools/qmctl/driver_client.h"
#include "tools/qmctl/json_text.h"
#include "tools/qmctl/setting_access.h"

namespace qm {
namespace {

constexpr char kUsage[] =
    "Usage: qmctl config list\n"
    "       qmctl config get [KEY]\n"
    "       qmctl config set KEY VALUE\n"
    "       qmctl config port [PORT]\n"
    "Reads or changes the settings of a driver instance (--instance N, --system).\n"
    "KEY is a configuration name (modem.port, sender.timeout, handler.0.cmd, ...;\n"
    "see qmdriver.cfg(5)). With the driver running, it applies and saves the change;\n"
    "settings read at connection take effect at the next one. With the driver\n"
    "stopped, the change goes straight to the instance's key store, where the\n"
    "driver's settings live after its first start.\n"
    "While the driver runs, KEY may also be one of its properties (any case):\n"
    "  PortName BaudRate DataBits Parity StopBits SendMode ReadMode DeleteMode\n"
    "  Timeout ModemChecks PollingMemory PollingTime DeleteAfter Advanced\n"
    "and, for reading only, ModemName SignalStrength ModemFeatures ModemFailures\n"
    "StatusStr StatusCode ErrorNum OutboxSize PID; \"config get\" without KEY lists\n"
    "them. Advanced takes true/false (also 1/0, yes/no, on/off).\n"
    "\"config port\" lists the modems that answer on the serial ports and, in a\n"
    "terminal, stores the one chosen; \"config port PORT\" stores PORT (ttyUSB0,\n"
    "/dev/serial/by-id/...) and turns the emulator off.\n";

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

int PrintSettings(const std::map<std::string, std::string>& values, bool json) {
  if (json) {
    Json all = Json::object();
    for (const auto& [key, value] : values) all[key] = value;
    PrintLine(JsonLine(all));
  } else {
    for (const auto& [key, value] : values) PrintLine(key + "=" + value);
  }
  return 0;
}

// A property of the running driver, as before configuration names came.
int RunProperty(const Arguments& parsed, const Setting* setting, const std::string* text) {
  std::optional<sdbus::Variant> newValue;
  if (text) {
    if (!setting->writable) return UsageError(std::string(setting->name) + " cannot be changed", kUsage);
    newValue = ParseValue(*setting, *text);
    if (!newValue) return UsageError(std::string(setting->name) + " needs " + TypeWord(setting->kind), kUsage);
  }
  DriverClient client(parsed.global());
  RemoteObject driver = client.Create("SMSDriver");
  if (newValue) driver.Set(setting->name, *newValue);
  // After a set, the value as the driver now reports it ("PDU" reads "pdu").
  const Json value = Read(driver, *setting);
  if (parsed.global().json) {
    PrintLine(JsonLine(Json{{setting->name, value}}));
  } else {
    PrintLine(AsText(value));
  }
  return 0;
}

int RunKey(const Arguments& parsed, const std::string& key, const std::string* value) {
  const std::unique_ptr<SettingAccess> settings =
      OpenSettings(parsed.global(), value ? SettingUse::kChange : SettingUse::kRead);
  if (value) settings->Set(key, *value);
  const std::optional<std::string> now = settings->Get(key);
  if (!now) throw CommandFailure(ExitCode::kUsage, "there is no setting " + key);
  if (parsed.global().json) {
    PrintLine(JsonLine(Json{{key, *now}}));
  } else {
    PrintLine(*now);
  }
  return 0;
}

int RunPort(const Arguments& parsed, const std::vector<std::string>& words) {
  if (words.size() > 2) return UsageError("config port takes at most one PORT", kUsage);
  const bool choosing = words.size() == 2 || StdinIsTerminal();
  const std::unique_ptr<SettingAccess> settings =
      OpenSettings(parsed.global(), choosing ? SettingUse::kChange : SettingUse::kRead);
  // The probes use the instance's line settings and port rules.
  ConfigStore config;
  for (const auto& [key, value] : settings->List()) config.SetString(key, value);
  std::string port;
  if (words.size() == 2) {
    port = words[1];
    for (unsigned char c : port) {
      if (c <= ' ' || c == 0x7F) return UsageError("a port name has no blanks or control characters", kUsage);
    }
  } else if (!StdinIsTerminal()) {
    // Nobody to ask: the list alone, one port per line.
    for (const PortWizardEntry& modem : DetectAttachedModems(config)) {
      PrintLine(modem.portName + (modem.friendlyName.empty() ? "" : "\t" + modem.friendlyName));
    }
    return 0;
  } else {
    const auto detect = [&config] { return DetectAttachedModems(config); };
    if (!ChoosePort(config, detect, std::cin, std::cout).stored) return ToInt(ExitCode::kRefused);
    port = config.GetString("modem.port");
  }
  settings->Set("modem.port", port);
  settings->Set("modem.emulation", "0");
  if (settings->DriverRuns()) {
    std::fprintf(stderr, "qmctl: the driver uses %s from its next connection (qmctl disconnect; qmctl connect)\n",
                 port.c_str());
  }
  if (words.size() == 2) PrintLine(port);
  return 0;
}

}  // namespace

int RunConfig(const CommandArgs& args) {
  int status = 0;
  const auto parsed = ParseCommand(args, {}, kUsage, status);
  if (!parsed) return status;
  const std::vector<std::string>& words = parsed->positional();
  if (words.empty()) return UsageError("config needs list, get, set or port", kUsage);
  const std::string& action = words[0];
  if (action == "port") return RunPort(*parsed, words);
  if (action == "list") {
    if (words.size() != 1) return UsageError("config list takes no KEY", kUsage);
    return PrintSettings(OpenSettings(parsed->global(), SettingUse::kRead)->List(), parsed->global().json);
  }
  const bool set = action == "set";
  if (!set && action != "get") return UsageError("unknown config action '" + action + "'", kUsage);
  if (set ? words.size() != 3 : words.size() > 2) {
    return UsageError(set ? "config set needs KEY and VALUE" : "config get takes at most one KEY", kUsage);
  }
  const std::string* value = set ? &words[2] : nullptr;
  if (words.size() == 1) {
    // The properties of a running driver; the stored settings of a stopped one.
    const std::unique_ptr<SettingAccess> settings = OpenSettings(parsed->global(), SettingUse::kRead);
    if (!settings->DriverRuns()) return PrintSettings(settings->List(), parsed->global().json);
    DriverClient client(parsed->global());
    RemoteObject driver = client.Create("SMSDriver");
    return ListSettings(driver, parsed->global().json);
  }
  if (const Setting* setting = FindSetting(words[1])) return RunProperty(*parsed, setting, value);
  return RunKey(*parsed, words[1], value);
}

}  // namespace qm
