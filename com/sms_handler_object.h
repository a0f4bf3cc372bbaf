// CSMSHandler: the SMSHandler automation class (org.quillmoor.GSM.ISMSHandler,
// signals of org.quillmoor.GSM._ISMSHandlerEvents).
//
// A client sets a name, patterns and an event kind, then Register puts a
// COMSMSHandler with a copy of them into the driver's handler list. Each
// event that entry takes comes back to this object through its mailbox, and
// the object hands the client a new SMSMessage object, owned by the client
// (counted against its objects, freed by Factory.Release or when it leaves),
// in IncomingSMS, SentSMS or DeliveredSMS. An object that goes (released, or
// its client left the bus) leaves the handler list first.
//
// Threads: everything runs on the bus thread; Retire also runs on the main
// thread at exit, once the bus thread has ended.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <memory>
#include <string>

#include "com/ISMSHandler_adaptor.h"
#include "com/_ISMSHandlerEvents_adaptor.h"
#include "com/automation_services.h"
#include "com/com_sms_handler.h"

namespace qm {

class CSMSHandler final
    : public AutomationObject,
      public sdbus::AdaptorInterfaces<org::quillmoor::GSM::ISMSHandler_adaptor,
                                      org::quillmoor::GSM::_ISMSHandlerEvents_adaptor, sdbus::Properties_adaptor> {
 public:
  CSMSHandler(AutomationServices& services, const std::string& path);
  ~CSMSHandler() override;
  CSMSHandler(const CSMSHandler&) = delete;
  CSMSHandler& operator=(const CSMSHandler&) = delete;

  AutomationClass Class() const override { return AutomationClass::kSMSHandler; }
  void Retire() override;

 private:
  // ---- methods ----
  void Register() override;
  void Unregister() override;
  void _DeliverSMS(const sdbus::ObjectPath& pSMS) override;

  // ---- properties ----
  std::string Name() override { return name_; }
  void Name(const std::string& value) override { name_ = value; }
  std::string FromPattern() override { return fromPattern_; }
  void FromPattern(const std::string& value) override { fromPattern_ = value; }
  std::string ToPattern() override { return toPattern_; }
  void ToPattern(const std::string& value) override { toPattern_ = value; }
  std::string BodyPattern() override { return bodyPattern_; }
  void BodyPattern(const std::string& value) override { bodyPattern_ = value; }
  uint32_t Event() override { return event_; }
  void Event(const uint32_t& value) override { event_ = value; }

  // The driver's wake-up call: every event waiting in the mailbox goes out.
  void TakeMail();
  void Deliver(const HandlerDelivery& delivery);
  // IncomingSMS, SentSMS or DeliveredSMS for 0, 1, 2; nothing otherwise.
  void Fire(uint32_t event, const sdbus::ObjectPath& message);
  bool Registered() const;
  void LeaveHandlerList();

  AutomationServices& services_;
  const std::string path_;
  const std::string busName_;  // the driver's own unique name, the only caller of TakeMail
  std::string name_;
  std::string fromPattern_;
  std::string toPattern_;
  std::string bodyPattern_;
  uint32_t event_ = 0;
  // Calls this object; the mailbox holds it weakly, so dropping it (Retire)
  // is what stops events from being posted.
  std::shared_ptr<sdbus::IProxy> waker_;
  std::shared_ptr<HandlerMailbox> mailbox_;
};

}  // namespace qm
