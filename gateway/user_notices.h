// What the message flows tell the user: balloons and the link situation in
// the tooltip. The application implements it (the main frame).
//
// Threads: any; implementations must not block.
#pragma once

#include <string_view>

namespace qm {

class UserNotices {
 public:
  virtual void ShowBalloon(std::string_view title, std::string_view text) = 0;
  // The tooltip for a situation such as "(connected to ttyUSB0)"; the
  // product title comes first.
  virtual void ShowLinkSituation(std::string_view situation) = 0;

 protected:
  ~UserNotices() = default;
};

}  // namespace qm
