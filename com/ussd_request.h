// CUSSDRequest: the USSDRequest automation class (org.quillmoor.GSM.IUSSDRequest).
//
// A USSD request a client fills in and sends through the outbox; the reply
// goes to the SMSDriver objects registered by SendWithReply, and to the
// synchronous waiter of a SendSync.
//
// Threads: the properties and methods run on the bus thread; a SendSync's
// polls run on the waiter thread and share nothing with the object.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <memory>
#include <string>

#include "com/IUSSDRequest_adaptor.h"
#include "com/automation_services.h"

namespace qm {

class CUSSDRequest final
    : public AutomationObject,
      public sdbus::AdaptorInterfaces<org::quillmoor::GSM::IUSSDRequest_adaptor, sdbus::Properties_adaptor> {
 public:
  CUSSDRequest(AutomationServices& services, const std::string& path);
  ~CUSSDRequest() override;
  CUSSDRequest(const CUSSDRequest&) = delete;
  CUSSDRequest& operator=(const CUSSDRequest&) = delete;

  AutomationClass Class() const override { return AutomationClass::kUSSDRequest; }

 private:
  // ---- methods ----
  void Send() override;
  void SendWithReply(const sdbus::ObjectPath& observer) override;
  void SendSync(sdbus::Result<std::string>&& result, uint32_t nTimeout) override;

  // ---- properties ----
  std::string From() override { return from_; }
  void From(const std::string& value) override { from_ = value; }
  std::string Content() override { return content_; }
  void Content(const std::string& value) override { content_ = value; }
  uint32_t Flags() override { return flags_; }
  void Flags(const uint32_t& value) override { flags_ = value; }

  // Queues the request for the outbox.
  void Post();
  std::string Caller();

  AutomationServices& services_;
  std::string from_;
  std::string content_;
  uint32_t flags_ = 0;
};

}  // namespace qm
