// The registry the About dialog reads: a read-only file in the .reg text
// format that stands for the local-machine root. Nothing in the system writes
// it; an administrator installs it (docs/about-dialog.md shows an example).
//
// The file is UTF-8 text. An optional first line that is not a key (a format
// signature) is skipped, as are empty lines and lines starting with ';'.
//
//   [SOFTWARE\Example\Key]          a key, its path relative to the root
//   "Name"="text"                   type 1, string; \\ and \" are escapes
//   @="text"                        the key's unnamed value
//   "Name"=dword:00000201           type 4, double word, little-endian bytes
//   "Name"=hex:01,02,ff             type 3, bytes; hex(N): gives type N;
//                                   a line ending in ",\" goes on in the next
//
// Key and value names compare without regard to case. Lines that cannot be
// read, deleted keys ([-...]) and deleted values ("Name"=-) are ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oskara::about {

// Where the servers look for the registry file.
inline constexpr std::string_view kDefaultRegistryFile = "/etc/oskara/registry.reg";

// The registry file in force: kDefaultRegistryFile unless a test set another.
std::string registryFile();
// Replaces the file for the rest of the process; returns the one it replaces.
std::string setRegistryFile(std::string path);

// Uses another registry file for the lifetime of this object (tests).
class ScopedRegistryFile {
 public:
  explicit ScopedRegistryFile(std::string path) : previous_(setRegistryFile(std::move(path))) {}
  ~ScopedRegistryFile() { setRegistryFile(std::move(previous_)); }
  ScopedRegistryFile(const ScopedRegistryFile&) = delete;
  ScopedRegistryFile& operator=(const ScopedRegistryFile&) = delete;

 private:
  std::string previous_;
};

// The root keys a caller may name. Only the local machine has a file.
enum class RegistryRoot { LocalMachine };

// Value types as the registry numbers them.
namespace reg_type {
inline constexpr uint32_t kString = 1;
inline constexpr uint32_t kBinary = 3;
inline constexpr uint32_t kDoubleWord = 4;
}  // namespace reg_type

struct RegistryValue {
  std::string name;  // "" for the unnamed value
  uint32_t type = reg_type::kString;
  std::string data;  // raw bytes; a string value ends with its NUL
};

struct RegistryKey {
  std::string path;  // as written in the file, without surrounding backslashes
  std::vector<RegistryValue> values;
};

// The keys of a registry text in file order; a key written twice is merged.
std::vector<RegistryKey> parseRegistryText(std::string_view text);

// Access to an open key. Opening asks for an access mask, as callers always
// have; the file is read-only, so every mask is granted reading and nothing
// else.
inline constexpr uint32_t kKeyAllAccess = 0x2003F;

std::optional<RegistryKey> openKey(RegistryRoot root, std::string_view keyName,
                                   uint32_t access = kKeyAllAccess);

// Copies value `valueName` of `key` into `buffer`, whose capacity is `size`
// bytes; on success `size` becomes the value's byte count and `type` its
// type. Fails for a missing value and for one larger than the buffer.
bool queryValue(const RegistryKey& key, std::string_view valueName, uint32_t& type,
                std::string& buffer, size_t& size);

// GetKeyValue of the About dialog: reads value `SubKeyRef` of key `KeyName`
// into `KeyVal`. A string value becomes the text. A double word is appended
// to KeyVal as the hexadecimal codes of its bytes, last byte first, and the
// whole, read as an "&h" number, becomes its decimal text. Other types leave
// KeyVal as it was. False, with KeyVal empty, when the key or the value is
// missing, empty or larger than 1024 bytes.
bool GetKeyValue(RegistryRoot KeyRoot, const std::string& KeyName, const std::string& SubKeyRef,
                 std::string& KeyVal);

// "&h" followed by hexadecimal digits as a decimal number: a value that fits
// 16 bits as a signed 16-bit number, else one that fits 32 bits as a signed
// 32-bit number ("&hFFFF" is -1, "&h10000" is 65536). Any other text comes
// back unchanged.
std::string formatHexNumber(const std::string& text);

}  // namespace oskara::about
