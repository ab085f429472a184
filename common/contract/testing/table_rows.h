// Tests only: the rows that tests of the servers and the tool put into the
// system's files and read back, written straight to the files.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "contract/options.h"
#include "contract/tables.h"
#include "core/variant.h"
#include "directdb/sqlite_file.h"

namespace oskara::contract::testing {

using Fields = std::vector<std::pair<std::string_view, Variant>>;

// A customer of the AR file: its row of tblArCust and its row of aged
// balances in tblArCustHist, each with the fields given besides the id (the
// others take their defaults).
inline void addCustomer(const std::filesystem::path& ar, const std::string& custId,
                        Fields balances = {}, Fields customer = {}) {
  customer.insert(customer.begin(), {arcust::kCustId, custId});
  balances.insert(balances.begin(), {arcusthist::kCustId, custId});
  directdb::SqliteFile file(ar);
  file.insert(kTblArCust, customer);
  file.insert(kTblArCustHist, balances);
}

// The queue of a DT file: each queued customer's reason code.
inline std::map<std::string, int> queueReasons(const std::filesystem::path& dt) {
  std::map<std::string, int> reasons;
  for (const auto& row : directdb::SqliteFile(dt).query("SELECT CustID, TransType FROM " + std::string(kTblDTQueue)))
    reasons[row[0].toString()] = row[1].toInt32();
  return reasons;
}

// When the last committed scan of a DT file ran; Null before any.
inline Variant lastQueueProc(const std::filesystem::path& dt) {
  return directdb::SqliteFile(dt).query("SELECT " + std::string(kLastQueueProc) + " FROM " + std::string(kTblDTOptions))
      .at(0)
      .at(0);
}

}  // namespace oskara::contract::testing
