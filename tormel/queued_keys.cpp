#include "tormel/queued_keys.h"

#include <algorithm>
#include <bit>
#include <optional>

namespace tormel {
namespace {

constexpr int kProbes = 3;

// Spreads a hash over all 64 bits (splitmix64's finaliser).
uint64_t mixed(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// The customer's key (FNV-1a over the id with ASCII letters folded), or none
// when the id has a byte outside ASCII.
std::optional<uint64_t> customerHash(std::string_view custId) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : custId) {
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    const char folded = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    hash = (hash ^ static_cast<unsigned char>(folded)) * 1099511628211ull;
  }
  return mixed(hash);
}

uint64_t logIdHash(int64_t logId) { return mixed(static_cast<uint64_t>(logId) + 0x9e3779b97f4a7c15ull); }

}  // namespace

QueuedKeys::Filter::Filter(uint64_t bits)
    : words_(std::max<uint64_t>(std::bit_ceil(bits), 64) / 64), mask_(words_.size() * 64 - 1) {}

void QueuedKeys::Filter::clear() { std::fill(words_.begin(), words_.end(), 0); }

// The probes: the hash's two halves combined (h1 + i * h2).
uint64_t QueuedKeys::Filter::bit(uint64_t hash, int probe) const {
  const uint64_t step = (hash >> 32) | 1;
  return (hash + static_cast<uint64_t>(probe) * step) & mask_;
}

void QueuedKeys::Filter::add(uint64_t hash) {
  for (int i = 0; i < kProbes; ++i) {
    const uint64_t b = bit(hash, i);
    words_[b / 64] |= uint64_t{1} << (b % 64);
  }
}

bool QueuedKeys::Filter::mayHold(uint64_t hash) const {
  for (int i = 0; i < kProbes; ++i) {
    const uint64_t b = bit(hash, i);
    if (!(words_[b / 64] & (uint64_t{1} << (b % 64)))) return false;
  }
  return true;
}

QueuedKeys::QueuedKeys(uint64_t bitsPerKind) : customers_(bitsPerKind), logIds_(bitsPerKind) {}

void QueuedKeys::clear() {
  customers_.clear();
  logIds_.clear();
  anyCustomer_ = false;
}

void QueuedKeys::addCustomer(std::string_view custId) {
  if (const auto hash = customerHash(custId)) {
    customers_.add(*hash);
  } else {
    anyCustomer_ = true;
  }
}

void QueuedKeys::addLogId(int64_t logId) { logIds_.add(logIdHash(logId)); }

bool QueuedKeys::mayHoldCustomer(std::string_view custId) const {
  if (anyCustomer_) return true;
  const auto hash = customerHash(custId);
  return !hash || customers_.mayHold(*hash);
}

bool QueuedKeys::mayHoldLogId(int64_t logId) const { return logIds_.mayHold(logIdHash(logId)); }

}  // namespace tormel
