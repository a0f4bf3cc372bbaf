// Placeholder until the USSDRequest class lands: creating one is refused.
#include "com/automation_errors.h"
#include "com/automation_services.h"

namespace qm {

std::unique_ptr<AutomationObject> MakeUSSDRequest(AutomationServices&, const std::string&) {
  throw Failure("USSDRequest objects are not available yet");
}

}  // namespace qm
