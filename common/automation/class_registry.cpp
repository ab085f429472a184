#include "automation/class_registry.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "automation/method_table.h"

namespace oskara {
namespace {

struct ClassEntry {
  std::string progId;
  ObjectFactory factory;
  std::shared_ptr<const ClassInfo> info;
};

// Process-wide state. Servers use it from their one thread; the mutex keeps
// tests that create objects from helper threads safe as well.
struct Registry {
  std::mutex mutex;
  std::vector<ClassEntry> classes;             // guarded by mutex
  ObjectActivator* activator = nullptr;        // guarded by mutex; not owned
  std::vector<std::weak_ptr<Dispatch>> made;   // guarded by mutex; objects of our factories

  std::vector<ClassEntry>::iterator find(std::string_view progId) {
    return std::find_if(classes.begin(), classes.end(),
                        [&](const ClassEntry& e) { return sameName(e.progId, progId); });
  }

  void forgetEnded() {
    std::erase_if(made, [](const std::weak_ptr<Dispatch>& w) { return w.expired(); });
  }
};

Registry& registry() {
  static Registry* instance = new Registry;  // never destroyed: objects may end after main
  return *instance;
}

}  // namespace

void registerClass(std::string progId, ObjectFactory factory, ClassInfo info) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  ClassEntry entry{std::move(progId), std::move(factory),
                   std::make_shared<const ClassInfo>(std::move(info))};
  if (auto it = r.find(entry.progId); it != r.classes.end()) {
    *it = std::move(entry);
  } else {
    r.classes.push_back(std::move(entry));
  }
}

void unregisterClass(std::string_view progId) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (auto it = r.find(progId); it != r.classes.end()) r.classes.erase(it);
}

std::vector<std::string> servedClasses() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> ids;
  for (const ClassEntry& e : r.classes) ids.push_back(e.progId);
  return ids;
}

std::shared_ptr<const ClassInfo> servedClassInfo(std::string_view progId) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  auto it = r.find(progId);
  return it == r.classes.end() ? nullptr : it->info;
}

std::string servedProgIdOf(std::string_view className) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  for (const ClassEntry& e : r.classes) {
    if (e.info->name == className) return e.progId;
  }
  return {};
}

namespace {

// Runs the factory outside the lock: a constructor may create further objects.
ObjectRef makeLocal(Registry& r, ObjectFactory factory, std::string_view progId) {
  ObjectRef object = factory();
  if (!object) throw cannotCreateObject(progId, "Its factory made no object.");
  std::lock_guard lock(r.mutex);
  r.forgetEnded();
  r.made.push_back(object);
  return object;
}

}  // namespace

ObjectRef createLocalObject(std::string_view progId) {
  Registry& r = registry();
  ObjectFactory factory;
  {
    std::lock_guard lock(r.mutex);
    auto it = r.find(progId);
    if (it == r.classes.end()) throw cannotCreateObject(progId, "This process does not serve it.");
    factory = it->factory;
  }
  return makeLocal(r, std::move(factory), progId);
}

ObjectRef createObject(std::string_view progId) {
  Registry& r = registry();
  ObjectFactory factory;
  ObjectActivator* activator = nullptr;
  {
    std::lock_guard lock(r.mutex);
    if (auto it = r.find(progId); it != r.classes.end()) {
      factory = it->factory;
    } else {
      activator = r.activator;
    }
  }
  if (factory) return makeLocal(r, std::move(factory), progId);
  if (!activator) throw cannotCreateObject(progId, "No server for it is known.");
  ObjectRef object = activator->activate(progId);
  if (!object) throw cannotCreateObject(progId);
  return object;
}

ObjectActivator* setObjectActivator(ObjectActivator* activator) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  return std::exchange(r.activator, activator);
}

std::unique_ptr<ServerWatch> watchServer(const ObjectRef& object, std::function<void()> onGone) {
  ObjectActivator* activator = nullptr;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    activator = r.activator;
  }
  if (!object || !activator) return nullptr;
  return activator->watchServer(object, std::move(onGone));
}

std::unique_ptr<ServerWatch> watchEvent(const ObjectRef& object, std::string_view event,
                                        std::function<void(const std::vector<Variant>&)> handler) {
  ObjectActivator* activator = nullptr;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    activator = r.activator;
  }
  if (!object || !activator) return nullptr;
  return activator->watchEvent(object, event, std::move(handler));
}

void raiseEvent(const Dispatch& source, std::string_view event, std::vector<Variant> args) {
  const ClassInfo& info = source.typeInfo();
  const MemberInfo* declared = info.findEvent(event);
  if (!declared) throw memberNotSupported(info.name, event);
  // No event parameter is optional: the count must be exact.
  automation::detail::checkArgumentCount(info.name, *declared, args);
  for (size_t i = 0; i < args.size(); ++i)
    args[i] =
        automation::detail::convertArgument(args[i], info.name, *declared, declared->params[i]);
  ObjectActivator* activator = nullptr;
  {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    activator = r.activator;
  }
  if (activator) activator->raiseEvent(source, *declared, args);
}

size_t liveLocalObjects() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.forgetEnded();
  return r.made.size();
}

}  // namespace oskara
