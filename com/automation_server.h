// The automation server: the driver's objects on D-Bus.
//
// The factory object /org/quillmoor/GSM (org.quillmoor.GSM.Factory) creates
// objects by ProgID ("QuillmoorGSM.SMSDriver.1" or "QuillmoorGSM.SMSDriver",
// and so on for SMSMessage, SMSHandler, SMSMemory, USSDRequest) at
// /org/quillmoor/GSM/<Class>/<n>; an object belongs to the connection that
// created it and goes when that client releases it or leaves the bus.
//
// The bus: the session bus in a desktop session, the system bus as a service
// (its policy file admits root and the qmdriver group). The name is
// "org.quillmoor.GSM" for instance 0 and "org.quillmoor.GSM.Instance<N>"
// otherwise. A driver that cannot reach its bus runs on without automation.
//
// Threads: the bus has a thread of its own; method calls run there. Start
// and Stop belong to the main thread; the notifications may come from any.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "com/automation_context.h"
#include "gateway/message_observers.h"

namespace qm {

// The bus name of an instance.
std::string AutomationBusName(unsigned instance);

// "SMSDriver" and the like for a known ProgID, "" otherwise.
std::string ClassOfProgId(const std::string& progId);

class AutomationServer {
 public:
  explicit AutomationServer(AutomationContext context);
  ~AutomationServer();  // Stop()
  AutomationServer(const AutomationServer&) = delete;
  AutomationServer& operator=(const AutomationServer&) = delete;

  // Connects, takes the bus name, exports the factory and starts the bus
  // thread. On failure returns the reason (already logged) and stays off.
  std::string Start(bool systemBus, unsigned instance);
  // Stops the bus thread and releases every object.
  void Stop();
  bool Running() const;

  // The command thread's news for the objects that asked for it.
  void StatusChanged(int32_t id, MessageStatus status);
  void UssdReplied(const std::string& text, uint32_t code, const std::string& recipient);

 private:
  struct Bus;
  AutomationContext context_;
  std::unique_ptr<Bus> bus_;
};

}  // namespace qm
