// The autostart entry: an XDG autostart file "<app name>.desktop" that starts
// the driver when the user logs in.
//
// Two places hold entries: the machine folder /etc/xdg/autostart (every user;
// $QMDRIVER_XDG_AUTOSTART_DIR when set, for tests) and the user folder
// $XDG_CONFIG_HOME/autostart. Entry names compare ignoring ASCII case.
//
// Any thread; the functions touch only the two folders.
#pragma once

#include <string>
#include <vector>

namespace qm {

struct AutostartEntry {
  std::string appName;                   // "qmdriver" or "qmdriver_N"
  std::vector<std::string> commandLine;  // the process's arguments, program first
  std::string programFolder;             // the folder the driver starts in
};

// True when the entry of that name is on: the user's entry overrides the
// machine's, and an entry with "Hidden=true" counts as none.
bool AutostartQuery(const std::string& appName);

// Writes the entry into the machine folder when it is writable, else into the
// user folder (created when missing); a user entry that would override it
// goes. The program piece of the command line becomes this executable's
// absolute path when it is not absolute already.
bool AutostartEnable(const AutostartEntry& entry);

// Removes the entry from both folders (whatever the case of its name); a
// machine entry this user may not remove gets the user's "Hidden=true"
// override instead.
void AutostartDisable(const std::string& appName);

// Enables when wanted and absent, disables when present and not wanted.
// True when the entry's presence matches `wanted` afterwards.
bool AutostartSet(const AutostartEntry& entry, bool wanted);

// The folders (for tests and messages).
std::string AutostartMachineFolder();
std::string AutostartUserFolder();

// The text of the entry (pure): the Exec= line quotes every argument as the
// desktop-entry format requires.
std::string MakeAutostartText(const AutostartEntry& entry);

// One argument quoted for an Exec= line, before the value escaping of the
// file format.
std::string QuoteExecArgument(const std::string& argument);

}  // namespace qm
