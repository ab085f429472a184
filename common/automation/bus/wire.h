// Wire format of the automation layer on D-Bus: names, the structures that
// carry Variants and type information, and the mapping of failures to error
// replies. Internal to the bus library; docs/automation.md describes it for
// people and other tools.
#pragma once

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QList>
#include <QMap>
#include <QString>
#include <functional>

#include "automation/dispatch.h"

namespace oskara::automation::wire {

inline constexpr char kFactoryPath[] = "/oskara/Factory";
inline constexpr char kObjectsPath[] = "/oskara/objects";  // objects live below it
inline constexpr char kRootPath[] = "/oskara";
inline constexpr char kFactoryInterface[] = "oskara.Automation.Factory";
inline constexpr char kObjectInterface[] = "oskara.Automation.Object";
inline constexpr char kErrorName[] = "oskara.Automation.Error";

// One Variant: its type code (the VarType number) and its value, "(yv)".
struct Value {
  uchar tag = 0;
  QDBusVariant value;
};

// An object reference: the unique bus name of the process that serves the
// object and its path there, "(so)". Nothing is ("", "/").
struct ObjectAddress {
  QString bus;
  QDBusObjectPath path;
};

// Type information: "(sybb)" and "(sa(sybb)ys)".
struct Param {
  QString name;
  uchar type = 0;
  bool byRef = false;
  bool optional = false;
};
struct Member {
  QString name;
  QList<Param> params;
  uchar result = 0;
  QString help;
};

QDBusArgument& operator<<(QDBusArgument& arg, const Value& v);
const QDBusArgument& operator>>(const QDBusArgument& arg, Value& v);
QDBusArgument& operator<<(QDBusArgument& arg, const ObjectAddress& a);
const QDBusArgument& operator>>(const QDBusArgument& arg, ObjectAddress& a);
QDBusArgument& operator<<(QDBusArgument& arg, const Param& p);
const QDBusArgument& operator>>(const QDBusArgument& arg, Param& p);
QDBusArgument& operator<<(QDBusArgument& arg, const Member& m);
const QDBusArgument& operator>>(const QDBusArgument& arg, Member& m);

using ValueList = QList<Value>;     // a(yv): the arguments of a call
using ValueMap = QMap<uint, Value>;  // a{u(yv)}: by-reference arguments coming back, by index
using MemberList = QList<Member>;   // a(sa(sybb)ys)

// Registers the structures with QtDBus; safe to call more than once.
void registerTypes();

using ExportObject = std::function<ObjectAddress(const ObjectRef&)>;
using ImportObject = std::function<ObjectRef(const ObjectAddress&)>;

Value encode(const Variant& value, const ExportObject& exportObject);
// Raises 13 on a value whose type code is unknown or whose value does not fit it.
Variant decode(const Value& value, const ImportObject& importObject);
ValueList encodeList(const std::vector<Variant>& values, const ExportObject& exportObject);
std::vector<Variant> decodeList(const ValueList& values, const ImportObject& importObject);
// The list carried by a message argument that QtDBus left undecoded.
ValueList valueListOf(const QVariant& argument);

MemberList encodeMembers(const ClassInfo& info);
ClassInfo decodeClass(const QString& name, const MemberList& members);
MemberList memberListOf(const QVariant& argument);

std::string toStd(const QString& text);
QString toQt(std::string_view text);

// An error reply carrying the failure's number, text and source.
QDBusMessage errorReply(const QDBusMessage& call, const Error& error);
// The failure an error reply stands for. Errors of our own keep their number;
// a peer that has gone becomes 462, anything else 440 naming `what`.
Error errorFromReply(const QDBusMessage& reply, std::string_view what);
bool peerIsGone(const QDBusMessage& reply);

}  // namespace oskara::automation::wire

Q_DECLARE_METATYPE(oskara::automation::wire::Value)
Q_DECLARE_METATYPE(oskara::automation::wire::ObjectAddress)
Q_DECLARE_METATYPE(oskara::automation::wire::Param)
Q_DECLARE_METATYPE(oskara::automation::wire::Member)
