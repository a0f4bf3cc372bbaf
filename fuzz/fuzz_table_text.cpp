// Table file text: any bytes must parse without fault, and every row parsed
// must be written back as one line that reads back as the same fields (or,
// for fields with line breaks, NUL or stray quotes, as their escaped text).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "storage/table_format.h"
#include "storage/text_escape.h"

namespace {

constexpr std::string_view kSeparators[] = {"\t", ";", " ", "\xC2\xA6"};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view sep = kSeparators[data[0] & 3];
  const std::size_t columns = 1 + ((data[0] >> 2) & 15);
  const bool keyIsFirst = (data[0] & 0x40) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::string_view> fields;
  std::vector<std::string_view> back;
  qm::ForEachTableLine(text, [&](std::string_view line) {
    if (qm::ParseTableLine(line, sep, columns, keyIsFirst, fields) == qm::LineParse::kSkipped) return;
    Check(fields.size() == columns);
    std::string written;
    qm::AppendTableLine(written, fields, sep, true);
    // One line, ending in CR LF, that reads back whole.
    Check(written.size() >= 2 && written.find('\n') == written.size() - 1);
    std::vector<std::string> lines;
    qm::ForEachTableLine(written, [&](std::string_view l) { lines.emplace_back(l); });
    Check(lines.size() == 1);
    Check(qm::ParseTableLine(lines[0], sep, columns, keyIsFirst, back) != qm::LineParse::kSkipped);
    for (std::size_t i = 0; i < columns; ++i) {
      const qm::FieldForm form = qm::HowToWriteField(fields[i], sep, i == 0);
      const std::string expected =
          form == qm::FieldForm::kEscaped ? qm::EscapeFieldText(fields[i], sep) : std::string(fields[i]);
      Check(back[i] == expected);
      // Text holding "%" plus hex digits itself does not survive escaping
      // (the format never escaped "%"); everything else does.
      if (fields[i].find('%') == std::string_view::npos) {
        Check(qm::UnescapeFieldText(qm::EscapeFieldText(fields[i], sep), sep) == fields[i]);
      }
    }
  });
  return 0;
}
