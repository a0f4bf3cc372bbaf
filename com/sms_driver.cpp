#include "com/sms_driver.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "base/config_store.h"
#include "com/automation_errors.h"
#include "gateway/driver_counters.h"
#include "gateway/modem_snapshot.h"
#include "modem/async_serial_comm.h"
#include "modem/at_command_message.h"
#include "modem/link_status.h"
#include "modem/modem_probe.h"
#include "modem/modem_sender.h"
#include "platform/errors.h"
#include "platform/serial_enum.h"
#include "platform/utf.h"
#include "storage/table_setup.h"

namespace qm {

// What an object shares with the threads that answer for it: the replies
// it still owes, each under a ticket, its last error, and how far its port
// detection has come. The command thread's completions and the wizard's
// thread hold this, never the object, which may be gone by the time they
// run: whoever takes a reply out answers it, once, and the object answers
// what is left when it goes.
class DriverObjectState {
 public:
  enum class WizardPhase { kDetecting, kAnswering, kOver };

  uint64_t Keep(sdbus::Result<>&& result) {
    std::lock_guard lock(mutex_);
    owed_.emplace(++last_, std::move(result));
    return last_;
  }
  // The reply of `ticket`, unless it has been answered already. The caller
  // answers it outside the lock: sending takes the bus library's lock.
  std::optional<sdbus::Result<>> Take(uint64_t ticket) {
    std::lock_guard lock(mutex_);
    const auto found = owed_.find(ticket);
    if (found == owed_.end()) return std::nullopt;
    std::optional<sdbus::Result<>> result(std::move(found->second));
    owed_.erase(found);
    return result;
  }
  std::vector<sdbus::Result<>> TakeAll() {
    std::lock_guard lock(mutex_);
    std::vector<sdbus::Result<>> all;
    for (auto& [ticket, result] : owed_) all.push_back(std::move(result));
    owed_.clear();
    return all;
  }

  std::atomic<uint32_t> errorCode{0};
  std::atomic<WizardPhase> wizard{WizardPhase::kOver};

 private:
  std::mutex mutex_;
  uint64_t last_ = 0;
  std::map<uint64_t, sdbus::Result<>> owed_;
};

namespace {

constexpr const char* kDriverEvents = org::quillmoor::GSM::_ISMSDriverEvents_adaptor::INTERFACE_NAME;

// A reply must never throw out of a completion (it runs in a destructor on
// the command thread) or out of the wizard's thread.
template <class Send>
void AnswerQuietly(Send&& send) {
  try {
    send();
  } catch (...) {
    // The caller left the bus, or the bus is going down: nobody to tell.
  }
}

// Runs a handler's body; an error becomes the call's error reply.
template <class Body>
void AnswerGuarded(sdbus::Result<>& result, Body&& body) {
  try {
    Guarded(body);
  } catch (const sdbus::Error& error) {
    AnswerQuietly([&] { result.returnError(error); });
  }
}

// The string settings whose stored value is an index into a name table.
struct NameTable {
  const char* key;
  std::array<std::string_view, 5> names;
  std::size_t count;
};
constexpr NameTable kParityNames{"modem.parity", {"none", "odd", "even", "mark", "space"}, 5};
constexpr NameTable kSendModeNames{"sender.send_mode", {"pdu", "text"}, 2};
constexpr NameTable kReadModeNames{"sender.read_mode", {"index", "content", "polling", "none"}, 4};
constexpr NameTable kDeleteModeNames{"sender.delete_mode", {"none", "last", "all"}, 3};

std::string NameOf(const ConfigStore& config, const NameTable& table) {
  const int32_t index = config.GetInt(table.key);
  if (index < 0 || static_cast<std::size_t>(index) >= table.count) throw Failure(kTextConfigError);
  return std::string(table.names[static_cast<std::size_t>(index)]);
}

// Stores the index of `name` without saving: the client saves with the next
// setting that does.
void StoreName(ConfigStore& config, const NameTable& table, const std::string& name) {
  for (std::size_t i = 0; i < table.count; ++i) {
    if (EqualsIgnoreCase(name, table.names[i])) {
      config.SetInt(table.key, static_cast<int32_t>(i));
      return;
    }
  }
  throw Failure(kTextInvalidValue);
}

// A stored number as the interface's unsigned type: negative values read 0.
uint32_t StoredUnsigned(const ConfigStore& config, const char* key) {
  return static_cast<uint32_t>(std::max(config.GetInt(key), 0));
}

int32_t ClampToSetting(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, 0, std::numeric_limits<int32_t>::max()));
}

// "modem.port", with the twenty most recently used names in "port.%d.name"
// and the current one's slot in "port.cur". The wizard's thread and the bus
// thread may both set it.
void RememberPort(ConfigStore& config, const std::string& name) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  constexpr int kSlots = 20;
  config.SetString("modem.port", name);
  for (int i = 0; i < kSlots; ++i) {
    if (config.GetFormatted("port.%d.name", i) == name) {
      config.SetInt("port.cur", i);
      return;
    }
  }
  // The name in the last slot falls off.
  for (int i = kSlots - 2; i >= 0; --i) {
    const std::string held = config.GetFormatted("port.%d.name", i);
    if (!held.empty()) config.SetFormatted("port.%d.name", i + 1, held);
  }
  config.SetFormatted("port.%d.name", 0, name);
  config.SetInt("port.cur", 0);
}

// The text ErrorStr gives for a code: "" for none.
std::string ErrorText(uint32_t code) {
  return code == 0 ? std::string() : ::qm::ErrorStr(static_cast<int>(std::min<uint32_t>(code, INT32_MAX)));
}

// One port detection at a time in the process: two would open the same ports.
std::atomic<bool> wizardRunning{false};

// A completion that answers the call kept under `ticket` once the command
// thread has carried its command out; a command dropped at exit is
// answered as cancelled, and an object gone meanwhile is not answered.
RequestCompletion AnswerWhenDone(
    const std::shared_ptr<DriverObjectState>& state, uint64_t ticket,
    std::function<void(DriverObjectState&, const sdbus::Result<>&, const RequestOutcome&)> answer) {
  return RequestCompletion(
      [weak = std::weak_ptr(state), ticket, answer = std::move(answer)](const RequestOutcome& outcome) {
        const std::shared_ptr<DriverObjectState> owner = weak.lock();
        if (!owner) return;
        const std::optional<sdbus::Result<>> reply = owner->Take(ticket);
        if (!reply) return;
        AnswerQuietly([&] {
          if (outcome.status == RequestStatus::kDropped) return reply->returnError(Failure(kTextCancelled));
          answer(*owner, *reply, outcome);
        });
      });
}

// The detection that the port dialogue runs, on a thread of its own (it
// takes about a second for each port that answers). The first modem found
// becomes the port, as the dialogue's choice would.
void RunPortDetection(AutomationContext& driver, const std::shared_ptr<DriverObjectState>& state, uint64_t ticket) {
  using Phase = DriverObjectState::WizardPhase;
  bool found = false;
  try {
    const std::vector<PortEntry> modems = DetectModems(EnumeratePorts(true), driver.config);
    if (!modems.empty()) {
      RememberPort(driver.config, modems.front().portName);
      driver.config.SetInt("modem.emulation", 0);
      driver.saveConfiguration();
      found = true;
    }
  } catch (const std::exception&) {
    found = false;  // reported as a wizard that was cancelled
  }
  state->wizard.store(Phase::kAnswering);
  if (std::optional<sdbus::Result<>> reply = state->Take(ticket)) {
    if (found) state->errorCode.store(0);
    AnswerQuietly([&] { found ? reply->returnResults() : reply->returnError(Failure(kTextCancelled)); });
  }
  state->wizard.store(Phase::kOver);
  wizardRunning.store(false);
}

}  // namespace

CSMSDriver::CSMSDriver(AutomationServices& services, const std::string& path)
    : AdaptorInterfaces(services.connection, path),
      services_(services),
      path_(path),
      state_(std::make_shared<DriverObjectState>()),
      busThread_(std::this_thread::get_id()) {
  registerAdaptor();
}

CSMSDriver::~CSMSDriver() {
  unregisterAdaptor();
  Retire();
  if (!wizard_.joinable()) return;
  // Once Retire has taken the wizard's reply, a detection still running
  // ends without touching the bus, so it can be waited for. One that took
  // its reply first is answering and needs the bus library's lock, which
  // the bus thread holds while it runs handlers: it is let go instead, and
  // it holds everything it still uses.
  using Phase = DriverObjectState::WizardPhase;
  if (std::this_thread::get_id() == busThread_ && state_->wizard.load() == Phase::kAnswering) {
    wizard_.detach();
  } else {
    wizard_.join();
  }
}

void CSMSDriver::Retire() {
  for (sdbus::Result<>& result : state_->TakeAll()) {
    AnswerQuietly([&] { result.returnError(Failure(kTextCancelled)); });
  }
}

void CSMSDriver::EmitStatusChanged(sdbus::IConnection& connection, const std::string& path, uint32_t id,
                                   uint32_t status) {
  // A transient object of our own: the client's object may go while this
  // runs, and the registry's lock must not be held while sending.
  const auto emitter = sdbus::createObject(connection, path);
  emitter->emitSignal("SMSStatusChanged").onInterface(kDriverEvents).withArguments(id, status);
}

void CSMSDriver::EmitUssdReply(sdbus::IConnection& connection, const std::string& path, const std::string& text,
                               uint32_t code, const std::string& recipient) {
  const auto emitter = sdbus::createObject(connection, path);
  emitter->emitSignal("USSDReply").onInterface(kDriverEvents).withArguments(text, code, recipient);
}

// ---- methods ----

void CSMSDriver::Connect(sdbus::Result<>&& result) {
  AnswerGuarded(result, [&] {
    AsyncSerialComm& transport = services_.driver.transport;
    const LinkStatus status = transport.GetStatus();
    if (IsLinkUpOrComing(status)) return result.returnResults();
    if (status == LinkStatus::kError) return result.returnError(Failure(kTextCannotConnect));
    // The command thread opens the port; the reply follows once it has
    // tried, and the connection goes on in the background.
    const uint64_t ticket = state_->Keep(std::move(result));
    services_.driver.commands.Push(DriverCommand(
        CMD_CONNECT, 0, {},
        AnswerWhenDone(
            state_, ticket,
            [&transport](DriverObjectState& state, const sdbus::Result<>& reply, const RequestOutcome& outcome) {
              if (transport.GetStatus() != LinkStatus::kError) {
                state.errorCode.store(0);
                return reply.returnResults();
              }
              const uint32_t code = static_cast<uint32_t>(std::max(outcome.code, 0));
              state.errorCode.store(code);
              std::string text = ErrorText(code);
              if (text.empty()) text = kTextCannotConnect;
              reply.returnError(Failure(text));
            })));
  });
}

void CSMSDriver::Disconnect(sdbus::Result<>&& result) {
  AnswerGuarded(result, [&] {
    const uint64_t ticket = state_->Keep(std::move(result));
    services_.driver.commands.Push(
        DriverCommand(CMD_DISCONNECT, 0, {},
                      AnswerWhenDone(state_, ticket,
                                     [](DriverObjectState& state, const sdbus::Result<>& reply, const RequestOutcome&) {
                                       state.errorCode.store(0);
                                       reply.returnResults();
                                     })));
  });
}

void CSMSDriver::OpenConfigWizard(sdbus::Result<>&& result) {
  AnswerGuarded(result, [&] {
    const LinkStatus status = services_.driver.transport.GetStatus();
    if (IsLinkUpOrComing(status)) return result.returnResults();
    if (status == LinkStatus::kError) return result.returnError(Failure(kTextCannotConnect));
    if (wizardRunning.exchange(true)) return result.returnError(Failure(kTextCancelled));
    // The flag was clear, so this object's previous detection is over.
    if (wizard_.joinable()) wizard_.join();
    const uint64_t ticket = state_->Keep(std::move(result));
    state_->wizard.store(DriverObjectState::WizardPhase::kDetecting);
    try {
      wizard_ = std::thread(RunPortDetection, std::ref(services_.driver), state_, ticket);
    } catch (const std::system_error&) {
      state_->wizard.store(DriverObjectState::WizardPhase::kOver);
      wizardRunning.store(false);
      if (auto reply = state_->Take(ticket)) reply->returnError(Failure(kTextCancelled));
    }
  });
}

void CSMSDriver::_DeliverUSSDReply(const std::string& sContent, const uint32_t& nCode, const std::string& sRcpt) {
  Guarded([&] { EmitUssdReply(Connection(), path_, sContent, nCode, sRcpt); });
}

void CSMSDriver::_ChangeSMSStatus(const uint32_t& nID, const uint32_t& nStatusCode) {
  Guarded([&] { EmitStatusChanged(Connection(), path_, nID, nStatusCode); });
}

void CSMSDriver::SendAT(const std::string& atCmd) {
  Guarded([&] {
    std::string command = atCmd;
    if (command.empty() || command.back() != '\n') command += "\r\n";
    // The answer is not the caller's: it goes to the log.
    services_.driver.sender.Push(std::make_unique<ATCommandMessage>(std::move(command)));
  });
}

// ---- properties ----

void CSMSDriver::StoreAndSave(const char* key, int64_t value) {
  services_.driver.config.SetInt(key, ClampToSetting(value));
  services_.driver.saveConfiguration();
}

std::string CSMSDriver::PortName() {
  return Guarded([&] { return services_.driver.config.GetString("modem.port"); });
}

void CSMSDriver::PortName(const std::string& value) {
  Guarded([&] {
    if (!value.empty()) RememberPort(services_.driver.config, value);
  });
}

uint32_t CSMSDriver::BaudRate() {
  return Guarded([&] { return StoredUnsigned(services_.driver.config, "modem.baudrate"); });
}

void CSMSDriver::BaudRate(const uint32_t& value) {
  Guarded([&] { StoreAndSave("modem.baudrate", value); });
}

uint8_t CSMSDriver::DataBits() {
  return Guarded([&] { return static_cast<uint8_t>(services_.driver.config.GetInt("modem.bytesize")); });
}

void CSMSDriver::DataBits(const uint8_t& value) {
  Guarded([&] { StoreAndSave("modem.bytesize", value); });
}

std::string CSMSDriver::Parity() {
  return Guarded([&] { return NameOf(services_.driver.config, kParityNames); });
}

void CSMSDriver::Parity(const std::string& value) {
  Guarded([&] { StoreName(services_.driver.config, kParityNames, value); });
}

uint8_t CSMSDriver::StopBits() {
  return Guarded([&] { return static_cast<uint8_t>(services_.driver.config.GetInt("modem.stopbits")); });
}

void CSMSDriver::StopBits(const uint8_t& value) {
  Guarded([&] { StoreAndSave("modem.stopbits", value); });
}

std::string CSMSDriver::SendMode() {
  return Guarded([&] { return NameOf(services_.driver.config, kSendModeNames); });
}

void CSMSDriver::SendMode(const std::string& value) {
  Guarded([&] { StoreName(services_.driver.config, kSendModeNames, value); });
}

std::string CSMSDriver::ReadMode() {
  return Guarded([&] { return NameOf(services_.driver.config, kReadModeNames); });
}

void CSMSDriver::ReadMode(const std::string& value) {
  Guarded([&] { StoreName(services_.driver.config, kReadModeNames, value); });
}

std::string CSMSDriver::DeleteMode() {
  return Guarded([&] { return NameOf(services_.driver.config, kDeleteModeNames); });
}

void CSMSDriver::DeleteMode(const std::string& value) {
  Guarded([&] { StoreName(services_.driver.config, kDeleteModeNames, value); });
}

uint32_t CSMSDriver::Timeout() {
  return Guarded([&] { return StoredUnsigned(services_.driver.config, "sender.timeout") / 1000; });
}

void CSMSDriver::Timeout(const uint32_t& value) {
  Guarded([&] {
    if (value == 0) throw Failure(kTextInvalidValue);
    StoreAndSave("sender.timeout", int64_t{value} * 1000);  // seconds in, milliseconds stored
  });
}

std::string CSMSDriver::ModemName() {
  return Guarded([&] {
    ModemSnapshot modem = services_.driver.modem.Get();
    if (!modem.configured) throw Failure(kTextNotConfigured);
    return std::move(modem.model);
  });
}

uint32_t CSMSDriver::SignalStrength() {
  return Guarded([&] {
    const ModemSnapshot modem = services_.driver.modem.Get();
    if (!modem.configured) throw Failure(kTextNotConfigured);
    return static_cast<uint32_t>(std::max(modem.signalPercent, 0));
  });
}

uint32_t CSMSDriver::ModemChecks() {
  return Guarded([&] { return StoredUnsigned(services_.driver.config, "modem.checks"); });
}

void CSMSDriver::ModemChecks(const uint32_t& value) {
  Guarded([&] { StoreAndSave("modem.checks", value); });
}

uint32_t CSMSDriver::ModemFeatures() {
  return Guarded([&] { return services_.driver.modem.Get().features; });
}

uint32_t CSMSDriver::ModemFailures() {
  return Guarded([&] { return services_.driver.modem.Get().failures; });
}

std::string CSMSDriver::StatusStr() {
  return Guarded([&] { return std::string(LinkStatusText(services_.driver.transport.GetStatus())); });
}

uint32_t CSMSDriver::StatusCode() {
  return Guarded([&] { return static_cast<uint32_t>(services_.driver.transport.GetStatus()); });
}

std::string CSMSDriver::ErrorStr() {
  return Guarded([&] { return ErrorText(state_->errorCode.load()); });
}

uint32_t CSMSDriver::ErrorCode() {
  return Guarded([&] { return state_->errorCode.load(); });
}

std::string CSMSDriver::PollingMemory() {
  return Guarded([&] { return services_.driver.config.GetString("receiver.polling_memory"); });
}

void CSMSDriver::PollingMemory(const std::string& value) {
  Guarded([&] {
    services_.driver.config.SetString("receiver.polling_memory", value);
    services_.driver.saveConfiguration();
  });
}

uint32_t CSMSDriver::PollingTime() {
  return Guarded([&] { return StoredUnsigned(services_.driver.config, "receiver.polling_time"); });
}

void CSMSDriver::PollingTime(const uint32_t& value) {
  Guarded([&] {
    const int32_t seconds = ClampToSetting(value);
    services_.driver.config.SetInt("receiver.polling_time", seconds);
    if (services_.driver.setPollingTimer) services_.driver.setPollingTimer(seconds);
    services_.driver.saveConfiguration();
  });
}

uint32_t CSMSDriver::DeleteAfter() {
  return Guarded([&] { return StoredUnsigned(services_.driver.config, "sender.delete_after"); });
}

void CSMSDriver::DeleteAfter(const uint32_t& value) {
  Guarded([&] { StoreAndSave("sender.delete_after", value); });
}

bool CSMSDriver::Advanced() {
  return Guarded([&] { return services_.driver.config.GetInt("modem.advanced") != 0; });
}

void CSMSDriver::Advanced(const bool& value) {
  Guarded([&] { StoreAndSave("modem.advanced", value ? 1 : 0); });
}

uint32_t CSMSDriver::ErrorNum() {
  return Guarded([&] { return static_cast<uint32_t>(std::max(services_.driver.counters.Failures(), 0)); });
}

uint32_t CSMSDriver::OutboxSize() {
  return Guarded([&] {
    const auto& outbox = services_.driver.tables.outbox;
    return outbox ? static_cast<uint32_t>(std::max(outbox->Count(), 0)) : 0u;
  });
}

uint32_t CSMSDriver::PID() {
  return Guarded([] { return static_cast<uint32_t>(::getpid()); });
}

bool IsDriverOf(ObjectRegistry& registry, const std::string& path, const std::string& owner) {
  return !owner.empty() && registry.With<CSMSDriver>(path, owner, [](CSMSDriver&) {});
}

std::unique_ptr<AutomationObject> MakeSMSDriver(AutomationServices& services, const std::string& path) {
  return std::make_unique<CSMSDriver>(services, path);
}

}  // namespace qm
