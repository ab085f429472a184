// Test helper: another workstation holding a table of a database open with
// write access denied to others, as a server process holding the
// queue-processing lock does.
//
//   varrick_lock_holder DATABASE TABLE
//
// Prints "held" once the table is open, then keeps it until standard input
// ends or the process is killed. When the open is refused it prints
// "refused N" with the engine's error number and exits 1.
#include <cstdio>
#include <iostream>
#include <string>

#include "core/error.h"
#include "dbengine/dbengine.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: varrick_lock_holder DATABASE TABLE\n";
    return 2;
  }
  namespace db = oskara::db;
  db::RecordsetPtr held;
  try {
    db::DatabasePtr database = db::Engine::instance().workspace(0).openDatabase(argv[1]);
    held = database->openRecordset(argv[2], db::RecordsetType::Dynaset, db::kDenyWrite);
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
