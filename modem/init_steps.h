// The modem initialisation sequence as one table: a row per state, in the
// order the modem is asked, saying what is sent on entering the state, when
// it is skipped, what is assumed, how the replies are read and where to go
// next. ModemInfo::ProcessEvent is the only reader of the table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qm {

// The state names the reply the sequence is waiting for; it indexes
// kInitSteps.
enum class InitState : int {
  kSendInit = 0,         // nothing sent yet
  kAwaitInit = 1,        // "modem.init"
  kAwaitPin = 2,         // AT+CPIN=
  kAwaitCmeeSupport = 3, // AT+CMEE=?
  kAwaitCmeeSet = 4,     // AT+CMEE=1
  kAwaitCsms = 5,        // AT+CSMS=?
  kAwaitCmgfSupport = 6, // AT+CMGF=?
  kAwaitCnmiSupport = 7, // AT+CNMI=?
  kAwaitCmgdSupport = 8, // AT+CMGD=?
  kAwaitCpms = 9,        // AT+CPMS?
  kAwaitCusdSupport = 10,// AT+CUSD=?
  kAwaitGsn = 11,        // AT+GSN
  kAwaitModel = 12,      // AT+CGMM
  kAwaitSignal = 13,     // AT+CSQ
  kAwaitNotify = 14,     // the notification command AT+CNMI=...
  kAwaitSendMode = 15,   // AT+CMGF=0/1
  kAwaitSmsc = 16,       // AT+CSCA=
  kAwaitCustom = 17,     // "modem.custom_init.%d"
  kReady = 18,
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
  kFeatureCnmiMode1 = 0x200000,
  kFeatureCnmiMode3 = 0x400000,
};

// What an unchecked capability is taken to be.
inline constexpr uint32_t kCsmsFeatures = kFeatureCsms0 | kFeatureCsms1;
inline constexpr uint32_t kSendModeFeatures = kFeatureTextMode | kFeaturePduMode;
inline constexpr uint32_t kNotifyFeatures = kFeatureCnmiMode2 | kFeatureNotifyIndex | kFeatureNotifyContent;
inline constexpr uint32_t kCmeeFeatures = kFeatureCmee0 | kFeatureCmee1 | kFeatureCmee2;
inline constexpr uint32_t kDeleteFeatures = kFeatureDeleteFlag0 | kFeatureDeleteFlag4;
inline constexpr uint32_t kCusdFeatures = kFeatureCusd0 | kFeatureCusd1;

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

// The commands that depend on the configuration or on earlier replies. An
// empty result sends nothing.
enum class CommandBuilder {
  kFixed,          // the row's text
  kInitString,     // "modem.init"
  kPinCode,        // AT+CPIN=<"modem.pin">
  kNumericErrors,  // AT+CMEE=1, unless the modem said it has no numeric errors
  kNotification,   // AT+CNMI=2,... for the read mode, chosen first when features are used
  kSendMode,       // AT+CMGF=0/1, chosen first when features are used; nothing for another mode
  kSmsc,           // AT+CSCA="<address>"
  kCustom,         // "modem.custom_init.%d"
};

struct InitCommand {
  constexpr InitCommand(const char* fixed) : text(fixed) {}
  constexpr InitCommand(CommandBuilder built) : builder(built) {}
  CommandBuilder builder = CommandBuilder::kFixed;
  std::string_view text;
};

// How the events of a step are read. An event that is no reply line ends the
// step; for a probe an error is a failure.
enum class ReplyHandling {
  kNothingAwaited,  // ready
  kAnyReply,        // errors are not reported
  kInitEcho,        // the init string: its echo (and any line) is passed over
  kPinError,        // an error is notified, yet is no problem of the link
  kErrorReported,   // an error is notified as a problem
  kNotifySetting,   // as kErrorReported; a modem that refuses to announce
                    // messages is polled instead
  kCapabilities,    // probe: a list line sets the feature bits of kFeatureRules
  kMemories,        // probe: "+CPMS:" names the three memories
  kSerialNumber,    // probe: lines are not kept
  kModel,           // probe: a line is the model
  kSignal,          // probe: "+CSQ:" gives the signal strength
};

// What a probe does not count as a failure.
enum class Tolerance {
  kNothing,
  kSimLoading,      // kSimLoadingErrors, given while the SIM is still loading
  kUnparsableLine,  // a reply line that cannot be read
};

// Where the sequence goes when that depends on the configuration.
enum class NextChoice {
  kFixedState,          // the row's state
  kPinOrCmeeSupport,    // "modem.use_pin"
  kSmscOrCustom,        // an "smsc.address", else as kNextCustomOrReady
  kNextCustomOrReady,   // the next "modem.custom_init.%d" if set, else ready
};

struct NextStep {
  constexpr NextStep(InitState fixed) : state(fixed) {}
  constexpr NextStep(NextChoice chosen) : choice(chosen) {}
  InitState state = InitState::kReady;
  NextChoice choice = NextChoice::kFixedState;
};

// Entering a state with `check` clear assumes `features`. (The states are
// those the sequence has reached when the assumption is first needed.)
struct Assumption {
  uint32_t check = 0;
  uint32_t features = 0;
};

struct InitStep {
  InitState state;        // the reply waited for
  InitCommand command;    // sent on entering the state
  uint32_t skipCheck;     // clear in "modem.checks": nothing is sent
  Assumption assumed;
  ReplyHandling reply;
  Tolerance tolerates;
  uint32_t failure;       // set by a failed probe
  std::string_view text;  // notification text of an error
  NextStep next;
  // A probe's own reply line starts with this; other lines (news the modem
  // sends meanwhile) are passed over. Empty: any line.
  std::string_view replyPrefix = {};
};

inline constexpr std::string_view kTextModel = "While getting modem model (AT+CGMM): ";

// A step that sends nothing (skipped, or nothing to send) runs at once as if
// the modem had said OK. The enumerators are written bare inside the table
// only, to keep a row to two lines.
inline constexpr auto kInitSteps = [] {
  using enum InitState;
  using enum CommandBuilder;
  using enum ReplyHandling;
  using enum Tolerance;
  using enum NextChoice;
  return std::to_array<InitStep>({
      // state, command, skipped by, assumed, reply, tolerates,
      //     failure, text, next
      {kSendInit, "", 0, {}, kAnyReply, kNothing,  // the first event starts the sequence
        0, "", kAwaitInit},
      {kAwaitInit, kInitString, 0, {kCheckCsms, kCsmsFeatures}, kInitEcho, kNothing,
        0, "", kPinOrCmeeSupport},
      {kAwaitPin, kPinCode, 0, {kCheckCsms, kCsmsFeatures}, kPinError, kNothing,
        0, "While entering PIN code: ", kAwaitCmeeSupport},
      {kAwaitCmeeSupport, "AT+CMEE=?\r\n", kCheckCmee, {kCheckCmgd, kDeleteFeatures}, kCapabilities, kNothing,
        kFailureCmee, "While getting error support (AT+CMEE): ", kAwaitCmeeSet, "+CMEE:"},
      {kAwaitCmeeSet, kNumericErrors, 0, {}, kErrorReported, kNothing,
        0, "While setting error mode (AT+CMEE): ", kAwaitCsms},
      {kAwaitCsms, "AT+CSMS=?\r\n", kCheckCsms, {kCheckCmgf, kSendModeFeatures}, kCapabilities, kNothing,
        kFailureCsms, "While getting SMS support (AT+CSMS): ", kAwaitCmgfSupport, "+CSMS:"},
      {kAwaitCmgfSupport, "AT+CMGF=?\r\n", kCheckCmgf, {kCheckCnmi, kNotifyFeatures}, kCapabilities, kNothing,
        kFailureCmgf, "While getting text/PDU mode support (AT+CMGF): ", kAwaitCnmiSupport, "+CMGF:"},
      {kAwaitCnmiSupport, "AT+CNMI=?\r\n", kCheckCnmi, {kCheckCmee, kCmeeFeatures}, kCapabilities, kNothing,
        kFailureCnmi, "While getting notification support (AT+CNMI): ", kAwaitCmgdSupport, "+CNMI:"},
      {kAwaitCmgdSupport, "AT+CMGD=?\r\n", kCheckCmgd, {}, kCapabilities, kSimLoading,
        kFailureCmgd, "While getting deleting support (AT+CMGD): ", kAwaitCpms, "+CMGD:"},
      {kAwaitCpms, "AT+CPMS?\r\n", 0, {kCheckCusd, kCusdFeatures}, kMemories, kSimLoading,
        kFailureCpms, "While getting modem memory types (AT+CPMS): ", kAwaitCusdSupport, "+CPMS:"},
      {kAwaitCusdSupport, "AT+CUSD=?\r\n", kCheckCusd, {}, kCapabilities, kUnparsableLine,
        kFailureCusd, "While getting USSD support (AT+CUSD):", kAwaitGsn, "+CUSD:"},
      {kAwaitGsn, "AT+GSN\r\n", kCheckGsn, {}, kSerialNumber, kNothing,
        kFailureGsn, kTextModel, kAwaitModel},
      {kAwaitModel, "AT+CGMM\r\n", kCheckModel, {}, kModel, kNothing,
        kFailureModel, kTextModel, kAwaitSignal},
      {kAwaitSignal, "AT+CSQ\r\n", kCheckSignal, {}, kSignal, kNothing,
        kFailureSignal, "While getting signal strength (AT+CSQ): ", kAwaitNotify, "+CSQ:"},
      {kAwaitNotify, kNotification, 0, {}, kNotifySetting, kNothing,
        0, "While setting new message indications (AT+CNMI): ", kAwaitSendMode},
      {kAwaitSendMode, kSendMode, 0, {}, kErrorReported, kNothing,
        0, "While setting sending mode (AT+CMGF): ", kSmscOrCustom},
      {kAwaitSmsc, kSmsc, 0, {}, kErrorReported, kNothing,
        0, "While setting SMSC address (AT+CSCA): ", kNextCustomOrReady},
      {kAwaitCustom, kCustom, 0, {}, kAnyReply, kNothing,
        0, "", kNextCustomOrReady},
      {kReady, "", 0, {}, kNothingAwaited, kNothing,
        0, "", kReady},
  });
}();

// The table is indexed by state.
constexpr bool StepsFollowTheStates() {
  for (std::size_t i = 0; i < kInitSteps.size(); ++i) {
    if (static_cast<std::size_t>(kInitSteps[i].state) != i) return false;
  }
  return kInitSteps.size() == static_cast<std::size_t>(InitState::kReady) + 1;
}
static_assert(StepsFollowTheStates());

// A capability reply in `state` listing `value` in parameter group `group`
// sets `feature`.
struct FeatureRule {
  InitState state;
  std::size_t group;
  int value;
  uint32_t feature;
};
inline constexpr FeatureRule kFeatureRules[] = {
    {InitState::kAwaitCmeeSupport, 0, 0, kFeatureCmee0},    {InitState::kAwaitCmeeSupport, 0, 1, kFeatureCmee1},
    {InitState::kAwaitCmeeSupport, 0, 2, kFeatureCmee2},    {InitState::kAwaitCsms, 0, 0, kFeatureCsms0},
    {InitState::kAwaitCsms, 0, 1, kFeatureCsms1},           {InitState::kAwaitCmgfSupport, 0, 1, kFeatureTextMode},
    {InitState::kAwaitCmgfSupport, 0, 0, kFeaturePduMode},  {InitState::kAwaitCnmiSupport, 0, 2, kFeatureCnmiMode2},  {InitState::kAwaitCnmiSupport, 0, 1, kFeatureCnmiMode1},
    {InitState::kAwaitCnmiSupport, 0, 3, kFeatureCnmiMode3},
    {InitState::kAwaitCnmiSupport, 1, 1, kFeatureNotifyIndex},
    {InitState::kAwaitCnmiSupport, 1, 2, kFeatureNotifyContent},
    {InitState::kAwaitCnmiSupport, 2, 0, kFeatureBm0},      {InitState::kAwaitCnmiSupport, 2, 1, kFeatureBm1},
    {InitState::kAwaitCnmiSupport, 2, 2, kFeatureBm2},      {InitState::kAwaitCnmiSupport, 3, 1, kFeatureDs1},
    {InitState::kAwaitCnmiSupport, 3, 2, kFeatureDs2},      {InitState::kAwaitCnmiSupport, 4, 0, kFeatureBfr0},
    {InitState::kAwaitCnmiSupport, 4, 1, kFeatureBfr1},     {InitState::kAwaitCmgdSupport, 1, 0, kFeatureDeleteFlag0},
    {InitState::kAwaitCmgdSupport, 1, 4, kFeatureDeleteFlag4}, {InitState::kAwaitCusdSupport, 0, 0, kFeatureCusd0},
    {InitState::kAwaitCusdSupport, 0, 1, kFeatureCusd1},
};

inline constexpr std::string_view kTextInvalidReply = "Invalid modem reply (see log for details)";
inline constexpr std::string_view kTitleProblems = "Connected, but some problems found";
inline constexpr std::string_view kTextPinNotResent =
    "The SIM refused the PIN in modem.pin; it is not sent again until modem.pin changes. ";
inline constexpr std::string_view kTitleConnectionFailed = "Connection failed";
inline constexpr std::string_view kTextConnectionFailed =
    "The connection with the modem can't be established. Please read help or contact the technical support.";

// More failed probes than this end the sequence with the "Connection failed"
// notification.
inline constexpr int kTolerableFailures = 6;

// The errors "AT+CMGD=?" and "AT+CPMS?" may give while the SIM phone book is
// still loading.
inline constexpr std::string_view kSimLoadingErrors[] = {"SM BL not ready", "ERROR"};

// Right after power-on a modem may say its SIM is busy or not ready yet
// ("+CMS ERROR: 314", "+CME ERROR: 14" or 515): the step is tried again this
// many times, this long apart, before its failure counts.
inline constexpr int kSimBusyRetries = 5;
inline constexpr int kSimBusyPauseMs = 1000;

}  // namespace qm
