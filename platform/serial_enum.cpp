#include "platform/serial_enum.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>

#include "platform/file_util.h"
#include "platform/utf.h"

namespace qm {
namespace fs = std::filesystem;
namespace {

constexpr const char* kPortPrefixes[] = {"ttyUSB", "ttyACM", "ttyS"};

bool IsCandidateName(const std::string& name) {
  for (const char* prefix : kPortPrefixes) {
    const std::string_view p(prefix);
    if (name.size() > p.size() && name.compare(0, p.size(), p) == 0) return true;
  }
  return false;
}

std::string ReadAttribute(const fs::path& file) {
  std::optional<std::string> text = ReadWholeFile(file.string());
  return text ? std::string(TrimBlanks(*text)) : std::string();
}

// Manufacturer and product of the USB device above the tty, found by walking
// up from the tty's device directory.
std::string UsbName(const fs::path& deviceLink) {
  std::error_code ec;
  fs::path dir = fs::canonical(deviceLink, ec);
  if (ec) return {};
  for (int level = 0; level < 5 && !dir.empty() && dir != dir.root_path(); ++level, dir = dir.parent_path()) {
    const std::string product = ReadAttribute(dir / "product");
    if (product.empty()) continue;
    const std::string maker = ReadAttribute(dir / "manufacturer");
    return maker.empty() ? product : maker + " " + product;
  }
  return {};
}

std::map<std::string, std::string> ByIdLinks(const std::string& dir) {
  std::map<std::string, std::string> links;  // kernel name -> link path
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ec2;
    const fs::path target = fs::canonical(it->path(), ec2);
    if (!ec2) links.emplace(target.filename().string(), it->path().string());
  }
  return links;
}

// ttyS2 before ttyS10: the letters, then the number.
bool NameLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    return std::pair(s.substr(0, i), s.size() - i);
  };
  const auto [pa, na] = split(a);
  const auto [pb, nb] = split(b);
  if (pa != pb) return pa < pb;
  if (na != nb) return na < nb;
  return a < b;
}

}  // namespace

std::vector<PortEntry> EnumeratePorts(bool availableOnly, const PortEnumerationRoots& roots) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(roots.sysClassTty, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code ec2;
    if (IsCandidateName(name) && fs::exists(it->path() / "device" / "driver", ec2)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NameLess);

  const auto byId = ByIdLinks(roots.serialById);
  std::vector<PortEntry> entries;
  for (const std::string& name : names) {
    PortEntry entry;
    entry.portName = name;
    if (auto it = byId.find(name); it != byId.end()) entry.byIdPath = it->second;
    entry.friendlyName = UsbName(fs::path(roots.sysClassTty) / name / "device");
    if (entry.friendlyName.empty()) {
      entry.friendlyName = entry.byIdPath.empty() ? name : fs::path(entry.byIdPath).filename().string();
    }
    // Looked at, not touched: the port may belong to another program.
    if (availableOnly && SerialPort::IsFree(roots.devDir + "/" + name).code != kErrNone) continue;
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace qm
