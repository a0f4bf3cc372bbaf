// CSMSDriver: the SMSDriver automation class (org.quillmoor.GSM.ISMSDriver
// with the signals of org.quillmoor.GSM._ISMSDriverEvents).
//
// A façade over the one driver: the connection, the port and sending
// settings, the modem's identity and state, raw AT commands. Its only state
// of its own is the last error of its Connect, and the replies it still owes
// to Connect, Disconnect and OpenConfigWizard calls.
//
// The driver reaches a client through an SMSDriver object the client named
// as observer: StatusObservers emits SMSStatusChanged and USSDReply on it.
//
// Threads: the D-Bus handlers run on the bus thread, which holds the bus
// library's lock while they run. A thread that emits a signal takes that
// lock too, so it must hold no lock a handler may wait for (the object
// registry's among them): EmitStatusChanged and EmitUssdReply are the way to
// fire these signals from the command thread.
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "com/ISMSDriver_adaptor.h"
#include "com/_ISMSDriverEvents_adaptor.h"
#include "com/automation_services.h"

namespace qm {

class DriverObjectState;

class CSMSDriver final
    : public AutomationObject,
      public sdbus::AdaptorInterfaces<org::quillmoor::GSM::ISMSDriver_adaptor,
                                      org::quillmoor::GSM::_ISMSDriverEvents_adaptor, sdbus::Properties_adaptor> {
 public:
  CSMSDriver(AutomationServices& services, const std::string& path);
  ~CSMSDriver() override;
  CSMSDriver(const CSMSDriver&) = delete;
  CSMSDriver& operator=(const CSMSDriver&) = delete;

  AutomationClass Class() const override { return AutomationClass::kSMSDriver; }
  // Answers the calls still waiting ("The operation was cancelled").
  void Retire() override;

  sdbus::IConnection& Connection() const { return services_.connection; }

  // The two events at `path`, from any thread that holds no lock a bus
  // handler takes. The object may be gone meanwhile: the signal then names
  // a path nobody serves, which harms nobody.
  static void EmitStatusChanged(sdbus::IConnection& connection, const std::string& path, uint32_t id, uint32_t status);
  static void EmitUssdReply(sdbus::IConnection& connection, const std::string& path, const std::string& text,
                            uint32_t code, const std::string& recipient);

 private:
  // ---- methods ----
  void Connect(sdbus::Result<>&& result) override;
  void Disconnect(sdbus::Result<>&& result) override;
  void OpenConfigWizard(sdbus::Result<>&& result) override;
  void _DeliverUSSDReply(const std::string& sContent, const uint32_t& nCode, const std::string& sRcpt) override;
  void _ChangeSMSStatus(const uint32_t& nID, const uint32_t& nStatusCode) override;
  void SendAT(const std::string& atCmd) override;

  // ---- properties ----
  std::string PortName() override;
  void PortName(const std::string& value) override;
  uint32_t BaudRate() override;
  void BaudRate(const uint32_t& value) override;
  uint8_t DataBits() override;
  void DataBits(const uint8_t& value) override;
  std::string Parity() override;
  void Parity(const std::string& value) override;
  uint8_t StopBits() override;
  void StopBits(const uint8_t& value) override;
  std::string SendMode() override;
  void SendMode(const std::string& value) override;
  std::string ReadMode() override;
  void ReadMode(const std::string& value) override;
  std::string DeleteMode() override;
  void DeleteMode(const std::string& value) override;
  uint32_t Timeout() override;
  void Timeout(const uint32_t& value) override;
  std::string ModemName() override;
  uint32_t SignalStrength() override;
  uint32_t ModemChecks() override;
  void ModemChecks(const uint32_t& value) override;
  uint32_t ModemFeatures() override;
  uint32_t ModemFailures() override;
  std::string StatusStr() override;
  uint32_t StatusCode() override;
  std::string ErrorStr() override;
  uint32_t ErrorCode() override;
  std::string PollingMemory() override;
  void PollingMemory(const std::string& value) override;
  uint32_t PollingTime() override;
  void PollingTime(const uint32_t& value) override;
  uint32_t DeleteAfter() override;
  void DeleteAfter(const uint32_t& value) override;
  bool Advanced() override;
  void Advanced(const bool& value) override;
  uint32_t ErrorNum() override;
  uint32_t OutboxSize() override;
  uint32_t PID() override;

  // Stores a number setting and saves the configuration.
  void StoreAndSave(const char* key, int64_t value);

  AutomationServices& services_;
  const std::string path_;
  // Shared with the command thread's completions and the wizard's thread.
  std::shared_ptr<DriverObjectState> state_;
  std::thread::id busThread_;  // where the handlers run
  std::thread wizard_;         // the port detection of OpenConfigWizard
};

// True when `path` is an SMSDriver object of the client `owner`: the only
// object a client may name as observer.
bool IsDriverOf(ObjectRegistry& registry, const std::string& path, const std::string& owner);

}  // namespace qm
