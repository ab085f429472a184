#include "automation/bus/wire.h"

#include <QDBusMetaType>
#include <QMetaType>

namespace oskara::automation::wire {

QDBusArgument& operator<<(QDBusArgument& arg, const Value& v) {
  arg.beginStructure();
  arg << v.tag << v.value;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, Value& v) {
  arg.beginStructure();
  arg >> v.tag >> v.value;
  arg.endStructure();
  return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const ObjectAddress& a) {
  arg.beginStructure();
  arg << a.bus << a.path;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, ObjectAddress& a) {
  arg.beginStructure();
  arg >> a.bus >> a.path;
  arg.endStructure();
  return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const Param& p) {
  arg.beginStructure();
  arg << p.name << p.type << p.byRef << p.optional;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, Param& p) {
  arg.beginStructure();
  arg >> p.name >> p.type >> p.byRef >> p.optional;
  arg.endStructure();
  return arg;
}
QDBusArgument& operator<<(QDBusArgument& arg, const Member& m) {
  arg.beginStructure();
  arg << m.name << m.params << m.result << m.help;
  arg.endStructure();
  return arg;
}
const QDBusArgument& operator>>(const QDBusArgument& arg, Member& m) {
  arg.beginStructure();
  arg >> m.name >> m.params >> m.result >> m.help;
  arg.endStructure();
  return arg;
}

void registerTypes() {
  static const bool done = [] {
    qDBusRegisterMetaType<Value>();
    qDBusRegisterMetaType<ObjectAddress>();
    qDBusRegisterMetaType<Param>();
    qDBusRegisterMetaType<Member>();
    qDBusRegisterMetaType<ValueList>();
    qDBusRegisterMetaType<ValueMap>();
    qDBusRegisterMetaType<QList<Param>>();
    qDBusRegisterMetaType<MemberList>();
    return true;
  }();
  (void)done;
}

std::string toStd(const QString& text) { return text.toStdString(); }
QString toQt(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {

[[noreturn]] void malformed(const std::string& why) {
  throw Error(runtime_error::kTypeMismatch, "Type mismatch: malformed value on the bus: " + why);
}

bool knownTag(uchar tag) {
  switch (static_cast<VarType>(tag)) {
    case VarType::Empty:
    case VarType::Null:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Double:
    case VarType::Date:
    case VarType::String:
    case VarType::Object:
    case VarType::Error:
    case VarType::Boolean: return true;
  }
  return false;
}

// The D-Bus value as the nearest Variant, before its type code is applied.
// Hand-written calls (busctl) may send any basic type; the code decides.
Variant nativeValue(const QVariant& q) {
  switch (q.metaType().id()) {
    case QMetaType::Bool: return Variant(q.toBool());
    case QMetaType::UChar: return Variant(static_cast<int16_t>(q.value<uchar>()));
    case QMetaType::Short: return Variant(static_cast<int16_t>(q.value<short>()));
    case QMetaType::UShort: return Variant(static_cast<int32_t>(q.value<ushort>()));
    case QMetaType::Int: return Variant(static_cast<int32_t>(q.toInt()));
    case QMetaType::UInt: return Variant::fromInt64(q.value<uint>());
    case QMetaType::LongLong: return Variant::fromInt64(q.value<qlonglong>());
    case QMetaType::ULongLong: return Variant(static_cast<double>(q.value<qulonglong>()));
    case QMetaType::Double: return Variant(q.toDouble());
    case QMetaType::QString: return Variant(toStd(q.toString()));
    default: break;
  }
  malformed(std::string("unsupported D-Bus type ") + q.metaType().name());
}

}  // namespace

Value encode(const Variant& v, const ExportObject& exportObject) {
  Value out;
  out.tag = static_cast<uchar>(v.type());
  QVariant q;
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null: q = QString(); break;
    case VarType::Boolean: q = *v.get<bool>(); break;
    case VarType::Integer: q = QVariant::fromValue<short>(*v.get<int16_t>()); break;
    case VarType::Long: q = QVariant::fromValue<int>(*v.get<int32_t>()); break;
    case VarType::Double: q = *v.get<double>(); break;
    case VarType::Date: q = v.get<DateTime>()->serial; break;
    case VarType::String: q = toQt(*v.get<std::string>()); break;
    case VarType::Error: q = QVariant::fromValue<int>(v.errorCode()); break;
    case VarType::Object: {
      const ObjectRef& object = *v.get<ObjectRef>();
      ObjectAddress address{QString(), QDBusObjectPath("/")};
      if (object) address = exportObject(object);
      q = QVariant::fromValue(address);
      break;
    }
  }
  out.value = QDBusVariant(q);
  return out;
}

Variant decode(const Value& value, const ImportObject& importObject) {
  if (!knownTag(value.tag)) malformed("unknown type code " + std::to_string(value.tag));
  const auto type = static_cast<VarType>(value.tag);
  const QVariant q = value.value.variant();
  switch (type) {
    case VarType::Empty: return Variant();
    case VarType::Null: return Variant::null();
    case VarType::Object: {
      if (q.metaType() != QMetaType::fromType<QDBusArgument>())
        malformed("an object reference must be (so)");
      const auto arg = q.value<QDBusArgument>();
      if (arg.currentSignature() != QLatin1String("(so)"))
        malformed("an object reference must be (so)");
      ObjectAddress address = qdbus_cast<ObjectAddress>(arg);
      if (address.bus.isEmpty()) return Variant(ObjectRef());
      return Variant(importObject(address));
    }
    default: break;
  }
  try {
    Variant native = nativeValue(q);
    if (type == VarType::Error) return Variant::error(native.toInt32());
    // A Double sent as such is taken through toDouble too: NaN and the
    // infinities are no values of the runtime.
    if (type == VarType::Double) return Variant(native.toDouble());
    return native.convertTo(type);
  } catch (const Error& e) {
    malformed(e.text());
  }
}

ValueList encodeList(const std::vector<Variant>& values, const ExportObject& exportObject) {
  ValueList list;
  list.reserve(static_cast<qsizetype>(values.size()));
  for (const Variant& v : values) list.push_back(encode(v, exportObject));
  return list;
}

std::vector<Variant> decodeList(const ValueList& values, const ImportObject& importObject) {
  std::vector<Variant> out;
  out.reserve(static_cast<size_t>(values.size()));
  for (const Value& v : values) out.push_back(decode(v, importObject));
  return out;
}

ValueList valueListOf(const QVariant& argument) { return qdbus_cast<ValueList>(argument); }
MemberList memberListOf(const QVariant& argument) { return qdbus_cast<MemberList>(argument); }

MemberList encodeMembers(const ClassInfo& info) {
  MemberList members;
  for (const MemberInfo& m : info.members) {
    Member wm{toQt(m.name), {}, static_cast<uchar>(m.result), toQt(m.help)};
    for (const ParamInfo& p : m.params)
      wm.params.push_back(Param{toQt(p.name), static_cast<uchar>(p.type), p.byRef, p.optional});
    members.push_back(std::move(wm));
  }
  return members;
}

ClassInfo decodeClass(const QString& name, const MemberList& members) {
  ClassInfo info;
  info.name = toStd(name);
  for (const Member& wm : members) {
    MemberInfo m{toStd(wm.name), {}, static_cast<DeclType>(wm.result), toStd(wm.help)};
    for (const Param& p : wm.params)
      m.params.push_back(ParamInfo{toStd(p.name), static_cast<DeclType>(p.type), p.byRef, p.optional});
    info.members.push_back(std::move(m));
  }
  return info;
}

QDBusMessage errorReply(const QDBusMessage& call, const Error& error) {
  QDBusMessage reply = call.createErrorReply(QLatin1String(kErrorName), toQt(error.text()));
  reply << QVariant::fromValue<int>(error.number()) << toQt(error.source());
  return reply;
}

bool peerIsGone(const QDBusMessage& reply) {
  static const char* const kGone[] = {
      "org.freedesktop.DBus.Error.NoReply",       "org.freedesktop.DBus.Error.Disconnected",
      "org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner",
      "org.freedesktop.DBus.Error.UnknownObject",  "org.freedesktop.DBus.Error.Timeout",
      "org.freedesktop.DBus.Error.TimedOut",
  };
  for (const char* name : kGone) {
    if (reply.errorName() == QLatin1String(name)) return true;
  }
  return false;
}

Error errorFromReply(const QDBusMessage& reply, std::string_view what) {
  const QList<QVariant> args = reply.arguments();
  if (reply.errorName() == QLatin1String(kErrorName) && args.size() >= 3) {
    return Error(args.at(1).toInt(), toStd(args.at(0).toString()), toStd(args.at(2).toString()));
  }
  if (peerIsGone(reply)) return serverUnavailable(what);
  return Error(automation_error::kAutomationError, "Automation error in " + std::string(what) + ": " +
                        toStd(reply.errorName()) + ": " + toStd(reply.errorMessage()));
}

}  // namespace oskara::automation::wire
