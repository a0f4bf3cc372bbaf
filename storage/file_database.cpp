// FileDatabase: construction, the file (Load, Create, Save) and row storage.
// The searches are in file_database_search.cpp.
#include "storage/file_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>

#include <cerrno>

#include "base/path_variables.h"
#include "platform/file_util.h"
#include "platform/unique_fd.h"
#include "storage/table_format.h"
#include "storage/text_escape.h"

namespace qm {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::size_t kWriteChunk = 1 << 20;
constexpr mode_t kTableFileMode = 0600;
constexpr mode_t kTableFolderMode = 0700;

std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

std::string TableSeparator(std::string_view configured) {
  if (configured.empty()) return std::string(kDefaultSeparator);
  const auto lead = static_cast<unsigned char>(configured.front());
  const std::string first(configured.substr(0, std::min(Utf8SequenceLength(lead), configured.size())));
  // '"' and '\\' take part in quoting, '%' in the text escapes.
  if (first == "\"" || first == "%" || first == "\\" || first == "\r" || first == "\n" ||
      first == std::string_view("\0", 1)) {
    return std::string(kDefaultSeparator);
  }
  return first;
}

FileDatabase::FileDatabase(ConfigStore& config, std::string name, bool useServiceProfile)
    : GenericDatabase(config, std::move(name)),
      index_(config.GetInt(name_ + ".index")),
      fileName_(ExpandPathVariables(config.GetString(name_ + ".filename"), useServiceProfile)),
      separator_(TableSeparator(config.GetString(name_ + ".separator"))),
      maxRecords_(std::max(0, config.GetInt(name_ + ".maxrecords"))),
      records_(KeyColumnValid() ? static_cast<std::size_t>(index_) : 0) {}

FileDatabase::~FileDatabase() = default;

bool FileDatabase::KeyColumnValid() const {
  return index_ >= 0 && static_cast<std::size_t>(index_) < columns_.size();
}

int FileDatabase::Fail(int err) {
  lastError_ = SysErrorFromErrno(err);
  errno = err;
  return -1;
}

int FileDatabase::Fail(const SysError& err) {
  lastError_ = err;
  return -1;
}

SysError FileDatabase::LastError() const {
  std::lock_guard lock(lock_);
  return lastError_;
}

std::string FileDatabase::LoadNotice() const {
  std::lock_guard lock(lock_);
  return loadNotice_;
}

uint32_t FileDatabase::NextId() {
  std::lock_guard lock(lock_);
  // A key that a row holds already (imported, edited by hand, or left below a
  // counter that wrapped) is skipped: handing it out would replace that row.
  uint32_t id = nextId_;
  for (uint64_t tries = 0; tries <= 0xFFFFFFFFull && records_.Find(fmt::format("{:08x}", id)) != nullptr; ++tries) {
    ++id;  // past ffffffff the count goes on from the lowest key
  }
  nextId_ = id + 1;
  config_.SetInt(name_ + ".id", static_cast<int32_t>(nextId_));
  return id;
}

// ---- reading -------------------------------------------------------------

bool FileDatabase::ReadRows(int fd, RowIndex& fresh, bool& sawNul, std::string& tornRow) const {
  const std::size_t columns = columns_.size();
  const bool keyIsFirst = index_ == 0;
  std::vector<std::string_view> fields;
  fields.reserve(columns + 1);
  auto onLine = [&](std::string_view line) {
    const LineParse parsed = ParseTableLine(line, separator_, columns, keyIsFirst, fields);
    if (parsed == LineParse::kSkipped) return;
    fresh.Add(PackedRow::Pack(fields, parsed == LineParse::kQuoted, &fresh.Arena()));
  };

  std::vector<char> chunk(kReadChunk);
  std::string partial;  // a line continued in the next chunk
  sawNul = false;
  while (!sawNul) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    std::string_view data(chunk.data(), static_cast<std::size_t>(n));
    const std::size_t end = EndOfData(data);
    sawNul = end < data.size();
    data = data.substr(0, end);
    const std::size_t lastLf = data.rfind('\n');
    if (lastLf == std::string_view::npos) {
      partial.append(data);
      continue;
    }
    if (partial.empty()) {
      ForEachDataLine(data.substr(0, lastLf + 1), onLine);
    } else {
      partial.append(data.substr(0, lastLf + 1));
      ForEachDataLine(partial, onLine);
      partial.clear();
    }
    partial.assign(data.substr(lastLf + 1));
  }
  // A last line without its line end may be a row cut short by a crash: with
  // fewer fields than the table has columns it is not taken as a row (an
  // outbox row would be sent with a cut text).
  std::string_view last = partial;
  if (!last.empty() && last.back() == '\r') last.remove_suffix(1);
  if (!last.empty() && last.front() != '#') {
    std::size_t present = 0;
    const LineParse parsed = ParseTableLine(last, separator_, columns, keyIsFirst, fields, &present);
    if (present < columns) {
      tornRow.assign(last);
    } else if (parsed != LineParse::kSkipped) {
      fresh.Add(PackedRow::Pack(fields, parsed == LineParse::kQuoted, &fresh.Arena()));
    }
  }
  fresh.Finish();
  return true;
}

int FileDatabase::Load(bool resetIds) {
  std::lock_guard lock(lock_);
  if (!KeyColumnValid()) return Fail(EINVAL);
  if (fileName_.empty()) return Fail(SysError{kErrInvalidName, ErrorStr(kErrInvalidName)});
  UniqueFd fd(::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return Fail(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return Fail(errno);
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);

  RowIndex fresh(records_.KeyColumn());
  fresh.Arena().ExpectBytes(static_cast<std::size_t>(st.st_size));
  bool sawNul = false;
  std::string tornRow;
  if (!ReadRows(fd.get(), fresh, sawNul, tornRow)) return Fail(errno);
  loadNotice_ = tornRow.empty() ? std::string()
                                : "Incomplete last row of " + fileName_ + " ignored: " + tornRow;

  const bool wasEmpty = records_.empty();
  records_.MergeFrom(std::move(fresh));
  if (resetIds) {
    uint64_t largest = 0;
    for (const auto& row : records_) {
      largest = std::max<uint64_t>(largest, ReadHexId(records_.KeyOf(row)));
    }
    nextId_ = static_cast<uint32_t>(std::min<uint64_t>(largest + 2, 0xFFFFFFFFull));
  }
  pending_.clear();
  // Appending keeps the file equal to memory only if the file held every row
  // in memory, and nothing after its NUL would hide the appended rows.
  appendable_ = wasEmpty && !sawNul && tornRow.empty();
  return 0;
}

// ---- writing -------------------------------------------------------------

int FileDatabase::Create() {
  std::lock_guard lock(lock_);
  if (!KeyColumnValid()) return Fail(EINVAL);
  if (fileName_.empty()) return Fail(SysError{kErrInvalidName, ErrorStr(kErrInvalidName)});
  const std::string dir = DirName(fileName_);
  SysError err;
  if (!MakeDirectories(dir, kTableFolderMode, &err)) return Fail(err);
  UniqueFd fd(::open(fileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kTableFileMode));
  if (!fd) return Fail(errno);
  if (::fsync(fd.get()) != 0 || !fd.Close()) return Fail(errno);
  SyncDirectory(dir);
  records_.Clear();
  pending_.clear();
  appendable_ = true;
  return 0;
}

void FileDatabase::AppendLine(std::string& out, const PackedRow& row,
                              std::vector<std::string_view>& scratch) const {
  row.Fields(scratch);
  AppendTableLine(out, scratch, separator_, row.MayNeedEscaping());
}

int FileDatabase::AppendPending() {
  UniqueFd fd(::open(fileName_.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT) return 1;
    appendable_ = false;
    return Fail(errno);
  }
  if (pending_.empty()) return 0;

  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    appendable_ = false;
    return Fail(errno);
  }
  std::string text;
  if (st.st_size > 0) {
    // A last line without its line end (a hand edit, or an append cut short)
    // must not swallow the first appended row.
    char last = 0;
    const ssize_t n = ::pread(fd.get(), &last, 1, st.st_size - 1);
    if (n != 1) {
      appendable_ = false;
      return Fail(n < 0 ? errno : EIO);
    }
    if (last != '\n') text = "\r\n";
  }
  std::vector<std::string_view> scratch;
  for (const auto& key : pending_) {
    if (const PackedRow* row = records_.Find(key)) AppendLine(text, *row, scratch);
  }
  if (!WriteAll(fd.get(), text) || ::fsync(fd.get()) != 0) {
    const int err = errno;
    // Take back whatever part got written; the next save rewrites the file.
    if (::ftruncate(fd.get(), st.st_size) == 0) ::fsync(fd.get());
    appendable_ = false;
    pending_.clear();
    return Fail(err);
  }
  pending_.clear();
  if (!fd.Close()) {
    appendable_ = false;
    return Fail(errno);
  }
  return 0;
}

int FileDatabase::Rewrite() {
  SysError err;
  AtomicFileWriter out;
  bool ok = out.Open(fileName_, kTableFileMode, &err);
  if (!ok && err.code == kErrFileNotFound) {
    // The folder went away: make it again rather than lose the table.
    ok = MakeDirectories(DirName(fileName_), kTableFolderMode, &err) && out.Open(fileName_, kTableFileMode, &err);
  }
  // The text goes out in pieces: a second copy of a large table in memory
  // would cost as much as the table.
  std::string text;
  text.reserve(kWriteChunk + 4096);
  std::vector<std::string_view> scratch;
  for (auto it = records_.begin(); ok && it != records_.end(); ++it) {
    AppendLine(text, *it, scratch);
    if (text.size() >= kWriteChunk) {
      ok = out.Write(text, &err);
      text.clear();
    }
  }
  ok = ok && out.Write(text, &err) && out.Commit(&err);
  if (!ok) {
    appendable_ = false;
    return Fail(err);
  }
  pending_.clear();
  appendable_ = true;
  return 0;
}

int FileDatabase::Save() {
  std::lock_guard lock(lock_);
  if (!KeyColumnValid()) return Fail(EINVAL);
  if (fileName_.empty()) return Fail(SysError{kErrInvalidName, ErrorStr(kErrInvalidName)});
  if (appendable_ && maxRecords_ == 0) {
    const int result = AppendPending();
    if (result <= 0) return result;  // 1: the file is missing, write it whole
  }
  return Rewrite();
}

int FileDatabase::Flush() { return Save(); }

// ---- rows ----------------------------------------------------------------

int FileDatabase::Get(std::string_view key, Row& row) const {
  std::lock_guard lock(lock_);
  const PackedRow* found = records_.Find(key);
  if (found == nullptr) return 0;
  row = found->Unpack();
  return 1;
}

void FileDatabase::Insert(const Row& row) { Put(row); }

void FileDatabase::Put(const Row& row) {
  const std::size_t columns = columns_.size();
  std::vector<std::string_view> fields(columns);
  std::vector<std::string> escaped;  // owns the fields that had to be escaped
  bool check = columns == 1;  // a lone empty field needs a form of its own
  for (std::size_t i = 0; i < columns && i < row.size(); ++i) {
    const FieldForm form = HowToWriteField(row[i], separator_, i == 0);
    check = check || form != FieldForm::kRaw;
    if (form != FieldForm::kEscaped) {
      fields[i] = row[i];
      continue;
    }
    if (escaped.empty()) escaped.reserve(columns);  // no reallocation: views stay valid
    escaped.push_back(EscapeFieldText(row[i], separator_));
    fields[i] = escaped.back();
  }
  PackedRow packed = PackedRow::Pack(fields, check);

  std::lock_guard lock(lock_);
  if (!KeyColumnValid()) return;
  const std::string key(records_.KeyOf(packed));
  const bool replaced = records_.Store(std::move(packed));
  if (!replaced && maxRecords_ == 0) {
    pending_.insert(key);
  } else {
    pending_.clear();
    appendable_ = false;
  }
  if (maxRecords_ > 0) {
    while (records_.size() > static_cast<std::size_t>(maxRecords_)) records_.PopFront();
  }
}

void FileDatabase::Remove(std::string_view key) {
  std::lock_guard lock(lock_);
  if (!records_.Erase(key)) return;
  pending_.clear();
  appendable_ = false;
}

void FileDatabase::Clear() {
  std::lock_guard lock(lock_);
  records_.Clear();
  pending_.clear();
  appendable_ = false;
}

int FileDatabase::Count() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(records_.size());
}

}  // namespace qm
