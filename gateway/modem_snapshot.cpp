#include "gateway/modem_snapshot.h"

#include <utility>

namespace qm {

void SharedModemSnapshot::Publish(ModemSnapshot snapshot) {
  std::lock_guard lock(mutex_);
  snapshot_ = std::move(snapshot);
}

ModemSnapshot SharedModemSnapshot::Get() const {
  std::lock_guard lock(mutex_);
  return snapshot_;
}

}  // namespace qm
