// Placeholder until the SMSDriver class lands: creating one is refused.
#include "com/automation_errors.h"
#include "com/automation_services.h"

namespace qm {

std::unique_ptr<AutomationObject> MakeSMSDriver(AutomationServices&, const std::string&) {
  throw Failure("SMSDriver objects are not available yet");
}

}  // namespace qm
