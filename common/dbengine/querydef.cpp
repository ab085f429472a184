// Query objects: temporary queries and the stored queries of sys_queries,
// with named parameters whose values are kept until the query is closed.
#include "dbengine/engine_internal.h"
#include "dbengine/errors.h"
#include "dbengine/identifiers.h"

namespace oskara::db {

struct QueryDef::Impl {
  void requireOpen() const {
    if (!open) throw objectInvalid("query " + displayName());
    db->requireOpen();
  }
  std::string displayName() const { return name.empty() ? sql : name; }
  const sql::ParameterInfo& findParameter(std::string_view parameterName);

  // Constant after creation.
  DatabasePtr owner;            // keeps the database object alive; null once closed
  Database::Impl* db = nullptr;
  std::string name;             // "" for a temporary query

  // Changing with use.
  std::string sql;
  ParameterValues values;       // values given, by lower-case parameter name
  std::shared_ptr<const CompiledStatement> compiled;  // last compiled form of `sql`, keeps findParameter's answer alive
  mutable backend::RowCount recordsAffected;
  bool open = true;
};

namespace {

QueryDefPtr makeQueryDef(const DatabasePtr& owner, std::string name, std::string sql) {
  auto impl = std::make_unique<QueryDef::Impl>();
  impl->owner = owner;
  impl->db = &owner->impl();
  impl->name = std::move(name);
  impl->sql = std::move(sql);
  return std::make_shared<QueryDef>(std::move(impl));
}

}  // namespace

const sql::ParameterInfo& QueryDef::Impl::findParameter(std::string_view parameterName) {
  if (!sql.empty()) {
    // Compiled statements are cached by the database; this is a lookup.
    compiled = db->compileStatement(sql);
    for (const sql::ParameterInfo& p : compiled->translation.parameters) {
      if (sameName(p.name, parameterName)) return p;
    }
  }
  throw itemNotFound("parameter", parameterName);
}

// ---- Database: query collection ----

QueryDefPtr Database::createQueryDef(std::string_view name, std::string_view sql) {
  impl_->requireOpen();
  if (name.empty()) return makeQueryDef(shared_from_this(), {}, std::string(sql));
  if (impl_->catalog->queryName(name)) throw objectExists("query", name);
  if (!sql.empty()) impl_->compileStatement(sql);  // a statement that does not translate is not saved
  impl_->store->addStoredQuery(name, sql);
  impl_->invalidateCaches();
  return makeQueryDef(shared_from_this(), std::string(name), std::string(sql));
}

QueryDefPtr Database::queryDef(std::string_view name) {
  impl_->requireOpen();
  auto stored = impl_->catalog->queryName(name);
  if (!stored) throw itemNotFound("query", name);
  return makeQueryDef(shared_from_this(), *stored, *impl_->catalog->findQuery(name));
}

// ---- QueryDef ----

QueryDef::QueryDef(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
QueryDef::~QueryDef() = default;

const std::string& QueryDef::name() const { return impl_->name; }
const std::string& QueryDef::sql() const { return impl_->sql; }

void QueryDef::setSql(std::string sql) {
  impl_->requireOpen();
  if (!impl_->name.empty()) {
    if (!sql.empty()) impl_->db->compileStatement(sql);
    impl_->db->store->setStoredQuery(impl_->name, sql);
    impl_->db->invalidateCaches();
  }
  impl_->sql = std::move(sql);
}

std::vector<std::string> QueryDef::parameterNames() {
  impl_->requireOpen();
  if (impl_->sql.empty()) return {};
  std::vector<std::string> names;
  for (const sql::ParameterInfo& p : impl_->db->compileStatement(impl_->sql)->translation.parameters)
    names.push_back(p.name);
  return names;
}

Variant QueryDef::parameter(std::string_view name) {
  impl_->requireOpen();
  const sql::ParameterInfo& p = impl_->findParameter(name);
  auto it = impl_->values.find(lowerName(p.name));
  return it == impl_->values.end() ? Variant::null() : it->second;
}

void QueryDef::setParameter(std::string_view name, const Variant& value) {
  impl_->requireOpen();
  const sql::ParameterInfo& p = impl_->findParameter(name);
  const FieldType type = p.declaredType ? fieldTypeOf(*p.declaredType) : FieldType::Any;
  impl_->values[lowerName(p.name)] = convertForField(value, type, p.name);
}

void QueryDef::execute(int) {
  impl_->requireOpen();
  // Every statement is all or nothing, with or without kFailOnError; a
  // failure always raises.
  impl_->recordsAffected = executeStatement(*impl_->db, impl_->sql, &impl_->values);
}

int64_t QueryDef::recordsAffected() const { return impl_->recordsAffected.get(); }

RecordsetPtr QueryDef::openRecordset(RecordsetType type, int options) {
  impl_->requireOpen();
  const std::string name = impl_->displayName();
  RecordsetSource source;
  source.name = name;
  source.statement = impl_->sql;
  source.values = &impl_->values;
  return makeRecordset(impl_->owner, source, type, options);
}

void QueryDef::close() {
  impl_->open = false;
  impl_->compiled.reset();
  impl_->owner.reset();
}

}  // namespace oskara::db
