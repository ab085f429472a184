// The collection queue's rules written by hand as a handful of set-based
// SQLite statements: the baseline scan_bench measures the engine against,
// and the reference the engine's outcome is checked against on random demo
// data. It reads and writes the files directly, without the engine.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>

namespace oskara::bench {

inline constexpr int kReasons = 10;  // reason codes 1 to 10
using QueueCounts = std::array<int64_t, kReasons + 1>;  // by reason code; [0] for any other

// Demo data (dt.db, ar.db, so.db) in `folder`, with every rule on, the queue
// reset included; the amounts and day counts stay the demo's.
void makeScanDemo(const std::filesystem::path& folder, int64_t customers, uint32_t seed);

// The scan rules in the engine's order on the files of `dir`, in one
// transaction. Throws std::runtime_error naming the statement that failed.
void setBasedScan(const std::filesystem::path& dir);

// A digest of what a scan wrote to `dt`: every queue row (customer, reason
// code, remark, call-log id) and every call-log remark. The entry's date and
// time are left out, being the clock's.
uint64_t outcomeDigest(const std::filesystem::path& dt);

QueueCounts countQueue(const std::filesystem::path& dt);

}  // namespace oskara::bench
