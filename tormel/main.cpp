// tormel: the queue scan engine's server. The bus starts it when a client
// first asks for the engine's class (contract::kQueueEngineClass); it serves
// every engine object of the process on one thread and ends a few seconds
// after it is idle.
#include <string>

#include "automation/bus/bus_server.h"
#include "contract/classes.h"
#include "presenter/qt_presenter.h"
#include "tormel/queue_engine.h"

int main(int argc, char** argv) {
  tormel::registerQueueEngine();
  // Widgets only where there is a display to show them on.
  auto app = oskara::makeServerApplication(argc, argv);
  return oskara::automation::runServer(argc, argv,
                                       {{std::string(oskara::contract::kQueueEngineClass)}});
}
