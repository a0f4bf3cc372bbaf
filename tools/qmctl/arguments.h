// Command-line options of the qmctl commands that talk to the driver.
//
// "--name value" and "--name=value" both work; options and positional
// arguments mix freely, and "--" ends the options. The global options
// (--instance N, --system, --json) and --help are taken by every command,
// before or after its name.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Which driver to talk to, and how to print.
struct GlobalOptions {
  unsigned instance = 0;   // the driver's instance number ("-inst<N>")
  bool systemBus = false;  // the driver runs as a service
  bool json = false;       // one JSON object per line instead of text
};

// The options a command knows besides the global ones.
struct OptionSpec {
  std::vector<std::string_view> flags;   // without a value
  std::vector<std::string_view> values;  // with one value
};

class Arguments {
 public:
  Arguments(const std::vector<std::string>& args, const OptionSpec& spec);

  // Empty when the arguments fit the option table; otherwise what is wrong.
  const std::string& error() const { return error_; }
  bool help() const { return help_; }
  const GlobalOptions& global() const { return global_; }

  bool Has(std::string_view flag) const { return flags_.count(std::string(flag)) != 0; }
  std::optional<std::string> Value(std::string_view name) const;
  const std::vector<std::string>& positional() const { return positional_; }

 private:
  void Take(std::string_view name, std::optional<std::string> value, const OptionSpec& spec);

  GlobalOptions global_;
  bool help_ = false;
  std::set<std::string> flags_;
  std::map<std::string, std::string, std::less<>> values_;
  std::vector<std::string> positional_;
  std::string error_;
};

// The position of the command's name in `args` (after any global options),
// or args.size() when there is none; `error` tells of a word before it that
// is no global option.
std::size_t FindCommand(const std::vector<std::string>& args, std::string& error);

// A whole decimal number within [0, max].
std::optional<uint32_t> ParseUnsigned(std::string_view text, uint32_t max = UINT32_MAX);

}  // namespace qm
