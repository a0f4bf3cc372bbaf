// The driver's command line: splitting, switches and the options they set.
//
// The process keeps its whole command line as one text (the autostart entry
// and the log show it). On Linux the kernel hands over argv; JoinCommandLine
// puts it back together so that SplitCommandLine gives the same pieces.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A switch that ends parsing and makes the process exit after its work.
enum class ExitSwitch {
  kNone,
  kRegServer,    // "RegServer": register the automation server
  kUnregServer,  // "UnregServer": remove the registration
  kUnreg,        // "unreg": the same as UnregServer
  kInit,         // "init": register, then store the template configuration
  kViewAuthor,   // "viewauthor": show the program's notice
};

struct StartupOptions {
  unsigned instance = 0;        // "inst" followed by 0..9999; 0 when absent or out of range
  bool noIcon = false;          // "noicon"
  bool service = false;         // "service": run as a service
  bool cfgService = false;      // "cfgservice": tray mode on the service's configuration
  bool serviceProfile = false;  // "service" or "cfgservice": %appdata% is the service's folder
  bool install = false;         // "instservice" (ends parsing)
  bool uninstall = false;       // "uninstservice" (ends parsing)
  ExitSwitch exitSwitch = ExitSwitch::kNone;
};

// The highest instance number; anything above it selects instance 0.
inline constexpr unsigned kMaxInstance = 9999;

// Splits at spaces outside double quotes (a quote right after a backslash
// neither opens nor closes a quoted run; the backslash stays). Each piece is
// trimmed of white space and loses one pair of enclosing quotes. Runs of
// spaces give no empty pieces. The first piece is the program.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Applies every switch after the program piece, left to right. The switch of
// a piece is the text after its first "-" or "/"; pieces with neither are
// ignored, as are unknown switches. Names compare ignoring ASCII case, except
// the "inst" prefix, which must be lower case ("-INST3" selects nothing).
// "instservice", "uninstservice" and the exit switches end parsing, so
// switches after them are not read.
StartupOptions ParseCommandLine(std::string_view commandLine);

// Joins argv into one command line: pieces holding a blank (or empty ones)
// are put in double quotes; a double quote inside a piece gets a backslash
// before it so it cannot end the quoted run. Splitting gives back the same
// pieces, except that such backslashes stay in them (the splitter never
// unescapes) and a quoted piece cannot end in a backslash.
std::string JoinCommandLine(const std::vector<std::string>& argv);
std::string JoinCommandLine(int argc, const char* const* argv);

}  // namespace qm
