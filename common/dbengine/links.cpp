#include "dbengine/links.h"

#include "dbengine/identifiers.h"

namespace oskara::db {

const Link* Links::find(std::string_view name) const {
  for (const Link& link : links) {
    if (sameName(link.name, name)) return &link;
  }
  return nullptr;
}

bool Links::isReadOnlySchema(std::string_view schema) const {
  for (const LinkedDatabase& database : databases) {
    if (database.schema == schema) return database.readOnly;
  }
  return false;
}

}  // namespace oskara::db
