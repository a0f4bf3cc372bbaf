#include "integration/source_list.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "integration/command_source.h"
#include "integration/file_source.h"
#include "integration/mysql_source.h"
#include "integration/url_source.h"

namespace qm {
namespace {

std::string Prefix(std::size_t index) { return "sources." + std::to_string(index); }

}  // namespace

std::unique_ptr<SMSSource> MakeSource(const std::string& type, const SourceServices& services) {
  if (type == "file") return std::make_unique<FileSMSSource>(services);
  if (type == "cmdline") return std::make_unique<CmdLineSMSSource>(services);
  if (type == "mysql") return std::make_unique<MysqlSMSSource>(services);
  if (type == "url") return std::make_unique<UrlSMSSource>(services);
  return nullptr;
}

SourceList::SourceList(SourceServices services) : services_(std::move(services)) {
  services_.stop = stop_.get_token();
}

void SourceList::Load(const ConfigStore& config) {
  std::vector<std::unique_ptr<SMSSource>> loaded;
  for (std::size_t i = 0;; ++i) {
    std::unique_ptr<SMSSource> source = MakeSource(config.GetString(Prefix(i) + ".type"), services_);
    if (!source) break;
    source->LoadConfig(config, Prefix(i));
    loaded.push_back(std::move(source));
  }
  std::lock_guard lock(mutex_);
  sources_ = std::move(loaded);
}

void SourceList::Save(ConfigStore& config) const {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    sources_[i]->SaveConfig(config, Prefix(i));
    config.SetString(Prefix(i) + ".type", sources_[i]->TypeName());
  }
  // The entry after the last one ends the list, also when it held a source before.
  config.SetString(Prefix(sources_.size()) + ".type", "");
}

std::size_t SourceList::Size() const {
  std::lock_guard lock(mutex_);
  return sources_.size();
}

WorkItems SourceList::Poll(uint32_t pass) {
  WorkItems taken;
  std::lock_guard lock(mutex_);
  for (const auto& source : sources_) {
    if (stop_.stop_requested()) break;
    if (!source->active || !IsSourceDue(source->period, pass)) continue;
    for (auto& item : source->Retrieve()) {
      services_.log.Write(LogLevel::kDetail, "Source " + source->name + ": msg '" + item->body + "' to '" + item->to +
                                                 "', url '" + item->Url() + "'");
      taken.push_back(std::move(item));
    }
  }
  return taken;
}

}  // namespace qm
