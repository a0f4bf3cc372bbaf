// FileDatabase: loading, saving as observed on the file, ids and searches.
#include "storage/file_database.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/text_escape.h"
#include "tests/storage/table_test_util.h"

namespace qm {
namespace {

using test::ReadFile;
using test::WriteFile;

ino_t Inode(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class FileDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override { t_.Configure("t", test::kThreeColumns); }
  std::unique_ptr<FileDatabase> Loaded(const std::string& content) {
    WriteFile(t_.Path("t"), content);
    auto db = t_.Open("t");
    EXPECT_EQ(db->Load(true), 0);
    return db;
  }
  Row Get(FileDatabase& db, const std::string& key) {
    Row row;
    db.Get(key, row);
    return row;
  }
  test::TableFolder t_;
};

TEST_F(FileDatabaseTest, LoadsEveryFormOfDataLineAndAppendsBehindTheLast) {
  const std::string original = "\xEF\xBB\xBF" "00000003\tthree\r\n# comment\r\n\r\n00000002\ttwo\tx\tTOO MANY\n"
                               "00000001\tone\n00000004\t\"four\tquoted\"\t  trimmed  \n00000003\tlater line wins\n"
                               "00000005\tlast without line end\tcomplete";
  auto db = Loaded(original);
  EXPECT_EQ(db->SelectContaining(0, "", 0), (Rows{{"00000001", "one", ""},
                                                  {"00000003", "later line wins", ""},
                                                  {"00000004", "four\tquoted", "trimmed"},
                                                  {"00000005", "last without line end", "complete"}}));
  // Keys before and after all others are appended, behind a line end.
  db->Put({"00000000", "first"});
  db->Put({"00000006", "six"});
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("t")), original + "\r\n00000000\tfirst\t\r\n00000006\tsix\t\r\n");
  auto again = t_.Open("t");
  ASSERT_EQ(again->Load(true), 0);
  EXPECT_EQ(again->SelectContaining(0, "", 0), db->SelectContaining(0, "", 0));
}

TEST_F(FileDatabaseTest, NulEndsTheDataAndTheNextSaveRewritesWithoutIt) {
  auto db = Loaded(std::string("00000001\tx\r\n00000001\ta\r\n00000002\tb\tB") + '\0' + "junk\r\n00000003\tc\r\n");
  EXPECT_EQ(db->Count(), 2);  // of a repeated key the later line wins
  EXPECT_EQ(Get(*db, "00000002"), (Row{"00000002", "b", "B"}));
  // Appending after the NUL would hide the new row from every later load.
  db->Put({"00000004", "d"});
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("t")), "00000001\ta\t\r\n00000002\tb\tB\r\n00000004\td\t\r\n");
}

TEST_F(FileDatabaseTest, NewRowsAreAppendedAndChangesRewriteTheFile) {
  const std::string original = "# kept while only appending\r\n00000002\tb\tx\r\n";
  auto db = Loaded(original);
  const ino_t before = Inode(t_.Path("t"));

  db->Put({"00000003", "c", "y"});
  db->Put({"00000001", "a"});
  ASSERT_EQ(db->Save(), 0);
  // Appended in key order, the comment still there, the same file.
  EXPECT_EQ(ReadFile(t_.Path("t")), original + "00000001\ta\t\r\n00000003\tc\ty\r\n");
  EXPECT_EQ(Inode(t_.Path("t")), before);
  ASSERT_EQ(db->Save(), 0);  // nothing new: nothing written
  EXPECT_EQ(ReadFile(t_.Path("t")), original + "00000001\ta\t\r\n00000003\tc\ty\r\n");

  // Replacing a row (here the last): the whole file is written anew (a new
  // file renamed over it).
  db->Put({"00000003", "C", "changed"});
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("t")), "00000001\ta\t\r\n00000002\tb\tx\r\n00000003\tC\tchanged\r\n");
  EXPECT_NE(Inode(t_.Path("t")), before);

  db->Remove("00000001");
  db->Remove("nonexistent");
  ASSERT_EQ(db->Save(), 0);
  const std::string rest = "00000002\tb\tx\r\n00000003\tC\tchanged\r\n";
  EXPECT_EQ(ReadFile(t_.Path("t")), rest);

  // A file removed behind the table's back is written whole at the next
  // save, with nothing pending or with a row to append.
  ASSERT_EQ(::unlink(t_.Path("t").c_str()), 0);
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("t")), rest);
  ASSERT_EQ(::unlink(t_.Path("t").c_str()), 0);
  db->Put({"00000004", "d"});
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("t")), rest + "00000004\td\t\r\n");

  db->Clear();
  EXPECT_EQ(db->Count(), 0);
  ASSERT_EQ(db->Flush(), 0);
  EXPECT_EQ(ReadFile(t_.Path("t")), "");
}

TEST_F(FileDatabaseTest, MaxRecordsTrimsTheOldestAndRewrites) {
  t_.Configure("m", test::kThreeColumns, 3);
  auto db = t_.Open("m");
  ASSERT_EQ(db->Create(), 0);
  for (const char* key : {"00000001", "00000002", "00000003", "00000004"}) db->Put({key, "x"});
  EXPECT_EQ(db->Count(), 3);
  Row row;
  EXPECT_EQ(db->Get("00000001", row), 0);
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("m")), "00000002\tx\t\r\n00000003\tx\t\r\n00000004\tx\t\r\n");
}

TEST_F(FileDatabaseTest, RecordIdsAfterLoad) {
  auto db = Loaded("0000000a\tx\r\n00000003\ty\r\nnot-hex\tz\r\n");
  EXPECT_EQ(db->NewId(), "0000000c");  // the largest key + 2
  EXPECT_EQ(t_.config.GetInt("t.id"), 13);
  EXPECT_EQ(Loaded("")->NewId(), "00000002");
  // Without resetIds the configured counter stays.
  t_.config.SetInt("t.id", 100);
  WriteFile(t_.Path("t"), "0000000a\tx\r\n");
  auto kept = t_.Open("t");
  ASSERT_EQ(kept->Load(false), 0);
  EXPECT_EQ(kept->NewId(), "00000064");
}

TEST_F(FileDatabaseTest, AKeyInTheTableIsNeverHandedOutAgain) {
  // An imported key near the top of the key space: the count runs past it
  // and goes on with the lowest free keys, never with one in use.
  auto db = Loaded("00000001\tAnn\t\r\nfffffffe\tBob\t\r\n");
  const std::string ids[] = {db->NewId(), db->NewId(), db->NewId()};
  EXPECT_EQ(ids[0], "ffffffff");
  EXPECT_EQ(ids[1], "00000000");
  EXPECT_EQ(ids[2], "00000002");
  for (const std::string& id : ids) db->Put({id, "new", ""});
  EXPECT_EQ(db->Count(), 5);
  EXPECT_EQ(Get(*db, "00000001")[1], "Ann");
  EXPECT_EQ(Loaded("ffffffff\tx\r\n")->NewId(), "00000000");
}

TEST_F(FileDatabaseTest, ARowCutShortByACrashIsNotTakenAsARow) {
  auto db = Loaded("00000001\ta\tb\r\n00000002\ttext cut");
  EXPECT_EQ(db->Count(), 1);
  EXPECT_NE(db->LoadNotice().find("00000002\ttext cut"), std::string::npos) << db->LoadNotice();
  // The next save writes the file without it.
  db->Put({"00000003", "c", "d"});
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("t")), "00000001\ta\tb\r\n00000003\tc\td\r\n");
  // A whole last row without its line end is a row.
  EXPECT_EQ(Loaded("00000001\ta\tb\r\n00000002\tc\td")->Count(), 2);
  EXPECT_EQ(Loaded("00000001\ta\tb")->LoadNotice(), "");
}

TEST_F(FileDatabaseTest, ANewTableFileIsPrivateAndALinkedOneStaysLinked) {
  auto db = t_.Open("t");
  ASSERT_EQ(db->Create(), 0);
  struct stat st {};
  ASSERT_EQ(::stat(t_.Path("t").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // The table lives elsewhere behind a link: rewrites replace the target.
  const std::string target = t_.dir.File("real-table.txt");
  WriteFile(target, "00000001\ta\tb\r\n00000002\tc\td\r\n");
  ASSERT_EQ(::unlink(t_.Path("t").c_str()), 0);
  ASSERT_EQ(::symlink("real-table.txt", t_.Path("t").c_str()), 0);
  auto linked = t_.Open("t");
  ASSERT_EQ(linked->Load(true), 0);
  linked->Remove("00000001");
  ASSERT_EQ(linked->Save(), 0);
  ASSERT_EQ(::lstat(t_.Path("t").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(target), "00000002\tc\td\r\n");
}

// What memory holds is what a later load reads, after an append and after a
// rewrite; escaped free text comes back whole.
TEST_F(FileDatabaseTest, EveryFieldReadsBackAfterAppendAndRewrite) {
  auto db = Loaded("");
  auto readsBack = [&] {
    auto again = t_.Open("t");
    EXPECT_EQ(again->Load(true), 0);
    EXPECT_EQ(again->SelectContaining(0, "", 0), db->SelectContaining(0, "", 0));
    return again->SelectContaining(0, "", 0);
  };
  db->Put({"a0000001"});
  db->Put({"a0000002", "a", "b", "dropped"});
  EXPECT_EQ(Get(*db, "a0000001"), (Row{"a0000001", "", ""}));
  EXPECT_EQ(Get(*db, "a0000002"), (Row{"a0000002", "a", "b"}));
  // Raw values are kept as given, or stored escaped when no line can hold them.
  const std::string kept[] = {"a\tb", "tail ", "\ttab", "ends with \\", "a\"b\"c", "x\\\"y", "#x",
                              std::string(200, 'l')};
  const std::string escaped[] = {"a\tb\\", "\"", "\"hi\"", "He said \"ok", "two\r\nlines", std::string("nul\0", 4)};
  int n = 0;
  auto put = [&](const std::string& value, const std::string& stored) {
    const std::string key = fmt::format("b{:07}", ++n);
    db->Put({key, value, value});
    EXPECT_EQ(Get(*db, key), (Row{key, stored, stored}));
  };
  for (const std::string& value : kept) put(value, value);
  for (const std::string& value : escaped) put(value, EscapeFieldText(value));
  const std::vector<std::string> texts = {
      "a\tb", "He said \"ok", "\"hi\"", " x ", "\"", "line\r\nbreak\n", "50%0A", "Grüße 😀 Привет",
      "\"a\tb\"", "back\\", std::string("n\0l", 3),
  };
  for (const auto& text : texts) db->Put({db->NewId(), EscapeFieldText("from " + text), EscapeFieldText(text)});
  ASSERT_EQ(db->Save(), 0);  // appended
  readsBack();
  db->Put({"a0000002", "replaced", "x"});
  ASSERT_EQ(db->Save(), 0);  // rewritten
  const Rows rows = readsBack();
  ASSERT_EQ(rows.size(), texts.size() + 16);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(UnescapeFieldText(rows[i][2]), texts[i]) << i;
    EXPECT_EQ(UnescapeFieldText(rows[i][1]), "from " + texts[i]) << i;
  }
}

TEST_F(FileDatabaseTest, SearchesIgnoreCaseAndWalkInKeyOrder) {
  auto db = Loaded(
      "00000001\tAlice\tHello World\r\n00000002\tbob\t42\r\n00000003\tALICE\tПривет мир\r\n"
      "00000004\tCarol\t7\r\n00000005\talice\t-3\r\n");
  Row row;
  ASSERT_EQ(db->FindEqual(1, "BOB", row), 1);
  EXPECT_EQ(row[0], "00000002");
  EXPECT_EQ(db->FindEqual(1, "bo", row), 0);
  ASSERT_EQ(db->FindLastEqual(1, "Alice", row), 1);
  EXPECT_EQ(row[0], "00000005");
  EXPECT_EQ(db->SelectEqual(1, "alice", 0).size(), 3u);
  EXPECT_EQ(db->SelectEqual(1, "alice", 2).size(), 2u);
  EXPECT_EQ(db->SelectNotEqual(1, "alice", 0).size(), 2u);
  ASSERT_EQ(db->FindNotEqual(1, "alice", row), 1);
  EXPECT_EQ(row[0], "00000002");

  EXPECT_EQ(db->SelectContaining(2, "", 0).size(), 5u);
  EXPECT_EQ(db->SelectContaining(2, "WORLD", 0).size(), 1u);
  ASSERT_EQ(db->FindContaining(2, "ПРИВЕТ", row), 1);  // Cyrillic folds too
  EXPECT_EQ(row[0], "00000003");
  EXPECT_EQ(db->SelectNotContaining(2, "o", 0).size(), 4u);
  ASSERT_EQ(db->FindNotContaining(1, "LIC", row), 1);
  EXPECT_EQ(row[0], "00000002");

  EXPECT_EQ(db->SelectMatchingAll({1, 2}, {"ALICE", "hello world"}, 0).size(), 1u);
  EXPECT_EQ(db->SelectMatchingAll({1}, {"alice", "extra"}, 0).size(), 0u);  // lists must pair up

  EXPECT_EQ(db->SelectByNumber(2, 5, 0, 0).size(), 2u);  // 42, 7
  EXPECT_EQ(db->SelectByNumber(2, 0, 1, 0).size(), 1u);  // -3
  EXPECT_EQ(db->SelectByNumber(2, 0, 2, 0).size(), 0u);

  // A column beyond the rows' fields finds nothing.
  EXPECT_TRUE(db->SelectContaining(3, "", 0).empty());
  EXPECT_TRUE(db->SelectContaining(-1, "", 0).empty());
  EXPECT_EQ(db->FindLastEqual(7, "x", row), 0);
}

TEST_F(FileDatabaseTest, FailedLoadLeavesMemoryAndMergeRewrites) {
  auto db = t_.Open("t");
  db->Put({"00000001", "memory only"});
  EXPECT_EQ(db->Load(true), -1);  // no file yet
  EXPECT_EQ(db->LastError().code, kErrFileNotFound);
  EXPECT_EQ(db->Count(), 1);

  WriteFile(t_.Path("t"), "00000001\tfrom file\r\n00000002\tb\r\n");
  ASSERT_EQ(db->Load(false), 0);
  EXPECT_EQ(db->Count(), 2);
  EXPECT_EQ(Get(*db, "00000001")[1], "from file");
  db->Put({"00000000", "before"});
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("t")), "00000000\tbefore\t\r\n00000001\tfrom file\t\r\n00000002\tb\t\r\n");

  // A table merged into rows the file lacked writes them all at the next save.
  auto merged = t_.Open("t");
  merged->Put({"00000009", "not in the file"});
  ASSERT_EQ(merged->Load(true), 0);
  ASSERT_EQ(merged->Save(), 0);
  EXPECT_NE(ReadFile(t_.Path("t")).find("00000009\tnot in the file"), std::string::npos);

  auto directory = t_.Open("t");
  ASSERT_EQ(::unlink(t_.Path("t").c_str()), 0);
  ASSERT_EQ(::mkdir(t_.Path("t").c_str(), 0700), 0);
  EXPECT_EQ(directory->Load(true), -1);
  EXPECT_EQ(directory->Create(), -1);
}

TEST_F(FileDatabaseTest, CreateMakesTheFolderAndEmptiesTheTable) {
  t_.config.SetString("t.filename", t_.dir.File("new/folder/t.txt"));
  auto db = t_.Open("t");
  db->Put({"00000001", "x"});
  ASSERT_EQ(db->Create(), 0);
  EXPECT_EQ(db->Count(), 0);
  EXPECT_EQ(ReadFile(t_.dir.File("new/folder/t.txt")), "");
  db->Put({"00000002", "y"});
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.dir.File("new/folder/t.txt")), "00000002\ty\t\r\n");
  ASSERT_EQ(db->Create(), 0);
  EXPECT_EQ(ReadFile(t_.dir.File("new/folder/t.txt")), "");
}

TEST_F(FileDatabaseTest, AKeyColumnOutsideTheColumnsTouchesNothing) {
  WriteFile(t_.Path("t"), "00000001\tkeep me\r\n");
  t_.config.SetInt("t.index", 3);
  auto db = t_.Open("t");
  EXPECT_EQ(db->Load(true), -1);
  EXPECT_EQ(db->Create(), -1);
  db->Put({"a", "b", "c", "d"});
  EXPECT_EQ(db->Count(), 0);
  EXPECT_EQ(db->Save(), -1);
  EXPECT_EQ(ReadFile(t_.Path("t")), "00000001\tkeep me\r\n");

  // A table without a column list is the same configuration error.
  t_.config.SetString("none.filename", t_.Path("t"));
  FileDatabase none(t_.config, "none");
  EXPECT_EQ(none.Load(true), -1);
  EXPECT_EQ(none.Create(), -1);
  EXPECT_EQ(ReadFile(t_.Path("t")), "00000001\tkeep me\r\n");
}

TEST_F(FileDatabaseTest, OtherKeyColumnsAndSeparators) {
  t_.Configure("s", test::kThreeColumns, 0, ";,");
  t_.config.SetInt("s.index", 1);
  WriteFile(t_.Path("s"), "1;b;x\r\n2;a;y\r\n3;\"c;d\";z\r\n");
  auto db = t_.Open("s");
  EXPECT_EQ(db->Separator(), ";");
  ASSERT_EQ(db->Load(true), 0);
  const Rows rows = db->SelectContaining(0, "", 0);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][1], "a");  // ordered by the key column
  EXPECT_EQ(rows[2][1], "c;d");
  db->Put({"4", "e;f", "w"});
  db->Remove("a");
  ASSERT_EQ(db->Save(), 0);
  EXPECT_EQ(ReadFile(t_.Path("s")), "1;b;x\r\n3;\"c;d\";z\r\n4;\"e;f\";w\r\n");

  EXPECT_EQ(TableSeparator("%"), "\t");  // cannot separate: "%" starts the escapes
  EXPECT_EQ(TableSeparator("\\"), "\t");  // nor "\\", which keeps a quote from closing
  EXPECT_EQ(TableSeparator("\xC2\xA6x"), "\xC2\xA6");
}

}  // namespace
}  // namespace qm
