#include "automation/bus/bus.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QEventLoop>
#include <QTimer>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "automation/bus/typed_face.h"
#include "automation/bus/wire.h"

namespace oskara::automation {

class RemoteObject;

// Everything the Bus keeps. Proxies hold it weakly, so a proxy that outlives
// the Bus simply stops giving references back.
class BusCore : public QDBusVirtualObject {
 public:
  explicit BusCore(QDBusConnection connection);
  ~BusCore() override;

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

  wire::ObjectAddress exportTo(const ObjectRef& object, const QString& peer);
  ObjectRef importReference(const wire::ObjectAddress& address);
  QDBusMessage call(const QDBusMessage& message);
  void sendRelease(const QString& owner, const QString& path, uint32_t count);
  void forgetProxy(const QString& key, const RemoteObject* proxy);
  ObjectRef activate(std::string_view progId);
  std::unique_ptr<ServerWatch> watchServer(const ObjectRef& object, std::function<void()> onGone);
  void raiseEvent(const Dispatch& source, const MemberInfo& event,
                  const std::vector<Variant>& args);

  size_t remoteReferences() const;
  size_t exportedCount() const { return exports_.size(); }

  // Constant after construction.
  std::weak_ptr<BusCore> self;
  QDBusConnection connection;
  QString uniqueName;

  bool factoryServed = false;
  size_t activeCalls = 0;  // incoming being served plus outgoing waiting

 private:
  // One watchServer handler; the watch object disarms it when destroyed.
  struct ServerWatchState {
    std::function<void()> onGone;
    bool armed = true;
  };
  class BusServerWatch;
  static void reportGone(const std::shared_ptr<ServerWatchState>& state);

  struct Export {
    ObjectRef object;                    // kept alive while any peer holds a reference
    std::map<QString, uint32_t> refs;    // peer unique name -> references counted for it
  };

  QDBusMessage handleFactory(const QDBusMessage& message, bool lateBound);
  QDBusMessage handleObject(const QDBusMessage& message, bool lateBound);
  QDBusMessage invokeReply(const QDBusMessage& message, const ObjectRef& object,
                           const QString& member, const QVariant& packedArgs);
  QDBusMessage typedCall(const QDBusMessage& message, const ObjectRef& object,
                         const QString& interface, const ClassInfo& info);
  void release(const QString& peer, quint64 id, uint32_t count);
  void watchPeer(const QString& peer);
  void peerLeft(const QString& peer);
  wire::ExportObject exporterFor(const QString& peer);
  wire::ImportObject importer();

  std::map<quint64, Export> exports_;            // by object id (the last path element)
  // Objects no peer holds any more, by their former id, while they live
  // here: a reply may bring one back after its last peer has given it up
  // (the callee drops the caller's object as it answers, and its release
  // is served before the reply is read).
  std::map<quint64, std::weak_ptr<Dispatch>> unexported_;
  std::map<const Dispatch*, quint64> idOf_;      // exported object -> its id
  quint64 nextId_ = 1;                           // ids are never reused
  std::map<QString, std::weak_ptr<RemoteObject>> proxies_;  // "owner/path" -> proxy
  std::set<QString> watched_;                    // peers whose departure we follow
  std::multimap<QString, std::weak_ptr<ServerWatchState>> serverWatches_;  // by peer
  QDBusServiceWatcher watcher_;
};

// A reference to an object of another process.
class RemoteObject : public Dispatch {
 public:
  RemoteObject(std::weak_ptr<BusCore> core, QString owner, QString path)
      : core_(std::move(core)), owner_(std::move(owner)), path_(std::move(path)) {}

  ~RemoteObject() override {
    auto core = core_.lock();
    if (!core) return;
    core->forgetProxy(key(), this);
    if (!gone_ && received_ > 0) core->sendRelease(owner_, path_, received_);
  }

  Variant invoke(std::string_view member, std::vector<Variant>& args) override;
  const ClassInfo& typeInfo() const override;

  QString key() const { return owner_ + path_; }
  const QString& owner() const { return owner_; }
  const QString& path() const { return path_; }
  void addReceived() { ++received_; }
  void markGone() { gone_ = true; }
  bool gone() const { return gone_; }

 private:
  std::string describe(std::string_view member) const {
    std::string text = "'" + std::string(member) + "'";
    if (info_) text += " of " + info_->name;
    return text + " (object " + wire::toStd(path_) + " of " + wire::toStd(owner_) + ")";
  }
  std::shared_ptr<BusCore> liveCore(std::string_view member) const {
    auto core = core_.lock();
    if (!core || gone_) throw serverUnavailable(describe(member));
    return core;
  }
  void failed(const QDBusMessage& reply, std::string_view member) {
    if (wire::peerIsGone(reply)) gone_ = true;
    throw wire::errorFromReply(reply, describe(member));
  }

  std::weak_ptr<BusCore> core_;
  QString owner_;             // unique bus name of the serving process
  QString path_;              // object path there
  uint32_t received_ = 0;     // references the owner counted for us; given back at the end
  bool gone_ = false;         // the owner has left the bus or the object has ended
  mutable std::optional<ClassInfo> info_;  // fetched on first use
};

Variant RemoteObject::invoke(std::string_view member, std::vector<Variant>& args) {
  auto core = liveCore(member);
  QDBusMessage message = QDBusMessage::createMethodCall(
      owner_, path_, QLatin1String(wire::kObjectInterface), QStringLiteral("Invoke"));
  message << wire::toQt(member)
          << QVariant::fromValue(wire::encodeList(args, [&](const ObjectRef& o) {
               return core->exportTo(o, owner_);
             }));
  QDBusMessage reply = core->call(message);
  if (reply.type() != QDBusMessage::ReplyMessage) failed(reply, member);
  const QList<QVariant> out = reply.arguments();
  if (out.size() != 2) throw wire::errorFromReply(reply, describe(member));
  auto import = [&](const wire::ObjectAddress& a) { return core->importReference(a); };
  Variant result = wire::decode(qdbus_cast<wire::Value>(out.at(0)), import);
  const wire::ValueMap byRef = qdbus_cast<wire::ValueMap>(out.at(1));
  for (auto it = byRef.begin(); it != byRef.end(); ++it) {
    if (it.key() < args.size()) args[it.key()] = wire::decode(it.value(), import);
  }
  return result;
}

const ClassInfo& RemoteObject::typeInfo() const {
  if (info_) return *info_;
  auto core = liveCore("TypeInfo");
  QDBusMessage message = QDBusMessage::createMethodCall(
      owner_, path_, QLatin1String(wire::kObjectInterface), QStringLiteral("TypeInfo"));
  QDBusMessage reply = core->call(message);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
    throw wire::errorFromReply(reply, describe("TypeInfo"));
  info_ = wire::decodeClass(reply.arguments().at(0).toString(),
                            wire::memberListOf(reply.arguments().at(1)));
  return *info_;
}

namespace {

QString objectPath(quint64 id) {
  return QLatin1String(wire::kObjectsPath) + QLatin1Char('/') + QString::number(id);
}

// The id of an object path below kObjectsPath; 0 when it is not one.
quint64 objectId(const QString& path) {
  const QString prefix = QLatin1String(wire::kObjectsPath) + QLatin1Char('/');
  if (!path.startsWith(prefix)) return 0;
  bool ok = false;
  quint64 id = path.mid(prefix.size()).toULongLong(&ok);
  return ok ? id : 0;
}

// Counts a call in progress for as long as it lives.
class ActiveCall {
 public:
  explicit ActiveCall(size_t& counter) : counter_(counter) { ++counter_; }
  ~ActiveCall() { --counter_; }
  ActiveCall(const ActiveCall&) = delete;
  ActiveCall& operator=(const ActiveCall&) = delete;

 private:
  size_t& counter_;
};

// The late-bound interfaces, with their help in the annotation that the
// typed interfaces use as well (typed_face.cpp).
const char kObjectInterfaceXml[] =
    "  <interface name=\"oskara.Automation.Object\">\n"
    "    <method name=\"Invoke\">\n"
    "      <annotation name=\"org.gtk.GDBus.DocString\" value=\"Calls a member by name with "
    "(type code, value) arguments in declaration order; returns the result and the "
    "by-reference arguments by index.\"/>\n"
    "      <arg name=\"member\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"args\" type=\"a(yv)\" direction=\"in\"/>\n"
    "      <arg name=\"result\" type=\"(yv)\" direction=\"out\"/>\n"
    "      <arg name=\"byRef\" type=\"a{u(yv)}\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <method name=\"TypeInfo\">\n"
    "      <annotation name=\"org.gtk.GDBus.DocString\" value=\"The class name and its members: "
    "name, parameters (name, type code, by reference, optional), result type code, help.\"/>\n"
    "      <arg name=\"className\" type=\"s\" direction=\"out\"/>\n"
    "      <arg name=\"members\" type=\"a(sa(sybb)ys)\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <method name=\"Release\">\n"
    "      <annotation name=\"org.gtk.GDBus.DocString\" value=\"Gives back references to this "
    "object that the caller received.\"/>\n"
    "      <annotation name=\"org.freedesktop.DBus.Method.NoReply\" value=\"true\"/>\n"
    "      <arg name=\"count\" type=\"u\" direction=\"in\"/>\n"
    "    </method>\n"
    "  </interface>\n";

const char kFactoryInterfaceXml[] =
    "  <interface name=\"oskara.Automation.Factory\">\n"
    "    <method name=\"Create\">\n"
    "      <annotation name=\"org.gtk.GDBus.DocString\" value=\"Creates an object of the class; "
    "one reference is counted for the caller, which it loses when it leaves the bus.\"/>\n"
    "      <arg name=\"progId\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"object\" type=\"o\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <method name=\"TypeInfo\">\n"
    "      <annotation name=\"org.gtk.GDBus.DocString\" value=\"The class's members, as "
    "Object.TypeInfo, without creating an object.\"/>\n"
    "      <arg name=\"progId\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"className\" type=\"s\" direction=\"out\"/>\n"
    "      <arg name=\"members\" type=\"a(sa(sybb)ys)\" direction=\"out\"/>\n"
    "    </method>\n"
    "    <method name=\"CreateAndInvoke\">\n"
    "      <annotation name=\"org.gtk.GDBus.DocString\" value=\"Creates an object, calls a member "
    "as Object.Invoke, and ends the object unless the call handed it out.\"/>\n"
    "      <arg name=\"progId\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"member\" type=\"s\" direction=\"in\"/>\n"
    "      <arg name=\"args\" type=\"a(yv)\" direction=\"in\"/>\n"
    "      <arg name=\"result\" type=\"(yv)\" direction=\"out\"/>\n"
    "      <arg name=\"byRef\" type=\"a{u(yv)}\" direction=\"out\"/>\n"
    "    </method>\n"
    "  </interface>\n";

bool isObjectMethod(const QString& member) {
  return member == QLatin1String("Invoke") || member == QLatin1String("TypeInfo") ||
         member == QLatin1String("Release");
}

bool isFactoryMethod(const QString& member) {
  return member == QLatin1String("Create") || member == QLatin1String("TypeInfo") ||
         member == QLatin1String("CreateAndInvoke");
}

// Whether a call names `interface`, or names none and `member` is one of it.
bool addresses(const QDBusMessage& message, const QString& interface, bool hasMember) {
  return message.interface() == interface || (message.interface().isEmpty() && hasMember);
}

// Whether a call is one of the late-bound protocol's; any other is a typed call.
bool isLateBound(const QDBusMessage& message) {
  const QString member = message.member();
  if (message.path() == QLatin1String(wire::kFactoryPath))
    return addresses(message, QLatin1String(wire::kFactoryInterface), isFactoryMethod(member));
  return addresses(message, QLatin1String(wire::kObjectInterface), isObjectMethod(member));
}

// The typed interface of an exported object: its class's identifier, when
// this process serves the class. An object of another process passed on
// through this one has none here.
std::optional<QString> typedInterfaceOf(const Dispatch& object) {
  if (dynamic_cast<const RemoteObject*>(&object)) return std::nullopt;
  const std::string progId = servedProgIdOf(object.typeInfo().name);
  if (progId.empty()) return std::nullopt;
  return typed::interfaceName(progId);
}

QDBusMessage noSuchInterface(const QDBusMessage& message, const QString& where,
                             const QStringList& offered) {
  const QString interfaces = offered.join(QStringLiteral(", "));
  if (message.interface().isEmpty()) {
    return message.createErrorReply(QDBusError::UnknownMethod,
                                    QStringLiteral("No method %1 on %2; its interfaces are %3.")
                                        .arg(message.member(), where, interfaces));
  }
  return message.createErrorReply(
      QDBusError::UnknownInterface,
      QStringLiteral("No interface '%1' with a method %2 on %3; it offers %4.")
          .arg(message.interface(), message.member(), where, interfaces));
}

}  // namespace

BusCore::BusCore(QDBusConnection c)
    : connection(std::move(c)),
      uniqueName(connection.baseService()),
      watcher_(QString(), connection, QDBusServiceWatcher::WatchForUnregistration) {
  wire::registerTypes();
  QObject::connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered,
                   [this](const QString& peer) { peerLeft(peer); });
}

BusCore::~BusCore() = default;

wire::ExportObject BusCore::exporterFor(const QString& peer) {
  return [this, peer](const ObjectRef& object) { return exportTo(object, peer); };
}

wire::ImportObject BusCore::importer() {
  return [this](const wire::ObjectAddress& address) { return importReference(address); };
}

wire::ObjectAddress BusCore::exportTo(const ObjectRef& object, const QString& peer) {
  if (auto* remote = dynamic_cast<RemoteObject*>(object.get())) {
    // The peer's own object goes back as its own address, uncounted; it
    // resolves it to the object itself.
    if (remote->owner() == peer) return {remote->owner(), QDBusObjectPath(remote->path())};
    // An object of a third process is passed on through this one.
  }
  quint64 id;
  if (auto it = idOf_.find(object.get()); it != idOf_.end()) {
    id = it->second;
  } else {
    id = nextId_++;
    exports_[id].object = object;
    idOf_[object.get()] = id;
  }
  ++exports_[id].refs[peer];
  std::erase_if(unexported_, [](const auto& entry) { return entry.second.expired(); });
  watchPeer(peer);
  return {uniqueName, QDBusObjectPath(objectPath(id))};
}

ObjectRef BusCore::importReference(const wire::ObjectAddress& address) {
  const QString path = address.path.path();
  if (address.bus == uniqueName) {
    const quint64 id = objectId(path);
    if (auto it = exports_.find(id); it != exports_.end()) return it->second.object;
    if (auto it = unexported_.find(id); it != unexported_.end()) {
      if (ObjectRef object = it->second.lock()) return object;
    }
    throw serverUnavailable("object " + wire::toStd(path));
  }
  const QString key = address.bus + path;
  if (auto known = proxies_[key].lock()) {
    known->addReceived();
    return known;
  }
  auto proxy = std::make_shared<RemoteObject>(self, address.bus, path);
  proxy->addReceived();
  proxies_[key] = proxy;
  watchPeer(address.bus);
  return proxy;
}

void BusCore::forgetProxy(const QString& key, const RemoteObject* proxy) {
  auto it = proxies_.find(key);
  if (it == proxies_.end()) return;
  auto current = it->second.lock();
  if (!current || current.get() == proxy) proxies_.erase(it);
}

QDBusMessage BusCore::call(const QDBusMessage& message) {
  ActiveCall active(activeCalls);
  // No time limit: a scan may run for minutes. A peer that leaves the bus
  // ends the wait at once with an error reply from the bus.
  QDBusPendingCall pending = connection.asyncCall(message, std::numeric_limits<int>::max());
  // Waits in an event loop of our own, so that incoming calls are served
  // meanwhile. QDBus::BlockWithGui does the same, but a reply that arrives
  // while it is still setting up its wait is never noticed and the call
  // hangs for ever; the watcher reports a reply that came early as well.
  QDBusPendingCallWatcher watcher(pending);
  QEventLoop loop;
  QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
  if (!pending.isFinished())
    loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
  return pending.reply();
}

void BusCore::sendRelease(const QString& owner, const QString& path, uint32_t count) {
  QDBusMessage message = QDBusMessage::createMethodCall(
      owner, path, QLatin1String(wire::kObjectInterface), QStringLiteral("Release"));
  message << count;
  connection.send(message);  // sent without waiting; no reply is asked for
}

void BusCore::watchPeer(const QString& peer) {
  if (peer == uniqueName || !watched_.insert(peer).second) return;
  watcher_.addWatchedService(peer);
  // A peer that left before the watch was in place sends no signal any more.
  QDBusMessage ask = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
  ask << peer;
  QDBusMessage answer = connection.call(ask, QDBus::Block);
  if (answer.type() == QDBusMessage::ReplyMessage && !answer.arguments().value(0).toBool())
    peerLeft(peer);
}

void BusCore::peerLeft(const QString& peer) {
  if (watched_.erase(peer) == 0) return;
  watcher_.removeWatchedService(peer);
  std::vector<ObjectRef> ending;
  for (auto it = exports_.begin(); it != exports_.end();) {
    it->second.refs.erase(peer);
    if (it->second.refs.empty()) {
      idOf_.erase(it->second.object.get());
      unexported_[it->first] = it->second.object;
      ending.push_back(std::move(it->second.object));
      it = exports_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [key, weak] : proxies_) {
    if (auto proxy = weak.lock(); proxy && proxy->owner() == peer) proxy->markGone();
  }
  auto [first, last] = serverWatches_.equal_range(peer);
  for (auto it = first; it != last; ++it) {
    if (auto state = it->second.lock()) reportGone(state);
  }
  serverWatches_.erase(first, last);
  ending.clear();  // end-of-object code runs with the tables already consistent
}

class BusCore::BusServerWatch : public ServerWatch {
 public:
  explicit BusServerWatch(std::shared_ptr<ServerWatchState> state) : state_(std::move(state)) {}
  ~BusServerWatch() override { state_->armed = false; }

 private:
  std::shared_ptr<ServerWatchState> state_;
};

void BusCore::reportGone(const std::shared_ptr<ServerWatchState>& state) {
  // Queued, so that the handler never runs inside the bus's own bookkeeping
  // and may release proxies or make calls of its own.
  QTimer::singleShot(0, [state] {
    if (!state->armed) return;
    state->armed = false;
    state->onGone();
  });
}

std::unique_ptr<ServerWatch> BusCore::watchServer(const ObjectRef& object,
                                                  std::function<void()> onGone) {
  auto* remote = dynamic_cast<RemoteObject*>(object.get());
  if (!remote) return nullptr;
  auto state = std::make_shared<ServerWatchState>();
  state->onGone = std::move(onGone);
  auto watch = std::make_unique<BusServerWatch>(state);
  if (remote->gone()) {
    reportGone(state);
  } else {
    serverWatches_.emplace(remote->owner(), state);
    watchPeer(remote->owner());  // reports at once when the peer has just left
  }
  // Watches whose holders have ended are dropped as new ones come.
  std::erase_if(serverWatches_, [](const auto& entry) { return entry.second.expired(); });
  return watch;
}

void BusCore::release(const QString& peer, quint64 id, uint32_t count) {
  auto it = exports_.find(id);
  if (it == exports_.end()) return;
  auto ref = it->second.refs.find(peer);
  if (ref == it->second.refs.end()) return;
  ref->second = count >= ref->second ? 0 : ref->second - count;
  if (ref->second == 0) it->second.refs.erase(ref);
  if (!it->second.refs.empty()) return;
  ObjectRef ending = std::move(it->second.object);
  idOf_.erase(ending.get());
  unexported_[id] = ending;
  exports_.erase(it);
  ending.reset();
}

size_t BusCore::remoteReferences() const {
  size_t total = 0;
  for (const auto& [id, e] : exports_) {
    for (const auto& [peer, n] : e.refs) total += n;
  }
  return total;
}

QString BusCore::introspect(const QString& path) const {
  if (path == QLatin1String(wire::kRootPath))
    return QStringLiteral("  <node name=\"Factory\"/>\n  <node name=\"objects\"/>\n");
  if (path == QLatin1String(wire::kFactoryPath)) {
    if (!factoryServed) return QString();
    QString xml = QLatin1String(kFactoryInterfaceXml);
    for (const std::string& progId : servedClasses()) {
      auto interface = typed::interfaceName(progId);
      auto info = servedClassInfo(progId);
      if (interface && info) xml += typed::interfaceXml(*interface, *info);
    }
    return xml;
  }
  if (path == QLatin1String(wire::kObjectsPath)) {
    QString nodes;
    for (const auto& [id, e] : exports_)
      nodes += QStringLiteral("  <node name=\"%1\"/>\n").arg(id);
    return nodes;
  }
  auto it = exports_.find(objectId(path));
  if (it == exports_.end()) return QString();
  QString xml = QLatin1String(kObjectInterfaceXml);
  try {
    const Dispatch& object = *it->second.object;
    if (auto interface = typedInterfaceOf(object))
      xml += typed::interfaceXml(*interface, object.typeInfo());
  } catch (const std::exception&) {
    // A class that cannot describe itself shows its late-bound interface only.
  }
  return xml;
}

bool BusCore::handleMessage(const QDBusMessage& message, const QDBusConnection& c) {
  if (message.type() != QDBusMessage::MethodCallMessage) return false;
  const QString iface = message.interface();
  // Introspection and ping are answered by QtDBus itself.
  if (iface.startsWith(QLatin1String("org.freedesktop.DBus."))) return false;
  ActiveCall active(activeCalls);
  const bool lateBound = isLateBound(message);
  const auto failed = [&](const Error& e) {
    return lateBound ? wire::errorReply(message, e) : typed::errorReply(message, e);
  };
  QDBusMessage reply;
  try {
    if (message.path() == QLatin1String(wire::kFactoryPath)) {
      reply = handleFactory(message, lateBound);
    } else {
      reply = handleObject(message, lateBound);
    }
  } catch (const Error& e) {
    reply = failed(e);
  } catch (const std::exception& e) {
    reply = failed(
        Error(automation_error::kAutomationError, std::string("Automation error: ") + e.what()));
  }
  if (message.isReplyRequired()) c.send(reply);
  return true;
}

QDBusMessage BusCore::invokeReply(const QDBusMessage& message, const ObjectRef& object,
                                  const QString& member, const QVariant& packedArgs) {
  const QString sender = message.service();
  std::vector<Variant> args = wire::decodeList(wire::valueListOf(packedArgs), importer());
  const std::string name = wire::toStd(member);
  Variant result;
  try {
    result = object->invoke(name, args);
  } catch (const Error& e) {
    // The error's source names the class that raised it when the member
    // did not name itself, so that a caller can tell whose failure it is.
    if (!e.source().empty()) throw;
    const std::string& className = object->typeInfo().name;
    const std::string progId = servedProgIdOf(className);
    throw e.withSource(progId.empty() ? className : progId);
  }
  // By-reference arguments the caller passed go back, already in its types.
  wire::ValueMap byRef;
  if (const MemberInfo* info = object->typeInfo().findMember(name)) {
    for (size_t i = 0; i < args.size() && i < info->params.size(); ++i) {
      if (info->params[i].byRef && !isMissingArgument(args[i]))
        byRef.insert(static_cast<uint>(i), wire::encode(args[i], exporterFor(sender)));
    }
  }
  QDBusMessage reply = message.createReply();
  reply << QVariant::fromValue(wire::encode(result, exporterFor(sender)))
        << QVariant::fromValue(byRef);
  return reply;
}

QDBusMessage BusCore::typedCall(const QDBusMessage& message, const ObjectRef& object,
                                const QString& interface, const ClassInfo& info) {
  const std::string name = wire::toStd(message.member());
  const MemberInfo* member = info.findMember(name);
  if (!member) throw memberNotSupported(wire::toStd(interface), name);
  std::vector<Variant> args = typed::decodeArguments(message, interface, *member, importer());
  Variant result = object->invoke(member->name, args);
  return typed::reply(message, *member, result, args, exporterFor(message.service()));
}

QDBusMessage BusCore::handleObject(const QDBusMessage& message, bool lateBound) {
  const QString member = message.member();
  const quint64 id = objectId(message.path());
  auto it = exports_.find(id);
  if (it == exports_.end()) {
    if (lateBound || id == 0) {
      return message.createErrorReply(
          QDBusError::UnknownObject,
          QStringLiteral("No object at %1: it has ended or never existed.").arg(message.path()));
    }
    // A typed caller gets 462, the number our own clients raise for the
    // UnknownObject above.
    throw serverUnavailable(wire::toStd(message.interface()) + " object " +
                            wire::toStd(message.path()));
  }
  ObjectRef object = it->second.object;  // alive for the whole call, even if released meanwhile
  if (!lateBound) {
    const std::optional<QString> interface = typedInterfaceOf(*object);
    const ClassInfo* info = interface ? &object->typeInfo() : nullptr;
    if (!info ||
        !addresses(message, *interface, info->findMember(wire::toStd(member)) != nullptr)) {
      QStringList offered{QLatin1String(wire::kObjectInterface)};
      if (interface) offered << *interface;
      return noSuchInterface(message, QStringLiteral("object ") + message.path(), offered);
    }
    // Only a peer that holds the object may call it: a caller whose server
    // has ended, and whose path a fresh server has given to another client's
    // object since, is refused instead of reaching that object.
    if (!it->second.refs.count(message.service()))
      throw serverUnavailable(wire::toStd(*interface) + " object " + wire::toStd(message.path()));
    return typedCall(message, object, *interface, *info);
  }
  const QList<QVariant> in = message.arguments();
  if (member == QLatin1String("Invoke") && message.signature() == QLatin1String("sa(yv)")) {
    // As for typed calls: a peer that holds no reference to the object (one
    // that guessed its path) cannot call it, so that, for instance, only
    // the engine that was handed a callback object can report to it.
    if (!it->second.refs.count(message.service())) {
      return message.createErrorReply(
          QDBusError::UnknownObject,
          QStringLiteral("No object at %1 for this caller: it holds no reference to it.")
              .arg(message.path()));
    }
    return invokeReply(message, object, in.at(0).toString(), in.at(1));
  }
  if (member == QLatin1String("TypeInfo") && message.signature().isEmpty()) {
    const ClassInfo& info = object->typeInfo();
    QDBusMessage reply = message.createReply();
    reply << wire::toQt(info.name) << QVariant::fromValue(wire::encodeMembers(info));
    return reply;
  }
  if (member == QLatin1String("Release") && message.signature() == QLatin1String("u")) {
    object.reset();
    release(message.service(), id, in.at(0).toUInt());
    return message.createReply();
  }
  return message.createErrorReply(
      QDBusError::UnknownMethod,
      QStringLiteral("No method %1(%2) on an automation object.").arg(member, message.signature()));
}

QDBusMessage BusCore::handleFactory(const QDBusMessage& message, bool lateBound) {
  if (!factoryServed) {
    return message.createErrorReply(QDBusError::UnknownObject,
                                    QStringLiteral("This process serves no classes."));
  }
  const QString member = message.member();
  if (!lateBound) {
    // The typed members of each class served here, for callers that hold no
    // connection between calls: each call is made on a new object, which
    // ends with the call unless the call hands it out.
    QStringList offered{QLatin1String(wire::kFactoryInterface)};
    for (const std::string& progId : servedClasses()) {
      auto interface = typed::interfaceName(progId);
      auto info = servedClassInfo(progId);
      if (!interface || !info) continue;
      offered << *interface;
      if (addresses(message, *interface, info->findMember(wire::toStd(member)) != nullptr))
        return typedCall(message, createLocalObject(progId), *interface, *info);
    }
    return noSuchInterface(message, QStringLiteral("the class factory"), offered);
  }
  const QList<QVariant> in = message.arguments();
  if (member == QLatin1String("Create") && message.signature() == QLatin1String("s")) {
    ObjectRef object = createLocalObject(wire::toStd(in.at(0).toString()));
    wire::ObjectAddress address = exportTo(object, message.service());
    return message.createReply(QVariant::fromValue(address.path));
  }
  if (member == QLatin1String("TypeInfo") && message.signature() == QLatin1String("s")) {
    const std::string progId = wire::toStd(in.at(0).toString());
    auto info = servedClassInfo(progId);
    if (!info) throw cannotCreateObject(progId, "This process does not serve it.");
    QDBusMessage reply = message.createReply();
    reply << wire::toQt(info->name) << QVariant::fromValue(wire::encodeMembers(*info));
    return reply;
  }
  if (member == QLatin1String("CreateAndInvoke") && message.signature() == QLatin1String("ssa(yv)")) {
    ObjectRef object = createLocalObject(wire::toStd(in.at(0).toString()));
    return invokeReply(message, object, in.at(1).toString(), in.at(2));
  }
  return message.createErrorReply(
      QDBusError::UnknownMethod,
      QStringLiteral("No method %1(%2) on the class factory.").arg(member, message.signature()));
}

void BusCore::raiseEvent(const Dispatch& source, const MemberInfo& event,
                         const std::vector<Variant>& args) {
  // An object that no peer holds has no path on the bus: its class's
  // listeners hear it from the factory.
  auto it = idOf_.find(&source);
  const QString path =
      it == idOf_.end() ? QLatin1String(wire::kFactoryPath) : objectPath(it->second);
  if (auto interface = typedInterfaceOf(source))
    connection.send(typed::eventSignal(path, *interface, event, args));
}

ObjectRef BusCore::activate(std::string_view progId) {
  if (servedClassInfo(progId)) return createLocalObject(progId);  // no bus round trip
  const QString name = wire::toQt(progId);
  QDBusMessage message = QDBusMessage::createMethodCall(
      name, QLatin1String(wire::kFactoryPath), QLatin1String(wire::kFactoryInterface),
      QStringLiteral("Create"));
  message << name;
  QDBusMessage reply = call(message);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    if (reply.errorName() == QLatin1String(wire::kErrorName))
      throw wire::errorFromReply(reply, progId);
    throw cannotCreateObject(progId, wire::toStd(reply.errorMessage()));
  }
  const auto path = qdbus_cast<QDBusObjectPath>(reply.arguments().value(0));
  return importReference({reply.service(), path});
}

namespace {

// One watch of signals (an empty owner, path or interface matches any):
// connected to them while it lives.
class EventWatch : public QObject, public ServerWatch {
  Q_OBJECT
 public:
  EventWatch(QDBusConnection connection, QString owner, QString path, QString interface,
             QString name, std::function<void(const std::vector<Variant>&)> handler)
      : connection_(std::move(connection)),
        owner_(std::move(owner)),
        path_(std::move(path)),
        interface_(std::move(interface)),
        name_(std::move(name)),
        handler_(std::move(handler)) {
    connection_.connect(owner_, path_, interface_, name_, this, SLOT(receive(QDBusMessage)));
  }
  ~EventWatch() override {
    connection_.disconnect(owner_, path_, interface_, name_, this, SLOT(receive(QDBusMessage)));
  }

 public slots:
  void receive(const QDBusMessage& signal) {
    try {
      handler_(typed::signalArguments(signal));
    } catch (...) {
      // A signal that does not decode, or a handler that fails, ends nothing.
    }
  }

 private:
  QDBusConnection connection_;
  QString owner_;
  QString path_;
  QString interface_;
  QString name_;
  std::function<void(const std::vector<Variant>&)> handler_;
};

}  // namespace

std::unique_ptr<ServerWatch> Bus::watchEvent(
    const ObjectRef& object, std::string_view event,
    std::function<void(const std::vector<Variant>&)> handler) {
  auto* remote = dynamic_cast<RemoteObject*>(object.get());
  if (!remote) return nullptr;
  return std::make_unique<EventWatch>(core_->connection, remote->owner(), remote->path(),
                                      QString(), wire::toQt(event), std::move(handler));
}

std::unique_ptr<ServerWatch> Bus::watchClassEvent(
    std::string_view progId, std::string_view event,
    std::function<void(const std::vector<Variant>&)> handler) {
  const std::optional<QString> interface = typed::interfaceName(progId);
  if (!interface) return nullptr;
  return std::make_unique<EventWatch>(core_->connection, QString(), QString(), *interface,
                                      wire::toQt(event), std::move(handler));
}

Bus::Bus(QDBusConnection connection) {
  core_ = std::make_shared<BusCore>(std::move(connection));
  core_->self = core_;
  core_->connection.registerVirtualObject(QLatin1String(wire::kRootPath), core_.get(),
                                          QDBusConnection::SubPath);
}

Bus::~Bus() { core_->connection.unregisterObject(QLatin1String(wire::kRootPath)); }

QDBusConnection Bus::defaultConnection() {
  if (qEnvironmentVariableIsSet("DBUS_STARTER_ADDRESS"))
    return QDBusConnection::connectToBus(QDBusConnection::ActivationBus,
                                         QStringLiteral("oskara-automation"));
  return QDBusConnection::sessionBus();
}

ObjectRef Bus::activate(std::string_view progId) { return core_->activate(progId); }
std::unique_ptr<ServerWatch> Bus::watchServer(const ObjectRef& object,
                                              std::function<void()> onGone) {
  return core_->watchServer(object, std::move(onGone));
}
void Bus::raiseEvent(const Dispatch& source, const MemberInfo& event,
                     const std::vector<Variant>& args) {
  core_->raiseEvent(source, event, args);
}
QDBusConnection Bus::connection() const { return core_->connection; }
std::string Bus::uniqueName() const { return wire::toStd(core_->uniqueName); }
void Bus::serveFactory(bool on) { core_->factoryServed = on; }
size_t Bus::exportedObjects() const { return core_->exportedCount(); }
size_t Bus::remoteReferences() const { return core_->remoteReferences(); }
size_t Bus::activeCalls() const { return core_->activeCalls; }

}  // namespace oskara::automation

#include "bus.moc"
