// The key-ordered row sequence behind every table.
#include "storage/row_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

PackedRow R(std::string_view key, std::string_view value = "") {
  const std::string_view fields[] = {value, key};
  return PackedRow::Pack(fields);
}

// "key=value" for every row, in order.
std::vector<std::string> Dump(const RowIndex& index) {
  std::vector<std::string> out;
  for (const auto& row : index) out.push_back(std::string(row.Field(1)) + "=" + std::string(row.Field(0)));
  return out;
}

TEST(RowIndex, KeepsKeyOrderThroughEveryChange) {
  RowIndex index(1);  // the key in the second field
  EXPECT_FALSE(index.Store(R("b", "1")));
  EXPECT_FALSE(index.Store(R("d", "2")));
  EXPECT_FALSE(index.Store(R("a", "3")));  // before all
  EXPECT_FALSE(index.Store(R("c", "4")));  // in the middle
  EXPECT_TRUE(index.Store(R("b", "5")));   // replaced in place
  EXPECT_EQ(Dump(index), (std::vector<std::string>{"a=3", "b=5", "c=4", "d=2"}));
  ASSERT_NE(index.Find("c"), nullptr);
  EXPECT_EQ(index.Find("c")->Field(0), "4");
  EXPECT_EQ(index.Find("bb"), nullptr);
  EXPECT_EQ(index.Find(""), nullptr);
  EXPECT_TRUE(index.Erase("c"));
  EXPECT_FALSE(index.Erase("c"));
  index.PopFront();
  EXPECT_EQ(Dump(index), (std::vector<std::string>{"b=5", "d=2"}));
}

TEST(RowIndex, BulkLoadSortsAndKeepsTheLastOfEqualKeys) {
  RowIndex sorted(1);
  for (const char* k : {"a", "b", "b", "c"}) sorted.Add(R(k, std::string("v") + k));
  sorted.Finish();
  EXPECT_EQ(Dump(sorted), (std::vector<std::string>{"a=va", "b=vb", "c=vc"}));

  RowIndex shuffled(1);
  int n = 0;
  for (const char* k : {"c", "a", "b", "a", "c", "d", "a"}) shuffled.Add(R(k, std::to_string(n++)));
  shuffled.Finish();
  EXPECT_EQ(Dump(shuffled), (std::vector<std::string>{"a=6", "b=2", "c=4", "d=5"}));
}

TEST(RowIndex, MergeLetsTheIncomingRowsWin) {
  RowIndex memory(1);
  for (const char* k : {"a", "c", "e"}) memory.Store(R(k, "old"));
  RowIndex file(1);
  for (const char* k : {"e", "b", "c"}) file.Add(R(k, "new"));
  memory.MergeFrom(std::move(file));
  EXPECT_EQ(Dump(memory), (std::vector<std::string>{"a=old", "b=new", "c=new", "e=new"}));

  RowIndex empty(1);
  RowIndex more(1);
  more.Add(R("x", "1"));
  empty.MergeFrom(std::move(more));
  EXPECT_EQ(Dump(empty), (std::vector<std::string>{"x=1"}));
}

TEST(RowIndex, LoadedRowsShareChunksFreedWithTheirLastRow) {
  RowIndex index(1);
  RowIndex more(1);
  const std::string big(20000, 'b');  // too large for a chunk: a heap block of its own
  for (const char* k : {"a", "b", "c"}) {
    const std::string_view fields[] = {"v", k};
    index.Add(PackedRow::Pack(fields, false, &index.Arena()));
  }
  const std::string_view bigRow[] = {big, "d"};
  more.Add(PackedRow::Pack(bigRow, false, &more.Arena()));
  const std::string_view shared[] = {"new", "b"};
  more.Add(PackedRow::Pack(shared, false, &more.Arena()));
  index.Finish();
  EXPECT_EQ(index.Arena().Chunks(), 1u);
  index.MergeFrom(std::move(more));  // its chunk comes along
  EXPECT_EQ(index.Arena().Chunks(), 2u);
  EXPECT_EQ(Dump(index), (std::vector<std::string>{"a=v", "b=new", "c=v", "d=" + big}));
  index.Erase("a");
  EXPECT_EQ(index.Arena().Chunks(), 2u);
  index.PopFront();  // "b", the only row of the second chunk
  EXPECT_EQ(index.Arena().Chunks(), 1u);
  index.Store(R("e", "heap"));
  index.Clear();
  EXPECT_EQ(index.Arena().Chunks(), 0u);
}

TEST(PackedRow, HoldsAnyBytesAndLongFields) {
  const std::string big(70000, 'z');  // a length needing three LEB128 bytes
  const std::string nul("a\0b", 3);
  const std::string_view fields[] = {"", nul, big, "Привет"};
  const PackedRow row = PackedRow::Pack(fields, true);
  EXPECT_EQ(row.size(), 4u);
  EXPECT_TRUE(row.MayNeedEscaping());
  EXPECT_EQ(row.Field(1), nul);
  EXPECT_EQ(row.Field(2), big);
  EXPECT_EQ(row.Field(4), "");
  EXPECT_EQ(row.Unpack(), (std::vector<std::string>{"", nul, big, "Привет"}));
  EXPECT_EQ(row.TextBytes(), 3 + big.size() + 12);
  EXPECT_EQ(PackedRow().size(), 0u);
  EXPECT_EQ(PackedRow().Field(0), "");
}

}  // namespace
}  // namespace qm
