#include "dbengine/postgres/location.h"

#include <libpq-fe.h>

#include <map>
#include <memory>
#include <vector>

#include "core/error.h"
#include "dbengine/errors.h"
#include "dbengine/locations.h"

namespace oskara::db {
namespace {

constexpr std::string_view kSchemes[] = {"postgresql://", "postgres://"};

size_t schemeLength(std::string_view location) {
  for (std::string_view scheme : kSchemes) {
    if (location.substr(0, scheme.size()) == scheme) return scheme.size();
  }
  return 0;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// %XX decoded; a malformed escape stays as written (libpq refuses it later).
std::string percentDecoded(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The parts of a URI that matter here: [scheme][authority][path][?query].
struct UriParts {
  std::string_view scheme;
  std::string_view authority;  // [user[:password]@]host[:port][,host...]
  std::string_view path;       // "/dbname" or ""
  std::vector<std::string_view> parameters;  // key=value, in order
};

UriParts split(std::string_view location) {
  UriParts parts;
  const size_t schemeEnd = schemeLength(location);
  parts.scheme = location.substr(0, schemeEnd);
  std::string_view rest = location.substr(schemeEnd);
  const size_t query = rest.find('?');
  std::string_view query_text;
  if (query != std::string_view::npos) {
    query_text = rest.substr(query + 1);
    rest = rest.substr(0, query);
  }
  const size_t slash = rest.find('/');
  parts.authority = rest.substr(0, slash);
  if (slash != std::string_view::npos) parts.path = rest.substr(slash);
  while (!query_text.empty()) {
    const size_t amp = query_text.find('&');
    std::string_view item = query_text.substr(0, amp);
    if (!item.empty()) parts.parameters.push_back(item);
    if (amp == std::string_view::npos) break;
    query_text.remove_prefix(amp + 1);
  }
  return parts;
}

std::string_view keyOf(std::string_view parameter) { return parameter.substr(0, parameter.find('=')); }

std::string_view valueOf(std::string_view parameter) {
  const size_t eq = parameter.find('=');
  return eq == std::string_view::npos ? std::string_view() : parameter.substr(eq + 1);
}

// The user part of an authority without its password: "user:pw@host" -> "user@host".
std::string withoutPassword(std::string_view authority) {
  const size_t at = authority.find('@');
  if (at == std::string_view::npos) return std::string(authority);
  std::string_view user = authority.substr(0, at);
  user = user.substr(0, user.find(':'));
  return std::string(user) + std::string(authority.substr(at));
}

std::string join(const UriParts& parts, std::string_view authority, bool keepSchema, bool keepPassword) {
  std::string out = std::string(parts.scheme) + std::string(authority) + std::string(parts.path);
  std::string query;
  for (std::string_view p : parts.parameters) {
    if (!keepSchema && keyOf(p) == "schema") continue;
    if (!keepPassword && keyOf(p) == "password") continue;
    query += (query.empty() ? "?" : "&") + std::string(p);
  }
  return out + query;
}

using Options = std::map<std::string, std::string>;

struct OptionsDeleter {
  void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using OptionsPtr = std::unique_ptr<PQconninfoOption, OptionsDeleter>;

Options optionsOf(const PQconninfoOption* options) {
  Options out;
  for (const PQconninfoOption* o = options; o && o->keyword; ++o) {
    if (o->val && *o->val) out[o->keyword] = o->val;
  }
  return out;
}

std::string keyOf(const Options& options, std::initializer_list<const char*> only, bool allBut) {
  std::string key;
  for (const auto& [keyword, value] : options) {
    bool listed = false;
    for (const char* k : only) listed = listed || keyword == k;
    if (listed == allBut) continue;
    key += keyword + "=" + value + '\n';
  }
  return key;
}

Error invalidLocation(const std::string& shown, std::string_view reason) {
  std::string text(reason);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '.')) text.pop_back();
  return Error(errc::kInvalidPath, "'" + shown + "' is not a valid PostgreSQL location: " + text + ".");
}

}  // namespace

bool isServerLocation(std::string_view location) { return schemeLength(location) != 0; }

std::string shownLocation(std::string_view location) {
  if (!isServerLocation(location)) return std::string(location);
  const UriParts parts = split(location);
  return join(parts, withoutPassword(parts.authority), true, false);
}

namespace postgres {

ServerLocation parseServerLocation(std::string_view location) {
  ServerLocation out;
  const UriParts parts = split(location);
  out.shown = join(parts, withoutPassword(parts.authority), true, false);
  out.conninfo = join(parts, parts.authority, false, true);
  out.schema = std::string(kDefaultSchema);
  for (std::string_view p : parts.parameters) {
    if (keyOf(p) == "schema") out.schema = percentDecoded(valueOf(p));
  }
  if (out.schema.empty()) throw invalidLocation(out.shown, "the schema parameter names no schema");

  char* error = nullptr;
  OptionsPtr parsed(PQconninfoParse(out.conninfo.c_str(), &error));
  if (!parsed) {
    // The message may quote the URI's text, password included.
    std::string reason = error ? error : "out of memory";
    PQfreemem(error);
    const size_t at = parts.authority.find('@');
    if (at != std::string_view::npos) {
      std::string_view user = parts.authority.substr(0, at);
      const size_t colon = user.find(':');
      if (colon != std::string_view::npos) out.password = std::string(user.substr(colon + 1));
    }
    throw invalidLocation(out.shown, scrubbed(std::move(reason), out));
  }
  Options explicitOptions = optionsOf(parsed.get());
  if (auto it = explicitOptions.find("password"); it != explicitOptions.end()) out.password = it->second;

  // libpq's defaults fill what the location leaves out, as a connection would.
  OptionsPtr defaults(PQconndefaults());
  Options options = optionsOf(defaults.get());
  for (auto& [keyword, value] : explicitOptions) options[keyword] = value;
  if (!options.count("dbname") && options.count("user")) options["dbname"] = options["user"];
  out.serverKey = keyOf(options, {"password", "application_name", "fallback_application_name"}, true);
  out.databaseKey = keyOf(options, {"host", "hostaddr", "port", "dbname", "service"}, false);
  return out;
}

std::string scrubbed(std::string text, const ServerLocation& location) {
  // A password of one or two characters is not looked for in free text:
  // blanking every occurrence would tell it.
  auto scrub = [&](const std::string& secret) {
    if (secret.size() < 3) return;
    for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
      text.replace(at, secret.size(), "***");
      at += 3;
    }
  };
  scrub(location.password);
  return text;
}

std::string serverReason(std::string_view message) {
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ' || message.back() == '.'))
    message.remove_suffix(1);
  std::string out(message);
  // libpq puts the server's severity before its message, also after its own text.
  for (std::string_view prefix : {"FATAL:  ", "ERROR:  "}) {
    for (size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at)) out.erase(at, prefix.size());
  }
  // Several lines (one per address tried) read as one sentence.
  for (char& c : out) {
    if (c == '\n') c = ' ';
  }
  return out;
}

Error connectionFailure(const ServerLocation& location, std::string_view reason) {
  const std::string why = scrubbed(serverReason(reason), location);
  const auto contains = [&why](std::string_view part) { return why.find(part) != std::string::npos; };
  const std::string where = "'" + location.shown + "'";
  // The server's and libpq's texts in English (the cluster's language for
  // messages before a session exists); anything else still carries its text.
  if (contains("database \"") && contains("does not exist"))
    return Error(errc::kFileNotFound, "Could not find the database of " + where + ": " + why + ".");
  if (contains("Connection refused") || contains("No such file or directory") ||
      contains("could not translate host name") || contains("timeout expired") ||
      contains("Network is unreachable") || contains("No route to host") ||
      contains("server closed the connection") || contains("could not connect"))
    return Error(errc::kInvalidPath, "Could not reach the PostgreSQL server of " + where + ": " + why + ".");
  return Error(errc::kCannotOpenFile, "The database engine cannot open " + where + ": " + why + ".");
}

std::string sameDatabaseSchema(std::string_view link) {
  if (link.substr(0, 1) != "?") return {};
  std::string schema;
  const std::string uri = "postgresql://" + std::string(link);
  for (std::string_view p : split(uri).parameters) {
    if (keyOf(p) != "schema") return {};
    schema = percentDecoded(valueOf(p));
  }
  return schema;
}

}  // namespace postgres
}  // namespace oskara::db
