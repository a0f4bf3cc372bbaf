#include "platform/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

#include "platform/unique_fd.h"

namespace qm {

bool WriteAll(int fd, std::string_view data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string DirName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void SyncDirectory(const std::string& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode, SysError* err) {
  AtomicFileWriter out;
  return out.Open(path, mode, err) && out.Write(data, err) && out.Commit(err);
}

std::string ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size() - 1);
    if (n <= 0) return current;
    std::string next(target.data(), static_cast<std::size_t>(n));
    current = next.front() == '/' ? next : DirName(current) + "/" + next;
  }
  return current;
}

AtomicFileWriter::~AtomicFileWriter() { Abandon(); }

void AtomicFileWriter::Abandon() {
  if (!tmp_.empty()) {
    fd_.Reset();
    ::unlink(tmp_.c_str());
    tmp_.clear();
  }
}

bool AtomicFileWriter::Open(const std::string& path, mode_t mode, SysError* err) {
  Abandon();
  if (path.empty()) {
    if (err) *err = SysError{kErrInvalidName, ErrorStr(kErrInvalidName)};
    return false;
  }
  // A link stays a link: the new content replaces its target.
  const std::string target = ResolveLinks(path);
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0) mode = old.st_mode & 07777;
  std::string tmpl = target + ".tmpXXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd) {
    if (err) *err = SysErrorFromErrno(errno);
    return false;
  }
  path_ = target;
  tmp_ = name.data();
  fd_ = std::move(fd);
  if (::fchmod(fd_.get(), mode) != 0) {
    if (err) *err = SysErrorFromErrno(errno);
    Abandon();
    return false;
  }
  return true;
}

bool AtomicFileWriter::Write(std::string_view data, SysError* err) {
  if (!fd_) {
    if (err) *err = SysErrorFromErrno(EBADF);
    return false;
  }
  if (WriteAll(fd_.get(), data)) return true;
  if (err) *err = SysErrorFromErrno(errno);
  Abandon();
  return false;
}

bool AtomicFileWriter::Commit(SysError* err) {
  if (!fd_) {
    if (err) *err = SysErrorFromErrno(EBADF);
    return false;
  }
  if (::fsync(fd_.get()) != 0 || !fd_.Close() || ::rename(tmp_.c_str(), path_.c_str()) != 0) {
    if (err) *err = SysErrorFromErrno(errno);
    Abandon();
    return false;
  }
  tmp_.clear();
  SyncDirectory(DirName(path_));
  return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, SysError* err) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    if (err) *err = SysErrorFromErrno(errno);
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    if (err) *err = SysErrorFromErrno(errno);
    return std::nullopt;
  }
  std::string out;
  if (S_ISREG(st.st_mode)) out.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (err) *err = SysErrorFromErrno(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

bool MakeDirectories(const std::string& path, mode_t mode, SysError* err) {
  if (path.empty()) {
    if (err) *err = SysError{kErrInvalidName, ErrorStr(kErrInvalidName)};
    return false;
  }
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
      if (err) *err = SysErrorFromErrno(errno);
      return false;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (err) *err = SysErrorFromErrno(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    if (err) *err = SysErrorFromErrno(ENOTDIR);
    return false;
  }
  return true;
}

}  // namespace qm
