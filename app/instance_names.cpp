#include "app/instance_names.h"

#include <cstdio>

namespace qm {
namespace {

constexpr std::string_view kMutexPrefix = "5d0c7e21-94ab-4c3f-8e62-a17b39f0";
constexpr unsigned kMutexBase = 0xC254;
constexpr std::size_t kExtensionLength = 4;  // ".log"

std::string DotN(unsigned instance) { return "." + std::to_string(instance); }

}  // namespace

std::string MutexName(unsigned instance) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%04x", (kMutexBase + instance) & 0xFFFFu);
  return std::string(kMutexPrefix) + hex;
}

std::string ApplicationName(unsigned instance) {
  return instance == 0 ? std::string("qmdriver") : "qmdriver_" + std::to_string(instance);
}

std::string TitleSuffix(unsigned instance) {
  return instance == 0 ? std::string() : " instance " + std::to_string(instance);
}

std::string InstanceLogPath(std::string_view path, unsigned instance) {
  std::string out(path);
  if (instance == 0 || path.empty()) return out;  // no log stays no log
  const std::string mark = DotN(instance);
  const auto slash = path.find_last_of('/');
  const std::size_t nameLength = slash == std::string_view::npos ? path.size() : path.size() - slash - 1;
  if (nameLength <= kExtensionLength) return out + mark;  // no stem to put the number after
  const std::size_t extension = path.size() - kExtensionLength;
  // ".N" right before the extension means the path already names this instance.
  if (extension >= mark.size() && path.substr(extension - mark.size(), mark.size()) == mark) return out;
  out.insert(extension, mark);
  return out;
}

std::optional<std::string> InstanceStatusPath(std::string_view path, unsigned instance) {
  constexpr std::string_view kTail = "qmdriver.status";
  constexpr std::size_t kStatusExtension = 7;  // ".status"
  if (instance == 0 || path.size() < kTail.size() || path.substr(path.size() - kTail.size()) != kTail) {
    return std::nullopt;
  }
  std::string out(path);
  out.insert(out.size() - kStatusExtension, DotN(instance));
  return out;
}

}  // namespace qm
