// The failure event for a "+CME ERROR:" or "+CMS ERROR:" line. Pure.
#pragma once

#include <string_view>

#include "modem/async_event.h"

namespace qm {

// Kind 9. The code is the number after the 12-character lead-in ("+CME ERROR: ")
// and the text that number's entry of the +CME or +CMS table. A number the
// table does not know keeps the modem's own words as text; a verbose report
// without a number ("+CME ERROR: SIM busy") gives code 100 and those words.
AsyncEvent MakeModemErrorEvent(std::string_view line);

// The table texts ("" when the code has none).
std::string_view CmeErrorText(int code);
std::string_view CmsErrorText(int code);

}  // namespace qm
