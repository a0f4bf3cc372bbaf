// Per-instance names: every name two copies of the driver could collide on
// carries the instance number N (written in decimal; instance 0 keeps the
// plain names). The registry subkey comes from MakeConfigLocations.
//
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

inline constexpr std::string_view kProductTitle = "Quillmoor GSM Modem Driver";

// The single-instance lock name: a fixed prefix and the four lower-case hex
// digits of 0xC254 + N ("...a17b39f0c254" for instance 0).
std::string MutexName(unsigned instance);

// "qmdriver", or "qmdriver_N": service, unit and autostart entry name.
std::string ApplicationName(unsigned instance);

// "", or " instance N": appended to the product title in tooltips and titles.
std::string TitleSuffix(unsigned instance);

// The log file of instance N: ".N" goes before the last four characters (the
// extension), unless the file name already has ".N" there. A file name too
// short to hold a stem and a four-character extension gets ".N" appended; an
// empty path (no log) stays empty.
std::string InstanceLogPath(std::string_view path, unsigned instance);

// The status file of instance N: when the path ends with "qmdriver.status",
// ".N" goes before ".status". nullopt when nothing changes (instance 0, or
// another name); the caller stores a new name back into the configuration,
// so later starts find it already renamed.
std::optional<std::string> InstanceStatusPath(std::string_view path, unsigned instance);


}  // namespace qm
