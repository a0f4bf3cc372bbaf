// The steps of the modem initialisation sequence and the data that drives
// them: which probe each step waits for, which feature bits a reply sets,
// what is assumed when a probe is skipped, and the texts shown when a step
// fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm {

// The state names the reply the machine is waiting for.
enum InitState : int {
  kInitSendInit = 0,         // nothing sent yet
  kInitAwaitInit = 1,        // "modem.init"
  kInitAwaitPin = 2,         // AT+CPIN=
  kInitAwaitCmeeSupport = 3, // AT+CMEE=?
  kInitAwaitCmeeSet = 4,     // AT+CMEE=1
  kInitAwaitCsms = 5,        // AT+CSMS=?
  kInitAwaitCmgfSupport = 6, // AT+CMGF=?
  kInitAwaitCnmiSupport = 7, // AT+CNMI=?
  kInitAwaitCmgdSupport = 8, // AT+CMGD=?
  kInitAwaitCpms = 9,        // AT+CPMS?
  kInitAwaitCusdSupport = 10,// AT+CUSD=?
  kInitAwaitGsn = 11,        // AT+GSN
  kInitAwaitModel = 12,      // AT+CGMM
  kInitAwaitSignal = 13,     // AT+CSQ
  kInitAwaitNotify = 14,     // the notification command AT+CNMI=...
  kInitAwaitSendMode = 15,   // AT+CMGF=0/1
  kInitAwaitSmsc = 16,       // AT+CSCA=
  kInitAwaitCustom = 17,     // "modem.custom_init.%d"
  kInitReady = 18,
};

// Check bits ("modem.checks"): a clear bit skips a probe.
enum ModemCheck : uint32_t {
  kCheckCsms = 0x1,
  kCheckCmgf = 0x2,
  kCheckCnmi = 0x4,
  kCheckCmee = 0x8,
  kCheckCmgd = 0x10,
  kCheckModel = 0x20,
  kCheckSignal = 0x40,
  kCheckCusd = 0x100,
  kCheckGsn = 0x200,
};
inline constexpr uint32_t kAllChecks = 0x7FFF;

// Feature bits (what the modem said it supports).
enum ModemFeature : uint32_t {
  kFeatureCsms0 = 0x1,
  kFeatureCsms1 = 0x2,
  kFeatureTextMode = 0x4,
  kFeaturePduMode = 0x8,
  kFeatureCnmiMode2 = 0x10,
  kFeatureNotifyIndex = 0x20,
  kFeatureNotifyContent = 0x40,
  kFeatureCmee0 = 0x80,
  kFeatureCmee1 = 0x100,
  kFeatureCmee2 = 0x200,
  kFeatureDeleteFlag0 = 0x400,
  kFeatureDeleteFlag4 = 0x800,
  kFeatureCusd0 = 0x1000,
  kFeatureCusd1 = 0x2000,
  kFeatureDs1 = 0x4000,
  kFeatureDs2 = 0x8000,
  kFeatureBm0 = 0x10000,
  kFeatureBm1 = 0x20000,
  kFeatureBm2 = 0x40000,
  kFeatureBfr0 = 0x80000,
  kFeatureBfr1 = 0x100000,
};

// Failure bits (a probe answered with an error or an unusable reply).
enum ModemFailure : uint32_t {
  kFailureCsms = 0x1,
  kFailureCmgf = 0x2,
  kFailureCnmi = 0x4,
  kFailureCmee = 0x8,
  kFailureCmgd = 0x10,
  kFailureModel = 0x20,
  kFailureSignal = 0x40,
  kFailureCpms = 0x80,
  kFailureCusd = 0x100,
  kFailureGsn = 0x200,
};

// The probe waited for in `state` is not sent when `check` is clear.
struct SkippableProbe {
  InitState state;
  uint32_t check;
};
inline constexpr SkippableProbe kSkippableProbes[] = {
    {kInitAwaitCsms, kCheckCsms},         {kInitAwaitCmgfSupport, kCheckCmgf}, {kInitAwaitCnmiSupport, kCheckCnmi},
    {kInitAwaitCmeeSupport, kCheckCmee},  {kInitAwaitCmgdSupport, kCheckCmgd}, {kInitAwaitCusdSupport, kCheckCusd},
    {kInitAwaitGsn, kCheckGsn},           {kInitAwaitModel, kCheckModel},      {kInitAwaitSignal, kCheckSignal},
};

// Entering `state` with `check` clear assumes `features`. (The states are
// those the sequence has reached when the assumption is first needed.)
struct AssumedFeatures {
  InitState state;
  uint32_t check;
  uint32_t features;
};
inline constexpr AssumedFeatures kAssumedFeatures[] = {
    {kInitAwaitInit, kCheckCsms, 0x3},          {kInitAwaitPin, kCheckCsms, 0x3},
    {kInitAwaitCsms, kCheckCmgf, 0xC},          {kInitAwaitCmgfSupport, kCheckCnmi, 0x70},
    {kInitAwaitCnmiSupport, kCheckCmee, 0x380}, {kInitAwaitCmeeSupport, kCheckCmgd, 0xC00},
    {kInitAwaitCpms, kCheckCusd, 0x3000},
};

// A capability reply in `state` listing `value` in parameter group `group`
// sets `feature`.
struct FeatureRule {
  InitState state;
  std::size_t group;
  int value;
  uint32_t feature;
};
inline constexpr FeatureRule kFeatureRules[] = {
    {kInitAwaitCmeeSupport, 0, 0, kFeatureCmee0},   {kInitAwaitCmeeSupport, 0, 1, kFeatureCmee1},
    {kInitAwaitCmeeSupport, 0, 2, kFeatureCmee2},   {kInitAwaitCsms, 0, 0, kFeatureCsms0},
    {kInitAwaitCsms, 0, 1, kFeatureCsms1},          {kInitAwaitCmgfSupport, 0, 1, kFeatureTextMode},
    {kInitAwaitCmgfSupport, 0, 0, kFeaturePduMode}, {kInitAwaitCnmiSupport, 0, 2, kFeatureCnmiMode2},
    {kInitAwaitCnmiSupport, 1, 1, kFeatureNotifyIndex}, {kInitAwaitCnmiSupport, 1, 2, kFeatureNotifyContent},
    {kInitAwaitCnmiSupport, 2, 0, kFeatureBm0},     {kInitAwaitCnmiSupport, 2, 1, kFeatureBm1},
    {kInitAwaitCnmiSupport, 2, 2, kFeatureBm2},     {kInitAwaitCnmiSupport, 3, 1, kFeatureDs1},
    {kInitAwaitCnmiSupport, 3, 2, kFeatureDs2},     {kInitAwaitCnmiSupport, 4, 0, kFeatureBfr0},
    {kInitAwaitCnmiSupport, 4, 1, kFeatureBfr1},    {kInitAwaitCmgdSupport, 1, 0, kFeatureDeleteFlag0},
    {kInitAwaitCmgdSupport, 1, 4, kFeatureDeleteFlag4}, {kInitAwaitCusdSupport, 0, 0, kFeatureCusd0},
    {kInitAwaitCusdSupport, 0, 1, kFeatureCusd1},
};

// The capability probes answered with a list reply: what a failure sets and
// says, and which probe comes next.
struct ListProbe {
  InitState state;
  uint32_t failure;
  std::string_view failureText;
  bool reportsUnparsable;   // an unusable reply line counts as a failure
  bool toleratesSimLoading; // "SM BL not ready" and a bare "ERROR" are no failure
  std::string_view next;
  InitState nextState;
};
inline constexpr ListProbe kListProbes[] = {
    {kInitAwaitCsms, kFailureCsms, "While getting SMS support (AT+CSMS): ", true, false, "AT+CMGF=?\r\n",
     kInitAwaitCmgfSupport},
    {kInitAwaitCmgfSupport, kFailureCmgf, "While getting text/PDU mode support (AT+CMGF): ", true, false,
     "AT+CNMI=?\r\n", kInitAwaitCnmiSupport},
    {kInitAwaitCnmiSupport, kFailureCnmi, "While getting notification support (AT+CNMI): ", true, false,
     "AT+CMGD=?\r\n", kInitAwaitCmgdSupport},
    {kInitAwaitCmgdSupport, kFailureCmgd, "While getting deleting support (AT+CMGD): ", true, true, "AT+CPMS?\r\n",
     kInitAwaitCpms},
    {kInitAwaitCusdSupport, kFailureCusd, "While getting USSD support (AT+CUSD):", false, false, "AT+GSN\r\n",
     kInitAwaitGsn},
};

// Texts of the other steps.
inline constexpr std::string_view kTextPin = "While entering PIN code: ";
inline constexpr std::string_view kTextCmeeSupport = "While getting error support (AT+CMEE): ";
inline constexpr std::string_view kTextCmeeSet = "While setting error mode (AT+CMEE): ";
inline constexpr std::string_view kTextCpms = "While getting modem memory types (AT+CPMS): ";
inline constexpr std::string_view kTextModel = "While getting modem model (AT+CGMM): ";  // also AT+GSN
inline constexpr std::string_view kTextSignal = "While getting signal strength (AT+CSQ): ";
inline constexpr std::string_view kTextSendMode = "While setting sending mode (AT+CMGF): ";
inline constexpr std::string_view kTextSmsc = "While setting SMSC address (AT+CSCA): ";
inline constexpr std::string_view kTextInvalidReply = "Invalid modem reply (see log for details)";
inline constexpr std::string_view kTitleProblems = "Connected, but some problems found";
inline constexpr std::string_view kTitleConnectionFailed = "Connection failed";
inline constexpr std::string_view kTextConnectionFailed =
    "The connection with the modem can't be established. Please read help or contact the technical support.";

// More failed probes than this end the sequence with the "Connection failed"
// notification.
inline constexpr int kTolerableFailures = 6;

// The errors "AT+CMGD=?" and "AT+CPMS?" may give while the SIM phone book is
// still loading.
inline constexpr std::string_view kSimLoadingErrors[] = {"SM BL not ready", "ERROR"};

}  // namespace qm
