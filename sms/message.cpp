#include "sms/message.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>

#include "platform/clock.h"
#include "platform/utf.h"

namespace qm {
namespace {

std::atomic<int32_t> g_nextId{1};

std::mutex g_autoTonMutex;
AutoTonSettings g_autoTon;

}  // namespace

namespace message_ids {
void SetNext(int64_t next) {
  g_nextId.store(static_cast<int32_t>(std::clamp<int64_t>(next, 1, std::numeric_limits<int32_t>::max())));
}
int32_t Take() {
  // Ids stay positive: at the top the last one is handed out again rather
  // than wrapping to a negative number.
  int32_t id = g_nextId.load();
  while (id < std::numeric_limits<int32_t>::max() && !g_nextId.compare_exchange_weak(id, id + 1)) {
  }
  return id;
}
int32_t Last() { return g_nextId.load() - 1; }
}  // namespace message_ids

void SetAutoTonSettings(const AutoTonSettings& settings) {
  std::lock_guard lock(g_autoTonMutex);
  g_autoTon = settings;
}

AutoTonSettings GetAutoTonSettings() {
  std::lock_guard lock(g_autoTonMutex);
  return g_autoTon;
}

int32_t AutoTon(std::string_view number) {
  if (!number.empty() && number[0] == '+') return 1;
  if (number.empty()) return 0;
  const AutoTonSettings s = GetAutoTonSettings();
  const auto length = static_cast<int64_t>(CountCodePoints(number));
  return length > s.length ? s.longTon : s.shortTon;
}

SMSMessage::SMSMessage() : SMSMessage({}, {}, {}, -1) {
  fromTon = 1;
  toTon = 1;
}

SMSMessage::SMSMessage(std::string fromText, std::string toText, std::string bodyText, int32_t idValue)
    : from(std::move(fromText)), to(std::move(toText)), body(std::move(bodyText)) {
  const uint32_t now = UnixNow();
  created = now;
  timestamp = now;
  expires = now + kDefaultValiditySeconds;
  id = idValue == -1 ? message_ids::Take() : idValue;
  fromTon = AutoTon(from);
  toTon = AutoTon(to);
}

bool SMSMessage::IsDuplicateOf(const SMSMessage& other) const {
  return body == other.body && created == other.created && from == other.from && to == other.to;
}

std::string SMSMessage::Summary() const {
  std::string line = body;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (CountCodePoints(line) <= 50) return line;
  return TruncateCodePoints(line, 47) + "...";
}

StatusReport::StatusReport(std::string fromText, std::string toText, int32_t ref, uint32_t discharge,
                           uint32_t statusValue)
    : SMSMessage(std::move(fromText), std::move(toText), {}, -1), dischargeTime(discharge), status(statusValue) {
  reference = ref;
}

int KindFromName(std::string_view name) {
  if (name == "sms") return kKindSms;
  if (name == "push") return kKindPush;
  if (name == "ussd") return kKindUssd;
  if (name == "sr") return kKindStatusReport;
  return 0;
}

}  // namespace qm
