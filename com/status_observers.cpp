// Placeholder until the SMSDriver class lands.
#include "com/status_observers.h"

namespace qm {

void StatusObservers::Trace(const std::string&, int32_t, bool) {}
void StatusObservers::AddUssdObserver(const std::string&) {}
void StatusObservers::Forget(const std::string&) {}
void StatusObservers::StatusChanged(int32_t, MessageStatus) {}
void StatusObservers::UssdReplied(const std::string&, uint32_t, const std::string&) {}

}  // namespace qm
