// The engine of the process and its default workspace: who the process is to
// other users, and the one transaction over every open database.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

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

}  // namespace

// ---- Workspace::Impl: the transaction ----

std::vector<backend::Connection*> Workspace::Impl::connections() const {
  std::vector<backend::Connection*> result;
  for (Database::Impl* db : databases) {
    backend::Connection* connection = &db->connection();
    if (std::find(result.begin(), result.end(), connection) == result.end()) result.push_back(connection);
  }
  return result;
}

void Workspace::Impl::join(Database::Impl& db) {
  const std::vector<backend::Connection*> joined = connections();
  backend::Connection& connection = db.connection();
  if (std::find(joined.begin(), joined.end(), &connection) == joined.end()) {
    for (int level = 1; level <= depth; ++level) {
      try {
        connection.begin(level);
      } catch (...) {
        if (level > 1) connection.abandon(1);
        throw;
      }
    }
  }
  databases.push_back(&db);
}

void Workspace::Impl::leave(Database::Impl& db) {
  databases.erase(std::remove(databases.begin(), databases.end(), &db), databases.end());
}

void Workspace::Impl::begin(int options) {
  const int level = depth + 1;
  // Other users may have changed tables or stored queries since the last run.
  if (level == 1) {
    for (Database::Impl* db : databases) db->invalidateCaches();
  }
  const std::vector<backend::Connection*> all = connections();
  for (size_t i = 0; i < all.size(); ++i) {
    try {
      all[i]->begin(level);
    } catch (...) {
      for (size_t j = 0; j < i; ++j) all[j]->abandon(level);
      throw;
    }
  }
  if (level == 1) allOrNothing = (options & kAllOrNothing) != 0;
  depth = level;
}

void Workspace::Impl::commit() {
  if (depth == 0) throw notInTransaction();
  const std::vector<backend::Connection*> all = connections();
  if (depth > 1) {
    for (backend::Connection* connection : all) connection->commit(depth);
    --depth;
    return;
  }
  // Each connection commits on its own. When one cannot, those not yet
  // committed are rolled back and the transaction is over either way.
  depth = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    backend::Connection& connection = *all[i];
    try {
      if (!connection.inTransaction()) {
        throw engineFailure("the transaction on this file was already rolled back by an earlier failure",
                            connection.name());
      }
      connection.commit(1);
    } catch (...) {
      for (size_t j = i; j < all.size(); ++j) all[j]->abandon(1);
      throw;
    }
  }
}

void Workspace::Impl::rollback() {
  if (depth == 0) throw notInTransaction();
  std::optional<Error> failure;
  for (backend::Connection* connection : connections()) {
    try {
      connection->rollback(depth);
    } catch (const Error& e) {
      if (!failure) failure = e;
    }
  }
  // A rolled-back stored query or table must not stay in the caches.
  for (Database::Impl* db : databases) db->invalidateCaches();
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

DatabasePtr Workspace::openDatabase(const std::string& path, Access access) {
  auto impl = std::make_unique<Database::Impl>(*impl_, path);
  impl->open(UserEntry{Engine::instance().machineName(), Engine::instance().userName()},
             access == Access::ReadOnly);
  auto database = std::make_shared<Database>(std::move(impl));
  impl_->join(database->impl());  // on failure the database closes with its last reference
  return database;
}

void Workspace::beginTrans(int options) { impl_->begin(options); }
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

void Engine::beginTrans(int options) { impl_->workspace.beginTrans(options); }
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
