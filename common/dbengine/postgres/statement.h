// A statement prepared on a PostgreSQL connection behind the backend seam:
// parameters written as text for the types the server inferred, queries read
// through the probe or a cursor (connection.h), row writes of record sets
// under a savepoint inside a transaction.
#pragma once

#include "dbengine/internal.h"

#include <memory>
#include <string>

#include "dbengine/backend.h"
#include "dbengine/postgres/connection.h"

namespace oskara::db::postgres {

class PgStatement final : public backend::Statement {
 public:
  // Rows the probe of a query reads: one more than a record set's batch, so
  // that a result that fits one batch is told from a longer one.
  static constexpr int kProbeRows = 129;

  PgStatement(std::shared_ptr<PgConnection> connection, std::shared_ptr<Prepared> prepared);
  ~PgStatement() override;
  PgStatement(const PgStatement&) = delete;
  PgStatement& operator=(const PgStatement&) = delete;

  void bind(int index, const Variant& value, bool stable, const FailureContext& context) override;
  void bindRowId(int index, const backend::RowId& row) override;  // a ctid
  int64_t execute(const FailureContext& context) override;
  void executeRowWrite(const FailureContext& context) override;
  backend::RowCount executeUnawaited(const FailureContext& context) override;
  void executeRowWriteUnawaited(const FailureContext& context) override;  // an update waits
  backend::RowId rowIdAfterUpdate(const backend::RowId& before) override;
  bool fetch(size_t maxRows, std::span<const FieldType> types, int rowIdColumn, std::vector<Variant>& values,
             std::vector<backend::RowId>& rowIds, const FailureContext& context) override;
  int columnIndex(std::string_view name) const override;
  void reset() override;

 private:
  void start(size_t batch, const FailureContext& context);  // runs the probe or opens the cursor
  void closeCursor();
  // Takes an update's new row identity from its result.
  void rowWritten(const Result& result, const FailureContext& context);

  // Constant after construction.
  std::shared_ptr<PgConnection> connection_;
  std::shared_ptr<Prepared> prepared_;

  // Changing with use.
  Parameters parameters_;
  bool started_ = false;     // the query has been run since the last reset
  Result batch_;             // rows read and not all handed out; null when none
  int next_ = 0;             // the next row of batch_ to hand out
  std::string cursor_;       // open cursor; empty when the rows come from the probe
  bool lastBatch_ = false;   // no rows follow batch_
  std::string writtenRowId_;  // the identity the last row update returned, until asked for
};

}  // namespace oskara::db::postgres
