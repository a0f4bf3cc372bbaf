#include "tools/qmctl/driver_client.h"

#include <poll.h>

#include <algorithm>

namespace qm {
namespace {

constexpr const char* kFactoryPath = "/org/quillmoor/GSM";
constexpr const char* kFactoryInterface = "org.quillmoor.GSM.Factory";
constexpr std::string_view kDriverErrors = "org.quillmoor.GSM.Error.";

// The driver's name on the bus, as the driver takes it.
std::string BusNameOf(unsigned instance) {
  return instance == 0 ? "org.quillmoor.GSM" : "org.quillmoor.GSM.Instance" + std::to_string(instance);
}

}  // namespace

RemoteObject::RemoteObject(DriverClient& client, std::string path, std::string_view interface, Owner owner)
    : client_(&client),
      path_(std::move(path)),
      interface_(kInterfacePrefix + std::string(interface)),
      proxy_(sdbus::createProxy(client.connection(), client.busName(), path_)),
      owned_(owner == Owner::kClient) {}

RemoteObject::RemoteObject(RemoteObject&& other) noexcept
    : client_(other.client_),
      path_(std::move(other.path_)),
      interface_(std::move(other.interface_)),
      proxy_(std::move(other.proxy_)),
      owned_(std::exchange(other.owned_, false)) {}

RemoteObject::~RemoteObject() {
  proxy_.reset();  // its signal subscriptions end first
  if (owned_) client_->Release(path_);
}

void RemoteObject::Subscribed() {
  Guard([&] { proxy_->finishRegistration(); });
}

DriverClient::DriverClient(const GlobalOptions& options) : options_(options), busName_(BusNameOf(options.instance)) {
  try {
    connection_ = options.systemBus ? sdbus::createSystemBusConnection() : sdbus::createSessionBusConnection();
    factory_ = sdbus::createProxy(*connection_, busName_, kFactoryPath);
  } catch (const sdbus::Error& error) {
    throw CommandFailure(ExitCode::kNoDriver, "cannot reach " + BusDescription() + ": " + error.getMessage());
  }
}

DriverClient::~DriverClient() = default;

bool DriverClient::DriverOnBus() {
  bool owned = false;
  try {
    const auto bus = sdbus::createProxy(*connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bus->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments(busName_).storeResultsTo(owned);
  } catch (const sdbus::Error& error) {
    throw Classify(error);
  }
  return owned;
}

std::string DriverClient::BusDescription() const { return options_.systemBus ? "the system bus" : "the session bus"; }

RemoteObject DriverClient::Create(std::string_view className) {
  sdbus::ObjectPath path;
  try {
    factory_->callMethod("CreateObject")
        .onInterface(kFactoryInterface)
        .withTimeout(kCallTimeout)
        .withArguments("QuillmoorGSM." + std::string(className))
        .storeResultsTo(path);
  } catch (const sdbus::Error& error) {
    throw Classify(error);
  }
  return RemoteObject(*this, path, "I" + std::string(className));
}

void DriverClient::Release(const std::string& path) noexcept {
  try {
    factory_->callMethod("Release")
        .onInterface(kFactoryInterface)
        .withTimeout(kCallTimeout)
        .withArguments(sdbus::ObjectPath(path));
  } catch (...) {
    // Nothing to do: the driver frees the object when this client leaves.
  }
}

void DriverClient::Dispatch(std::chrono::milliseconds limit, int wakeFd) {
  try {
    while (connection_->processPendingRequest()) {
    }
    const sdbus::IConnection::PollData data = connection_->getEventLoopPollData();
    int timeout = static_cast<int>(limit.count());
    if (const int busTimeout = data.getPollTimeout(); busTimeout >= 0) timeout = std::min(timeout, busTimeout);
    pollfd fds[2] = {{data.fd, data.events, 0}, {wakeFd, POLLIN, 0}};
    ::poll(fds, wakeFd >= 0 ? 2 : 1, timeout);
    while (connection_->processPendingRequest()) {
    }
  } catch (const sdbus::Error& error) {
    // A signal (Ctrl-C ending "watch") may cut a bus call short; the caller
    // looks at its stop and dispatches again.
    if (error.getName() == "System.Error.EINTR") return;
    throw Classify(error);
  }
}

CommandFailure DriverClient::Classify(const sdbus::Error& error) const {
  const std::string& name = error.getName();
  const std::string& text = error.getMessage();
  if (name.starts_with(kDriverErrors)) {
    // The driver's own answer, in its words.
    if (name == "org.quillmoor.GSM.Error.InvalidArg") return CommandFailure(ExitCode::kUsage, text);
    return CommandFailure(text == "Timeout" ? ExitCode::kTimeout : ExitCode::kRefused, text);
  }
  const std::string noDriver = "no driver is running on " + BusDescription() + " (nobody owns " + busName_ + ")";
  if (name == "org.freedesktop.DBus.Error.ServiceUnknown" || name == "org.freedesktop.DBus.Error.NameHasNoOwner") {
    return CommandFailure(ExitCode::kNoDriver, noDriver);
  }
  if (name == "org.freedesktop.DBus.Error.NoReply" && text.find("disconnected") != std::string::npos) {
    return CommandFailure(ExitCode::kNoDriver, "the driver left the bus before it answered");
  }
  if (name == "org.freedesktop.DBus.Error.NoReply" || name == "org.freedesktop.DBus.Error.Timeout" ||
      name == "org.freedesktop.DBus.Error.TimedOut") {
    return CommandFailure(ExitCode::kTimeout, "the driver did not answer in time");
  }
  if (name == "org.freedesktop.DBus.Error.AccessDenied") {
    return CommandFailure(ExitCode::kNoDriver, "the bus refused access to " + busName_ + ": " + text);
  }
  if (name == "org.freedesktop.DBus.Error.Disconnected" || name == "org.freedesktop.DBus.Error.NoServer") {
    return CommandFailure(ExitCode::kNoDriver, "lost " + BusDescription() + ": " + text);
  }
  return CommandFailure(ExitCode::kRefused, text.empty() ? name : text + " (" + name + ")");
}

}  // namespace qm
