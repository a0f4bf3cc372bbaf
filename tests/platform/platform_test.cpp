#include <gtest/gtest.h>

#include <thread>

#include "platform/blocking_queue.h"
#include "platform/key_store.h"
#include "tests/support/test_env.h"

namespace qm {
namespace {

TEST(KeyStoreFormat, EscapesSurviveParsingAndSubkeysStayUnderTheRoot) {
  const std::vector<KeyValue> values = {
      {"a=b", "x=y"}, {"ctl", std::string("\x01\t\r\n\\\x7F", 6)}, {"plain", "text \xD0\x96"}, {"", ""}};
  const auto back = ParseKeyValues(SerializeKeyValues(values));
  ASSERT_EQ(back.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(back[i].name, values[i].name);
    EXPECT_EQ(back[i].data, values[i].data);
  }
  EXPECT_TRUE(ParseKeyValues("# c\nno separator\n\\x\n").empty());  // garbage lines are ignored, not fatal

  test::ScopedEnv home("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(KeyFilePath(KeyRoot::kCurrentUser, "..\\..\\etc\\x"), "/cfg/quillmoor/registry/etc/x.reg");
}

// A wake (Wake or Clear) is not lost when it comes before the Pop, and ends
// a Pop already waiting.
TEST(BlockingQueue, WakeMakesOnePopReturnNothing) {
  BlockingQueue<int> q;
  q.Wake();
  EXPECT_FALSE(q.Pop().has_value());
  std::optional<int> got = 7;
  std::jthread waiter([&] { got = q.Pop(); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  q.Wake();
  waiter.join();
  EXPECT_FALSE(got.has_value());
  q.Push(3);
  q.Clear();
  EXPECT_TRUE(q.Empty());
  EXPECT_FALSE(q.Pop().has_value());
  q.Push(1);
  q.PushFront(0);
  EXPECT_EQ(*q.Pop(), 0);
}

}  // namespace
}  // namespace qm
