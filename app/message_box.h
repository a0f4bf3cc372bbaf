// Start-up message boxes. There is no window on Linux: the caption and text go
// to standard error and, once it exists, to the log.
#pragma once

#include <string_view>

namespace qm {

class Logger;

void ShowMessageBox(std::string_view caption, std::string_view text);

// The log that message boxes are copied to (nullptr: none). Not owned.
void SetMessageBoxLogger(Logger* logger);

}  // namespace qm
