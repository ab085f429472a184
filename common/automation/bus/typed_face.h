// The typed face of a class on D-Bus: an interface named after the class's
// programmatic identifier whose methods are the class's members with plain
// D-Bus types, and whose signals are its events. Everything here is derived
// from the class's description (ClassInfo), the one that serves Invoke and
// TypeInfo, so the two faces cannot drift apart. Internal to the bus library;
// docs/automation.md describes the mapping for people and other tools.
//
//   in:  every parameter in declaration order, optional ones included
//   out: the result (none for Void), then every by-reference parameter's
//        value after the call
//
//   Integer n   Long i   Double d   Date d (days since 30 December 1899)
//   String s    Boolean b   Object (so)   Variant v
#pragma once

#include <QDBusMessage>
#include <QString>
#include <optional>
#include <string_view>
#include <vector>

#include "automation/bus/wire.h"

namespace oskara::automation::typed {

// The D-Bus signature of a declared type; empty for Void.
QString signatureOf(DeclType type);

// The typed interface of the class served as `progId`: the identifier itself,
// when it is a valid D-Bus interface name.
std::optional<QString> interfaceName(std::string_view progId);

// Introspection of the typed interface: every member with its arguments'
// names, types and directions, every event as a signal, each one's help as
// an org.gtk.GDBus.DocString annotation.
QString interfaceXml(const QString& interface, const ClassInfo& info);

// The arguments of a typed call of `member`, decoded into Variants of the
// declared types. A signature other than the member's raises 450 (wrong
// count) or 13 (wrong type), naming the member, the argument and what was
// expected.
std::vector<Variant> decodeArguments(const QDBusMessage& call, const QString& interface,
                                     const MemberInfo& member,
                                     const wire::ImportObject& importObject);

// The reply of a typed call: the result, then the by-reference arguments.
QDBusMessage reply(const QDBusMessage& call, const MemberInfo& member, const Variant& result,
                   const std::vector<Variant>& args, const wire::ExportObject& exportObject);

// The error reply of a failed typed call: oskara.Automation.Error with the
// text alone, "[number] text", the one form that every D-Bus library shows
// (GLib's refuses any body but a single string).
QDBusMessage errorReply(const QDBusMessage& call, const Error& error);

// The signal of an event raised by the object at `path`; `args` fit the
// event's parameters.
QDBusMessage eventSignal(const QString& path, const QString& interface, const MemberInfo& event,
                         const std::vector<Variant>& args);

// The arguments of a signal, each as its natural Variant (typed signals carry
// no declared types); a signal that carries anything but basic values or
// variants of them raises 13.
std::vector<Variant> signalArguments(const QDBusMessage& signal);

}  // namespace oskara::automation::typed
