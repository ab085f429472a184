// The engine of the process and its default workspace: identity in the
// lock-information files and the one transaction over every open database.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "dbengine/connection.h"
#include "dbengine/engine_internal.h"
#include "dbengine/errors.h"

namespace oskara::db {
namespace {

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string loginName() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name) return pw->pw_name;
  return "uid " + std::to_string(::geteuid());
}

// Statement that enters nesting level `level` (1: the transaction itself).
std::string enterLevel(int level) {
  return level == 1 ? "BEGIN" : "SAVEPOINT oskara_level_" + std::to_string(level);
}

}  // namespace

// ---- Workspace::Impl: the transaction ----

void Workspace::Impl::join(Database::Impl& db) {
  for (int level = 1; level <= depth; ++level) {
    try {
      db.exec(enterLevel(level));
    } catch (...) {
      if (level > 1) execSql(db.db, "ROLLBACK");
      throw;
    }
  }
  databases.push_back(&db);
}

void Workspace::Impl::leave(Database::Impl& db) {
  databases.erase(std::remove(databases.begin(), databases.end(), &db), databases.end());
}

void Workspace::Impl::begin() {
  const int level = depth + 1;
  // Other users may have changed tables or stored queries since the last run.
  if (level == 1) {
    for (Database::Impl* db : databases) db->invalidateCaches();
  }
  for (size_t i = 0; i < databases.size(); ++i) {
    try {
      databases[i]->exec(enterLevel(level));
    } catch (...) {
      const std::string undo =
          level == 1 ? "ROLLBACK" : "ROLLBACK TO oskara_level_" + std::to_string(level) +
                                        "; RELEASE oskara_level_" + std::to_string(level);
      for (size_t j = 0; j < i; ++j) execSql(databases[j]->db, undo.c_str());
      throw;
    }
  }
  depth = level;
}

void Workspace::Impl::commit() {
  if (depth == 0) throw notInTransaction();
  if (depth > 1) {
    const std::string release = "RELEASE oskara_level_" + std::to_string(depth);
    for (Database::Impl* db : databases) db->exec(release);
    --depth;
    return;
  }
  // Each file commits on its own. When one cannot, the files not yet
  // committed are rolled back and the transaction is over either way.
  depth = 0;
  for (size_t i = 0; i < databases.size(); ++i) {
    Database::Impl& db = *databases[i];
    try {
      if (sqlite3_get_autocommit(db.db)) {
        throw engineFailure("the transaction on this file was already rolled back by an earlier failure",
                            db.path);
      }
      db.exec("COMMIT");
    } catch (...) {
      for (size_t j = i; j < databases.size(); ++j) {
        if (!sqlite3_get_autocommit(databases[j]->db)) execSql(databases[j]->db, "ROLLBACK");
      }
      throw;
    }
  }
}

void Workspace::Impl::rollback() {
  if (depth == 0) throw notInTransaction();
  std::optional<Error> failure;
  for (Database::Impl* db : databases) {
    try {
      if (depth > 1) {
        const std::string name = "oskara_level_" + std::to_string(depth);
        db->exec("ROLLBACK TO " + name);
        db->exec("RELEASE " + name);
      } else if (!sqlite3_get_autocommit(db->db)) {
        db->exec("ROLLBACK");
      }
    } catch (const Error& e) {
      if (!failure) failure = e;
    }
    // A rolled-back stored query or table must not stay in the caches.
    db->invalidateCaches();
  }
  --depth;
  if (failure) throw *failure;
}

void Workspace::Impl::idle(int action) {
  if ((action & kRefreshCache) == 0) return;
  // Statements are reset whenever their record set or query lets go of them,
  // so no read lock lingers; what remains is to forget what was read of the
  // schema and the stored queries, which other users may have changed.
  for (Database::Impl* db : databases) db->invalidateCaches();
}

// ---- Workspace ----

Workspace::Workspace(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Workspace::~Workspace() = default;

DatabasePtr Workspace::openDatabase(const std::string& path) {
  auto impl = std::make_unique<Database::Impl>(*impl_, path);
  impl->open(UserEntry{Engine::instance().machineName(), Engine::instance().userName()});
  auto database = std::make_shared<Database>(std::move(impl));
  impl_->join(database->impl());  // on failure the database closes with its last reference
  return database;
}

void Workspace::beginTrans() { impl_->begin(); }
void Workspace::commitTrans(int) { impl_->commit(); }
void Workspace::rollback() { impl_->rollback(); }
int Workspace::transactionDepth() const { return impl_->depth; }

// ---- Engine ----

struct Engine::Impl {
  Workspace workspace{std::make_unique<Workspace::Impl>()};
  std::string machine = hostName();
  std::string user = loginName();
};

Engine& Engine::instance() {
  // Never destroyed: databases held by other static objects may close after
  // main() returns, and they need the workspace.
  static Engine* engine = new Engine();
  return *engine;
}

Engine::Engine() : impl_(std::make_unique<Impl>()) {}
Engine::~Engine() = default;

Workspace& Engine::workspace(int index) {
  if (index != 0) throw itemNotFound("workspace", std::to_string(index));
  return impl_->workspace;
}

void Engine::beginTrans() { impl_->workspace.beginTrans(); }
void Engine::commitTrans(int options) { impl_->workspace.commitTrans(options); }
void Engine::rollback() { impl_->workspace.rollback(); }
void Engine::idle(int action) { impl_->workspace.impl().idle(action); }

std::string Engine::machineName() const { return impl_->machine; }
std::string Engine::userName() const { return impl_->user; }

void Engine::setIdentity(std::string machine, std::string user) {
  impl_->machine = std::move(machine);
  impl_->user = std::move(user);
}

}  // namespace oskara::db
