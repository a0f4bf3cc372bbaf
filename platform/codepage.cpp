#include "platform/codepage.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <utility>

#include "platform/utf.h"

namespace qm {
namespace {

class Iconv {
 public:
  Iconv(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

std::size_t Utf8SequenceLength(unsigned char b) { return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4; }

// Runs the conversion; an undefined or invalid input sequence becomes
// `replacement` and is skipped (one code point of UTF-8 input, else one byte).
std::string Run(const Iconv& cd, std::string_view in, std::string_view replacement, bool utf8Input) {
  std::string out;
  char buf[4096];
  char* inp = const_cast<char*>(in.data());
  std::size_t inleft = in.size();
  while (inleft > 0) {
    char* outp = buf;
    std::size_t outleft = sizeof buf;
    const std::size_t r = iconv(cd.get(), &inp, &inleft, &outp, &outleft);
    out.append(buf, static_cast<std::size_t>(outp - buf));
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: replace and move on.
      out.append(replacement);
      const std::size_t skip = utf8Input ? Utf8SequenceLength(static_cast<unsigned char>(*inp)) : 1;
      const std::size_t n = std::min(skip, inleft);
      inp += n;
      inleft -= n;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* outp = buf;
  std::size_t outleft = sizeof buf;
  iconv(cd.get(), nullptr, nullptr, &outp, &outleft);
  out.append(buf, static_cast<std::size_t>(outp - buf));
  return out;
}

std::string LettersAndDigits(std::string_view name) {
  std::string out;
  for (char c : name) {
    const char l = AsciiLower(c);
    if ((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9')) out.push_back(l);
  }
  return out;
}

}  // namespace

std::string CanonicalCharsetName(std::string_view declared) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 18> kAliases{{
      {"utf8", "UTF-8"},         {"unicode11utf8", "UTF-8"}, {"usascii", "ASCII"},
      {"ascii", "ASCII"},        {"latin1", "ISO-8859-1"},   {"koi8r", "KOI8-R"},
      {"koi8u", "KOI8-U"},       {"utf16", "UTF-16"},        {"utf16le", "UTF-16LE"},
      {"utf16be", "UTF-16BE"},   {"unicode", "UTF-16LE"},    {"unicodefffe", "UTF-16BE"},
      {"shiftjis", "SHIFT_JIS"}, {"gb2312", "GB2312"},       {"big5", "BIG5"},
      {"eucjp", "EUC-JP"},       {"euckr", "EUC-KR"},        {"gbk", "GBK"},
  }};
  const std::string key = LettersAndDigits(declared);
  for (const auto& [alias, name] : kAliases) {
    if (key == alias) return std::string(name);
  }
  for (std::string_view prefix : {"windows", "win", "cp"}) {
    if (key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0 &&
        key.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
      return "CP" + key.substr(prefix.size());
    }
  }
  if (key.size() > 7 && key.compare(0, 7, "iso8859") == 0 &&
      key.find_first_not_of("0123456789", 7) == std::string::npos) {
    return "ISO-8859-" + key.substr(7);
  }
  return std::string(declared);
}

std::optional<std::string> ToUtf8(std::string_view bytes, std::string_view charset) {
  Iconv cd("UTF-8", CanonicalCharsetName(charset));
  if (!cd.ok()) return std::nullopt;
  return Run(cd, bytes, "\xEF\xBF\xBD", false);
}

std::optional<std::string> FromUtf8(std::string_view utf8, std::string_view charset) {
  Iconv cd(CanonicalCharsetName(charset), "UTF-8");
  if (!cd.ok()) return std::nullopt;
  return Run(cd, SanitizeUtf8(utf8), "?", true);
}

bool IsKnownCharset(std::string_view charset) {
  Iconv cd("UTF-8", CanonicalCharsetName(charset));
  return cd.ok();
}

}  // namespace qm
