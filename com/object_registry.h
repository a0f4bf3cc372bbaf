// The automation objects clients have created, each at its own path and
// owned by the bus connection that created it.
//
// An object goes when its owner releases it or leaves the bus. Objects are
// reached from other threads (the command thread tells a tracing SMSDriver
// of a status change, a handler fires its events) only through With, which
// holds the registry's lock while the object is used, so an object is never
// destroyed under a caller's feet.
//
// Threads: any. Create, Release and ReleaseAllOf run on the bus thread
// (inside the bus library's lock, which they take again to register or
// unregister an object), ReleaseAll once the bus thread has stopped. Code on
// any other thread must never call into the bus library while it holds the
// registry's lock (With): that order would deadlock against a handler. An
// object's code must not call Create, Release or ReleaseAllOf.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace qm {

enum class AutomationClass { kSMSDriver, kSMSMessage, kSMSHandler, kSMSMemory, kUSSDRequest };

// "SMSDriver", ...: the class part of object paths and ProgIDs.
const char* ClassName(AutomationClass cls);

class AutomationObject {
 public:
  virtual ~AutomationObject() = default;
  virtual AutomationClass Class() const = 0;
  // Called just before the object is destroyed (released, or its client
  // left the bus): a registered handler leaves the handler list here.
  virtual void Retire() {}
};

class ObjectRegistry {
 public:
  // Objects one client may hold at once; more are refused.
  static constexpr std::size_t kMaxObjectsPerClient = 10000;

  using Maker = std::function<std::unique_ptr<AutomationObject>(const std::string& path)>;

  ObjectRegistry() = default;
  ObjectRegistry(const ObjectRegistry&) = delete;
  ObjectRegistry& operator=(const ObjectRegistry&) = delete;
  ~ObjectRegistry();

  // The path of a new object of `cls` for `owner`; throws sdbus::Error when
  // the client holds too many.
  std::string Create(AutomationClass cls, const std::string& owner, const Maker& make);
  // Throws sdbus::Error (InvalidArg) when `path` is no object of `owner`.
  void Release(const std::string& path, const std::string& owner);
  void ReleaseAllOf(const std::string& owner);
  void ReleaseAll();

  // Runs `use` on the object at `path` when there is one of class T (and,
  // with a non-empty `owner`, owned by it); false when not.
  template <class T>
  bool With(const std::string& path, const std::string& owner, const std::function<void(T&)>& use) {
    std::lock_guard lock(mutex_);
    const auto found = objects_.find(path);
    if (found == objects_.end() || (!owner.empty() && found->second.owner != owner)) return false;
    auto* object = dynamic_cast<T*>(found->second.object.get());
    if (object == nullptr) return false;
    use(*object);
    return true;
  }
  // The owner of the object at `path` ("" when there is none).
  std::string OwnerOf(const std::string& path) const;
  std::size_t Size() const;

 private:
  struct Entry {
    std::string owner;
    std::unique_ptr<AutomationObject> object;
  };
  void Destroy(std::map<std::string, Entry>::iterator at);

  mutable std::recursive_mutex mutex_;
  std::map<std::string, Entry> objects_;
  std::map<std::string, std::size_t> perOwner_;
  std::size_t nextNumber_ = 1;
};

}  // namespace qm
