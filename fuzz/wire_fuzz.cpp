// Fuzz target: one argument of the automation wire format, (yv), as a server
// receives it: the type code and a D-Bus value of any basic type, decoded and
// then converted to every type as the callee's declared parameters would.
//
// QtDBus 6.4 offers no public way to read a message from bytes, so the value
// is built the way QtDBus hands it over: the first input byte is the type
// code (any byte, known or not), the second picks the D-Bus type (y b n q i
// u x t d s o g ay as, or a variant inside the variant), the rest is the
// value. Structures reach decode as a QDBusArgument only from a real bus;
// the bus tests cover that road.
//
// Besides crashes, the target stops when decoding fails with anything but a
// type mismatch (13) with a text, when a conversion of a decoded value fails
// with a number other than 6, 13 or 94, and when a decoded value does not
// come back unchanged through encode and decode.
#include <QByteArray>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

#include "automation/bus/wire.h"
#include "fuzz_support.h"

namespace {

using namespace oskara;
using namespace oskara::automation;

using fuzz::bytesAs;

[[noreturn]] void fault(const std::string& what, const QVariant& value) {
  fuzz::fault(what, std::string("D-Bus value of type ") + value.metaType().name() + ": " +
                        value.toString().toStdString());
}

QVariant dbusValue(const uint8_t* data, size_t size, int depth = 0) {
  if (size == 0) return QVariant::fromValue(QString());
  const uint8_t kind = data[0] % 15;
  ++data;
  --size;
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  switch (kind) {
    case 0: return QVariant::fromValue(bytesAs<uchar>(data, size));
    case 1: return QVariant::fromValue(size > 0 && (data[0] & 1) != 0);
    case 2: return QVariant::fromValue(bytesAs<short>(data, size));
    case 3: return QVariant::fromValue(bytesAs<ushort>(data, size));
    case 4: return QVariant::fromValue(bytesAs<int>(data, size));
    case 5: return QVariant::fromValue(bytesAs<uint>(data, size));
    case 6: return QVariant::fromValue(bytesAs<qlonglong>(data, size));
    case 7: return QVariant::fromValue(bytesAs<qulonglong>(data, size));
    case 8: return QVariant::fromValue(bytesAs<double>(data, size));
    case 10: return QVariant::fromValue(QDBusObjectPath(text));
    case 11: return QVariant::fromValue(QDBusSignature(text));
    case 12:
      return QVariant::fromValue(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    case 13: return QVariant::fromValue(text.split(QLatin1Char(',')));
    case 14:
      if (depth < 3) return QVariant::fromValue(QDBusVariant(dbusValue(data, size, depth + 1)));
      break;
    default: break;
  }
  return QVariant::fromValue(text);
}

void checkFailure(const Error& e, bool decoding, const QVariant& q) {
  const int32_t n = e.number();
  const bool expected = decoding ? n == runtime_error::kTypeMismatch
                                 : n == runtime_error::kOverflow || n == runtime_error::kTypeMismatch ||
                                       n == runtime_error::kInvalidUseOfNull;
  if (!expected || e.text().empty())
    fault(std::string(decoding ? "decoding" : "a conversion") + " failed with " + std::to_string(n) + ": " + e.text(),
          q);
}

constexpr VarType kTargets[] = {VarType::Integer, VarType::Long,   VarType::Double, VarType::Date,
                                VarType::String,  VarType::Object, VarType::Boolean};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = (wire::registerTypes(), true);
  (void)registered;
  if (size == 0) return 0;
  const QVariant q = dbusValue(data + 1, size - 1);
  const wire::ImportObject noObjects = [&](const wire::ObjectAddress&) -> ObjectRef {
    fault("decode asked for an object", q);
  };
  Variant value;
  try {
    value = wire::decode(wire::Value{data[0], QDBusVariant(q)}, noObjects);
  } catch (const Error& e) {
    checkFailure(e, true, q);
    return 0;
  }
  for (VarType target : kTargets) {
    try {
      (void)value.convertTo(target);
    } catch (const Error& e) {
      checkFailure(e, false, q);
    }
  }
  if (value.type() == VarType::Object) return 0;
  const wire::Value sent = wire::encode(value, [&](const ObjectRef&) -> wire::ObjectAddress {
    fault("encode asked for an object", q);
  });
  try {
    if (wire::decode(sent, noObjects) != value)
      fault("the value " + value.debugString() + " does not come back through encode and decode", q);
  } catch (const Error& e) {
    fault("the value " + value.debugString() + " sent back does not decode: " + e.text(), q);
  }
  return 0;
}
