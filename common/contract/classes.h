// The two automation classes of the system as their callers see them: the
// programmatic identifier each is created by (also the well-known bus name of
// its server), its class name and the names of its members in interface
// order. The servers' method tables and the typed clients (common/clients/)
// take the names from here.
#pragma once

#include <string_view>

namespace oskara::contract {

// Tormel's queue scan engine.
inline constexpr std::string_view kQueueEngineClass = "Tormel.QueueEngine";

namespace queue_engine {
inline constexpr std::string_view kClassName = "QueueEngine";
// Interface _QueueEngine.
inline constexpr std::string_view kProcessQueue = "ProcessQueue";
inline constexpr std::string_view kGetLogID = "GetLogID";
inline constexpr std::string_view kUpdQueueAsync = "UpdQueueAsync";
inline constexpr std::string_view kAbout = "About";
// Events, signals of the typed interface on the bus.
inline constexpr std::string_view kProgress = "Progress";
inline constexpr std::string_view kQueueUpdated = "QueueUpdated";
}  // namespace queue_engine

// The PostgreSQL channel on which a committed queue update is announced
// (NOTIFY, sent inside the update's transaction).
inline constexpr std::string_view kQueueUpdatedChannel = "oskara_queue_updated";

// Varrick's application object.
inline constexpr std::string_view kApplicationClass = "Varrick.Application";

namespace application {
inline constexpr std::string_view kClassName = "Application";
// Interface _Application.
inline constexpr std::string_view kAbout = "About";
inline constexpr std::string_view kUpdateQueue = "UpdateQueue";
inline constexpr std::string_view kUpdateQueueAsync = "UpdateQueueAsync";
inline constexpr std::string_view kUpdQAsyncStatus = "UpdQAsyncStatus";
inline constexpr std::string_view kCallBack = "CallBack";
inline constexpr std::string_view kLogon = "Logon";
inline constexpr std::string_view kLogOff = "LogOff";
inline constexpr std::string_view kActiveUsersList = "ActiveUsersList";
// Members added to the interface, after the original ones.
inline constexpr std::string_view kExplainCustomer = "ExplainCustomer";
inline constexpr std::string_view kUpdQAsyncProgress = "UpdQAsyncProgress";
// Event: the engine's progress, passed on.
inline constexpr std::string_view kProgress = "Progress";
}  // namespace application

}  // namespace oskara::contract
