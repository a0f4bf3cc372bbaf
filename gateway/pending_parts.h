// The parts of long messages waiting for the rest of their message.
//
// Parts are grouped by sender, concatenation reference and part count, so two
// senders who happen to use the same reference never get their parts mixed.
// A group is handed out once every part is there, parts in order. A group
// that waits too long is handed out as it is (incomplete, but nothing the
// modem gave is lost), and so is the oldest when too many wait.
//
// Threads: the memory reader's only. The clock is passed in (seconds).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "sms/pdu_decoder.h"

namespace qm {

class PendingParts {
 public:
  // At most this many groups wait; past it the oldest is handed out.
  static constexpr std::size_t kMaxGroups = 256;

  struct Added {
    std::vector<std::vector<DecodedPdu>> complete;  // groups now whole, parts in order
    std::vector<std::vector<DecodedPdu>> evicted;   // the oldest group, made room for
    bool duplicate = false;                         // the part was there already
    int freeIndex = -1;                             // a repeat's own location, to delete (-1: none)
  };
  Added Add(DecodedPdu part, uint32_t now);

  // Groups whose first part came more than `maxAgeSeconds` ago, taken out
  // with the parts they have.
  std::vector<std::vector<DecodedPdu>> TakeExpired(uint32_t now, uint32_t maxAgeSeconds);
  // Memory locations of parts waiting longer than `seconds`, each returned
  // once: a location is freed once, never again (it may hold a new message by
  // then).
  std::vector<int> TakeStaleIndexes(uint32_t now, uint32_t seconds);

  std::size_t GroupCount() const { return groups_.size(); }

 private:
  using Key = std::tuple<std::string, int, int>;  // sender, reference, total
  struct Group {
    std::map<int, DecodedPdu> parts;  // by part number
    uint32_t firstSeen = 0;
  };
  static std::vector<DecodedPdu> InOrder(Group& group);

  std::map<Key, Group> groups_;
};

}  // namespace qm
