// The AT side of a GSM modem, as the driver meets it: a dialect (see
// ModemProfile), a SIM message store, a network that takes submissions and
// delivers messages, status reports and USSD replies, and faults a test can
// switch on. FakeModem serves it on a pseudo-terminal.
//
// Answer() is called with every complete line the host wrote and returns
// what the modem says back; unsolicited lines (deliveries, reports) go out
// through the `say` function given at construction, never under a lock.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/modem_profile.h"

namespace qm::test {

// One SMS-SUBMIT the network accepted (a part of a long message is one).
struct Submission {
  std::string destination;  // "+49..." for an international number
  std::string text;         // this part's text (UTF-8)
  int reference = 0;        // the message reference the modem gave
  bool reportRequested = false;
  bool flash = false;
  int partReference = 0;    // concatenation: reference, total and number (from 1)
  int total = 1;
  int part = 1;
  bool fromMemory = false;  // sent with AT+CMSS
};

// Where an unsolicited line of a delivery goes.
enum class Timing {
  kNow,              // said at once
  kInsideSubmission,  // between "+CMGS:" and "OK" of the next accepted submission
};

class SimulatedModem {
 public:
  using Say = std::function<void(const std::string&)>;
  SimulatedModem(ModemProfile profile, Say say);

  // What the modem says to one line from the host (with its line end, or
  // ending in Ctrl-Z or Esc in data mode); nullopt when it says nothing.
  std::optional<std::string> Answer(const std::string& line);
  // Power-on state again, as after a replug: settings and the PIN lock are
  // back, the SIM's messages stay, and what the network held meanwhile is
  // stored without a word (nothing asked for announcements yet).
  void PowerCycle();
  // Unplugged: deliveries wait in the network.
  void PowerOff();

  // The network delivers a message (hexadecimal PDU with service-centre
  // part): stored and announced, or handed over directly, as AT+CNMI chose.
  // While the storage is full it waits in the network, as an SMSC retries.
  void Deliver(const std::string& pdu, Timing timing = Timing::kNow);
  // Delivers at once what waits for a submission to be announced in.
  void DeliverHeld();
  // Status reports for submissions that ask for one, with this TP-ST.
  void SendStatusReports(bool on, int status = 0);
  void SetUssdReply(std::string reply);
  // Puts a message into a storage ("SM", "ME", "SR") directly, as left
  // there before (status: 0 unread, 1 read, 2 unsent, 3 sent).
  void Store(const std::string& memory, int index, std::string pdu, int status = 0);
  // Runs before each answer to AT+CMGL (a test holds a listing there).
  void BeforeListing(std::function<void()> wait);

  // Faults.
  // The next `count` submissions are refused with "+CMS ERROR: <error>".
  void FailSubmissions(int count, int error = 500);
  // The first line starting with `prefix` (a command, or the data after a
  // prompt) makes the modem deaf and mute for `duration`: that line and
  // every line until then go unanswered.
  void HangOn(std::string prefix, std::chrono::milliseconds duration);
  // Line noise and binary garbage before about `percent` of the replies.
  void SetNoise(int percent, unsigned seed = 1);

  // What happened.
  std::vector<Submission> Submissions() const;
  int StoredCount() const;  // messages in "SM" and "ME"
  std::vector<int> StoredIndexes(const std::string& memory) const;
  // Deliveries not yet stored or handed over (the modem unplugged or full,
  // or waiting for a submission's reply).
  int WaitingInNetwork() const;

 private:
  struct Stored {
    int status = 0;  // 0 unread, 1 read, 2 stored unsent, 3 stored sent
    std::string pdu;
  };
  enum class DataMode { kNone, kSend, kWrite };

  std::optional<std::string> AnswerLocked(const std::string& command, std::vector<std::string>& unsolicited);
  std::string Ok() const { return "\r\nOK\r\n"; }
  std::string Error() const { return "\r\n" + profile_.notSupported + "\r\n"; }
  std::string CmsError(int code) const;
  std::string CmeError(int code) const;
  // The report of an error as AT+CMEE asks for it: plain, numeric or verbose.
  std::string ErrorReply(std::string_view lead, const std::map<int, std::string>& texts, int code) const;
  std::string Range(const std::vector<std::string>& groups) const;
  std::string FinishData(const std::string& data, std::vector<std::string>& unsolicited);
  std::string Submit(const std::string& pdu, bool fromMemory, std::vector<std::string>& unsolicited);
  std::string SubmitText(const std::string& text, std::vector<std::string>& unsolicited);
  // The refusal a test asked for, when one is due (it is used up).
  std::optional<std::string> Refusal();
  // Files an accepted submission: its reference, its status report and the
  // news held for it; the reply.
  std::string Accept(Submission submission, std::vector<std::string>& unsolicited);
  std::string ListMessages(const std::string& argument);
  std::string ReadMessage(int index);
  std::string DeleteMessages(const std::string& arguments, std::vector<std::string>& unsolicited);
  std::string SelectStorage(const std::string& arguments);
  std::string StorageStatus() const;
  std::string Ussd(const std::string& arguments, std::vector<std::string>& unsolicited);
  // Stores or hands over one delivery; the unsolicited lines it causes.
  std::optional<std::string> Place(const std::string& pdu);
  void PlaceWaiting(std::vector<std::string>& unsolicited);
  int FreeIndex() const;
  std::string Decorate(std::string reply);
  std::string Noise();

  const Say say_;
  ModemProfile profile_;
  mutable std::mutex mutex_;
  // Power-on settings.
  bool powered_ = true;
  bool echo_ = true;
  int cmee_ = 0;
  int cmgf_ = 0;
  int mt_ = 0;  // AT+CNMI: how deliveries are announced
  int ds_ = 0;  // and status reports
  bool pinLocked_ = false;
  int pinTries_ = 3;
  std::string readStorage_ = "SM";
  // Data mode after a prompt.
  DataMode dataMode_ = DataMode::kNone;
  int dataLength_ = 0;
  std::string textDestination_;
  // The SIM and the network.
  std::map<std::string, std::map<int, Stored>> storages_;  // "SM", "ME" and "SR"
  std::deque<std::string> network_;
  std::vector<Submission> submissions_;
  int nextReference_ = 1;
  bool statusReports_ = false;
  int reportStatus_ = 0;
  std::string ussdReply_ = "Your balance is 5.00 EUR";
  // Faults.
  int failSubmissions_ = 0;
  int failError_ = 500;
  std::string hangPrefix_;
  std::chrono::milliseconds hangFor_{0};
  std::chrono::steady_clock::time_point hungUntil_{};
  std::vector<std::string> insideSubmission_;  // PDUs delivered then
  int noisePercent_ = 0;
  std::mt19937 random_{1};
  int replies_ = 0;
  std::function<void()> beforeListing_;
};

}  // namespace qm::test
