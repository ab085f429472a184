// QueuedKeys: what the scan knows about the queue it is writing, so that a
// customer it is about to queue need not be looked up twice in the database
// first. While the scan holds its write transaction it is the queue's only
// writer; it learns the queue's customers and call-log ids by reading the
// queue once after each bulk change, then adds what it writes itself.
//
// The answer is "certainly not queued" or "may be queued": a fixed-size
// Bloom filter per kind of key, so that memory stays the same whatever the
// number of customers (a larger queue only makes "may be" more frequent, and
// "may be" is answered by the database as before). A customer id is keyed
// with ASCII letters folded, as the database compares it. An id with any
// other byte is folded by a server's locale, where it may equal an ASCII id
// (the Kelvin sign and "k"): asked about, it is always "may be queued", and
// once one is queued every customer is.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tormel {

class QueuedKeys {
 public:
  // `bitsPerKind`: the size of each filter, rounded up to a power of two.
  explicit QueuedKeys(uint64_t bitsPerKind = kDefaultBits);

  void clear();
  void addCustomer(std::string_view custId);
  void addLogId(int64_t logId);
  bool mayHoldCustomer(std::string_view custId) const;
  bool mayHoldLogId(int64_t logId) const;

  // 512 KiB per kind: at 600,000 queued customers about 4 % of the answers
  // for absent keys are "may be"; a larger filter costs the scan more in
  // memory traffic than those lookups do.
  static constexpr uint64_t kDefaultBits = uint64_t{1} << 22;

 private:
  class Filter {
   public:
    explicit Filter(uint64_t bits);
    void clear();
    void add(uint64_t hash);
    bool mayHold(uint64_t hash) const;

   private:
    uint64_t bit(uint64_t hash, int probe) const;
    std::vector<uint64_t> words_;
    uint64_t mask_;  // bit count - 1
  };
  Filter customers_;
  Filter logIds_;
  bool anyCustomer_ = false;  // an id outside ASCII was added
};

}  // namespace tormel
