// Record sets: a running SELECT read ahead in small batches, and for a
// dynaset over one table the pending new or edited row written back to the
// row it came from (by the row identity the backend gives).
//
// Why batches: a statement that has not run to its end holds what it reads
// (on SQLite a read lock on the file, which another user's commit waits for;
// on a server a cursor), and a batch costs one round trip. The record sets
// of the system mostly read a row or two (a customer lookup, the options
// record, the processing-lock table held open for the length of a scan); read
// ahead, their statement is finished and reset at once. A long result keeps
// its statement, and its lock, only while it is read; never all its rows are
// in memory.
//
// A dynaset on a whole table reads nothing until its rows are looked at: the
// queue writer opens the queue table only to add a row to it, once per
// queued customer, and must not pay for reading the table each time.
#include <algorithm>
#include <memory>
#include <utility>

#include "dbengine/engine_internal.h"
#include "dbengine/errors.h"
#include "dbengine/identifiers.h"

namespace oskara::db {

struct Recordset::Impl {
  enum class Pending { None, Adding, Editing };

  void fill();     // reads ahead up to kBatchRows rows
  void advance();  // drops the current row, reading ahead when the batch is used up
  void start() {   // reads the first batch, once, when the rows are first looked at
    if (!started) {
      started = true;
      fill();
    }
  }
  bool hasRow() {
    start();
    return current < rowIds.size();
  }
  size_t columnCount() const { return compiled->translation.columnNames.size(); }
  Variant* row() { return values.data() + current * columnCount(); }  // the current row's values
  int fieldIndex(std::string_view name);
  // The table a new row (`insert`) or an edited row is written to; 3027 when it may not be.
  const sql::UpdatableTable& writableTable(bool insert) const;
  void requireOpen() const {
    if (!open) throw objectInvalid("record set on " + source);
  }
  std::vector<std::string> assignedColumns(const sql::UpdatableTable& target) const;  // since AddNew or Edit
  void insertPending();
  void updatePending();
  // Back to the state of a new Impl, keeping the capacity of its buffers;
  // only after close().
  void clearForReuse();

  // Constant after opening.
  DatabasePtr owner;                                  // keeps the database object alive; null once closed
  Database::Impl* db = nullptr;                       // owner's insides
  Recordset* self = nullptr;
  RecordsetType type = RecordsetType::Dynaset;
  int options = kNoOptions;
  std::string source;                                 // table, query or statement, for messages
  std::shared_ptr<const CompiledStatement> compiled;  // columns, types, the updatable table
  std::string lockedTable;                            // deny-write lock held; empty when none
  bool readWhenNeeded = false;                        // first batch read at the first look, not at opening

  // Changing with use.
  bool open = true;
  StatementCache::Lease cursor;   // the running SELECT; empty once all its rows are read
  bool started = false;           // the first batch has been read
  // The batch read ahead, row after row, one value per visible column; rows
  // before `current` are done with. Elements past the batch's rows are those
  // of an earlier batch, kept so that the next one's texts are written into
  // their room.
  std::vector<Variant> values;
  std::vector<backend::RowId> rowIds;  // per row of the batch (empty when not updatable)
  size_t current = 0;             // index of the current row in the batch
  int lastFieldAsked = -1;        // by name, -1 before the first
  Pending pending = Pending::None;
  // The values assigned since AddNew or Edit, where `changed`; the other
  // elements are earlier assignments', kept for the room of their texts.
  std::vector<Variant> pendingRow;
  std::vector<bool> changed;        // per column: assigned since AddNew or Edit
};

namespace {

constexpr size_t kBatchRows = 128;

// The scan opens and closes a record set per customer: the insides of the
// last record set destroyed on a thread wait for the next one opened there,
// with the room their rows and texts took, so that a lookup allocates
// almost nothing of its own.
std::unique_ptr<Recordset::Impl>& spareImpl() {
  thread_local std::unique_ptr<Recordset::Impl> spare;
  return spare;
}

// The same for the block that holds a record set and its shared pointer's
// counts: the last one freed on a thread is kept for the next record set
// made there.
template <typename T>
class SpareBlockAllocator {
 public:
  using value_type = T;
  SpareBlockAllocator() = default;
  template <typename U>
  SpareBlockAllocator(const SpareBlockAllocator<U>&) {}

  T* allocate(size_t n) {
    T*& spare = spareBlock();
    if (n == 1 && spare) return std::exchange(spare, nullptr);
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* block, size_t n) {
    T*& spare = spareBlock();
    if (n == 1 && !spare) {
      spare = block;
    } else {
      std::allocator<T>().deallocate(block, n);
    }
  }
  bool operator==(const SpareBlockAllocator&) const = default;

 private:
  static T*& spareBlock() {
    struct Spare {
      T* block = nullptr;
      ~Spare() {
        if (block) std::allocator<T>().deallocate(block, 1);
      }
    };
    thread_local Spare spare;
    return spare.block;
  }
};

bool isReadOnlyType(RecordsetType type) {
  return type == RecordsetType::ForwardOnly || type == RecordsetType::Snapshot;
}

// The statement cache's key of a write of `columns` to `target`.
std::string writeKey(std::string_view kind, const sql::UpdatableTable& target,
                     const std::vector<std::string>& columns) {
  std::string names;
  for (const std::string& column : columns) names.append(column).append("\x1f");
  return internalKey(kind, quoteIdentifier(target.table.schema) + "." + quoteIdentifier(target.table.table), names);
}

}  // namespace

void Recordset::Impl::fill() {
  rowIds.clear();  // every row of the last batch has been passed
  current = 0;
  if (values.capacity() == 0) values.reserve(columnCount());
  if (!cursor) return;
  const auto& updatable = compiled->translation.updatable;
  const std::string_view table = updatable ? std::string_view(updatable->table.table) : std::string_view();
  try {
    const std::span<const FieldType> types(compiled->fieldTypes.data(), columnCount());
    if (!cursor.get().fetch(kBatchRows, types, compiled->rowidColumn, values, rowIds, db->context(table, source)))
      cursor.release();  // reset at once: nothing of the statement outlives the last row
  } catch (...) {
    cursor.release();
    throw;
  }
}

void Recordset::Impl::clearForReuse() {
  db = nullptr;
  self = nullptr;
  type = RecordsetType::Dynaset;
  options = kNoOptions;
  source.clear();
  compiled.reset();
  lockedTable.clear();
  readWhenNeeded = false;
  open = true;
  lastFieldAsked = -1;
  started = false;
  changed.clear();
}

void Recordset::Impl::advance() {
  if (++current == rowIds.size()) fill();
}

int Recordset::Impl::fieldIndex(std::string_view name) {
  const auto& names = compiled->translation.columnNames;
  std::vector<int>& next = compiled->nextFieldAsked;
  if (next.empty()) next.assign(names.size() + 1, -1);
  int& guess = next[static_cast<size_t>(lastFieldAsked + 1)];
  // Callers mostly spell a name as the table does: an exact match is the cheaper test.
  const auto isGuess = [&] {
    const std::string& n = names[static_cast<size_t>(guess)];
    return n == name || sameName(n, name);
  };
  if (guess < 0 || !isGuess()) {
    const auto found =
        std::find_if(names.begin(), names.end(), [&](const std::string& n) { return sameName(n, name); });
    if (found == names.end()) throw itemNotFound("field", name);
    guess = static_cast<int>(found - names.begin());
  }
  lastFieldAsked = guess;
  return guess;
}

const sql::UpdatableTable& Recordset::Impl::writableTable(bool insert) const {
  const auto& updatable = compiled->translation.updatable;
  if (isReadOnlyType(type) || (options & kReadOnly) || !updatable || compiled->rowidColumn < 0)
    throw readOnly(source);
  if (!db->store->mayWrite(updatable->table, insert)) throw readOnly(updatable->table.table);
  return *updatable;
}

std::vector<std::string> Recordset::Impl::assignedColumns(const sql::UpdatableTable& target) const {
  std::vector<std::string> columns;
  for (size_t i = 0; i < changed.size(); ++i) {
    if (changed[i]) columns.push_back(target.resultColumns[i]);
  }
  return columns;
}

// The write statement of `cache` for the columns assigned now, made by
// `make` at the first write of that set of columns.
template <typename Make>
const CompiledStatement::WriteStatement& writeStatement(std::vector<CompiledStatement::WriteStatement>& cache,
                                                        const std::vector<bool>& assigned, Make make) {
  for (const auto& statement : cache) {
    if (statement.assigned == assigned) return statement;
  }
  cache.push_back(make());
  return cache.back();
}

namespace {

// A row write; in an all-or-nothing transaction it need not wait for its outcome.
void writeRow(Database::Impl& db, backend::Statement& statement, const FailureContext& context) {
  if (db.workspace.writesUnawaited()) {
    statement.executeRowWriteUnawaited(context);
  } else {
    statement.executeRowWrite(context);
  }
}

}  // namespace

void Recordset::Impl::insertPending() {
  const sql::UpdatableTable& target = writableTable(true);
  const auto& statement = writeStatement(compiled->inserts, changed, [&] {
    const std::vector<std::string> columns = assignedColumns(target);
    return CompiledStatement::WriteStatement{changed, writeKey("insert", target, columns),
                                             db->connection().insertSql(target.table, columns)};
  });
  StatementCache::Lease lease = db->prepareInternal(statement.key, statement.sql, target.table.table);
  const FailureContext context = db->context(target.table.table, source);
  int index = 0;
  for (size_t i = 0; i < changed.size(); ++i) {
    if (changed[i]) lease.get().bind(++index, pendingRow[i], true, context);  // the row outlives the run
  }
  writeRow(*db, lease.get(), context);
}

void Recordset::Impl::updatePending() {
  const sql::UpdatableTable& target = writableTable(false);
  if (std::find(changed.begin(), changed.end(), true) == changed.end()) return;  // the row stays as it is
  const auto& statement = writeStatement(compiled->updates, changed, [&] {
    const std::vector<std::string> columns = assignedColumns(target);
    return CompiledStatement::WriteStatement{changed, writeKey("update", target, columns),
                                             db->connection().updateSql(target.table, columns)};
  });
  StatementCache::Lease lease = db->prepareInternal(statement.key, statement.sql, target.table.table);
  const FailureContext context = db->context(target.table.table, source);
  int index = 0;
  for (size_t i = 0; i < changed.size(); ++i) {
    if (changed[i]) lease.get().bind(++index, pendingRow[i], true, context);  // the row outlives the run
  }
  lease.get().bindRowId(index + 1, rowIds[current]);
  writeRow(*db, lease.get(), context);
  rowIds[current] = lease.get().rowIdAfterUpdate(rowIds[current]);
}

RecordsetPtr makeRecordset(const DatabasePtr& owner, const RecordsetSource& source, RecordsetType type, int options) {
  Database::Impl& db = owner->impl();
  std::unique_ptr<Recordset::Impl> impl = std::move(spareImpl());
  if (!impl) impl = std::make_unique<Recordset::Impl>();
  impl->owner = owner;
  impl->db = &db;
  impl->type = type;
  impl->options = options;
  impl->cursor = source.table ? db.prepareTable(*source.table) : db.prepareStatement(source.statement, source.values);
  impl->compiled = impl->cursor.compiledPtr();
  // A statement's failures belong to its opening; a table read whole has none
  // to report early, so its reading waits until its rows are needed.
  impl->readWhenNeeded = source.table != nullptr;
  if (impl->compiled->translation.kind != sql::StatementKind::Select)
    throw invalidOperation("a record set needs a SELECT statement, not " + std::string(source.name));

  if (options & kDenyWrite) {
    const auto& updatable = impl->compiled->translation.updatable;
    if (!source.table && !updatable) throw notSupported("deny-write on a query over several tables");
    std::string table(source.table ? source.name : std::string_view(updatable->table.table));
    db.lockTable(table);
    impl->lockedTable = std::move(table);
  }
  impl->source.assign(source.name);
  return std::allocate_shared<Recordset>(SpareBlockAllocator<Recordset>(), std::move(impl));
}

Recordset::Recordset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {
  impl_->self = this;
  impl_->db->recordsets.push_back(this);
  try {
    // An append-only set shows no rows; the others stand on their first row
    // or are at their end at once (a whole table as soon as it is looked at).
    if (impl_->options & kAppendOnly) {
      impl_->cursor.release();
      impl_->started = true;
    } else if (!impl_->readWhenNeeded) {
      impl_->start();
    }
  } catch (...) {
    close();
    throw;
  }
}

Recordset::~Recordset() {
  close();
  std::unique_ptr<Impl>& spare = spareImpl();
  if (!spare) {
    impl_->clearForReuse();
    spare = std::move(impl_);
  }
}

void Recordset::close() {
  if (!impl_->open) return;
  impl_->open = false;
  impl_->pending = Impl::Pending::None;
  impl_->rowIds.clear();
  impl_->current = 0;
  impl_->cursor.release();
  Database::Impl* db = impl_->db;
  if (!impl_->lockedTable.empty()) db->unlockTable(impl_->lockedTable);
  db->recordsets.erase(std::remove(db->recordsets.begin(), db->recordsets.end(), this), db->recordsets.end());
  DatabasePtr release = std::move(impl_->owner);  // last: may close the database
}

bool Recordset::isOpen() const { return impl_->open; }
RecordsetType Recordset::type() const { return impl_->type; }

bool Recordset::eof() const {
  impl_->requireOpen();
  return !impl_->hasRow();
}

void Recordset::moveNext() {
  impl_->requireOpen();
  if (!impl_->hasRow()) throw noCurrentRecord();
  impl_->pending = Impl::Pending::None;
  impl_->advance();
}

int Recordset::fieldCount() const {
  impl_->requireOpen();
  return static_cast<int>(impl_->compiled->translation.columnNames.size());
}

std::string Recordset::fieldName(int index) const {
  impl_->requireOpen();
  const auto& names = impl_->compiled->translation.columnNames;
  if (index < 0 || static_cast<size_t>(index) >= names.size()) throw itemNotFound("field", std::to_string(index));
  return names[static_cast<size_t>(index)];
}

Variant Recordset::field(int index) const {
  impl_->requireOpen();
  if (index < 0 || index >= fieldCount()) throw itemNotFound("field", std::to_string(index));
  if (impl_->pending != Impl::Pending::None) {
    // A field not assigned since AddNew is Null, since Edit the current row's.
    const auto i = static_cast<size_t>(index);
    if (impl_->changed[i]) return impl_->pendingRow[i];
    if (impl_->pending == Impl::Pending::Adding) return Variant::null();
  }
  if (!impl_->hasRow()) throw noCurrentRecord();
  return impl_->row()[index];
}

Variant Recordset::field(std::string_view name) const {
  impl_->requireOpen();
  return field(impl_->fieldIndex(name));
}

void Recordset::setField(std::string_view name, const Variant& value) {
  impl_->requireOpen();
  const int index = impl_->fieldIndex(name);
  if (impl_->pending == Impl::Pending::None) throw updateWithoutEdit();
  const auto& updatable = impl_->compiled->translation.updatable;
  const std::string& column = updatable->resultColumns[static_cast<size_t>(index)];
  if (column.empty()) throw fieldNotUpdatable(impl_->compiled->translation.columnNames[static_cast<size_t>(index)]);
  const auto i = static_cast<size_t>(index);
  assignForField(impl_->pendingRow[i], value, impl_->compiled->fieldTypes[i], updatable->table.table, column);
  impl_->changed[i] = true;
}

void Recordset::addNew() {
  impl_->requireOpen();
  impl_->writableTable(true);
  const size_t n = impl_->columnCount();
  impl_->pendingRow.resize(n);
  impl_->changed.assign(n, false);
  impl_->pending = Impl::Pending::Adding;
}

void Recordset::edit() {
  impl_->requireOpen();
  impl_->writableTable(false);
  if (!impl_->hasRow()) throw noCurrentRecord();
  const size_t n = impl_->columnCount();
  impl_->pendingRow.resize(n);
  impl_->changed.assign(n, false);
  impl_->pending = Impl::Pending::Editing;
}

void Recordset::update(int) {
  impl_->requireOpen();
  switch (impl_->pending) {
    case Impl::Pending::None: throw updateWithoutEdit();
    case Impl::Pending::Adding:
      impl_->insertPending();
      break;
    case Impl::Pending::Editing:
      impl_->updatePending();
      // The current row takes the assigned values; the pending row keeps
      // the replaced ones for their room.
      for (size_t i = 0; i < impl_->changed.size(); ++i) {
        if (impl_->changed[i]) std::swap(impl_->pendingRow[i], impl_->row()[i]);
      }
      break;
  }
  impl_->pending = Impl::Pending::None;
}

void Recordset::cancelUpdate(int) {
  impl_->requireOpen();
  if (impl_->pending == Impl::Pending::None) throw updateWithoutEdit();
  impl_->pending = Impl::Pending::None;
}

}  // namespace oskara::db
