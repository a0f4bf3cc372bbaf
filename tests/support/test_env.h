// Helpers shared by the tests: temporary folders, environment overrides, files
// and child processes.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

namespace qm::test {

// A fresh private folder, removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

std::string ReadFile(const std::string& path);
// How often `what` occurs in `text` (overlapping occurrences counted).
int Occurrences(const std::string& text, const std::string& what);
void WriteFile(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);

// Runs `body` in a forked child and returns its exit status (the child exits
// with body's result), or -1 when it was killed by a signal.
int RunInChild(const std::function<int()>& body);

// As RunInChild, but permissions apply to the child: when the tests run as
// root, the folder (with everything in it) is handed to an unprivileged user
// and the child runs as that user.
int RunAsUser(const std::string& folder, const std::function<int()>& body);

}  // namespace qm::test
