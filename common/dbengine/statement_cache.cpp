#include "dbengine/statement_cache.h"

#include "dbengine/sqlite_errors.h"

namespace oskara::db {
namespace {

// Statements kept per shape beyond those in use; more are only needed while
// record sets on the same shape are open at the same time.
constexpr size_t kIdlePerShape = 4;

}  // namespace

StatementCache::Lease::Lease(Lease&& other) noexcept
    : slot_(std::move(other.slot_)), stmt_(other.stmt_) {
  other.stmt_ = nullptr;
}

StatementCache::Lease& StatementCache::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    release();
    slot_ = std::move(other.slot_);
    stmt_ = other.stmt_;
    other.stmt_ = nullptr;
  }
  return *this;
}

StatementCache::Lease::~Lease() { release(); }

const CompiledStatement& StatementCache::Lease::compiled() const { return *slot_->compiled; }

std::shared_ptr<const CompiledStatement> StatementCache::Lease::compiledPtr() const {
  return slot_->compiled;
}

void StatementCache::Lease::release() {
  if (stmt_) giveBack(*slot_, stmt_);
  stmt_ = nullptr;
  slot_.reset();
}

void StatementCache::giveBack(Slot& slot, sqlite3_stmt* stmt) {
  sqlite3_reset(stmt);
  if (slot.evicted || slot.idle.size() >= kIdlePerShape) {
    sqlite3_finalize(stmt);
  } else {
    slot.idle.push_back(stmt);
  }
}

StatementCache::StatementCache(sqlite3* db, size_t capacity) : db_(db), capacity_(capacity) {}

StatementCache::~StatementCache() { clear(); }

sqlite3_stmt* StatementCache::prepare(const CompiledStatement& compiled, std::string_view statement) {
  const std::string& text = compiled.translation.sql;
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db_, text.data(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT,
                              &stmt, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(stmt);
    throw sqliteError(db_, rc, {{}, {}, statement.empty() ? std::string_view(text) : statement});
  }
  return stmt;
}

StatementCache::Lease StatementCache::acquire(const std::string& key, std::string_view statement) {
  auto it = slots_.find(key);
  if (it == slots_.end()) return {};
  std::shared_ptr<Slot> slot = it->second;
  recency_.splice(recency_.begin(), recency_, slot->recency);
  sqlite3_stmt* stmt;
  if (!slot->idle.empty()) {
    stmt = slot->idle.back();
    slot->idle.pop_back();
  } else {
    stmt = prepare(*slot->compiled, statement);
  }
  return Lease(std::move(slot), stmt);
}

StatementCache::Lease StatementCache::insert(const std::string& key,
                                             std::shared_ptr<CompiledStatement> compiled,
                                             std::string_view statement) {
  sqlite3_stmt* stmt = prepare(*compiled, statement);
  if (const auto& updatable = compiled->translation.updatable) {
    for (int i = 0, n = sqlite3_column_count(stmt); i < n; ++i) {
      if (updatable->rowidColumn == sqlite3_column_name(stmt, i)) compiled->rowidColumn = i;
    }
  }
  evict(key);
  while (slots_.size() >= capacity_ && !recency_.empty()) evict(recency_.back());
  auto slot = std::make_shared<Slot>();
  slot->compiled = std::move(compiled);
  recency_.push_front(key);
  slot->recency = recency_.begin();
  slots_.emplace(key, slot);
  return Lease(std::move(slot), stmt);
}

void StatementCache::evict(std::string key) {
  auto it = slots_.find(key);
  if (it == slots_.end()) return;
  Slot& slot = *it->second;
  slot.evicted = true;
  for (sqlite3_stmt* stmt : slot.idle) sqlite3_finalize(stmt);
  slot.idle.clear();
  recency_.erase(slot.recency);
  slots_.erase(it);
}

void StatementCache::clear() {
  while (!recency_.empty()) evict(recency_.back());
}

}  // namespace oskara::db
