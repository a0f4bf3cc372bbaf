// XML message documents: any bytes must parse without fault, and whatever is
// read must be a well-formed request: a recipient for every message, a URL for
// every push, a custom text for every "handle", and UTF-8 text throughout.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "integration/message_document.h"
#include "platform/utf.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const qm::MessageDocument doc = qm::ParseMessageDocument("fuzz.xml", bytes);
  if (doc.status != qm::DocumentStatus::kParsed) {
    Check(doc.items.empty() && doc.replays.empty());
    return 0;
  }
  for (const auto& item : doc.items) {
    Check(item != nullptr);
    const int kind = item->Kind();
    Check(kind == qm::kKindSms || kind == qm::kKindPush || kind == qm::kKindUssd);
    Check(kind == qm::kKindUssd ? item->to.empty() : !item->to.empty());
    Check(kind == qm::kKindPush ? !item->Url().empty() : item->Url().empty());
    Check(item->from.empty());
    Check((item->flags & ~uint32_t{qm::kFlagFlash | qm::kFlagStatusReport}) == 0);
    Check(qm::IsValidUtf8(item->to) && qm::IsValidUtf8(item->body) && qm::IsValidUtf8(item->custom) &&
          qm::IsValidUtf8(item->Url()));
  }
  for (const auto& replay : doc.replays) {
    if (replay.kind == qm::ReplayKind::kHandle) {
      Check(!replay.custom.empty() && qm::IsValidUtf8(replay.custom));
    } else {
      Check(replay.custom.empty());
    }
  }
  return 0;
}
