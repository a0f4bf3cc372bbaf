// What the modem was found to support, for the code that runs on the sending
// worker (the modem object itself belongs to the command thread).
//
// Threads: written by the command thread when a connection completes, read
// by the sending worker.
#pragma once

#include <atomic>

namespace qm {

struct ModemCapabilities {
  std::atomic<bool> pduMode{true};   // AT+CMGF=0 works
  std::atomic<bool> textMode{true};  // AT+CMGF=1 works
  std::atomic<bool> ussd{true};      // AT+CUSD answered its probe
  // The last USSD request went as packed septets: its reply may come so.
  std::atomic<bool> ussdRequestPacked{false};
};

}  // namespace qm
