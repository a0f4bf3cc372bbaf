#include "gateway/pending_parts.h"

#include <algorithm>

namespace qm {

std::vector<DecodedPdu> PendingParts::InOrder(Group& group) {
  std::vector<DecodedPdu> parts;
  parts.reserve(group.parts.size());
  for (auto& [number, part] : group.parts) parts.push_back(std::move(part));
  return parts;
}

PendingParts::Added PendingParts::Add(DecodedPdu part, uint32_t now) {
  Added added;
  if (part.total <= 1) {
    added.complete.push_back({std::move(part)});
    return added;
  }
  const Key key(part.from, part.reference, part.total);
  auto found = groups_.find(key);
  if (found != groups_.end()) {
    auto twin = found->second.parts.find(part.part);
    if (twin != found->second.parts.end()) {
      // The same part again (a second read of the memory): the pending one
      // keeps its location; the repeat's own location goes when it differs.
      added.duplicate = true;
      if (part.memoryIndex != -1 && part.memoryIndex != twin->second.memoryIndex) added.freeIndex = part.memoryIndex;
      return added;
    }
  } else {
    if (groups_.size() >= kMaxGroups) {
      auto oldest = std::min_element(groups_.begin(), groups_.end(), [](const auto& a, const auto& b) {
        return a.second.firstSeen < b.second.firstSeen;
      });
      added.evicted.push_back(InOrder(oldest->second));
      groups_.erase(oldest);
    }
    found = groups_.emplace(key, Group{{}, now}).first;
  }
  Group& group = found->second;
  const int total = part.total;
  group.parts.emplace(part.part, std::move(part));
  if (static_cast<int>(group.parts.size()) == total) {
    added.complete.push_back(InOrder(group));
    groups_.erase(found);
  }
  return added;
}

std::vector<std::vector<DecodedPdu>> PendingParts::TakeExpired(uint32_t now, uint32_t maxAgeSeconds) {
  std::vector<std::vector<DecodedPdu>> expired;
  for (auto it = groups_.begin(); it != groups_.end();) {
    if (now > it->second.firstSeen && now - it->second.firstSeen > maxAgeSeconds) {
      expired.push_back(InOrder(it->second));
      it = groups_.erase(it);
    } else {
      ++it;
    }
  }
  return expired;
}

std::vector<int> PendingParts::TakeStaleIndexes(uint32_t now, uint32_t seconds) {
  std::vector<int> indexes;
  for (auto& [key, group] : groups_) {
    if (now <= group.firstSeen || now - group.firstSeen <= seconds) continue;
    for (auto& [number, part] : group.parts) {
      if (part.memoryIndex == -1) continue;
      indexes.push_back(part.memoryIndex);
      part.memoryIndex = -1;
    }
  }
  return indexes;
}

}  // namespace qm
