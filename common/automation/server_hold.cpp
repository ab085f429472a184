#include "automation/server_hold.h"

#include <atomic>

namespace oskara {
namespace {
std::atomic<size_t> g_holds{0};
}  // namespace

ServerHold::ServerHold() { ++g_holds; }
ServerHold::~ServerHold() { --g_holds; }
size_t activeServerHolds() { return g_holds.load(); }

}  // namespace oskara
