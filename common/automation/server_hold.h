// ServerHold: pending work that keeps a server process alive although no
// client holds an object of it, such as the engine's armed timer. The bus
// server does not count as idle while any hold exists.
#pragma once

#include <cstddef>

namespace oskara {

class ServerHold {
 public:
  ServerHold();
  ~ServerHold();
  ServerHold(const ServerHold&) = delete;
  ServerHold& operator=(const ServerHold&) = delete;
};

// Holds alive in this process.
size_t activeServerHolds();

}  // namespace oskara
