// What the bus costs: one call by name over the bus against the same call in
// this process, and a full queue update through both servers (client ->
// varrick -> tormel) against ProcessQueue run in this process, on demo data.
// Run with a PostgreSQL cluster (scripts/with-postgres, as
// scripts/bench-servers does), the same update through the servers also runs
// on a copy of the demo data in three schemas of that cluster. The servers
// are the build tree's programs on a private bus started here, afresh for
// each update benchmark, so that their peak memory is that benchmark's own.
//
//   bus_bench [--customers=N] [benchmark options]   (N defaults to 100000)
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "automation/bus/bus.h"
#include "automation/bus/testing/private_bus.h"
#include "clients/application_client.h"
#include "clients/queue_engine_client.h"
#include "contract/classes.h"
#include "dbengine/test_files.h"
#include "demo_data.h"
#include "tormel/queue_engine.h"

namespace {

using oskara::clients::ApplicationClient;
using oskara::clients::QueueEngineClient;

int64_t g_customers = 100'000;
oskara::contract::DatabaseFiles g_files;
std::optional<oskara::contract::DatabaseFiles> g_serverFiles;  // on the PostgreSQL cluster, when one runs

// A private bus whose service folder holds the build tree's servers, with
// this process connected to it.
class BenchBus {
 public:
  BenchBus()
      : daemon_(QStringLiteral(OSKARA_BENCH_BUS_CONFIG), std::nullopt, QProcess::nullDevice()) {
    if (!daemon_.started()) return;
    bus_ = std::make_unique<oskara::automation::Bus>(QDBusConnection::connectToBus(
        QString::fromStdString(daemon_.address()), QStringLiteral("bench")));
    if (bus_->connection().isConnected()) oskara::setObjectActivator(bus_.get());
  }
  // The servers lose their bus and end.
  ~BenchBus() {
    oskara::setObjectActivator(nullptr);
    bus_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
  }
  bool ready() const { return bus_ && bus_->connection().isConnected(); }
  // The process of a server on this bus; 0 when none runs.
  qint64 pidOf(std::string_view name) const {
    auto reply = bus_->connection().interface()->servicePid(QString::fromLatin1(name.data(), name.size()));
    return reply.isValid() ? static_cast<qint64>(reply.value()) : 0;
  }

 private:
  oskara::test_support::PrivateBus daemon_;
  std::unique_ptr<oskara::automation::Bus> bus_;
};

// A field of a process's /proc status in MiB (VmHWM: its peak resident
// memory; RssAnon: its own memory resident now, shared memory left out); 0
// when it is gone.
double statusMiB(qint64 pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field) && line.size() > field.size() && line[field.size()] == ':')
      return std::stod(line.substr(field.size() + 1)) / 1024.0;
  }
  return 0;
}
double peakMiB(qint64 pid) { return statusMiB(pid, "VmHWM"); }

// Processor time (user and system) a process has used so far, in seconds; 0
// when it is gone.
double processorSeconds(qint64 pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(')');  // the name may hold spaces
  if (end == std::string::npos) return 0;
  std::istringstream fields(text.substr(end + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; fields >> field && i <= 15; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);  // utime, stime
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// While it lives, the server processes that serve the engine's sessions on
// the PostgreSQL cluster, sampled every 100 ms: their highest peak memory
// (which counts the server's shared buffers they touched), their highest own
// memory (without shared memory) and the processor time they used.
class ServerSessions {
 public:
  ServerSessions() : thread_([this] { sample(); }) {}
  ~ServerSessions() { stop(); }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  double peakMiB() const { return peak_; }
  double ownMiB() const { return own_; }
  double processorSeconds() const {
    double sum = 0;
    for (const auto& [pid, seconds] : seconds_) sum += seconds;
    return sum;
  }

 private:
  void sample() {
    PGconn* conn = PQconnectdb("");
    while (!stop_ && PQstatus(conn) == CONNECTION_OK) {
      PGresult* r = PQexec(conn, "SELECT pid FROM pg_stat_activity WHERE application_name LIKE '% tormel'");
      for (int row = 0; PQresultStatus(r) == PGRES_TUPLES_OK && row < PQntuples(r); ++row) {
        const qint64 pid = std::atoll(PQgetvalue(r, row, 0));
        peak_ = std::max(peak_.load(), ::peakMiB(pid));
        own_ = std::max(own_.load(), statusMiB(pid, "RssAnon"));
        seconds_[pid] = std::max(seconds_[pid], ::processorSeconds(pid));
      }
      PQclear(r);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    PQfinish(conn);
  }
  std::atomic<bool> stop_ = false;
  std::atomic<double> peak_ = 0;
  std::atomic<double> own_ = 0;
  std::map<qint64, double> seconds_;  // by process, the last sample; read after stop()
  std::thread thread_;
};

void callGetLogId(benchmark::State& state, QueueEngineClient engine) {
  for (auto _ : state) benchmark::DoNotOptimize(engine.GetLogID("C000001"));
}

// The engine's smallest member, GetLogID (no databases open: it answers Null
// at once), so that the time is the call itself.
void BM_CallInProcess(benchmark::State& state) {
  callGetLogId(state, QueueEngineClient(std::make_shared<tormel::QueueEngine>()));
}

void BM_CallOverBus(benchmark::State& state) {
  BenchBus bus;
  callGetLogId(state, QueueEngineClient::create());  // an object in tormel
}

void checkScanned(benchmark::State& state, bool scanned, const std::string& sError) {
  if (!scanned) state.SkipWithError(("scan failed: " + sError).c_str());
}

void BM_UpdateInProcess(benchmark::State& state) {
  for (auto _ : state) {
    QueueEngineClient engine(std::make_shared<tormel::QueueEngine>());
    int32_t lErr = 0;
    std::string sError;
    checkScanned(state,
                 engine.ProcessQueue(g_files.dt.string(), g_files.ar.string(), g_files.so.string(),
                                     lErr, sError),
                 sError);
  }
}

// The update through fresh servers on `files`; the servers' peak memory and
// processor time per update (and on PostgreSQL those of the engine's server
// sessions) as counters.
void updateThroughServers(benchmark::State& state, const oskara::contract::DatabaseFiles& files) {
  BenchBus bus;
  std::optional<ServerSessions> sessions;
  if (&files != &g_files) sessions.emplace();
  ApplicationClient application = ApplicationClient::create();
  // Keeps tormel running, as on a busy system: the time is the update's, not
  // that of starting the engine's process.
  QueueEngineClient keepTormel = QueueEngineClient::create();
  const qint64 tormel = bus.pidOf(oskara::contract::kQueueEngineClass);
  const double tormelBefore = processorSeconds(tormel);
  for (auto _ : state) {
    int32_t lErr = 0;
    std::string sError;
    const std::string result =
        application.UpdateQueue(files.dt.string(), files.ar.string(), files.so.string(), lErr, sError);
    checkScanned(state, result.empty(), sError);
  }
  const double updates = static_cast<double>(state.iterations());
  state.counters["tormel_cpu_s"] = (processorSeconds(tormel) - tormelBefore) / updates;
  state.counters["tormel_MiB"] = peakMiB(tormel);
  state.counters["varrick_MiB"] = peakMiB(bus.pidOf(oskara::contract::kApplicationClass));
  if (sessions) {
    sessions->stop();
    state.counters["pg_cpu_s"] = sessions->processorSeconds() / updates;
    state.counters["pg_session_MiB"] = sessions->peakMiB();
    state.counters["pg_own_MiB"] = sessions->ownMiB();
  }
}

void BM_UpdateThroughServers(benchmark::State& state) { updateThroughServers(state, g_files); }
void BM_UpdateThroughServersOnPostgreSQL(benchmark::State& state) { updateThroughServers(state, *g_serverFiles); }

BENCHMARK(BM_CallInProcess);
BENCHMARK(BM_CallOverBus)->UseRealTime();

// Prints as usual and keeps each benchmark's real time per iteration, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred)
        seconds[run.run_name.function_name] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
    }
  }
  void printRatio(const char* what, const char* slow, const char* fast) const {
    auto s = seconds.find(slow), f = seconds.find(fast);
    if (s == seconds.end() || f == seconds.end() || f->second <= 0) return;
    std::printf("%-46s %8.2f  (%s / %s)\n", what, s->second / f->second, slow, fast);
  }
  std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--customers=", 12) == 0) g_customers = std::atoll(argv[i] + 12);
  }
  benchmark::Initialize(&argc, argv);
  QCoreApplication app(argc, argv);

  QTemporaryDir dir;
  std::printf("Demo data: %lld customers ...\n", static_cast<long long>(g_customers));
  std::fflush(stdout);
  g_files = oskara::tool::createDemoDatabases(dir.path().toStdString(), {.customers = g_customers, .seed = 1})
                .files;
  std::optional<oskara::db::testing::TestDatabases> server;
  if (oskara::db::testing::postgresAvailable()) {
    std::printf("... and the same on PostgreSQL ...\n");
    std::fflush(stdout);
    server.emplace(oskara::db::testing::Backend::PostgreSQL);
    const oskara::contract::DatabaseLocations locations{server->location("dt"), server->location("ar"),
                                                        server->location("so")};
    oskara::tool::createDemoDatabases(locations, {.customers = g_customers, .seed = 1});
    g_serverFiles = oskara::contract::DatabaseFiles{locations.dt, locations.ar, locations.so};
  }
  if (!BenchBus().ready()) {
    std::fprintf(stderr, "bus_bench: cannot start a private bus\n");
    return 1;
  }
  // A million customers take long enough for one run each.
  const int updates = g_customers >= 1'000'000 ? 1 : 3;
  benchmark::RegisterBenchmark("BM_UpdateInProcess", BM_UpdateInProcess)
      ->Unit(benchmark::kMillisecond)->Iterations(updates)->UseRealTime();
  benchmark::RegisterBenchmark("BM_UpdateThroughServers", BM_UpdateThroughServers)
      ->Unit(benchmark::kMillisecond)->Iterations(updates)->UseRealTime();
  if (g_serverFiles) {
    benchmark::RegisterBenchmark("BM_UpdateThroughServersOnPostgreSQL", BM_UpdateThroughServersOnPostgreSQL)
        ->Unit(benchmark::kMillisecond)->Iterations(updates)->UseRealTime();
  }

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  reporter.printRatio("call by name, over the bus / in-process:", "BM_CallOverBus",
                      "BM_CallInProcess");
  reporter.printRatio("full update, through both servers / in-process:", "BM_UpdateThroughServers",
                      "BM_UpdateInProcess");
  reporter.printRatio("full update through the servers, PostgreSQL / files:",
                      "BM_UpdateThroughServersOnPostgreSQL", "BM_UpdateThroughServers");
  benchmark::Shutdown();
  return 0;
}
