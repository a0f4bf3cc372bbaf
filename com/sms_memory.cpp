// Placeholder until the SMSMemory class lands: creating one is refused.
#include "com/automation_errors.h"
#include "com/automation_services.h"

namespace qm {

std::unique_ptr<AutomationObject> MakeSMSMemory(AutomationServices&, const std::string&) {
  throw Failure("SMSMemory objects are not available yet");
}

}  // namespace qm
