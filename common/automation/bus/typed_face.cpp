#include "automation/bus/typed_face.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <QStringList>

namespace oskara::automation::typed {
namespace {

// Help strings travel in the annotation that GLib's tools and most D-Bus
// browsers show as documentation.
constexpr char kDocAnnotation[] = "org.gtk.GDBus.DocString";

// Declared types use the late-bound wire's type codes.
uchar tagOf(DeclType type) { return static_cast<uchar>(type); }

// The complete types of a signature, one per argument: "sa(yv)" gives "s"
// and "a(yv)".
QStringList completeTypes(const QString& signature) {
  QStringList types;
  qsizetype i = 0;
  while (i < signature.size()) {
    const qsizetype start = i;
    int depth = 0;
    QChar c;
    do {
      c = signature.at(i++);
      if (c == QLatin1Char('(') || c == QLatin1Char('{')) ++depth;
      if (c == QLatin1Char(')') || c == QLatin1Char('}')) --depth;
    } while (i < signature.size() && (depth > 0 || c == QLatin1Char('a')));
    types << signature.mid(start, i - start);
  }
  return types;
}

QString attribute(const QString& text) {
  QString escaped = text.toHtmlEscaped();
  escaped.replace(QLatin1Char('\r'), QLatin1String("&#13;"));
  escaped.replace(QLatin1Char('\n'), QLatin1String("&#10;"));
  return escaped;
}

QString argXml(const QString& name, const QString& type, const char* direction) {
  QString xml = QStringLiteral("      <arg name=\"%1\" type=\"%2\"").arg(attribute(name), type);
  if (direction) xml += QStringLiteral(" direction=\"%1\"").arg(QLatin1String(direction));
  return xml + QStringLiteral("/>\n");
}

QString docXml(const std::string& help) {
  if (help.empty()) return {};
  return QStringLiteral("      <annotation name=\"%1\" value=\"%2\"/>\n")
      .arg(QLatin1String(kDocAnnotation), attribute(wire::toQt(help)));
}

// The type code of a basic D-Bus value inside a `v`: its natural Variant type.
uchar naturalTag(const QVariant& value) {
  switch (value.metaType().id()) {
    case QMetaType::Bool: return static_cast<uchar>(VarType::Boolean);
    case QMetaType::UChar:
    case QMetaType::Short: return static_cast<uchar>(VarType::Integer);
    case QMetaType::Double: return static_cast<uchar>(VarType::Double);
    case QMetaType::QString: return static_cast<uchar>(VarType::String);
    default: return static_cast<uchar>(VarType::Long);  // other integers; anything else is refused
  }
}

Variant decodeValue(const QVariant& value, DeclType type, const wire::ImportObject& importObject) {
  if (type != DeclType::Variant)
    return wire::decode(wire::Value{tagOf(type), QDBusVariant(value)}, importObject);
  const QVariant inner = qvariant_cast<QDBusVariant>(value).variant();
  if (inner.metaType() == QMetaType::fromType<QDBusArgument>()) {
    const auto structure = inner.value<QDBusArgument>();
    if (structure.currentSignature() == QLatin1String("(yv)"))
      return wire::decode(qdbus_cast<wire::Value>(structure), importObject);
    // An object reference; decode refuses any other structure.
    return wire::decode(wire::Value{tagOf(DeclType::Object), QDBusVariant(inner)}, importObject);
  }
  return wire::decode(wire::Value{naturalTag(inner), QDBusVariant(inner)}, importObject);
}

QVariant encodeValue(const Variant& value, DeclType type, const wire::ExportObject& exportObject) {
  if (type == DeclType::Variant) {
    wire::Value tagged = wire::encode(value, exportObject);
    switch (value.type()) {
      case VarType::Empty:
      case VarType::Null:
      case VarType::Date:
      case VarType::Error:
        // D-Bus has no type of their own: they travel in their late-bound form.
        return QVariant::fromValue(QDBusVariant(QVariant::fromValue(tagged)));
      default: return QVariant::fromValue(QDBusVariant(tagged.value.variant()));
    }
  }
  const auto target = static_cast<VarType>(tagOf(type));
  const Variant converted = value.type() == target ? value : value.convertTo(target);
  return wire::encode(converted, exportObject).value.variant();
}

std::string typeText(const QString& signature, DeclType type) {
  return wire::toStd(signature) + " (" + std::string(declTypeName(type)) + ")";
}

}  // namespace

QString signatureOf(DeclType type) {
  switch (type) {
    case DeclType::Integer: return QStringLiteral("n");
    case DeclType::Long: return QStringLiteral("i");
    case DeclType::Double:
    case DeclType::Date: return QStringLiteral("d");
    case DeclType::String: return QStringLiteral("s");
    case DeclType::Object: return QStringLiteral("(so)");
    case DeclType::Boolean: return QStringLiteral("b");
    case DeclType::Variant: return QStringLiteral("v");
    case DeclType::Void: break;
  }
  return {};
}

std::optional<QString> interfaceName(std::string_view progId) {
  const QString name = wire::toQt(progId);
  const QStringList elements = name.split(QLatin1Char('.'));
  if (name.size() > 255 || elements.size() < 2) return std::nullopt;
  for (const QString& element : elements) {
    if (element.isEmpty() || element.at(0).isDigit()) return std::nullopt;
    for (QChar c : element) {
      if (c.unicode() > 127 || !(c.isLetterOrNumber() || c == QLatin1Char('_')))
        return std::nullopt;
    }
  }
  return name;
}

QString interfaceXml(const QString& interface, const ClassInfo& info) {
  QString xml = QStringLiteral("  <interface name=\"%1\">\n").arg(interface);
  for (const MemberInfo& m : info.members) {
    xml += QStringLiteral("    <method name=\"%1\">\n").arg(wire::toQt(m.name));
    xml += docXml(m.help);
    for (const ParamInfo& p : m.params)
      xml += argXml(wire::toQt(p.name), signatureOf(p.type), "in");
    if (m.result != DeclType::Void)
      xml += argXml(QStringLiteral("result"), signatureOf(m.result), "out");
    for (const ParamInfo& p : m.params) {
      if (p.byRef) xml += argXml(wire::toQt(p.name), signatureOf(p.type), "out");
    }
    xml += QStringLiteral("    </method>\n");
  }
  for (const MemberInfo& e : info.events) {
    xml += QStringLiteral("    <signal name=\"%1\">\n").arg(wire::toQt(e.name));
    xml += docXml(e.help);
    for (const ParamInfo& p : e.params)
      xml += argXml(wire::toQt(p.name), signatureOf(p.type), nullptr);
    xml += QStringLiteral("    </signal>\n");
  }
  return xml + QStringLiteral("  </interface>\n");
}

std::vector<Variant> decodeArguments(const QDBusMessage& call, const QString& interface,
                                     const MemberInfo& member,
                                     const wire::ImportObject& importObject) {
  const std::string where = wire::toStd(interface) + "." + member.name;
  QString expected;
  std::string parameters;
  for (const ParamInfo& p : member.params) {
    expected += signatureOf(p.type);
    parameters +=
        (parameters.empty() ? "" : ", ") + p.name + " " + wire::toStd(signatureOf(p.type));
  }
  const QStringList given = completeTypes(call.signature());
  const qsizetype count = static_cast<qsizetype>(member.params.size());
  for (qsizetype i = 0; i < given.size() && i < count; ++i) {
    const ParamInfo& p = member.params[static_cast<size_t>(i)];
    if (given.at(i) != signatureOf(p.type)) {
      throw Error(runtime_error::kTypeMismatch,
                  "Type mismatch in argument '" + p.name + "' of " + where + ": expected " +
                      typeText(signatureOf(p.type), p.type) + ", got " + wire::toStd(given.at(i)) +
                      "; the method's signature is " + wire::toStd(expected) + ".");
    }
  }
  if (given.size() != count) {
    throw Error(automation_error::kWrongArgumentCount,
                "Wrong number of arguments or invalid property assignment: " + where + " takes " +
                    std::to_string(count) + " argument(s) (" + parameters + "), not " +
                    std::to_string(given.size()) + " (signature \"" +
                    wire::toStd(call.signature()) + "\").");
  }
  const QList<QVariant> in = call.arguments();
  std::vector<Variant> args;
  args.reserve(member.params.size());
  for (const ParamInfo& p : member.params) {
    try {
      args.push_back(decodeValue(in.at(static_cast<qsizetype>(args.size())), p.type, importObject));
    } catch (const Error& e) {
      if (e.number() != runtime_error::kTypeMismatch) throw;
      throw Error(runtime_error::kTypeMismatch,
                  "Type mismatch in argument '" + p.name + "' of " + where + ": " + e.text());
    }
  }
  return args;
}

QDBusMessage reply(const QDBusMessage& call, const MemberInfo& member, const Variant& result,
                   const std::vector<Variant>& args, const wire::ExportObject& exportObject) {
  QDBusMessage out = call.createReply();
  if (member.result != DeclType::Void) out << encodeValue(result, member.result, exportObject);
  for (size_t i = 0; i < member.params.size() && i < args.size(); ++i) {
    if (member.params[i].byRef) out << encodeValue(args[i], member.params[i].type, exportObject);
  }
  return out;
}

QDBusMessage errorReply(const QDBusMessage& call, const Error& error) {
  return call.createErrorReply(
      QLatin1String(wire::kErrorName),
      QStringLiteral("[%1] %2").arg(error.number()).arg(wire::toQt(error.text())));
}

QDBusMessage eventSignal(const QString& path, const QString& interface, const MemberInfo& event,
                         const std::vector<Variant>& args) {
  // A signal reaches every listener: no reference could be counted for them.
  const wire::ExportObject noObjects = [&](const ObjectRef&) -> wire::ObjectAddress {
    throw Error(runtime_error::kTypeMismatch,
                "Type mismatch: event " + event.name + " cannot carry an object.");
  };
  QDBusMessage signal = QDBusMessage::createSignal(path, interface, wire::toQt(event.name));
  for (size_t i = 0; i < event.params.size() && i < args.size(); ++i)
    signal << encodeValue(args[i], event.params[i].type, noObjects);
  return signal;
}

std::vector<Variant> signalArguments(const QDBusMessage& signal) {
  const wire::ImportObject noObjects = [](const wire::ObjectAddress&) -> ObjectRef {
    throw Error(runtime_error::kTypeMismatch, "Type mismatch: a signal cannot carry an object.");
  };
  std::vector<Variant> args;
  for (const QVariant& value : signal.arguments()) {
    args.push_back(value.metaType() == QMetaType::fromType<QDBusVariant>()
                       ? decodeValue(value, DeclType::Variant, noObjects)
                       : decodeValue(QVariant::fromValue(QDBusVariant(value)), DeclType::Variant,
                                     noObjects));
  }
  return args;
}

}  // namespace oskara::automation::typed
