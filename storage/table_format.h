// The text format of table files: splitting a file into data lines, a line
// into fields, and writing a row back as a line. No I/O.
//
// The format (shared with other programs that read these files):
//   - UTF-8, one row per line, CR LF written; lines split at LF with one CR
//     before it dropped; the last line may lack its line end;
//   - empty lines and lines whose first byte is "#" are skipped;
//   - a NUL byte ends the data;
//   - fields joined by the separator character, nothing after the last one;
//   - on reading, a double quote toggles an inside-quotes state unless a
//     backslash precedes it, and a separator inside quotes does not split;
//     each field is trimmed of blanks and TABs, then loses one double quote at
//     its start and one at its end (a field that is a single double quote
//     stays as it is); backslashes stay;
//   - a line with more fields than the table has columns is skipped, one with
//     fewer is padded with empty fields;
//   - a byte-order mark at the start of a row's first field is dropped when
//     that field is the key.
//
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Position of the NUL that ends the data in `chunk`, or chunk.size().
std::size_t EndOfData(std::string_view chunk);

// Calls `onLine(std::string_view)` for every data line of `text`, which must
// hold no NUL (cut it with EndOfData first). Empty and comment lines are
// skipped; the line end (LF, CR LF, or a final CR) is not part of the line.
template <class OnLine>
void ForEachDataLine(std::string_view text, OnLine&& onLine) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty() && line.front() != '#') onLine(line);
    start = next;
  }
}

// Cuts a whole file's text at its NUL and calls `onLine` for each data line.
template <class OnLine>
void ForEachTableLine(std::string_view fileText, OnLine&& onLine) {
  ForEachDataLine(fileText.substr(0, EndOfData(fileText)), onLine);
}

enum class LineParse {
  kSkipped,  // more fields than columns: the line holds no row
  kPlain,    // no double quote in the line: every field can be written back raw
  kQuoted,   // double quotes were involved: fields may need escaping when written
};

// Splits a data line into exactly `columns` fields (views into `line`, padded
// with empty views). `keyIsFirst` drops a byte-order mark from field 0.
// `present`, when given, receives the number of fields the line held.
LineParse ParseTableLine(std::string_view line, std::string_view separator, std::size_t columns,
                         bool keyIsFirst, std::vector<std::string_view>& fields, std::size_t* present = nullptr);

// How a field is written so that it reads back as the same single field.
enum class FieldForm {
  kRaw,      // as it is (nearly every field)
  kQuoted,   // in double quotes: holds the separator or edge blanks, or starts
             // a line with "#" or a byte-order mark; has no quote, line break
             // or NUL, and does not end with a backslash
  kEscaped,  // EscapeFieldText: holds a line break, NUL, or quotes that would
             // not read back (the escaped text is what the table then holds)
};
FieldForm HowToWriteField(std::string_view field, std::string_view separator, bool firstInLine);

// Appends one row as a line: the fields joined by the separator, then CR LF.
// With `check`, every field is written in the form HowToWriteField gives;
// without it, raw (the caller knows every field is plain). A row of one empty
// field is written as "" (an empty line would be skipped).
void AppendTableLine(std::string& out, std::span<const std::string_view> fields,
                     std::string_view separator, bool check);

// A key read as a hexadecimal record identifier ("%x": leading blanks, an
// optional "0x", hex digits up to the first other character); 0 when there
// are no digits; saturates at 0xFFFFFFFF.
uint32_t ReadHexId(std::string_view key);

// A field read as a decimal integer (leading white space, optional sign,
// digits up to the first other character); 0 when there are no digits;
// saturates at the 64-bit limits.
int64_t ReadDecimal(std::string_view text);

}  // namespace qm
