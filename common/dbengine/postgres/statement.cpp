#include "dbengine/postgres/statement.h"

#include <cstdlib>
#include <utility>

#include "dbengine/errors.h"
#include "dbengine/postgres/values.h"

namespace oskara::db::postgres {
PgStatement::PgStatement(std::shared_ptr<PgConnection> connection, std::shared_ptr<Prepared> prepared)
    : connection_(std::move(connection)), prepared_(std::move(prepared)) {
  parameters_.resize(prepared_->parameterTypes.size());
}

PgStatement::~PgStatement() {
  reset();
  connection_->release(prepared_);
}

void PgStatement::bind(int index, const Variant& value, bool, const FailureContext& context) {
  const auto i = static_cast<size_t>(index - 1);
  if (i >= parameters_.text.size()) return;  // a parameter the server found no use for
  if (value.isNull() || value.isEmpty()) {
    parameters_.null[i] = true;
    return;
  }
  try {
    parameters_.text[i] = parameterText(value, prepared_->parameterTypes[i]);
  } catch (const Error& e) {
    throw Error(errc::kTypeMismatchCriteria,
                typeMismatchInCriteria(context.statement).text() + " (parameter " + std::to_string(index) + ": " +
                    e.text() + ")");
  }
  parameters_.null[i] = false;
}

void PgStatement::bindRowId(int index, const backend::RowId& row) {
  const auto i = static_cast<size_t>(index - 1);
  const std::string* ctid = std::get_if<std::string>(&row);
  if (!ctid || ctid->empty()) {
    parameters_.null[i] = true;
    return;
  }
  parameters_.text[i] = *ctid;
  parameters_.null[i] = false;
}

int64_t PgStatement::execute(const FailureContext& context) {
  Result result = connection_->runPrepared(*prepared_, parameters_, context);
  return std::strtoll(PQcmdTuples(result.get()), nullptr, 10);
}

void PgStatement::executeRowWrite(const FailureContext& context) {
  rowWritten(connection_->runRowWrite(*prepared_, parameters_, context), context);
}

backend::RowCount PgStatement::executeUnawaited(const FailureContext& context) {
  return connection_->sendWrite(*prepared_, parameters_, context);
}

void PgStatement::executeRowWriteUnawaited(const FailureContext& context) {
  if (prepared_->columnNames.empty()) {
    connection_->sendWrite(*prepared_, parameters_, context);  // an insert
    return;
  }
  // An update gives the row's new identity back, which a later edit needs:
  // it waits, but needs no savepoint, as a failure ends the transaction.
  rowWritten(connection_->runPrepared(*prepared_, parameters_, context), context);
}

void PgStatement::rowWritten(const Result& result, const FailureContext& context) {
  if (prepared_->columnNames.empty()) return;  // an insert
  // An update of a row by its identity returns the row's new one; none when
  // another user changed or deleted the row since it was read (its identity
  // is then gone): the edit is refused rather than lost.
  if (PQntuples(result.get()) != 1) throw dataChanged(context.table);
  writtenRowId_ = PQgetvalue(result.get(), 0, 0);
}

backend::RowId PgStatement::rowIdAfterUpdate(const backend::RowId& before) {
  if (writtenRowId_.empty()) return before;
  return std::exchange(writtenRowId_, {});
}

void PgStatement::start(size_t batch, const FailureContext& context) {
  started_ = true;
  if (!prepared_->cursorFirst) {
    batch_ = connection_->runPrepared(*prepared_, parameters_, context);
    if (PQntuples(batch_.get()) < kProbeRows) {
      lastBatch_ = true;
      return;
    }
    batch_.reset();  // longer than a batch: read again, whole, through a cursor
  }
  batch_ = connection_->openCursor(*prepared_, parameters_, batch, cursor_, context);
  lastBatch_ = static_cast<size_t>(PQntuples(batch_.get())) < batch;
}

bool PgStatement::fetch(size_t maxRows, std::span<const FieldType> types, int rowIdColumn,
                        std::vector<Variant>& values, std::vector<backend::RowId>& rowIds,
                        const FailureContext& context) {
  if (!started_) start(maxRows, context);
  size_t written = 0;  // values of this call
  for (size_t row = 0; row < maxRows; ++row) {
    if (next_ == PQntuples(batch_.get())) {
      if (lastBatch_) {
        closeCursor();
        return false;
      }
      batch_ = connection_->fetchCursor(cursor_, maxRows, context);
      next_ = 0;
      lastBatch_ = static_cast<size_t>(PQntuples(batch_.get())) < maxRows;
      if (PQntuples(batch_.get()) == 0) {
        closeCursor();
        return false;
      }
    }
    PGresult* r = batch_.get();
    if (values.size() < written + types.size()) values.resize(written + types.size());
    for (size_t i = 0; i < types.size(); ++i) {
      const int column = static_cast<int>(i);
      values[written++] = PQgetisnull(r, next_, column) ? Variant::null()
                                                        : readValue(PQgetvalue(r, next_, column),
                                                                    PQgetlength(r, next_, column),
                                                                    PQftype(r, column), types[i]);
    }
    if (rowIdColumn >= 0) {
      rowIds.emplace_back(std::string(PQgetvalue(r, next_, rowIdColumn)));
    } else {
      rowIds.emplace_back();
    }
    ++next_;
  }
  return true;
}

int PgStatement::columnIndex(std::string_view name) const {
  for (int i = static_cast<int>(prepared_->columnNames.size()) - 1; i >= 0; --i) {
    if (prepared_->columnNames[static_cast<size_t>(i)] == name) return i;
  }
  return -1;
}

void PgStatement::closeCursor() {
  if (!cursor_.empty()) connection_->closeCursor(cursor_);
  cursor_.clear();
}

void PgStatement::reset() {
  closeCursor();
  batch_.reset();
  next_ = 0;
  started_ = false;
  lastBatch_ = false;
}

}  // namespace oskara::db::postgres
