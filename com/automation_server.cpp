#include "com/automation_server.h"

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <map>

#include "base/logger.h"
#include "com/Factory_adaptor.h"
#include "com/automation_errors.h"
#include "com/automation_services.h"
#include "com/object_registry.h"
#include "com/settings_object.h"
#include "com/status_observers.h"
#include "com/sync_waits.h"

namespace qm {
namespace {

constexpr const char* kFactoryPath = "/org/quillmoor/GSM";

struct ClassEntry {
  AutomationClass cls;
  std::unique_ptr<AutomationObject> (*make)(AutomationServices&, const std::string&);
};

const std::map<std::string, ClassEntry>& Classes() {
  static const std::map<std::string, ClassEntry> classes = {
      {"SMSDriver", {AutomationClass::kSMSDriver, &MakeSMSDriver}},
      {"SMSMessage", {AutomationClass::kSMSMessage, &MakeSMSMessage}},
      {"SMSHandler", {AutomationClass::kSMSHandler, &MakeSMSHandler}},
      {"SMSMemory", {AutomationClass::kSMSMemory, &MakeSMSMemory}},
      {"USSDRequest", {AutomationClass::kUSSDRequest, &MakeUSSDRequest}},
  };
  return classes;
}

// org.quillmoor.GSM.Factory at /org/quillmoor/GSM.
class Factory final : public sdbus::AdaptorInterfaces<org::quillmoor::GSM::Factory_adaptor> {
 public:
  Factory(sdbus::IConnection& connection, AutomationServices& services)
      : AdaptorInterfaces(connection, kFactoryPath), services_(services) {
    registerAdaptor();
  }
  ~Factory() { unregisterAdaptor(); }

 private:
  std::string Caller() { return getObject().getCurrentlyProcessedMessage()->getSender(); }

  sdbus::ObjectPath CreateObject(const std::string& progid) override {
    return Guarded([&] {
      const std::string name = ClassOfProgId(progid);
      if (name.empty()) throw InvalidArg(kTextInvalidValue);
      const ClassEntry& entry = Classes().at(name);
      return sdbus::ObjectPath(services_.registry.Create(
          entry.cls, Caller(), [&](const std::string& path) { return entry.make(services_, path); }));
    });
  }

  void Release(const sdbus::ObjectPath& path) override {
    Guarded([&] {
      services_.observers.Forget(path);
      services_.registry.Release(path, Caller());
    });
  }

  AutomationServices& services_;
};

}  // namespace

std::string AutomationBusName(unsigned instance) {
  return instance == 0 ? "org.quillmoor.GSM" : "org.quillmoor.GSM.Instance" + std::to_string(instance);
}

std::string ClassOfProgId(const std::string& progId) {
  constexpr std::string_view kPrefix = "QuillmoorGSM.";
  if (!progId.starts_with(kPrefix)) return {};
  std::string name = progId.substr(kPrefix.size());
  if (name.ends_with(".1")) name.resize(name.size() - 2);
  return Classes().count(name) != 0 ? name : std::string();
}

struct AutomationServer::Bus {
  explicit Bus(AutomationContext& context) : observers(registry) { (void)context; }

  std::unique_ptr<sdbus::IConnection> connection;
  ObjectRegistry registry;
  StatusObservers observers;
  SyncWaits syncWaits;
  std::unique_ptr<AutomationServices> services;
  std::unique_ptr<Factory> factory;
  std::unique_ptr<SettingsObject> settings;
  std::unique_ptr<sdbus::IProxy> busWatch;  // NameOwnerChanged: clients that leave
};

AutomationServer::AutomationServer(AutomationContext context) : context_(std::move(context)) {}

AutomationServer::~AutomationServer() { Stop(); }

std::string AutomationServer::Start(bool systemBus, unsigned instance) {
  Stop();
  auto bus = std::make_unique<Bus>(context_);
  const std::string name = AutomationBusName(instance);
  try {
    bus->connection = systemBus ? sdbus::createSystemBusConnection(name) : sdbus::createSessionBusConnection(name);
    bus->services = std::make_unique<AutomationServices>(
        AutomationServices{*bus->connection, context_, bus->registry, bus->observers, bus->syncWaits});
    bus->factory = std::make_unique<Factory>(*bus->connection, *bus->services);
    bus->settings = std::make_unique<SettingsObject>(*bus->connection, kFactoryPath, context_);
    bus->busWatch = sdbus::createProxy(*bus->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    Bus* raw = bus.get();
    bus->busWatch->uponSignal("NameOwnerChanged")
        .onInterface("org.freedesktop.DBus")
        .call([raw](const std::string& client, const std::string& /*oldOwner*/, const std::string& newOwner) {
          // A unique name that loses its owner is a client gone for good.
          if (!client.empty() && client[0] == ':' && newOwner.empty()) {
            raw->syncWaits.DropCallsOf(client);
            raw->registry.ReleaseAllOf(client);
          }
        });
    bus->busWatch->finishRegistration();
    bus->connection->enterEventLoopAsync();
  } catch (const std::exception& e) {
    const std::string why = std::string("Automation is not available: ") + e.what();
    context_.log.Write(LogLevel::kWarning, why);
    return why;
  }
  context_.log.Write(LogLevel::kDetail, "Automation server on the " + std::string(systemBus ? "system" : "session") +
                                            " bus as " + name);
  bus_ = std::move(bus);
  return {};
}

void AutomationServer::Stop() {
  if (!bus_) return;
  // Calls still waiting are answered while the bus is still served.
  bus_->syncWaits.Stop();
  bus_->connection->leaveEventLoop();
  bus_->busWatch.reset();
  bus_->factory.reset();
  bus_->settings.reset();
  bus_->registry.ReleaseAll();
  bus_.reset();
}

bool AutomationServer::Running() const { return static_cast<bool>(bus_); }

void AutomationServer::StatusChanged(int32_t id, MessageStatus status) {
  if (bus_) bus_->observers.StatusChanged(id, status);
}

void AutomationServer::UssdReplied(const std::string& text, uint32_t code, const std::string& recipient) {
  if (bus_) bus_->observers.UssdReplied(text, code, recipient);
}

}  // namespace qm
