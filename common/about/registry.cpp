#include "about/registry.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include "core/text.h"

namespace oskara::about {

namespace {

// The buffer the dialog reads a value into, in bytes.
constexpr size_t kValueBufferSize = 1024;

std::string& registryFileSlot() {
  static std::string file(kDefaultRegistryFile);
  return file;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string_view trimBackslashes(std::string_view s) {
  while (!s.empty() && s.front() == '\\') s.remove_prefix(1);
  while (!s.empty() && s.back() == '\\') s.remove_suffix(1);
  return s;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && equalsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

// A quoted text starting at s[0] == '"'; `rest` receives what follows the
// closing quote. Only \\ and \" are escapes; any other backslash is itself.
std::optional<std::string> readQuoted(std::string_view s, std::string_view& rest) {
  std::string out;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[++i];
    } else if (s[i] == '"') {
      rest = s.substr(i + 1);
      return out;
    } else {
      out += s[i];
    }
  }
  return std::nullopt;  // no closing quote
}

std::optional<std::string> readHexBytes(std::string_view s) {
  std::string bytes;
  size_t start = 0;
  while (start <= s.size()) {
    size_t comma = s.find(',', start);
    std::string_view item = trim(s.substr(start, comma == std::string_view::npos ? s.npos : comma - start));
    if (!item.empty()) {
      if (item.size() > 2) return std::nullopt;
      int value = 0;
      for (char c : item) {
        if (hexDigit(c) < 0) return std::nullopt;
        value = value * 16 + hexDigit(c);
      }
      bytes += static_cast<char>(value);
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return bytes;
}

// The data part of a value line; nullopt when it cannot be read.
std::optional<RegistryValue> readData(std::string_view data) {
  RegistryValue value;
  if (!data.empty() && data.front() == '"') {
    std::string_view rest;
    auto text = readQuoted(data, rest);
    if (!text || !trim(rest).empty()) return std::nullopt;
    value.type = reg_type::kString;
    value.data = *text + '\0';
    return value;
  }
  if (startsWithNoCase(data, "dword:")) {
    std::string_view digits = trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    uint32_t number = 0;
    for (char c : digits) {
      if (hexDigit(c) < 0) return std::nullopt;
      number = number * 16 + static_cast<uint32_t>(hexDigit(c));
    }
    value.type = reg_type::kDoubleWord;
    for (int i = 0; i < 4; ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xFF);
    return value;
  }
  if (startsWithNoCase(data, "hex")) {
    std::string_view rest = data.substr(3);
    value.type = reg_type::kBinary;
    if (!rest.empty() && rest.front() == '(') {
      size_t close = rest.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) return std::nullopt;
      uint32_t type = 0;
      for (char c : rest.substr(1, close - 1)) {
        if (hexDigit(c) < 0) return std::nullopt;
        type = type * 16 + static_cast<uint32_t>(hexDigit(c));
      }
      value.type = type;
      rest = rest.substr(close + 1);
    }
    if (rest.empty() || rest.front() != ':') return std::nullopt;
    auto bytes = readHexBytes(rest.substr(1));
    if (!bytes) return std::nullopt;
    value.data = std::move(*bytes);
    return value;
  }
  return std::nullopt;
}

// The logical lines of the text: a hex list ending in ",\" goes on in the
// next line.
std::vector<std::string> logicalLines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
  std::vector<std::string> lines;
  std::string pending;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
    start = end == std::string_view::npos ? text.size() : end + 1;
    line = trim(line);
    if (line.size() >= 2 && line.substr(line.size() - 2) == ",\\") {
      pending += line.substr(0, line.size() - 1);
      continue;
    }
    pending += line;
    lines.push_back(std::move(pending));
    pending.clear();
  }
  if (!pending.empty()) lines.push_back(std::move(pending));
  return lines;
}

void putValue(RegistryKey& key, RegistryValue value) {
  for (RegistryValue& existing : key.values) {
    if (equalsIgnoreCase(existing.name, value.name)) {
      existing = std::move(value);
      return;
    }
  }
  key.values.push_back(std::move(value));
}

}  // namespace

std::string registryFile() { return registryFileSlot(); }

std::string setRegistryFile(std::string path) {
  std::string previous = std::move(registryFileSlot());
  registryFileSlot() = std::move(path);
  return previous;
}

std::vector<RegistryKey> parseRegistryText(std::string_view text) {
  std::vector<RegistryKey> keys;
  RegistryKey* current = nullptr;  // null outside a key and inside a deleted one
  bool first = true;
  for (const std::string& line : logicalLines(text)) {
    if (line.empty() || line.front() == ';') continue;
    const bool signature = first && line.front() != '[';
    first = false;
    if (signature) continue;

    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') continue;
      std::string path(trimBackslashes(trim(std::string_view(line).substr(1, line.size() - 2))));
      for (RegistryKey& key : keys) {
        if (equalsIgnoreCase(key.path, path)) current = &key;
      }
      if (!current) current = &keys.emplace_back(RegistryKey{std::move(path), {}});
      continue;
    }
    if (!current) continue;

    std::string_view rest;
    std::string name;
    if (line.front() == '@') {
      rest = std::string_view(line).substr(1);
    } else if (line.front() == '"') {
      auto quoted = readQuoted(line, rest);
      if (!quoted) continue;
      name = std::move(*quoted);
    } else {
      continue;
    }
    rest = trim(rest);
    if (rest.empty() || rest.front() != '=') continue;
    rest = trim(rest.substr(1));
    if (rest == "-") continue;  // a deleted value
    auto value = readData(rest);
    if (!value) continue;
    value->name = std::move(name);
    putValue(*current, std::move(*value));
  }
  return keys;
}

std::optional<RegistryKey> openKey(RegistryRoot root, std::string_view keyName, uint32_t) {
  if (root != RegistryRoot::LocalMachine) return std::nullopt;
  std::ifstream in(registryFile(), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  const std::string_view wanted = trimBackslashes(keyName);
  for (RegistryKey& key : parseRegistryText(text.str())) {
    if (equalsIgnoreCase(key.path, wanted)) return std::move(key);
  }
  return std::nullopt;
}

bool queryValue(const RegistryKey& key, std::string_view valueName, uint32_t& type,
                std::string& buffer, size_t& size) {
  for (const RegistryValue& value : key.values) {
    if (!equalsIgnoreCase(value.name, valueName)) continue;
    if (value.data.size() > size || value.data.size() > buffer.size()) return false;
    buffer.replace(0, value.data.size(), value.data);
    size = value.data.size();
    type = value.type;
    return true;
  }
  return false;
}

std::string formatHexNumber(const std::string& text) {
  if (!startsWithNoCase(text, "&h") || text.size() == 2) return text;
  uint64_t number = 0;
  for (size_t i = 2; i < text.size(); ++i) {
    const int digit = hexDigit(text[i]);
    if (digit < 0) return text;
    number = number * 16 + static_cast<uint64_t>(digit);
    if (number > 0xFFFFFFFFull) return text;  // too large for any whole-number type
  }
  if (number <= 0xFFFF) return std::to_string(static_cast<int16_t>(number));
  return std::to_string(static_cast<int32_t>(number));
}

bool GetKeyValue(RegistryRoot KeyRoot, const std::string& KeyName, const std::string& SubKeyRef,
                 std::string& KeyVal) {
  // Opening and reading mirror the registry calls the dialog was written
  // against: a key handle (closed by going out of scope), a zero-filled
  // 1024-byte buffer, the returned size and the value's type.
  std::optional<RegistryKey> key = openKey(KeyRoot, KeyName, kKeyAllAccess);
  if (!key) {
    KeyVal.clear();
    return false;
  }
  std::string buffer(kValueBufferSize, '\0');
  size_t size = kValueBufferSize;
  uint32_t type = 0;
  // A value without data has no last character to test; it counts as unread.
  if (!queryValue(*key, SubKeyRef, type, buffer, size) || size == 0) {
    KeyVal.clear();
    return false;
  }

  // The returned size counts a string's closing NUL.
  std::string text = buffer.substr(0, size);
  if (text.back() == '\0') text.pop_back();

  if (type == reg_type::kString) {
    KeyVal = text;
  } else if (type == reg_type::kDoubleWord) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
      const unsigned code = static_cast<unsigned char>(*it);
      if (code >= 16) KeyVal += kDigits[code >> 4];
      KeyVal += kDigits[code & 0xF];
    }
    KeyVal = formatHexNumber("&h" + KeyVal);
  }
  return true;
}

}  // namespace oskara::about
