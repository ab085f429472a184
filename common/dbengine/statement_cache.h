// The statement cache of one database: per statement shape (the text with its
// literals taken out) the compiled form and a pool of statements prepared on
// the backend's connection. The scan issues the same few statements for every
// customer with other literals; a hit costs a hash lookup and a rebinding,
// never a translation or a prepare. Least recently used shapes are dropped
// beyond the capacity, so ad-hoc statements do not grow memory.
#pragma once

#include "dbengine/internal.h"

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbengine/backend.h"
#include "dbengine/sql/translator.h"
#include "dbengine/values.h"

namespace oskara::db {

// Everything derived once per statement shape.
struct CompiledStatement {
  sql::Translation translation;       // the backend's SQL, bindings, result columns, updatable table
  std::vector<FieldType> fieldTypes;  // per visible result column, from its declared type
  int rowidColumn = -1;               // result column holding the row identity of translation.updatable

  // The statements a dynaset writes its rows back with, one per set of
  // assigned columns, made at the first write of that set: the queue writer
  // adds and edits rows of the same few shapes for every customer.
  struct WriteStatement {
    std::vector<bool> assigned;  // per visible column
    std::string key;             // in the statement cache
    std::string sql;             // the backend's
  };
  mutable std::vector<WriteStatement> inserts;
  mutable std::vector<WriteStatement> updates;

  // Which field a record set of this shape asked for by name after each
  // field the last time (slot 0: its first; slot i + 1: after field i), -1
  // unknown: callers ask for the same fields in the same order for every
  // row, so the name is compared with one field's before the others'.
  mutable std::vector<int> nextFieldAsked;
};

class StatementCache {
  struct Slot;

 public:
  // A prepared statement handed to one user at a time. Giving it back resets
  // it, so no read lock outlives its use.
  class Lease {
   public:
    Lease() = default;
    Lease(Lease&& other) noexcept;
    Lease& operator=(Lease&& other) noexcept;
    ~Lease();

    backend::Statement& get() const { return *stmt_; }
    const CompiledStatement& compiled() const;
    std::shared_ptr<const CompiledStatement> compiledPtr() const;
    explicit operator bool() const { return stmt_ != nullptr; }
    void release();

   private:
    friend class StatementCache;
    Lease(std::shared_ptr<Slot> slot, std::unique_ptr<backend::Statement> stmt)
        : slot_(std::move(slot)), stmt_(std::move(stmt)) {}
    std::shared_ptr<Slot> slot_;  // keeps the compiled form alive; null when empty
    std::unique_ptr<backend::Statement> stmt_;
  };

  // `connection` outlives the cache.
  StatementCache(backend::Connection& connection, size_t capacity);
  ~StatementCache();  // statements still leased are finalized when given back
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // A statement of the cached shape `key`, or an empty lease when the shape is
  // not cached. Throws the backend's failure (naming `statement`) when a
  // further statement of a busy shape cannot be prepared.
  Lease acquire(const std::string& key, std::string_view statement);

  // Caches `compiled` under `key` and leases a statement of it; finds the
  // row identity's column of an updatable result. Throws when the backend
  // cannot prepare it; nothing is cached then.
  Lease insert(const std::string& key, std::shared_ptr<CompiledStatement> compiled,
               std::string_view statement);

  // Drops every shape (after a schema change); leased statements finish their use.
  void clear();

  size_t size() const { return slots_.size(); }

 private:
  struct Slot {
    std::shared_ptr<const CompiledStatement> compiled;
    std::vector<std::unique_ptr<backend::Statement>> idle;  // prepared, reset, ready for binding
    bool evicted = false;  // no longer in the cache: finalize on return
    std::list<std::string>::iterator recency;
  };
  static void giveBack(Slot& slot, std::unique_ptr<backend::Statement>& stmt);  // leaves `stmt` empty
  std::unique_ptr<backend::Statement> prepare(const CompiledStatement& compiled, std::string_view statement);
  void evict(std::string key);  // a copy: callers pass keys owned by recency_

  // Constant after construction.
  backend::Connection& connection_;
  size_t capacity_;

  std::unordered_map<std::string, std::shared_ptr<Slot>> slots_;
  std::list<std::string> recency_;  // keys, most recently used first
};

}  // namespace oskara::db
