// Environment lookups and the folders the driver keeps its files in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Looks a variable up by name, ignoring case when no exact match exists
// (configuration files written on other systems use "%APPDATA%" and the like).
// A few Windows names have Linux meanings: "appdata" is the XDG config folder,
// "temp"/"tmp" the temporary folder, "userprofile" the home folder and
// "comspec" the shell.
std::optional<std::string> LookupVariable(std::string_view name);

// $XDG_CONFIG_HOME, or ~/.config.
std::string ConfigHome();

// $XDG_DATA_HOME, or ~/.local/share: where user-installed data files go (D-Bus
// service and interface files).
std::string DataHome();

// The service account's application-data folder: /var/lib/qmdriver, or
// $QMDRIVER_SERVICE_HOME when set (tests and packagers redirect it).
std::string ServiceHome();

// $TMPDIR, or /tmp.
std::string TempDir();

// $XDG_RUNTIME_DIR when set and usable, otherwise the temporary folder.
std::string RuntimeDir();

// $HOME, or the password database entry, or "/".
std::string HomeDir();

// The absolute path of the running executable (/proc/self/exe); empty when
// unknown.
std::string ExecutablePath();

// The current working folder ("." when it cannot be told).
std::string CurrentFolder();

// A program run as root on the service's data becomes the user that owns
// `folder` (its groups included), so the files it writes stay readable to
// the service. Nothing happens for another user, or a folder root owns.
// False, with the reason, when the switch fails.
bool BecomeOwnerOf(const std::string& folder, std::string& why);

// True when standard input is a terminal (someone can answer a question).
bool StdinIsTerminal();
// True when standard output is a terminal (someone reads what is printed).
bool StdoutIsTerminal();

}  // namespace qm
