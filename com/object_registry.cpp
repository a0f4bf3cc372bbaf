#include "com/object_registry.h"

#include "com/automation_errors.h"

#include <vector>

namespace qm {

const char* ClassName(AutomationClass cls) {
  switch (cls) {
    case AutomationClass::kSMSDriver: return "SMSDriver";
    case AutomationClass::kSMSMessage: return "SMSMessage";
    case AutomationClass::kSMSHandler: return "SMSHandler";
    case AutomationClass::kSMSMemory: return "SMSMemory";
    case AutomationClass::kUSSDRequest: return "USSDRequest";
  }
  return "";
}

ObjectRegistry::~ObjectRegistry() { ReleaseAll(); }

std::string ObjectRegistry::Create(AutomationClass cls, const std::string& owner, const Maker& make) {
  std::lock_guard lock(mutex_);
  std::size_t& held = perOwner_[owner];
  if (held >= kMaxObjectsPerClient) throw Failure("Too many objects: release some first");
  const std::string path = std::string("/org/quillmoor/GSM/") + ClassName(cls) + "/" + std::to_string(nextNumber_++);
  std::unique_ptr<AutomationObject> object = make(path);
  objects_.emplace(path, Entry{owner, std::move(object)});
  ++held;
  return path;
}

void ObjectRegistry::Destroy(std::map<std::string, Entry>::iterator at) {
  at->second.object->Retire();
  if (auto held = perOwner_.find(at->second.owner); held != perOwner_.end() && --held->second == 0) {
    perOwner_.erase(held);
  }
  objects_.erase(at);
}

void ObjectRegistry::Release(const std::string& path, const std::string& owner) {
  std::lock_guard lock(mutex_);
  const auto found = objects_.find(path);
  if (found == objects_.end() || found->second.owner != owner) throw InvalidArg(kTextInvalidValue);
  Destroy(found);
}

void ObjectRegistry::ReleaseAllOf(const std::string& owner) {
  std::lock_guard lock(mutex_);
  // Paths first: an object that goes may take others with it.
  std::vector<std::string> paths;
  for (const auto& [path, entry] : objects_) {
    if (entry.owner == owner) paths.push_back(path);
  }
  for (const std::string& path : paths) {
    if (const auto at = objects_.find(path); at != objects_.end()) Destroy(at);
  }
}

void ObjectRegistry::ReleaseAll() {
  // Taken out under the lock, destroyed after it: destroying an object takes
  // the bus library's lock, which must never be taken inside ours.
  std::map<std::string, Entry> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(objects_);
    perOwner_.clear();
  }
  for (auto& [path, entry] : all) entry.object->Retire();
}

std::string ObjectRegistry::OwnerOf(const std::string& path) const {
  std::lock_guard lock(mutex_);
  const auto found = objects_.find(path);
  return found == objects_.end() ? std::string() : found->second.owner;
}

std::size_t ObjectRegistry::Size() const {
  std::lock_guard lock(mutex_);
  return objects_.size();
}

}  // namespace qm
