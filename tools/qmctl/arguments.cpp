#include "tools/qmctl/arguments.h"

#include <algorithm>
#include <charconv>

namespace qm {
namespace {

constexpr unsigned kMaxInstance = 9999;  // as the driver's "-inst<N>" switch

bool IsGlobalFlag(std::string_view arg) { return arg == "--system" || arg == "--json"; }

bool Contains(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::optional<uint32_t> ParseUnsigned(std::string_view text, uint32_t max) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value > max) return std::nullopt;
  return static_cast<uint32_t>(value);
}

Arguments::Arguments(const std::vector<std::string>& args, const OptionSpec& spec) {
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size() && error_.empty(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string_view name = arg;
    std::optional<std::string> value;
    if (const auto eq = name.find('='); eq != std::string_view::npos) {
      value = std::string(name.substr(eq + 1));
      name = name.substr(0, eq);
    }
    const bool wantsValue = name == "--instance" || Contains(spec.values, name);
    if (wantsValue && !value) {
      if (i + 1 >= args.size()) {
        error_ = std::string(name) + " needs a value";
        break;
      }
      value = args[++i];
    }
    Take(name, std::move(value), spec);
  }
}

void Arguments::Take(std::string_view name, std::optional<std::string> value, const OptionSpec& spec) {
  const bool isFlag = name == "--help" || name == "-h" || IsGlobalFlag(name) || Contains(spec.flags, name);
  if (isFlag && value) {
    error_ = std::string(name) + " takes no value";
  } else if (name == "--help" || name == "-h") {
    help_ = true;
  } else if (name == "--system") {
    global_.systemBus = true;
  } else if (name == "--json") {
    global_.json = true;
  } else if (name == "--instance") {
    const auto instance = ParseUnsigned(*value, kMaxInstance);
    if (!instance) error_ = "--instance needs a number 0-" + std::to_string(kMaxInstance);
    if (instance) global_.instance = *instance;
  } else if (isFlag) {
    flags_.insert(std::string(name));
  } else if (Contains(spec.values, name)) {
    values_[std::string(name)] = *value;
  } else {
    error_ = "unknown option '" + std::string(name) + "'";
  }
}

std::optional<std::string> Arguments::Value(std::string_view name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::size_t FindCommand(const std::vector<std::string>& args, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--instance") {
      ++i;
    } else if (!(arg.starts_with("--instance=") || IsGlobalFlag(arg))) {
      if (arg.starts_with("-") && arg != "--help" && arg != "-h") error = "unknown option '" + arg + "'";
      return i;
    }
  }
  return args.size();
}

}  // namespace qm
