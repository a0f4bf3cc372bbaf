// Placeholder until the SMSHandler class lands: creating one is refused.
#include "com/automation_errors.h"
#include "com/automation_services.h"

namespace qm {

std::unique_ptr<AutomationObject> MakeSMSHandler(AutomationServices&, const std::string&) {
  throw Failure("SMSHandler objects are not available yet");
}

}  // namespace qm
