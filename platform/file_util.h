// Durable file operations shared by everything that writes files.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/errors.h"
#include "platform/unique_fd.h"

namespace qm {

// Replaces `path` with `data` so that a crash, a kill or a full disk at any
// moment leaves either the old file or the new one: the data goes to a
// temporary file in the same folder, is flushed to disk, renamed over `path`,
// and the folder is flushed. The new file gets `mode`, or the old file's mode
// when one exists. When `path` is a symbolic link, its target is replaced and
// the link stays. Returns false (with `err` filled when given) on any
// failure; the old file is then untouched and the temporary file removed.
bool WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode = 0600,
                         SysError* err = nullptr);

// The file a path names once its symbolic links are followed (the path itself
// when it is none; a dangling link gives its target).
std::string ResolveLinks(const std::string& path);

// WriteFileAtomically for content produced piece by piece (a large table),
// without holding it all in memory: Open creates the temporary file, Write
// appends to it, Commit flushes it, renames it over `path` and flushes the
// folder. Without a successful Commit the old file stays untouched and the
// temporary file is removed (at the latest by the destructor).
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter();

  bool Open(const std::string& path, mode_t mode = 0644, SysError* err = nullptr);
  bool Write(std::string_view data, SysError* err = nullptr);
  bool Commit(SysError* err = nullptr);

 private:
  void Abandon();

  std::string path_;
  std::string tmp_;
  UniqueFd fd_;
};

// Reads a whole regular file. nullopt (with `err`) when it cannot be opened or
// fully read.
std::optional<std::string> ReadWholeFile(const std::string& path, SysError* err = nullptr);

// Writes all of `data` to `fd`, looping over partial writes and EINTR.
bool WriteAll(int fd, std::string_view data);

// Creates a folder and its parents (like mkdir -p). True when it exists after.
bool MakeDirectories(const std::string& path, mode_t mode = 0755, SysError* err = nullptr);

// True when the path names a regular file (links followed).
bool IsRegularFile(const std::string& path);

// The folder part of a path ("." when there is none).
std::string DirName(const std::string& path);

// Flushes a folder's entry table to disk (after a rename or create in it).
void SyncDirectory(const std::string& dir);

}  // namespace qm
