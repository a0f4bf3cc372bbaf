// How a simulated modem speaks: the dialect differences between the USB
// sticks, modules and phones users plug in. Presets name the common ones; a
// test changes single fields for the odd cases.
#pragma once

#include <string>
#include <vector>

namespace qm::test {

struct ModemProfile {
  std::string maker = "huawei";
  std::string model = "E3372";
  std::string imei = "356938035643809";
  bool echo = true;                      // echoes what it is sent until "ATE0"
  std::string notSupported = "ERROR";    // the final result for a command it does not know
  bool spacedRanges = false;             // "(0-2), (0-3)" instead of "(0-2),(0-3)"
  bool ussd = true;
  bool textMode = true;                  // besides PDU mode
  bool statusReportMemory = true;        // an "SR" storage, so reports can be stored (+CDSI)
  int capacity = 30;                     // locations of the "SM" storage
  int signal = 17;                       // "+CSQ" value
  std::string pin;                       // the SIM asks for this PIN at power-on (empty: none)
  // Vendor lines said unasked before every `vendorEvery`-th reply (0: never).
  std::vector<std::string> vendorLines;
  int vendorEvery = 0;

  // A well-behaved USB stick: everything supported, plain ranges.
  static ModemProfile UsbStick();
  // A cheap stick: "COMMAND NOT SUPPORT" (for USSD, too), vendor status
  // lines between replies, ranges written with spaces, no "SR" storage.
  static ModemProfile BudgetStick();
  // A phone on a USB cable: no USSD over AT, PDU mode only, status reports
  // only as direct "+CDS:" lines.
  static ModemProfile Phone();
};

}  // namespace qm::test
