// Placeholder until the SMSMessage class lands: creating one is refused.
#include "com/automation_errors.h"
#include "com/automation_services.h"

namespace qm {

std::unique_ptr<AutomationObject> MakeSMSMessage(AutomationServices&, const std::string&) {
  throw Failure("SMSMessage objects are not available yet");
}

}  // namespace qm
