// Bus: the automation layer on one D-Bus connection. It exports this
// process's objects to peers, makes proxies of theirs, counts the references
// each peer holds, and creates objects of classes served by other processes
// through their class factory (starting the server by bus activation).
//
// A program makes one Bus on its connection and installs it as the object
// activator (setObjectActivator), so that createObject reaches the bus for
// classes it does not serve itself. Calls are served, and made, on the thread
// that runs the Qt event loop; an outgoing call keeps serving incoming calls
// while it waits, and has no time limit.
#pragma once

#include <QDBusConnection>
#include <memory>
#include <string>

#include "automation/class_registry.h"

namespace oskara::automation {

class BusCore;

class Bus : public ObjectActivator {
 public:
  explicit Bus(QDBusConnection connection);
  ~Bus() override;
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  // The connection of a server or client program: the bus that started the
  // process by activation, otherwise the user's session bus.
  static QDBusConnection defaultConnection();

  // A new object of `progId` from the class factory of the bus name `progId`;
  // a class this process serves is created here without a bus round trip.
  ObjectRef activate(std::string_view progId) override;

  // For a proxy of this bus: `onGone` runs, queued to the event loop, once the
  // proxy's serving process has left the bus (or at once if it has already).
  std::unique_ptr<ServerWatch> watchServer(const ObjectRef& object,
                                           std::function<void()> onGone) override;

  // Listens to the signals named `event` that the object of a proxy of this
  // bus raises, from its server and path.
  std::unique_ptr<ServerWatch> watchEvent(
      const ObjectRef& object, std::string_view event,
      std::function<void(const std::vector<Variant>&)> handler) override;
  // Listens to the signals named `event` of the typed interface of the class
  // `progId`, whichever object of whichever process raises them.
  std::unique_ptr<ServerWatch> watchClassEvent(
      std::string_view progId, std::string_view event,
      std::function<void(const std::vector<Variant>&)> handler);

  // Sends an event as a signal of the object's typed interface, from the
  // object's path while a peer holds it, else from the class factory's path
  // (for listeners of the class, such as monitors).
  void raiseEvent(const Dispatch& source, const MemberInfo& event,
                  const std::vector<Variant>& args) override;

  QDBusConnection connection() const;
  std::string uniqueName() const;

  // Answers the class factory for the classes this process serves.
  void serveFactory(bool on);

  // Bookkeeping for the server's idle test and for tests.
  size_t exportedObjects() const;   // local objects that peers hold references to
  size_t remoteReferences() const;  // references counted for peers, over all objects
  size_t activeCalls() const;       // calls being served or made right now

 private:
  std::shared_ptr<BusCore> core_;
};

}  // namespace oskara::automation
