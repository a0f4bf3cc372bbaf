// The parts of long messages waiting for the rest, with the clock passed in.
#include "gateway/pending_parts.h"

#include <gtest/gtest.h>

#include "tests/support/received_pdus.h"

namespace qm {
namespace {

DecodedPdu Part(std::string from, int reference, int total, int number, int index, std::string text = "x") {
  DecodedPdu part;
  part.from = std::move(from);
  part.reference = reference;
  part.total = total;
  part.part = number;
  part.memoryIndex = index;
  part.text = std::move(text);
  return part;
}

std::string Texts(const std::vector<DecodedPdu>& parts) {
  std::string joined;
  for (const DecodedPdu& part : parts) joined += part.text + "|";
  return joined;
}

TEST(PendingParts, GroupsBySenderAndReferenceAndFreesOnlyARepeatsOwnLocation) {
  PendingParts pending;
  EXPECT_TRUE(pending.Add(Part("A", 7, 2, 1, 1, "a2"), 100).complete.empty());
  EXPECT_TRUE(pending.Add(Part("B", 7, 2, 0, 2, "b1"), 100).complete.empty());
  // The same part listed again from its own location frees nothing; from
  // another location, that one.
  PendingParts::Added again = pending.Add(Part("A", 7, 2, 1, 1, "a2"), 101);
  EXPECT_TRUE(again.duplicate);
  EXPECT_EQ(again.freeIndex, -1);
  EXPECT_EQ(pending.Add(Part("A", 7, 2, 1, 9, "a2"), 101).freeIndex, 9);
  EXPECT_EQ(pending.Add(Part("A", 7, 2, 1, -1, "a2"), 101).freeIndex, -1);  // delivered directly: no location

  PendingParts::Added done = pending.Add(Part("A", 7, 2, 0, 3, "a1"), 102);
  ASSERT_EQ(done.complete.size(), 1u);
  EXPECT_EQ(Texts(done.complete[0]), "a1|a2|");
  EXPECT_EQ(pending.GroupCount(), 1u);  // B's part waits on
  // A message of one part never waits.
  EXPECT_EQ(pending.Add(Part("B", 7, 1, 0, 4, "single"), 103).complete.size(), 1u);
  EXPECT_EQ(pending.GroupCount(), 1u);
}

TEST(PendingParts, LongWaitersFreeTheirLocationsOnceThenLeaveIncompleteAndTheOldestMakesRoom) {
  PendingParts pending;
  pending.Add(Part("A", 1, 3, 0, 5), 1000);
  pending.Add(Part("A", 1, 3, 2, 6), 1000);
  pending.Add(Part("B", 2, 2, 0, 7), 40000);
  EXPECT_TRUE(pending.TakeStaleIndexes(44000, 43200).empty());
  EXPECT_EQ(pending.TakeStaleIndexes(44300, 43200), (std::vector<int>{5, 6}));
  EXPECT_TRUE(pending.TakeStaleIndexes(90000, 43200).size() == 1u);  // B's, and A's never again
  const auto expired = pending.TakeExpired(87500, 86400);
  ASSERT_EQ(expired.size(), 1u);
  EXPECT_EQ(expired[0].size(), 2u);
  EXPECT_EQ(pending.GroupCount(), 1u);

  for (int i = 0; pending.GroupCount() < PendingParts::kMaxGroups; ++i) pending.Add(Part("C", i, 2, 0, -1), 50000 + i);
  PendingParts::Added overflow = pending.Add(Part("D", 0, 2, 0, -1), 60000);
  ASSERT_EQ(overflow.evicted.size(), 1u);
  EXPECT_EQ(overflow.evicted[0][0].from, "B");
  EXPECT_EQ(pending.GroupCount(), PendingParts::kMaxGroups);
}

TEST(PendingParts, PartsThatCameThroughDifferentServiceCentresJoin) {
  std::string first = test::DeliverPdu("+4917011111", "Hello ", false, test::PartOf{200, 2, 1});
  std::string second = test::DeliverPdu("+4917011111", "world", false, test::PartOf{200, 2, 2});
  second.replace(0, 16, "08914487200030231F");  // another centre, one octet longer
  PendingParts pending;
  std::optional<DecodedPdu> a = DecodeReceivedPdu(HexToBytes(second));
  std::optional<DecodedPdu> b = DecodeReceivedPdu(HexToBytes(first));
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(pending.Add(*a, 1).complete.empty());
  const PendingParts::Added done = pending.Add(*b, 2);
  ASSERT_EQ(done.complete.size(), 1u);
  EXPECT_EQ(AssembleMessage(done.complete[0])->body, "Hello world");
}

}  // namespace
}  // namespace qm
