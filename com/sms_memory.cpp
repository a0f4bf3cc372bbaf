#include "com/sms_memory.h"

#include <chrono>
#include <limits>
#include <mutex>
#include <utility>

#include "base/config_store.h"
#include "base/logger.h"
#include "com/automation_errors.h"
#include "com/sms_message.h"
#include "com/sync_waits.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

// The index an Item call names, as a 32-bit integer; nullopt when the
// variant holds no integer or one outside that range.
std::optional<int64_t> IndexOf(const sdbus::Variant& index) {
  const std::string type = index.peekValueType();
  int64_t value = 0;
  if (type == "y") {
    value = index.get<uint8_t>();
  } else if (type == "n") {
    value = index.get<int16_t>();
  } else if (type == "q") {
    value = index.get<uint16_t>();
  } else if (type == "i") {
    value = index.get<int32_t>();
  } else if (type == "u") {
    value = index.get<uint32_t>();
  } else if (type == "x") {
    value = index.get<int64_t>();
  } else if (type == "t") {
    const uint64_t wide = index.get<uint64_t>();
    if (wide > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
    value = static_cast<int64_t>(wide);
  } else {
    return std::nullopt;
  }
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return value;
}

void ThrowIfRefused(MemoryAccess access) {
  if (access != MemoryAccess::kAllowed) throw Failure(MemoryAccessText(access));
}

}  // namespace

const char* MemoryAccessText(MemoryAccess access) {
  switch (access) {
    case MemoryAccess::kAllowed:
      return "";
    case MemoryAccess::kCannotConnect:
      return kTextCannotConnect;
    case MemoryAccess::kNotConfigured:
      return kTextNotConfigured;
    case MemoryAccess::kAlreadyReading:
      return kTextAlreadyReading;
  }
  return "";
}

bool IsMemoryTypeName(const std::string& name) {
  if (name.size() > 16) return false;
  for (const char c : name) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

// A ReadSync between the bus thread, which answers it once the listing has
// ended and the items are made, and the waiter thread, which polls it and
// gives up after the time-out. Whichever comes first decides.
struct CSMSMemory::SyncState {
  explicit SyncState(uint32_t seconds) : start(Clock::now()), timeout(seconds) {}

  Polled<Done> Poll() {
    std::lock_guard lock(mutex);
    if (answer) return *answer;
    if (!claimed && Clock::now() - start > timeout) {
      gaveUp = true;
      return Failure(kTextTimeout);
    }
    return NotYet{};
  }
  // The listing has ended: false when the call has given up already.
  bool Claim() {
    std::lock_guard lock(mutex);
    if (gaveUp) return false;
    claimed = true;
    return true;
  }
  void Answer(Polled<Done> value) {
    std::lock_guard lock(mutex);
    if (!gaveUp && !answer) answer = std::move(value);
  }

  std::mutex mutex;
  const Clock::time_point start;
  const std::chrono::seconds timeout;
  bool claimed = false;
  bool gaveUp = false;
  std::optional<Polled<Done>> answer;
};

CSMSMemory::CSMSMemory(AutomationServices& services, const std::string& path)
    : AdaptorInterfaces(services.connection, path),
      services_(services),
      path_(path),
      busName_(services.connection.getUniqueName()) {
  registerAdaptor();
}

CSMSMemory::~CSMSMemory() {
  DropItems();
  unregisterAdaptor();
}

void CSMSMemory::Retire() {
  if (pending_) {
    services_.driver.memoryReads.Forget(pending_->ticket);
    if (pending_->sync) pending_->sync->Answer(Failure(kTextCancelled));
    pending_.reset();
  }
  DropItems();
}

std::string CSMSMemory::Caller() { return getObject().getCurrentlyProcessedMessage()->getSender(); }

void CSMSMemory::Read() {
  Guarded([&] { StartRead(ReadKind::kRead, nullptr); });
}

void CSMSMemory::ReadSync(sdbus::Result<>&& result, uint32_t nTimeout) {
  auto sync = std::make_shared<SyncState>(nTimeout);
  try {
    Guarded([&] { StartRead(ReadKind::kSync, sync); });
  } catch (const sdbus::Error& error) {
    result.returnError(error);
    return;
  }
  services_.syncWaits.Wait<Done>(Caller(), std::move(result), [sync] { return sync->Poll(); });
}

void CSMSMemory::StartRead(ReadKind kind, std::shared_ptr<SyncState> sync) {
  const AutomationReader::Requested requested = services_.driver.memoryReads.Request(EndOfReadCall());
  ThrowIfRefused(requested.access);
  // An earlier read of this object has its outcome by now (no other listing
  // could start before it ended), though its call may still be on its way.
  CompletePendingRead();
  if (pending_) services_.driver.memoryReads.Forget(pending_->ticket);
  pending_ = PendingRead{requested.ticket, kind, std::move(sync)};
}

AutomationReader::Finished CSMSMemory::EndOfReadCall() const {
  // Runs on the command thread: it only sends the call, which is served on
  // the bus thread once that is free. No reply is asked for.
  return [&connection = services_.connection, &log = services_.driver.log, busName = busName_, path = path_](
             AutomationReader::Ticket, const std::string& error) {
    try {
      const auto self = sdbus::createProxy(connection, busName, path);
      sdbus::MethodCall call =
          self->createMethodCall(org::quillmoor::GSM::ISMSMemory_adaptor::INTERFACE_NAME, "_TriggerEvent");
      call << error;
      call.dontExpectReply();
      self->callMethod(call);
    } catch (const std::exception& e) {
      log.Write(LogLevel::kError, std::string("The memory reader could not be told the reading ended: ") + e.what());
    }
  };
}

void CSMSMemory::CompletePendingRead() {
  if (!pending_) return;
  std::optional<MemoryReadOutcome> outcome = services_.driver.memoryReads.Take(pending_->ticket);
  if (!outcome) return;  // still reading: the call came from an earlier read
  const PendingRead read = std::exchange(pending_, std::nullopt).value();
  if (read.kind == ReadKind::kSync) {
    if (!read.sync->Claim()) return;  // it answered "Timeout"; the list stays as it was
    if (outcome->refused != MemoryAccess::kAllowed) {
      read.sync->Answer(Failure(MemoryAccessText(outcome->refused)));
      return;
    }
    const std::string failure = Rebuild(std::move(outcome->messages));
    const std::string& error = !outcome->error.empty() ? outcome->error : failure;
    read.sync->Answer(error.empty() ? Polled<Done>(Done{}) : Polled<Done>(Failure(error)));
    return;
  }
  if (outcome->refused != MemoryAccess::kAllowed) {
    emitFailed(MemoryAccessText(outcome->refused));
    return;
  }
  const std::string failure = Rebuild(std::move(outcome->messages));
  if (!outcome->error.empty() || !failure.empty()) {
    emitFailed(!outcome->error.empty() ? outcome->error : failure);
  } else {
    emitCompleted();
  }
}

void CSMSMemory::_TriggerEvent(const std::string& sError) {
  Guarded([&] {
    if (Caller() == busName_) {
      CompletePendingRead();
      return;
    }
    // A client's call: this object stops being the driver's reader, and the
    // list is made again from its messages.
    if (pending_ && pending_->kind == ReadKind::kRead) {
      services_.driver.memoryReads.Forget(pending_->ticket);
      pending_.reset();
    }
    std::vector<std::unique_ptr<SMSMessage>> messages;
    for (const ListItem& item : items_) messages.push_back(item.message->Clone());
    const std::string failure = Rebuild(std::move(messages));
    if (!sError.empty() || !failure.empty()) {
      emitFailed(!sError.empty() ? sError : failure);
    } else {
      emitCompleted();
    }
  });
}

std::string CSMSMemory::Rebuild(std::vector<std::unique_ptr<SMSMessage>> messages) {
  DropItems();
  try {
    for (std::unique_ptr<SMSMessage>& message : messages) {
      ListItem item;
      item.path = path_ + "/" + std::to_string(nextItem_++);
      item.object = MakeSMSMessageFrom(services_, item.path, *message);
      item.message = std::move(message);
      items_.push_back(std::move(item));
    }
  } catch (const std::exception& e) {
    DropItems();
    return e.what();
  }
  return {};
}

void CSMSMemory::DropItems() {
  for (ListItem& item : items_) item.object->Retire();
  items_.clear();
}

void CSMSMemory::Remove(const uint32_t& index) {
  Guarded([&] {
    AutomationReader& reader = services_.driver.memoryReads;
    ThrowIfRefused(reader.Check());
    if (index >= items_.size()) throw InvalidArg(kTextInvalidValue);
    ThrowIfRefused(reader.Remove(*items_[index].message));
    items_[index].object->Retire();
    items_.erase(items_.begin() + index);
  });
}

void CSMSMemory::Clear() {
  Guarded([&] {
    ThrowIfRefused(services_.driver.memoryReads.Clear());
    DropItems();
  });
}

sdbus::ObjectPath CSMSMemory::Item(const sdbus::Variant& index) {
  return Guarded([&] {
    const std::optional<int64_t> at = IndexOf(index);
    if (!at || *at < 0 || *at >= static_cast<int64_t>(items_.size())) throw InvalidArg(kTextInvalidValue);
    return sdbus::ObjectPath(items_[static_cast<std::size_t>(*at)].path);
  });
}

std::vector<sdbus::ObjectPath> CSMSMemory::_NewEnum() {
  return Guarded([&] {
    std::vector<sdbus::ObjectPath> paths;
    paths.reserve(items_.size());
    for (const ListItem& item : items_) paths.emplace_back(item.path);
    return paths;
  });
}

std::string CSMSMemory::MemoryType() {
  return Guarded([&] { return services_.driver.config.GetString("receiver.memory"); });
}

void CSMSMemory::MemoryType(const std::string& value) {
  Guarded([&] {
    if (!IsMemoryTypeName(value)) throw Failure(kTextInvalidValue);
    services_.driver.config.SetString("receiver.memory", value);
    services_.driver.saveConfiguration();
  });
}

std::unique_ptr<AutomationObject> MakeSMSMemory(AutomationServices& services, const std::string& path) {
  return std::make_unique<CSMSMemory>(services, path);
}

}  // namespace qm
