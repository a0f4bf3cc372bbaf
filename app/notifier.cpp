#include "app/notifier.h"

#include "base/config_store.h"
#include "base/logger.h"
#include "platform/utf.h"

namespace qm {

Notifier::Notifier(Logger* log, const ConfigStore* config, bool serviceMode, BalloonSender sender)
    : log_(log), config_(config), serviceMode_(serviceMode), sender_(std::move(sender)) {}

void Notifier::SetTooltip(std::string_view text) {
  std::string tip = TruncateCodePoints(text, kTooltipLength);
  {
    std::lock_guard lock(mutex_);
    if (tip == tooltip_) return;
    tooltip_ = tip;
  }
  if (log_) log_->Write(LogLevel::kDetail, "Tooltip: " + tip);
}

std::string Notifier::Tooltip() const {
  std::lock_guard lock(mutex_);
  return tooltip_;
}

bool Notifier::BalloonsEnabled() const {
  return !serviceMode_ && !(config_ && config_->GetInt("disable_bubbles") != 0);
}

void Notifier::ShowBalloon(std::string_view title, std::string_view text) {
  if (!BalloonsEnabled()) return;
  if (log_) log_->Write(LogLevel::kDetail, "Balloon: " + std::string(title) + ": " + std::string(text));
  if (sender_) sender_(std::string(title), std::string(text));
}

}  // namespace qm
