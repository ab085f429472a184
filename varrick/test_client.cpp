// A client for the end-to-end tests: creates one object of each class named
// on its command line, prints "ready" and holds them until it is killed, so
// that the tests can see the servers drop a departed client's references.
#include <QCoreApplication>
#include <cstdio>
#include <vector>

#include "automation/bus/bus.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  oskara::automation::Bus bus(QDBusConnection::sessionBus());
  oskara::setObjectActivator(&bus);
  std::vector<oskara::ObjectRef> held;
  try {
    for (int i = 1; i < argc; ++i) held.push_back(oskara::createObject(argv[i]));
  } catch (const oskara::Error& e) {
    std::fprintf(stderr, "varrick_test_client: %s\n", e.text().c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return QCoreApplication::exec();  // until killed
}
