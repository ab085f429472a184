#include "dbengine/statement_cache.h"

namespace oskara::db {
namespace {

// Statements kept per shape beyond those in use; more are only needed while
// record sets on the same shape are open at the same time.
constexpr size_t kIdlePerShape = 4;

}  // namespace

StatementCache::Lease::Lease(Lease&& other) noexcept = default;

StatementCache::Lease& StatementCache::Lease::operator=(Lease&& other) noexcept {
  if (this != &other) {
    release();
    slot_ = std::move(other.slot_);
    stmt_ = std::move(other.stmt_);
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
  slot_.reset();
}

void StatementCache::giveBack(Slot& slot, std::unique_ptr<backend::Statement>& stmt) {
  stmt->reset();
  if (!slot.evicted && slot.idle.size() < kIdlePerShape) {
    slot.idle.push_back(std::move(stmt));
  } else {
    stmt.reset();
  }
}

StatementCache::StatementCache(backend::Connection& connection, size_t capacity)
    : connection_(connection), capacity_(capacity) {}

StatementCache::~StatementCache() { clear(); }

std::unique_ptr<backend::Statement> StatementCache::prepare(const CompiledStatement& compiled,
                                                            std::string_view statement) {
  std::unique_ptr<backend::Statement> stmt =
      connection_.prepare(compiled.translation.sql, statement, compiled.translation.wholeResultFirst);
  if (!compiled.translation.datesReadUnchecked.empty()) stmt->checkDatesOnRead(compiled.translation.datesReadUnchecked);
  return stmt;
}

StatementCache::Lease StatementCache::acquire(const std::string& key, std::string_view statement) {
  auto it = slots_.find(key);
  if (it == slots_.end()) return {};
  std::shared_ptr<Slot> slot = it->second;
  recency_.splice(recency_.begin(), recency_, slot->recency);
  std::unique_ptr<backend::Statement> stmt;
  if (!slot->idle.empty()) {
    stmt = std::move(slot->idle.back());
    slot->idle.pop_back();
  } else {
    stmt = prepare(*slot->compiled, statement);
  }
  return Lease(std::move(slot), std::move(stmt));
}

StatementCache::Lease StatementCache::insert(const std::string& key,
                                             std::shared_ptr<CompiledStatement> compiled,
                                             std::string_view statement) {
  std::unique_ptr<backend::Statement> stmt = prepare(*compiled, statement);
  if (const auto& updatable = compiled->translation.updatable)
    compiled->rowidColumn = stmt->columnIndex(updatable->rowidColumn);
  evict(key);
  while (slots_.size() >= capacity_ && !recency_.empty()) evict(recency_.back());
  auto slot = std::make_shared<Slot>();
  slot->compiled = std::move(compiled);
  recency_.push_front(key);
  slot->recency = recency_.begin();
  slots_.emplace(key, slot);
  return Lease(std::move(slot), std::move(stmt));
}

void StatementCache::evict(std::string key) {
  auto it = slots_.find(key);
  if (it == slots_.end()) return;
  Slot& slot = *it->second;
  slot.evicted = true;
  slot.idle.clear();
  recency_.erase(slot.recency);
  slots_.erase(it);
}

void StatementCache::clear() {
  while (!recency_.empty()) evict(recency_.back());
}

}  // namespace oskara::db
