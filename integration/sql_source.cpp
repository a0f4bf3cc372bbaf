#include "integration/sql_source.h"

#include <cstddef>
#include <utility>

#include "base/config_store.h"
#include "platform/utf.h"

namespace qm {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// Where the columns that carry work are; kNone when absent.
struct Columns {
  std::size_t msisdn = kNone;
  std::size_t text = kNone;
  std::size_t body = kNone;
  std::size_t url = kNone;
  std::size_t flash = kNone;
  std::size_t report = kNone;
  std::size_t custom = kNone;
  std::size_t ussd = kNone;
  std::size_t xml = kNone;
};

Columns FindColumns(const std::vector<std::string>& names) {
  Columns found;
  std::pair<const char*, std::size_t*> wanted[] = {
      {"msisdn", &found.msisdn}, {"text", &found.text},   {"body", &found.body},
      {"url", &found.url},       {"flash", &found.flash}, {"report", &found.report},
      {"custom", &found.custom}, {"ussd", &found.ussd},   {"xml", &found.xml},
  };
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (auto& [name, at] : wanted) {
      if (*at == kNone && EqualsIgnoreCase(names[i], name)) *at = i;
    }
  }
  return found;
}

// The value as message text: NULL and absent columns are empty, and bytes
// that are not UTF-8 (a binary column) become U+FFFD rather than reaching
// the encoder.
std::string Text(const std::vector<std::optional<std::string>>& row, std::size_t column) {
  if (column >= row.size() || !row[column]) return {};
  return SanitizeUtf8(*row[column]);
}

bool IsFlagSet(const std::string& value) { return !value.empty() && value != "false" && value != "0"; }

std::unique_ptr<SMSMessage> MessageOf(const Columns& at, const std::vector<std::optional<std::string>>& row) {
  std::string to = Text(row, at.msisdn);
  if (!to.empty()) {
    std::string body = Text(row, at.text != kNone ? at.text : at.body);
    std::string url = Text(row, at.url);
    std::unique_ptr<SMSMessage> message;
    if (url.empty()) {
      message = std::make_unique<SMSMessage>("", std::move(to), std::move(body));
    } else {
      message = std::make_unique<PushMessage>("", std::move(to), std::move(body), std::move(url));
    }
    if (IsFlagSet(Text(row, at.flash))) message->flags |= kFlagFlash;
    if (IsFlagSet(Text(row, at.report))) message->flags |= kFlagStatusReport;
    message->custom = Text(row, at.custom);
    return message;
  }
  std::string command = Text(row, at.ussd);
  if (!command.empty()) return std::make_unique<USSDRequest>(std::move(command));
  return nullptr;
}

}  // namespace

void SqlSMSSource::LoadConfig(const ConfigStore& config, const std::string& prefix) {
  SMSSource::LoadConfig(config, prefix);
  query = config.GetString(prefix + ".query");
  host = config.GetString(prefix + ".host");
  base = config.GetString(prefix + ".base");
  user = config.GetString(prefix + ".user");
  password = config.GetString(prefix + ".password");
}

void SqlSMSSource::SaveConfig(ConfigStore& config, const std::string& prefix) const {
  SMSSource::SaveConfig(config, prefix);
  config.SetString(prefix + ".query", query);
  config.SetString(prefix + ".host", host);
  config.SetString(prefix + ".base", base);
  config.SetString(prefix + ".user", user);
  config.SetString(prefix + ".password", password);
}

WorkItems SqlSMSSource::TakeRows(const std::vector<SqlResultSet>& results) const {
  WorkItems items;
  for (const SqlResultSet& result : results) {
    const Columns at = FindColumns(result.columns);
    if (at.msisdn != kNone || at.ussd != kNone) {
      for (const auto& row : result.rows) {
        if (std::unique_ptr<SMSMessage> item = MessageOf(at, row)) items.push_back(std::move(item));
      }
    } else if (at.xml != kNone) {
      for (const auto& row : result.rows) {
        if (at.xml >= row.size() || !row[at.xml] || row[at.xml]->empty()) continue;
        WorkItems document = TakeDocument(Location(), *row[at.xml]);
        for (auto& item : document) items.push_back(std::move(item));
      }
    }
  }
  return items;
}

std::string SqlSMSSource::RenderRows(const std::vector<SqlResultSet>& results) {
  std::string text;
  for (const SqlResultSet& result : results) {
    for (const auto& row : result.rows) {
      if (!text.empty()) text += '\n';
      for (std::size_t i = 0; i < result.columns.size() && i < row.size(); ++i) {
        if (i > 0) text += ", ";
        text += result.columns[i] + "=" + (row[i] ? *row[i] : std::string("NULL"));
      }
    }
  }
  return text;
}

}  // namespace qm
