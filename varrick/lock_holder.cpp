// Test helper: another workstation holding a database open, and with it a
// table with write access denied to others, as a server process holding the
// queue-processing lock does.
//
//   varrick_lock_holder DATABASE TABLE|- [MACHINE USER]
//
// "-" opens the database alone. MACHINE and USER name the workstation in the
// database's lock information. Prints "held" once it is open, then keeps it
// until standard input ends or the process is killed. When the open is
// refused it prints "refused N" with the engine's error number and exits 1.
#include <cstdio>
#include <iostream>
#include <string>

#include "core/error.h"
#include "dbengine/dbengine.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::cerr << "usage: varrick_lock_holder DATABASE TABLE|- [MACHINE USER]\n";
    return 2;
  }
  namespace db = oskara::db;
  const std::string table = argv[2];
  db::DatabasePtr database;
  db::RecordsetPtr held;
  try {
    if (argc == 5) db::Engine::instance().setIdentity(argv[3], argv[4]);
    database = db::Engine::instance().workspace(0).openDatabase(argv[1]);
    if (table != "-") held = database->openRecordset(table, db::RecordsetType::Dynaset, db::kDenyWrite);
  } catch (const oskara::Error& e) {
    std::cout << "refused " << e.number() << std::endl;
    return 1;
  }
  std::cout << "held" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
