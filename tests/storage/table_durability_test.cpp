// Tables under failure and concurrency: failed writes, kills in the middle of
// a save, several threads on one table.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "storage/file_database.h"
#include "tests/storage/table_test_util.h"

namespace qm {
namespace {

using Model = std::map<std::string, Row>;

// A row of about 120 bytes, like a sent message.
Row SentRow(uint32_t id) {
  return {fmt::format("{:08x}", id), fmt::format("+4917{:08d}", id % 100000000),
          fmt::format("Message {} to you: meeting at {}:00, see you there.%0D%0ABye xml:orders order-{}", id,
                      id % 24, id)};
}

Model ReadBack(test::TableFolder& t, const std::string& name) {
  auto db = t.Open(name);
  EXPECT_EQ(db->Load(true), 0);
  Model model;
  for (auto& row : db->SelectContaining(0, "", 0)) model[row[0]] = row;
  return model;
}

// A row read from a line that an append left cut short: each field a prefix
// of the full row's, and empty after the first one cut.
bool IsTornCopy(const Row& torn, const Row& full) {
  bool cut = false;
  for (std::size_t i = 0; i < full.size(); ++i) {
    if (cut && !torn[i].empty()) return false;
    if (!full[i].starts_with(torn[i])) return false;
    cut = cut || torn[i] != full[i];
  }
  return true;
}

TEST(TableDurability, AFailedWriteIsReportedAndLosesNothing) {
  test::TableFolder t;
  t.Configure("t", test::kThreeColumns);
  {
    auto db = t.Open("t");
    ASSERT_EQ(db->Create(), 0);
    for (int i = 1; i <= 50; ++i) db->Put({fmt::format("{:08x}", i), "row", std::to_string(i)});
    ASSERT_EQ(db->Save(), 0);
  }
  const std::string path = t.Path("t");
  const std::string before = test::ReadFile(path);

  // A file size limit stands in for a full disk; only a child may set it.
  const int rc = test::RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    auto db = t.Open("t");
    if (db->Load(true) != 0) return 10;
    rlimit lim{};
    ::getrlimit(RLIMIT_FSIZE, &lim);
    const rlim_t unlimited = lim.rlim_cur;
    lim.rlim_cur = before.size() + 10;
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 11;

    db->Put({"000000ff", "append", std::string(100, 'x')});
    if (db->Save() != -1) return 12;                 // the append did not fit
    if (test::ReadFile(path) != before) return 13;   // and its part is taken back
    db->Put({"00000100", "next", "y"});
    if (db->Save() != -1) return 14;                 // a full rewrite now: also too big
    if (test::ReadFile(path) != before) return 15;   // the old file stands
    lim.rlim_cur = unlimited;
    if (::setrlimit(RLIMIT_FSIZE, &lim) != 0) return 16;
    return db->Save() == 0 ? 0 : 17;
  });
  ASSERT_EQ(rc, 0);
  const Model back = ReadBack(t, "t");
  EXPECT_EQ(back.size(), 52u);
  EXPECT_EQ(back.at("000000ff")[2], std::string(100, 'x'));
}

// A child keeps changing a large table and saving it, alternating appends and
// full rewrites, and reports each save that succeeded; it is killed at a
// random moment. The file must then hold exactly the state of the last
// reported save or of the save in progress (an append cut short may leave a
// torn copy of its row), never anything less.
TEST(TableDurability, KilledWhileSavingLosesNoSavedRow) {
  test::TableFolder t;
  t.Configure("sent", test::kThreeColumns);
  {
    auto db = t.Open("sent");
    ASSERT_EQ(db->Create(), 0);
    for (uint32_t id = 1; id <= 10000; ++id) db->Put(SentRow(id));
    ASSERT_EQ(db->Save(), 0);
  }
  Model model = ReadBack(t, "sent");
  ASSERT_EQ(model.size(), 10000u);

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(fmt::format("seed {}", seed));
  std::mt19937 rng(seed);
  for (uint32_t round = 0; round < 8; ++round) {
    const uint32_t base = 0x10000000 + round * 0x100000;
    // Operation `op` puts a new row; even ones also remove the oldest row,
    // which makes their save a full rewrite.
    auto rewrites = [](uint32_t op) { return op % 2 == 0; };
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      auto db = t.Open("sent");
      if (db->Load(false) != 0) ::_exit(3);
      for (uint32_t op = 0; op < 1000000; ++op) {
        if (op > 0) {
          if (rewrites(op)) db->Remove(db->SelectContaining(0, "", 1).at(0)[0]);
          db->Put(SentRow(base + op));
          if (db->Save() != 0) ::_exit(4);
        }
        if (::write(fds[1], &op, sizeof op) != sizeof op) ::_exit(5);
      }
      ::_exit(6);  // never killed: the parent gave up
    }
    ::close(fds[1]);
    uint32_t acked = 0;
    ASSERT_EQ(::read(fds[0], &acked, sizeof acked), static_cast<ssize_t>(sizeof acked));  // loaded
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(500, 30000)(rng)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "child ended by itself, status " << status;
    for (uint32_t op = 0; ::read(fds[0], &op, sizeof op) == sizeof op;) acked = op;
    ::close(fds[0]);
    SCOPED_TRACE(fmt::format("round {}, {} saves reported", round, acked));

    // The state of the last reported save.
    for (uint32_t op = 1; op <= acked; ++op) {
      if (rewrites(op)) model.erase(model.begin());
      const Row row = SentRow(base + op);
      model[row[0]] = row;
    }
    // Compare with the file: only the save in progress may differ.
    const uint32_t inFlight = acked + 1;
    const Row newRow = SentRow(base + inFlight);
    Model back = ReadBack(t, "sent");
    std::vector<std::string> missing;
    std::vector<Row> extra;
    for (const auto& [key, row] : model) {
      const auto it = back.find(key);
      if (it == back.end()) missing.push_back(key);
      else if (it->second != row) extra.push_back(it->second);
    }
    for (const auto& [key, row] : back) {
      if (!model.count(key)) extra.push_back(row);
    }
    if (rewrites(inFlight)) {
      // Atomic: either nothing changed, or the oldest row went and the new one came.
      const bool none = missing.empty() && extra.empty();
      const bool all = missing == std::vector<std::string>{model.begin()->first} && extra == std::vector<Row>{newRow};
      EXPECT_TRUE(none || all) << missing.size() << " rows missing, " << extra.size() << " rows changed";
    } else {
      EXPECT_TRUE(missing.empty()) << missing.size() << " saved rows lost";
      EXPECT_LE(extra.size(), 1u);
      for (const auto& row : extra) EXPECT_TRUE(IsTornCopy(row, newRow)) << "unexpected row " << row[0];
    }
    model = std::move(back);
  }
}

TEST(TableConcurrency, ConcurrentPutsSavesAndSearchesOnOneTable) {
  test::TableFolder t;
  t.Configure("t", test::kThreeColumns);
  auto db = t.Open("t");
  ASSERT_EQ(db->Create(), 0);

  constexpr int kThreads = 4;
  constexpr int kRowsEach = 150;
  std::vector<std::vector<std::string>> ids(kThreads);
  {
    std::vector<std::jthread> threads;
    for (int n = 0; n < kThreads; ++n) {
      threads.emplace_back([&, n] {
        const std::string who = "thread " + std::to_string(n);
        for (int i = 0; i < kRowsEach; ++i) {
          const std::string id = db->NewId();
          ids[n].push_back(id);
          db->Put({id, who, "row " + std::to_string(i)});
          if (i % 20 == 0) {
            // A replacement: the next save rewrites the file under everyone.
            db->Put({id, who, "row " + std::to_string(i)});
          }
          if (i % 5 == 0) {
            EXPECT_EQ(db->Save(), 0);
          }
          Row row;
          EXPECT_EQ(db->FindLastEqual(1, who, row), 1);
          EXPECT_EQ(row[1], who);
          const std::size_t found = db->SelectContaining(2, "ROW 1", 3).size();  // "row 1", "row 10", ...
          EXPECT_TRUE(i > 11 ? found == 3 : found <= 3) << found;
          db->Remove("not there");
          EXPECT_GE(db->Count(), i + 1);
        }
      });
    }
  }
  std::set<std::string> unique;
  for (const auto& list : ids) unique.insert(list.begin(), list.end());
  EXPECT_EQ(unique.size(), static_cast<std::size_t>(kThreads * kRowsEach));  // no id handed out twice
  ASSERT_EQ(db->Save(), 0);
  const Model back = ReadBack(t, "t");
  EXPECT_EQ(back.size(), unique.size());
  for (const auto& id : unique) {
    Row row;
    ASSERT_EQ(db->Get(id, row), 1);
    EXPECT_EQ(back.at(id), row);
  }
}

}  // namespace
}  // namespace qm
