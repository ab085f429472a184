// Class registry: creating objects by programmatic identifier
// ("Program.Class"). A process registers the classes it serves; a class
// that is not served here is asked of the installed activator (the bus, in a
// program that has one). Without an activator only local classes exist, which
// is how unit tests of the servers run with no bus at all.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/dispatch.h"

namespace oskara {

using ObjectFactory = std::function<ObjectRef()>;

// A watch on the server process of an object of another process (see
// watchServer), or on its events (watchEvent). Destroying it ends the watch;
// its handler then never runs.
class ServerWatch {
 public:
  virtual ~ServerWatch() = default;
};

// The seam to classes served by other processes.
class ObjectActivator {
 public:
  virtual ~ObjectActivator() = default;
  // A new object of `progId` from another process; raises 429 when none can be
  // created, 462 when its server cannot be reached.
  virtual ObjectRef activate(std::string_view progId) = 0;
  // Watches the process that serves `object` (see watchServer below); nullptr
  // when `object` is not one of this activator's.
  virtual std::unique_ptr<ServerWatch> watchServer(const ObjectRef& object,
                                                   std::function<void()> onGone) {
    (void)object;
    (void)onGone;
    return nullptr;
  }
  // Watches the events named `event` of `object` (see watchEvent below);
  // nullptr when `object` is not one of this activator's.
  virtual std::unique_ptr<ServerWatch> watchEvent(
      const ObjectRef& object, std::string_view event,
      std::function<void(const std::vector<Variant>&)> handler) {
    (void)object;
    (void)event;
    (void)handler;
    return nullptr;
  }
  // Passes on an event of `source` (see raiseEvent below); `args` fit the
  // event's parameters already.
  virtual void raiseEvent(const Dispatch& source, const MemberInfo& event,
                          const std::vector<Variant>& args) {
    (void)source;
    (void)event;
    (void)args;
  }
};

// Registers a class this process serves. Identifiers compare without regard to
// case; registering an identifier again replaces the earlier entry.
void registerClass(std::string progId, ObjectFactory factory, ClassInfo info);

// Registers a default-constructible class that describes itself with a static
// methodTable() (see method_table.h).
template <class T>
void registerClass(std::string progId) {
  registerClass(std::move(progId), [] { return std::make_shared<T>(); },
                T::methodTable().info());
}

void unregisterClass(std::string_view progId);

// The identifiers this process serves, in registration order.
std::vector<std::string> servedClasses();

// The description of a class served here; nullptr when it is not.
std::shared_ptr<const ClassInfo> servedClassInfo(std::string_view progId);

// A new object: from this process when it serves the class (no bus round
// trip), otherwise from the activator. Raises 429 when neither can create it.
ObjectRef createObject(std::string_view progId);

// A new object of a class served here; raises 429 when the class is not.
ObjectRef createLocalObject(std::string_view progId);

// Installs the activator for classes served elsewhere and returns the one it
// replaces. The caller keeps ownership; nullptr removes it.
ObjectActivator* setObjectActivator(ObjectActivator* activator);

// The identifier under which this process serves the class named
// `className` (ClassInfo::name, compared exactly); empty when it serves none.
std::string servedProgIdOf(std::string_view className);

// Raises the event `event` (ClassInfo::events) of `source`'s class with
// `args`, its parameters in order, each converted to its declared type. The
// activator passes it on: the bus sends it as a signal of the object's typed
// interface to whoever listens, from the object's path while a peer holds
// it, else from the class factory's path. Raises 438 for an event the class
// does not declare, and 450, 13 or 6 for arguments that do not fit it.
void raiseEvent(const Dispatch& source, std::string_view event, std::vector<Variant> args);

// Runs `handler`, from the event loop of this process's thread, with the
// arguments of every event named `event` (compared exactly) that `object`, an
// object of another process, raises while the watch lives: each value as its
// natural Variant (a D-Bus string a String, an int32 a Long). nullptr for an
// object of this process and when no activator is installed.
std::unique_ptr<ServerWatch> watchEvent(const ObjectRef& object, std::string_view event,
                                        std::function<void(const std::vector<Variant>&)> handler);

// Objects made by this process's factories that are still alive.
size_t liveLocalObjects();

// Runs `onGone` once, later, from the event loop of this process's thread,
// when the process serving `object` has gone (ended or left the bus, however
// it ended), or at once (still later) if it has gone already. A holder of a
// reference learns so that no call of that server will come any more. The
// handler never runs after the returned watch is destroyed. nullptr for an
// object of this process, which cannot go without this process, and when no
// activator is installed.
std::unique_ptr<ServerWatch> watchServer(const ObjectRef& object, std::function<void()> onGone);

}  // namespace oskara
