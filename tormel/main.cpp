// tormel: the queue scan engine's server. The bus starts it when a client
// first asks for "Tormel.QueueEngine"; it serves every engine object of the
// process on one thread and ends a few seconds after it is idle.
#include "automation/bus/bus_server.h"
#include "presenter/qt_presenter.h"
#include "tormel/queue_engine.h"

int main(int argc, char** argv) {
  tormel::registerQueueEngine();
  // Widgets only where there is a display to show them on.
  auto app = oskara::makeServerApplication(argc, argv);
  return oskara::automation::runServer(argc, argv, {{"Tormel.QueueEngine"}});
}
