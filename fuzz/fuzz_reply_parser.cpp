// Feeds arbitrary byte streams to the reply parser, whole and in pieces.
// Oracle: no crash, and the events do not depend on how the bytes were split.
// Every information line also goes through the reply views.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "modem/reply_parser.h"
#include "modem/reply_views.h"

namespace {

using qm::ReplyParser;
using qm::RoutedEvent;

bool SameEvents(const std::vector<RoutedEvent>& a, const std::vector<RoutedEvent>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto& x = a[i];
    const auto& y = b[i];
    if (x.slot != y.slot || x.event.kind != y.event.kind || x.event.code != y.event.code ||
        x.event.text != y.event.text || x.event.bytes != y.event.bytes) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the read size of the piecewise feed.
  const std::size_t step = 1 + data[0] % 64;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  ReplyParser whole;
  const auto all = whole.Feed(bytes).events;

  ReplyParser pieces;
  std::vector<RoutedEvent> split;
  for (std::size_t i = 0; i < bytes.size(); i += step) {
    auto out = pieces.Feed(bytes.substr(i, step));
    split.insert(split.end(), out.events.begin(), out.events.end());
  }
  if (!SameEvents(all, split) || whole.Pending() != pieces.Pending() ||
      whole.BodyFollows() != pieces.BodyFollows()) {
    __builtin_trap();
  }

  for (const RoutedEvent& routed : all) {
    if (static_cast<std::size_t>(routed.slot) >= qm::kListenerSlotCount) __builtin_trap();
    const qm::StringReplyEvent view(routed.event);
    const qm::ListReplyEvent list(routed.event);
    for (std::size_t g = 0; g < list.groups.size(); ++g) (void)list.Contains(static_cast<int>(g), g);
    if (!view.parseFailed) (void)qm::SplitReplyItems(view.text);
  }
  return 0;
}
