#include "tests/support/simulated_modem.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "sms/pdu_decoder.h"
#include "tests/support/received_pdus.h"

namespace qm::test {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  fields.push_back(field);
  return fields;
}

int Number(const std::string& text, int fallback = -1) {
  try {
    std::size_t used = 0;
    const int value = std::stoi(text, &used);
    return used == text.size() ? value : fallback;
  } catch (...) {
    return fallback;
  }
}

bool IsHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The octet at `index` of a hexadecimal PDU, or -1.
int OctetAt(const std::string& hex, std::size_t index) {
  if (hex.size() < 2 * index + 2) return -1;
  return std::stoi(hex.substr(2 * index, 2), nullptr, 16);
}

const std::map<int, std::string> kCmeTexts = {
    {3, "operation not allowed"}, {4, "operation not supported"}, {11, "SIM PIN required"},
    {12, "SIM PUK required"},     {16, "incorrect password"},
};
const std::map<int, std::string> kCmsTexts = {
    {302, "operation not allowed"}, {304, "invalid PDU mode parameter"}, {321, "invalid memory index"},
    {322, "memory full"},           {330, "SMSC address unknown"},       {500, "unknown error"},
};

const char* kTextStatus[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL"};

}  // namespace

SimulatedModem::SimulatedModem(ModemProfile profile, Say say) : say_(std::move(say)), profile_(std::move(profile)) {
  storages_["SM"];
  storages_["ME"];
  if (profile_.statusReportMemory) storages_["SR"];
  PowerCycle();
}

void SimulatedModem::PowerCycle() {
  std::lock_guard lock(mutex_);
  echo_ = profile_.echo;
  cmee_ = 0;
  cmgf_ = 0;
  mt_ = 0;
  ds_ = 0;
  pinLocked_ = !profile_.pin.empty();
  readStorage_ = "SM";
  dataMode_ = DataMode::kNone;
  hungUntil_ = {};
  // Held for a submission that never came: the network still has them.
  network_.insert(network_.end(), insideSubmission_.begin(), insideSubmission_.end());
  insideSubmission_.clear();
  powered_ = true;
  std::vector<std::string> unheard;
  PlaceWaiting(unheard);
}

void SimulatedModem::PowerOff() {
  std::lock_guard lock(mutex_);
  powered_ = false;
}

std::optional<std::string> SimulatedModem::Answer(const std::string& line) {
  std::vector<std::string> unsolicited;
  std::optional<std::string> reply;
  {
    std::lock_guard lock(mutex_);
    if (std::chrono::steady_clock::now() < hungUntil_) {
      dataMode_ = DataMode::kNone;
      return std::nullopt;
    }
    const bool echoing = echo_;  // ATE0 is echoed itself
    std::string command = line;
    while (!command.empty() && (command.back() == '\r' || command.back() == '\n')) command.pop_back();
    if (!hangPrefix_.empty() && StartsWith(command, hangPrefix_)) {
      hangPrefix_.clear();
      hungUntil_ = std::chrono::steady_clock::now() + hangFor_;
      dataMode_ = DataMode::kNone;
      return std::nullopt;
    }
    if (dataMode_ != DataMode::kNone) {
      reply = FinishData(line, unsolicited);
    } else {
      if (command.empty()) return std::nullopt;
      reply = AnswerLocked(command, unsolicited);
    }
    if (reply) {
      *reply = Decorate(std::move(*reply));
      for (const std::string& u : unsolicited) *reply += u;
      if (echoing) {
        std::string echoed = line;
        if (!echoed.empty() && (echoed.back() == '\x1A' || echoed.back() == '\x1B')) echoed.pop_back();
        *reply = echoed + *reply;
      }
    }
  }
  return reply;
}

std::optional<std::string> SimulatedModem::AnswerLocked(const std::string& command,
                                                        std::vector<std::string>& unsolicited) {
  const auto argumentsOf = [&](std::string_view prefix) { return command.substr(prefix.size()); };
  const bool smsCommand = StartsWith(command, "AT+CMG") || StartsWith(command, "AT+CMSS") ||
                          StartsWith(command, "AT+CPMS") || StartsWith(command, "AT+CNMI=") ||
                          StartsWith(command, "AT+CUSD=1") || StartsWith(command, "AT+CSCA");
  if (pinLocked_ && smsCommand && !StartsWith(command, "AT+CMGF") && !StartsWith(command, "AT+CMEE") &&
      !command.ends_with("=?")) {
    return CmeError(11);
  }
  if (StartsWith(command, "ATE0") || StartsWith(command, "ATE1")) {
    echo_ = command[3] == '1';
    return Ok();
  }
  if (StartsWith(command, "ATZ")) {
    echo_ = profile_.echo;
    mt_ = ds_ = cmgf_ = 0;
    return Ok();
  }
  if (StartsWith(command, "AT") && command.size() == 2) return Ok();
  if (StartsWith(command, "AT+CMEE=?")) return "\r\n+CMEE: " + Range({"0-2"}) + "\r\n" + Ok();
  if (StartsWith(command, "AT+CMEE=")) {
    const int mode = Number(argumentsOf("AT+CMEE="));
    if (mode < 0 || mode > 2) return Error();
    cmee_ = mode;
    return Ok();
  }
  if (StartsWith(command, "AT+CPIN?")) return std::string(pinLocked_ ? "\r\n+CPIN: SIM PIN\r\n" : "\r\n+CPIN: READY\r\n") + Ok();
  if (StartsWith(command, "AT+CPIN=")) {
    std::string pin = argumentsOf("AT+CPIN=");
    pin.erase(std::remove(pin.begin(), pin.end(), '"'), pin.end());
    if (!pinLocked_) return CmeError(3);
    if (pinTries_ <= 0) return CmeError(12);
    if (pin != profile_.pin) {
      --pinTries_;
      return CmeError(16);
    }
    pinLocked_ = false;
    pinTries_ = 3;
    return Ok();
  }
  if (StartsWith(command, "AT+CSMS=?")) return "\r\n+CSMS: " + Range({"0,1"}) + "\r\n" + Ok();
  if (StartsWith(command, "AT+CSMS=")) return "\r\n+CSMS: 1,1,1\r\n" + Ok();
  if (StartsWith(command, "AT+CMGF=?")) return "\r\n+CMGF: " + Range({profile_.textMode ? "0,1" : "0"}) + "\r\n" + Ok();
  if (StartsWith(command, "AT+CMGF=")) {
    const int mode = Number(argumentsOf("AT+CMGF="));
    if (mode != 0 && !(mode == 1 && profile_.textMode)) return Error();
    cmgf_ = mode;
    return Ok();
  }
  if (StartsWith(command, "AT+CNMI=?")) {
    return "\r\n+CNMI: " + Range({"0-2", "0-3", "0,2", profile_.statusReportMemory ? "0-2" : "0,1", "0,1"}) + "\r\n" +
           Ok();
  }
  if (StartsWith(command, "AT+CNMI=")) {
    const auto fields = SplitArguments(argumentsOf("AT+CNMI="));
    const int mt = fields.size() > 1 ? Number(fields[1]) : 0;
    const int ds = fields.size() > 3 ? Number(fields[3]) : 0;
    if (mt < 0 || mt > 3 || ds < 0 || ds > (profile_.statusReportMemory ? 2 : 1)) return CmsError(302);
    mt_ = mt;
    ds_ = ds;
    PlaceWaiting(unsolicited);
    return Ok();
  }
  if (StartsWith(command, "AT+CMGD=?")) {
    return "\r\n+CMGD: " + Range({"1-" + std::to_string(profile_.capacity), "0-4"}) + "\r\n" + Ok();
  }
  if (StartsWith(command, "AT+CMGD=")) return DeleteMessages(argumentsOf("AT+CMGD="), unsolicited);
  if (StartsWith(command, "AT+CPMS?")) return StorageStatus();
  if (StartsWith(command, "AT+CPMS=?")) {
    return std::string(profile_.statusReportMemory ? "\r\n+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\")\r\n"
                                                   : "\r\n+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\")\r\n") +
           Ok();
  }
  if (StartsWith(command, "AT+CPMS=")) return SelectStorage(argumentsOf("AT+CPMS="));
  if (StartsWith(command, "AT+CUSD")) return Ussd(command.substr(7), unsolicited);
  if (StartsWith(command, "AT+GSN")) return "\r\n" + profile_.imei + "\r\n" + Ok();
  if (StartsWith(command, "AT+CGMM")) return "\r\n" + profile_.model + "\r\n" + Ok();
  if (StartsWith(command, "AT+CGMI")) return "\r\n" + profile_.maker + "\r\n" + Ok();
  if (StartsWith(command, "AT+CSQ")) return "\r\n+CSQ: " + std::to_string(profile_.signal) + ",99\r\n" + Ok();
  if (StartsWith(command, "AT+CSCA?")) return "\r\n+CSCA: \"+491710760000\",145\r\n" + Ok();
  if (StartsWith(command, "AT+CSCA=") || StartsWith(command, "AT+CNMA")) return Ok();
  if (StartsWith(command, "AT+CREG?")) return "\r\n+CREG: 0,1\r\n" + Ok();
  if (StartsWith(command, "AT+CMGS=") || StartsWith(command, "AT+CMGW=")) {
    const bool write = StartsWith(command, "AT+CMGW=");
    const std::string arguments = argumentsOf("AT+CMGS=");
    if (cmgf_ == 1) {
      const auto fields = SplitArguments(arguments);
      textDestination_ = fields[0];
    } else {
      dataLength_ = Number(arguments);
      if (dataLength_ <= 0 || dataLength_ > 164) return CmsError(304);
    }
    dataMode_ = write ? DataMode::kWrite : DataMode::kSend;
    return std::string("\r\n> ");
  }
  if (StartsWith(command, "AT+CMSS=")) {
    std::map<int, Stored>& sm = storages_["SM"];
    const auto entry = sm.find(Number(argumentsOf("AT+CMSS=")));
    if (entry == sm.end() || entry->second.status < 2) return CmsError(321);
    std::string reply = Submit(entry->second.pdu, true, unsolicited);
    if (reply.find("+CMSS:") != std::string::npos) entry->second.status = 3;
    return reply;
  }
  if (StartsWith(command, "AT+CMGR=")) return ReadMessage(Number(argumentsOf("AT+CMGR=")));
  if (StartsWith(command, "AT+CMGL")) {
    if (beforeListing_) beforeListing_();
    return ListMessages(command.size() > 8 ? argumentsOf("AT+CMGL=") : "");
  }
  return "\r\n" + profile_.notSupported + "\r\n";
}

std::string SimulatedModem::FinishData(const std::string& data, std::vector<std::string>& unsolicited) {
  const DataMode mode = std::exchange(dataMode_, DataMode::kNone);
  if (data.empty() || data.back() == '\x1B') return Ok();  // cancelled
  const std::string body = data.substr(0, data.size() - 1);
  if (cmgf_ == 1) {
    if (mode == DataMode::kWrite) return CmsError(302);
    return SubmitText(body, unsolicited);
  }
  if (!IsHex(body) || body.size() % 2 != 0 || OctetAt(body, 0) < 0 ||
      static_cast<int>(body.size() / 2) - 1 - OctetAt(body, 0) != dataLength_) {
    return CmsError(304);
  }
  if (mode == DataMode::kSend) return Submit(body, false, unsolicited);
  const int index = FreeIndex();
  if (index < 0) return CmsError(322);
  storages_["SM"][index] = Stored{2, body};
  return "\r\n+CMGW: " + std::to_string(index) + "\r\n" + Ok();
}

std::string SimulatedModem::Submit(const std::string& pdu, bool fromMemory, std::vector<std::string>& unsolicited) {
  const std::optional<DecodedPdu> decoded = DecodeSubmitPdu(HexToBytes(pdu));
  if (!decoded) return CmsError(304);
  if (auto refusal = Refusal()) return *refusal;
  const int sca = OctetAt(pdu, 0);
  const int firstOctet = OctetAt(pdu, sca + 1);
  const int addressDigits = OctetAt(pdu, sca + 3);
  const int typeOfAddress = OctetAt(pdu, sca + 4);
  const int dcs = OctetAt(pdu, sca + 5 + (addressDigits + 1) / 2 + 1);
  Submission submission;
  submission.destination = decoded->from;
  if (typeOfAddress == 0x91 && !submission.destination.starts_with('+')) submission.destination.insert(0, "+");
  submission.text = decoded->text;
  submission.reportRequested = (firstOctet & 0x20) != 0;
  submission.flash = dcs >= 0 && (dcs & 0xD3) == 0x10;
  submission.partReference = decoded->reference;
  submission.total = decoded->total;
  submission.part = decoded->part + 1;
  submission.fromMemory = fromMemory;
  return Accept(std::move(submission), unsolicited);
}

std::string SimulatedModem::SubmitText(const std::string& text, std::vector<std::string>& unsolicited) {
  if (auto refusal = Refusal()) return *refusal;
  Submission submission;
  submission.destination = textDestination_;
  submission.text = text;
  return Accept(std::move(submission), unsolicited);
}

std::optional<std::string> SimulatedModem::Refusal() {
  if (failSubmissions_ <= 0) return std::nullopt;
  --failSubmissions_;
  return CmsError(failError_);
}

std::string SimulatedModem::Accept(Submission submission, std::vector<std::string>& unsolicited) {
  submission.reference = nextReference_;
  nextReference_ = (nextReference_ + 1) % 256;
  submissions_.push_back(submission);
  if (submission.reportRequested && statusReports_) {
    const std::string report = StatusReportPdu(submission.reference, submission.destination, reportStatus_);
    if (ds_ == 1) {
      unsolicited.push_back("\r\n+CDS: " + std::to_string(TpduLength(report)) + "\r\n" + report + "\r\n");
    } else if (ds_ == 2) {
      int index = 1;
      std::map<int, Stored>& reports = storages_.at("SR");
      while (reports.count(index) != 0) ++index;
      reports[index] = Stored{0, report};
      unsolicited.push_back("\r\n+CDSI: \"SR\"," + std::to_string(index) + "\r\n");
    }
  }
  std::string news;
  for (const std::string& delivered : std::exchange(insideSubmission_, {})) {
    const std::optional<std::string> announcement = Place(delivered);
    if (!announcement) network_.push_back(delivered);
    if (announcement) news += *announcement;
  }
  return "\r\n" + std::string(submission.fromMemory ? "+CMSS: " : "+CMGS: ") + std::to_string(submission.reference) +
         "\r\n" + news + Ok();
}

std::string SimulatedModem::ListMessages(const std::string& argument) {
  int wanted = Number(argument);
  if (cmgf_ == 1) {
    wanted = -1;
    for (int i = 0; i < 5; ++i) {
      if (argument == "\"" + std::string(kTextStatus[i]) + "\"") wanted = i;
    }
  }
  if (argument.empty()) wanted = 0;
  if (wanted < 0 || wanted > 4) return CmsError(302);
  std::map<int, Stored>& storage = storages_[readStorage_];
  std::string reply;
  for (auto& [index, entry] : storage) {
    if (wanted != 4 && entry.status != wanted) continue;
    if (cmgf_ == 1) {
      const auto decoded = DecodeReceivedPdu(HexToBytes(entry.pdu));
      reply += "\r\n+CMGL: " + std::to_string(index) + ",\"" + kTextStatus[entry.status] + "\",\"" +
               (decoded ? decoded->from : "") + "\",,\"12/08/07,12:34:56+00\"\r\n" + (decoded ? decoded->text : "");
    } else {
      reply += "\r\n+CMGL: " + std::to_string(index) + "," + std::to_string(entry.status) + ",," +
               std::to_string(TpduLength(entry.pdu)) + "\r\n" + entry.pdu;
    }
    if (entry.status == 0) entry.status = 1;
  }
  return reply + (reply.empty() ? "" : "\r\n") + Ok();
}

std::string SimulatedModem::ReadMessage(int index) {
  std::map<int, Stored>& storage = storages_[readStorage_];
  const auto entry = storage.find(index);
  if (entry == storage.end()) return CmsError(321);
  const int status = entry->second.status;
  if (status == 0) entry->second.status = 1;
  if (cmgf_ == 1) {
    const auto decoded = DecodeReceivedPdu(HexToBytes(entry->second.pdu));
    return "\r\n+CMGR: \"" + std::string(kTextStatus[status]) + "\",\"" + (decoded ? decoded->from : "") +
           "\",,\"12/08/07,12:34:56+00\"\r\n" + (decoded ? decoded->text : "") + "\r\n" + Ok();
  }
  return "\r\n+CMGR: " + std::to_string(status) + ",," + std::to_string(TpduLength(entry->second.pdu)) + "\r\n" +
         entry->second.pdu + "\r\n" + Ok();
}

std::string SimulatedModem::DeleteMessages(const std::string& arguments, std::vector<std::string>& unsolicited) {
  const auto fields = SplitArguments(arguments);
  const int index = Number(fields[0]);
  const int flag = fields.size() > 1 ? Number(fields[1]) : 0;
  if (flag < 0 || flag > 4 || (flag == 0 && index < 0)) return CmsError(302);
  std::map<int, Stored>& storage = storages_[readStorage_];
  if (flag == 0) {
    storage.erase(index);
  } else {
    // 1 read, 2 read and sent, 3 also unsent, 4 everything.
    std::erase_if(storage, [flag](const auto& entry) {
      const int status = entry.second.status;
      return flag == 4 || status == 1 || (flag >= 2 && status == 3) || (flag >= 3 && status == 2);
    });
  }
  PlaceWaiting(unsolicited);
  return Ok();
}

std::string SimulatedModem::SelectStorage(const std::string& arguments) {
  const auto fields = SplitArguments(arguments);
  for (const std::string& name : fields) {
    if (storages_.count(name) == 0) return CmsError(302);
  }
  readStorage_ = fields[0];
  const std::string used = std::to_string(storages_[readStorage_].size());
  const std::string capacity = std::to_string(profile_.capacity);
  const std::string sm = std::to_string(storages_["SM"].size());
  return "\r\n+CPMS: " + used + "," + capacity + "," + sm + "," + capacity + "," + sm + "," + capacity + "\r\n" + Ok();
}

std::string SimulatedModem::StorageStatus() const {
  const std::string capacity = std::to_string(profile_.capacity);
  const auto count = [this](const std::string& name) {
    const auto storage = storages_.find(name);
    return std::to_string(storage == storages_.end() ? 0 : storage->second.size());
  };
  const std::string used = count("SM");
  const std::string first = count(readStorage_);
  return "\r\n+CPMS: \"" + readStorage_ + "\"," + first + "," + capacity + ",\"SM\"," + used + "," + capacity +
         ",\"SM\"," + used + "," + capacity + "\r\n" + Ok();
}

std::string SimulatedModem::Ussd(const std::string& arguments, std::vector<std::string>& unsolicited) {
  if (!profile_.ussd) return "\r\n" + profile_.notSupported + "\r\n";
  if (arguments == "=?") return "\r\n+CUSD: " + Range({"0-2"}) + "\r\n" + Ok();
  if (arguments == "?") return "\r\n+CUSD: 0\r\n" + Ok();
  if (!arguments.starts_with("=")) return Error();
  const auto fields = SplitArguments(arguments.substr(1));
  if (Number(fields[0]) == 1 && fields.size() > 1) {
    unsolicited.push_back("\r\n+CUSD: 0,\"" + ussdReply_ + "\",15\r\n");
  }
  return Ok();
}

std::string SimulatedModem::CmsError(int code) const { return ErrorReply("+CMS ERROR: ", kCmsTexts, code); }

std::string SimulatedModem::CmeError(int code) const { return ErrorReply("+CME ERROR: ", kCmeTexts, code); }

std::string SimulatedModem::ErrorReply(std::string_view lead, const std::map<int, std::string>& texts, int code) const {
  if (cmee_ == 0) return "\r\nERROR\r\n";
  const auto text = texts.find(code);
  const std::string detail = cmee_ == 2 && text != texts.end() ? text->second : std::to_string(code);
  return "\r\n" + std::string(lead) + detail + "\r\n";
}

std::string SimulatedModem::Range(const std::vector<std::string>& groups) const {
  std::string out;
  for (const std::string& group : groups) {
    if (!out.empty()) out += profile_.spacedRanges ? ", " : ",";
    out += "(" + group + ")";
  }
  return out;
}

void SimulatedModem::Deliver(const std::string& pdu, Timing timing) {
  std::optional<std::string> announcement;
  {
    std::lock_guard lock(mutex_);
    if (timing == Timing::kInsideSubmission) {
      insideSubmission_.push_back(pdu);
      return;
    }
    if (!powered_ || !network_.empty() || !(announcement = Place(pdu))) {
      network_.push_back(pdu);
      return;
    }
  }
  if (!announcement->empty()) say_(*announcement);
}

std::optional<std::string> SimulatedModem::Place(const std::string& pdu) {
  if (mt_ == 2) return "\r\n+CMT: ," + std::to_string(TpduLength(pdu)) + "\r\n" + pdu + "\r\n";
  const int index = FreeIndex();
  if (index < 0) return std::nullopt;
  storages_["SM"][index] = Stored{0, pdu};
  if (mt_ == 0) return std::string();  // stored quietly, as before AT+CNMI
  return "\r\n+CMTI: \"SM\"," + std::to_string(index) + "\r\n";
}

void SimulatedModem::PlaceWaiting(std::vector<std::string>& unsolicited) {
  while (!network_.empty()) {
    const std::optional<std::string> announcement = Place(network_.front());
    if (!announcement) return;
    network_.pop_front();
    if (!announcement->empty()) unsolicited.push_back(*announcement);
  }
}

int SimulatedModem::FreeIndex() const {
  for (int index = 1; index <= profile_.capacity; ++index) {
    if (storages_.at("SM").count(index) == 0) return index;
  }
  return -1;
}

std::string SimulatedModem::Decorate(std::string reply) {
  ++replies_;
  if (profile_.vendorEvery > 0 && !profile_.vendorLines.empty() && replies_ % profile_.vendorEvery == 0) {
    reply = "\r\n" + profile_.vendorLines[(replies_ / profile_.vendorEvery) % profile_.vendorLines.size()] + "\r\n" +
            reply;
  }
  if (noisePercent_ > 0 && static_cast<int>(random_() % 100) < noisePercent_) reply = Noise() + reply;
  return reply;
}

std::string SimulatedModem::Noise() {
  // Never a line a modem could mean: nothing that starts like a result code,
  // a prompt or an information line.
  static const std::string kJunk = "~#%&*=!?\x01\x02\x07\x7F\x80\x9F\xC0\xFE\xFF";
  std::string noise = "\r\n";
  const int length = 1 + static_cast<int>(random_() % 12);
  for (int i = 0; i < length; ++i) noise += kJunk[random_() % kJunk.size()];
  if (random_() % 2 == 0) noise += std::string(1, '\0') + "\xFF";
  return noise + "\r\n";
}

void SimulatedModem::Store(const std::string& memory, int index, std::string pdu, int status) {
  std::lock_guard lock(mutex_);
  storages_[memory][index] = Stored{status, std::move(pdu)};
}

std::vector<int> SimulatedModem::StoredIndexes(const std::string& memory) const {
  std::lock_guard lock(mutex_);
  std::vector<int> indexes;
  const auto storage = storages_.find(memory);
  if (storage != storages_.end()) {
    for (const auto& [index, entry] : storage->second) indexes.push_back(index);
  }
  return indexes;
}

void SimulatedModem::BeforeListing(std::function<void()> wait) {
  std::lock_guard lock(mutex_);
  beforeListing_ = std::move(wait);
}

void SimulatedModem::SendStatusReports(bool on, int status) {
  std::lock_guard lock(mutex_);
  statusReports_ = on;
  reportStatus_ = status;
}

void SimulatedModem::SetUssdReply(std::string reply) {
  std::lock_guard lock(mutex_);
  ussdReply_ = std::move(reply);
}

void SimulatedModem::FailSubmissions(int count, int error) {
  std::lock_guard lock(mutex_);
  failSubmissions_ = count;
  failError_ = error;
}

void SimulatedModem::HangOn(std::string prefix, std::chrono::milliseconds duration) {
  std::lock_guard lock(mutex_);
  hangPrefix_ = std::move(prefix);
  hangFor_ = duration;
}

void SimulatedModem::SetNoise(int percent, unsigned seed) {
  std::lock_guard lock(mutex_);
  noisePercent_ = percent;
  random_.seed(seed);
}

std::vector<Submission> SimulatedModem::Submissions() const {
  std::lock_guard lock(mutex_);
  return submissions_;
}

int SimulatedModem::StoredCount() const {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const auto& [name, storage] : storages_) count += name == "SR" ? 0 : static_cast<int>(storage.size());
  return count;
}

int SimulatedModem::WaitingInNetwork() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(network_.size() + insideSubmission_.size());
}

void SimulatedModem::DeliverHeld() {
  std::vector<std::string> held;
  {
    std::lock_guard lock(mutex_);
    held = std::exchange(insideSubmission_, {});
  }
  for (const std::string& pdu : held) Deliver(pdu);
}

ModemProfile ModemProfile::UsbStick() { return ModemProfile{}; }

ModemProfile ModemProfile::BudgetStick() {
  ModemProfile profile;
  profile.maker = "ZTE CORPORATION";
  profile.model = "MF190";
  profile.notSupported = "COMMAND NOT SUPPORT";
  profile.spacedRanges = true;
  profile.statusReportMemory = false;
  profile.ussd = false;  // the probe meets "COMMAND NOT SUPPORT"
  profile.vendorLines = {"^RSSI: 14", "^MODE: 5,4", "^BOOT: 20952548,0,0,0,72", "^SRVST: 2"};
  profile.vendorEvery = 3;
  return profile;
}

ModemProfile ModemProfile::Phone() {
  ModemProfile profile;
  profile.maker = "Nokia";
  profile.model = "Nokia 6230i";
  profile.ussd = false;
  profile.textMode = false;
  profile.statusReportMemory = false;
  profile.capacity = 10;
  return profile;
}

}  // namespace qm::test
