// varrick: the application server. The bus starts it when a client first asks
// for its class (contract::kApplicationClass); it serves every object of the
// process on one thread and ends a few seconds after the last one has gone.
#include <string>

#include "automation/bus/bus_server.h"
#include "contract/classes.h"
#include "presenter/qt_presenter.h"
#include "varrick/application.h"

int main(int argc, char** argv) {
  varrick::registerApplication();
  // Message boxes need widgets; a server without a display runs on a core
  // application and reports its messages on standard error.
  auto app = oskara::makeServerApplication(argc, argv);
  return oskara::automation::runServer(argc, argv,
                                       {{std::string(oskara::contract::kApplicationClass)}});
}
