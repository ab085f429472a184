// A database open in the workspace: its store, catalog and statement cache,
// and the operations of the Database object.
#include <algorithm>

#include "core/clock.h"
#include "dbengine/engine_internal.h"
#include "dbengine/errors.h"
#include "dbengine/identifiers.h"
#include "dbengine/sql/classify.h"

namespace oskara::db {
namespace {

// Statement shapes kept per database: the scan uses a few dozen; the rest are
// ad-hoc statements of tools and users.
constexpr size_t kStatementCacheCapacity = 256;

// A table read whole: its columns in declared order and its row identity
// last, so a dynaset can edit rows in place. No translation is needed.
std::shared_ptr<CompiledStatement> compileTableRead(const sql::TableInfo& table,
                                                    const backend::Connection& connection) {
  constexpr std::string_view kRowIdName = "oskara_rowid";
  auto compiled = std::make_shared<CompiledStatement>();
  sql::Translation& t = compiled->translation;
  sql::UpdatableTable updatable{table, std::string(kRowIdName), {}};
  for (const sql::ColumnInfo& column : table.columns) {
    t.columnNames.push_back(column.name);
    t.columnTypes.push_back(column.declType);
    compiled->fieldTypes.push_back(fieldTypeOf(column.declType));
    updatable.resultColumns.push_back(column.name);
  }
  t.sql = connection.selectAllSql(table, kRowIdName);
  t.updatable = std::move(updatable);
  return compiled;
}

std::shared_ptr<CompiledStatement> compileDialect(std::string_view text, const sql::Catalog& catalog,
                                                 sql::Target target) {
  auto compiled = std::make_shared<CompiledStatement>();
  compiled->translation = sql::translate(text, catalog, target);
  for (const std::string& type : compiled->translation.columnTypes)
    compiled->fieldTypes.push_back(fieldTypeOf(type));
  compiled->fieldTypes.resize(compiled->translation.columnNames.size(), FieldType::Any);
  return compiled;
}

// Date(), Time() and Now() of a target that reads them from the engine.
Variant clockValue(sql::ClockValue which) {
  const DateTime now = currentClock().now();
  switch (which) {
    case sql::ClockValue::Date: return Variant(now.datePart());
    case sql::ClockValue::Time: return Variant(now.timePart());
    case sql::ClockValue::Now: return Variant(now);
  }
  return Variant(now);
}

void bindShape(backend::Statement& stmt, const sql::Translation& translation, const std::vector<Variant>& literals,
               const ParameterValues* values, std::string_view text) {
  std::vector<std::string> missing;
  const auto& bindings = translation.bindings;
  for (size_t i = 0; i < bindings.size(); ++i) {
    const Variant* value = nullptr;
    Variant clock;
    if (bindings[i].source == sql::Binding::Source::Literal) {
      value = &literals.at(static_cast<size_t>(bindings[i].index));
    } else if (bindings[i].source == sql::Binding::Source::Clock) {
      clock = clockValue(static_cast<sql::ClockValue>(bindings[i].index));
      value = &clock;
    } else {
      const std::string& name = translation.parameters.at(static_cast<size_t>(bindings[i].index)).name;
      if (values) {
        auto it = values->find(lowerName(name));
        if (it != values->end()) value = &it->second;
      }
      if (!value) {
        if (std::find(missing.begin(), missing.end(), name) == missing.end()) missing.push_back(name);
        continue;
      }
    }
    if (value->get<ObjectRef>() || value->get<Variant::ErrorValue>())
      throw conversionError("parameter " + std::to_string(i + 1), value->debugString());
    stmt.bind(static_cast<int>(i + 1), *value, false, {{}, {}, text});
  }
  if (!missing.empty()) {
    std::string names;
    for (const std::string& name : missing) names += (names.empty() ? "" : ", ") + name;
    throw tooFewParameters(static_cast<int>(missing.size()), names);
  }
}

}  // namespace

// ---- Database::Impl ----

Database::Impl::~Impl() { close(); }

void Database::Impl::open(const UserEntry& identity, bool readOnlyAsked) {
  me = identity;
  store = backend::openStore(path, me, workspace.connections(), readOnlyAsked);
  readOnly = readOnlyAsked || store->isReadOnly();
  catalog = std::make_unique<DatabaseCatalog>(*store);
  statements = std::make_unique<StatementCache>(store->connection(), kStatementCacheCapacity);
}

void Database::Impl::close() {
  if (!store || closing) return;
  closing = true;
  while (!recordsets.empty()) recordsets.back()->close();
  workspace.leave(*this);
  statements.reset();
  catalog.reset();
  // Rolls back this database's part of a pending transaction when its
  // connection closes with it.
  store.reset();
  closing = false;
}

void Database::Impl::requireOpen() const {
  if (!store) throw objectInvalid("database " + shown);
}

StatementCache::Lease Database::Impl::prepareStatement(std::string_view text, const ParameterValues* values) {
  requireOpen();
  const std::string& key = shapes.shapeOf(text, literals);
  StatementCache::Lease lease = statements->acquire(key, text);
  if (!lease) lease = statements->insert(key, compileDialect(text, *catalog, store->connection().target()), text);
  bindShape(lease.get(), lease.compiled().translation, literals, values, text);
  return lease;
}

std::shared_ptr<const CompiledStatement> Database::Impl::compileStatement(std::string_view text) {
  requireOpen();
  const std::string& key = shapes.shapeOf(text, literals);
  StatementCache::Lease lease = statements->acquire(key, text);
  if (!lease) lease = statements->insert(key, compileDialect(text, *catalog, store->connection().target()), text);
  return lease.compiledPtr();
}

StatementCache::Lease Database::Impl::prepareTable(const sql::TableInfo& table) {
  requireOpen();
  assignInternalKey(tableKey, "table", table.schema, table.table);
  StatementCache::Lease lease = statements->acquire(tableKey, table.table);
  if (!lease) lease = statements->insert(tableKey, compileTableRead(table, connection()), table.table);
  return lease;
}

StatementCache::Lease Database::Impl::prepareInternal(const std::string& key, const std::string& sql,
                                                      std::string_view table) {
  requireOpen();
  StatementCache::Lease lease = statements->acquire(key, table);
  if (!lease) {
    auto compiled = std::make_shared<CompiledStatement>();
    compiled->translation.sql = sql;
    lease = statements->insert(key, std::move(compiled), sql);
  }
  return lease;
}

void Database::Impl::lockTable(const std::string& table) {
  const std::string key = lowerName(table);
  // Exclusion is per database object: a second deny-write set on the same
  // table through it is refused like another user's.
  if (denyWriteTables.count(key)) throw tableLocked(table, me.user, me.machine);
  if (auto holder = store->tryLockTable(table)) throw tableLocked(table, holder->user, holder->machine);
  denyWriteTables.insert(key);
}

void Database::Impl::unlockTable(const std::string& table) {
  if (denyWriteTables.erase(lowerName(table))) store->unlockTable(table);
}

void Database::Impl::invalidateCaches() {
  if (catalog) catalog->invalidate();
  if (statements) statements->clear();
}

backend::RowCount executeStatement(Database::Impl& db, std::string_view text, const ParameterValues* values) {
  db.requireOpen();
  StatementCache::Lease lease = db.prepareStatement(text, values);
  const sql::Translation& translation = lease.compiled().translation;
  if (translation.kind == sql::StatementKind::Select) throw cannotExecuteSelect(text);
  const std::string_view table = translation.target ? std::string_view(translation.target->table) : "";
  // One statement of the backend: it changes all of its rows or, failing, none.
  const FailureContext context = db.context(table, text);
  db.recordsAffected = db.workspace.writesUnawaited() ? lease.get().executeUnawaited(context)
                                                      : backend::RowCount(lease.get().execute(context));
  return db.recordsAffected;
}

// ---- Database ----

Database::Database(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Database::~Database() = default;

const std::string& Database::name() const { return impl_->path; }
bool Database::isReadOnly() const { return impl_->readOnly; }

std::vector<Database::LinkTarget> Database::linkTargets() const {
  impl_->requireOpen();
  const Links& links = impl_->store->links();
  std::vector<LinkTarget> targets;
  for (const Link& link : links.links) targets.push_back({link.name, links.databases[link.database].location});
  return targets;
}
bool Database::isOpen() const { return impl_->store != nullptr; }
void Database::close() { impl_->close(); }
int64_t Database::recordsAffected() const { return impl_->recordsAffected.get(); }

void Database::notify(std::string_view channel, std::string_view payload) {
  impl_->requireOpen();
  impl_->store->notify(channel, payload);
}

std::vector<std::string> Database::tableNames() {
  impl_->requireOpen();
  return impl_->catalog->tableNames();
}

std::vector<std::string> Database::queryDefNames() {
  impl_->requireOpen();
  return impl_->catalog->queryNames();
}

void Database::execute(std::string_view sql, int) {
  // Every statement is all or nothing, with or without kFailOnError; a
  // failure always raises.
  executeStatement(*impl_, sql, nullptr);
}

RecordsetPtr Database::openRecordset(std::string_view source, RecordsetType type, int options) {
  impl_->requireOpen();
  const sql::TextClass text = sql::classifyText(source);
  RecordsetSource what;
  if (text.isStatement()) {
    what.name = source;
    what.statement = source;
    return makeRecordset(shared_from_this(), what, type, options);
  }
  // A name the grammar cannot read (one with blanks, say) is taken as written.
  std::string name(text.kind == sql::TextKind::Name ? text.name : source);
  what.table = impl_->catalog->tableInfo(name);
  std::optional<std::string> query;  // the stored query's text, while the record set is made
  if (!what.table) {
    query = impl_->catalog->findQuery(name);
    if (!query) throw noSuchTable(name);
    what.statement = *query;
  }
  what.name = name;
  return makeRecordset(shared_from_this(), what, type, options);
}

}  // namespace oskara::db
