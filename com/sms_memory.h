// CSMSMemory: the SMSMemory automation class (org.quillmoor.GSM.ISMSMemory,
// signals of org.quillmoor.GSM._ISMSMemoryEvents).
//
// Read and ReadSync list the modem memory named by "receiver.memory"; each
// message the listing shows becomes an item, an SMSMessage object at a path
// below the memory's own ("<path>/<n>"). The items belong to the list: they
// go when it is read again, when Remove or Clear drops them, and with the
// memory object (released, or its client left the bus).
//
// The driver tells the object that its listing ended by calling its
// _TriggerEvent over the bus, as a client could: so items are made and
// signals sent on the bus thread, never from a thread that holds the object
// registry's lock. That call takes the read's outcome from the driver and
// answers the read: Completed or Failed for Read, the reply for ReadSync. A
// client's own _TriggerEvent makes the items again from the messages of the
// list and sends Completed or Failed.
//
// Threads: everything runs on the bus thread (Retire also on the main thread
// at exit, once the bus thread has ended). The end of a listing is told on
// the command thread, which only sends the call; a ReadSync is polled on the
// waiter thread, which shares nothing with the object but its SyncState.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com/ISMSMemory_adaptor.h"
#include "com/_ISMSMemoryEvents_adaptor.h"
#include "com/automation_services.h"
#include "gateway/automation_reader.h"
#include "sms/message.h"

namespace qm {

// The error text of a refused memory operation ("" for kAllowed).
const char* MemoryAccessText(MemoryAccess access);

// A memory type a client may set: letters, digits and underscores, at most
// 16 (it goes into AT+CPMS between quotes); empty means the current one.
bool IsMemoryTypeName(const std::string& name);

class CSMSMemory final
    : public AutomationObject,
      public sdbus::AdaptorInterfaces<org::quillmoor::GSM::ISMSMemory_adaptor,
                                      org::quillmoor::GSM::_ISMSMemoryEvents_adaptor, sdbus::Properties_adaptor> {
 public:
  CSMSMemory(AutomationServices& services, const std::string& path);
  ~CSMSMemory() override;
  CSMSMemory(const CSMSMemory&) = delete;
  CSMSMemory& operator=(const CSMSMemory&) = delete;

  AutomationClass Class() const override { return AutomationClass::kSMSMemory; }
  void Retire() override;

 private:
  struct SyncState;
  enum class ReadKind { kRead, kSync };
  struct PendingRead {
    AutomationReader::Ticket ticket = 0;
    ReadKind kind = ReadKind::kRead;
    std::shared_ptr<SyncState> sync;  // kSync
  };
  struct ListItem {
    std::string path;
    std::unique_ptr<SMSMessage> message;  // as listed, with its memory locations
    std::unique_ptr<AutomationObject> object;
  };

  // ---- methods ----
  void Read() override;
  void ReadSync(sdbus::Result<>&& result, uint32_t nTimeout) override;
  void Remove(const uint32_t& index) override;
  void Clear() override;
  sdbus::ObjectPath Item(const sdbus::Variant& index) override;
  std::vector<sdbus::ObjectPath> _NewEnum() override;
  void _TriggerEvent(const std::string& sError) override;

  // ---- properties ----
  std::string MemoryType() override;
  void MemoryType(const std::string& value) override;
  int32_t Count() override { return static_cast<int32_t>(items_.size()); }

  // Asks the driver for a listing; throws the refusal.
  void StartRead(ReadKind kind, std::shared_ptr<SyncState> sync);
  // What the driver calls back with once the read has an outcome.
  AutomationReader::Finished EndOfReadCall() const;
  // Answers the pending read with its outcome, if the driver has it.
  void CompletePendingRead();
  // A new list from `messages`; the text of what went wrong, "" when the
  // list is whole.
  std::string Rebuild(std::vector<std::unique_ptr<SMSMessage>> messages);
  void DropItems();
  std::string Caller();

  AutomationServices& services_;
  const std::string path_;
  const std::string busName_;  // the driver's own name: its calls end reads
  std::vector<ListItem> items_;
  uint64_t nextItem_ = 1;
  std::optional<PendingRead> pending_;
};

}  // namespace qm
