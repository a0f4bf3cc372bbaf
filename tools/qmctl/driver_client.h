// The driver as qmctl sees it: a bus connection, the driver's factory, and
// the objects qmctl creates through it.
//
// Every object qmctl creates or is handed belongs to qmctl and is released
// when its RemoteObject goes; should qmctl die first, the driver frees them
// when qmctl's connection leaves the bus. Errors come out as CommandFailure
// with the exit code they stand for.
//
// Threads: none of its own. Signals arrive only inside Dispatch, on the
// caller's thread, so their callbacks may not call the driver (queue the
// work and do it after Dispatch returns).
#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "tools/qmctl/arguments.h"
#include "tools/qmctl/command_failure.h"

namespace qm {

inline constexpr const char* kInterfacePrefix = "org.quillmoor.GSM.";

// How long a call may take when it is not one of the waiting ones.
inline constexpr std::chrono::seconds kCallTimeout{25};

class DriverClient;

// Who frees an object: this client (created by it, or handed to it by an
// event), or the driver (the items of a memory listing).
enum class Owner { kClient, kDriver };

// One object of the driver.
class RemoteObject {
 public:
  // `interface` without the "org.quillmoor.GSM." prefix, e.g. "ISMSDriver".
  RemoteObject(DriverClient& client, std::string path, std::string_view interface, Owner owner = Owner::kClient);
  ~RemoteObject();  // releases an object of this client; a failure to do so is ignored
  RemoteObject(RemoteObject&& other) noexcept;
  RemoteObject& operator=(RemoteObject&&) = delete;
  RemoteObject(const RemoteObject&) = delete;
  RemoteObject& operator=(const RemoteObject&) = delete;

  const std::string& path() const { return path_; }

  template <typename T>
  T Get(const std::string& property) {
    return Guard([&] {
      const sdbus::Variant value = proxy_->getProperty(property).onInterface(interface_);
      return value.get<T>();
    });
  }

  template <typename T>
  void Set(const std::string& property, const T& value) {
    Guard([&] { proxy_->setProperty(property).onInterface(interface_).toValue(value); });
  }

  // A method without results; `timeout` bounds the wait for its answer.
  template <typename... Args>
  void Call(const std::string& method, std::chrono::microseconds timeout, const Args&... args) {
    Guard([&] { proxy_->callMethod(method).onInterface(interface_).withTimeout(timeout).withArguments(args...); });
  }

  // A method with one result.
  template <typename R, typename... Args>
  R Ask(const std::string& method, std::chrono::microseconds timeout, const Args&... args) {
    R result{};
    Guard([&] {
      proxy_->callMethod(method)
          .onInterface(interface_)
          .withTimeout(timeout)
          .withArguments(args...)
          .storeResultsTo(result);
    });
    return result;
  }

  // Subscribes to a signal of `interface` (prefix left out, as above);
  // Subscribed() makes the subscriptions take effect.
  template <typename Function>
  void OnSignal(const std::string& signal, std::string_view interface, Function&& callback) {
    proxy_->uponSignal(signal)
        .onInterface(kInterfacePrefix + std::string(interface))
        .call(std::forward<Function>(callback));
  }
  void Subscribed();

 private:
  template <typename Body>
  auto Guard(Body&& body) -> decltype(body());

  DriverClient* client_;
  std::string path_;
  std::string interface_;
  std::unique_ptr<sdbus::IProxy> proxy_;
  bool owned_;  // to be released; false once moved from
};

class DriverClient {
 public:
  // Connects to the bus the options name. Throws CommandFailure (kNoDriver)
  // when the bus cannot be reached.
  explicit DriverClient(const GlobalOptions& options);
  ~DriverClient();
  DriverClient(const DriverClient&) = delete;
  DriverClient& operator=(const DriverClient&) = delete;

  const std::string& busName() const { return busName_; }
  // True when somebody owns the driver's name on the bus.
  bool DriverOnBus();
  // "the session bus" or "the system bus".
  std::string BusDescription() const;

  // Creates an object of a class ("SMSDriver", "SMSMessage", ...).
  RemoteObject Create(std::string_view className);
  // Releases an object of this client; a failure is ignored (the driver
  // frees it anyway when this client leaves).
  void Release(const std::string& path) noexcept;

  // Waits up to `limit` for bus traffic (or for `wakeFd` to become readable,
  // when it is not -1) and runs the signal callbacks of what arrived.
  void Dispatch(std::chrono::milliseconds limit, int wakeFd = -1);

  // What a bus error means to the user, as the failure to end with.
  CommandFailure Classify(const sdbus::Error& error) const;

  sdbus::IConnection& connection() { return *connection_; }

 private:
  GlobalOptions options_;
  std::string busName_;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> factory_;
};

template <typename Body>
auto RemoteObject::Guard(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const sdbus::Error& error) {
    throw client_->Classify(error);
  }
}

}  // namespace qm
