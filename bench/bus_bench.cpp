// What the bus costs: one call by name over the bus against the same call in
// this process, and a full queue update through both servers (client ->
// varrick -> tormel) against ProcessQueue run in this process, on demo data.
// The servers are the build tree's programs on a private bus started here.
//
//   bus_bench [--customers=N] [benchmark options]   (N defaults to 100000)
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "automation/bus/bus.h"
#include "automation/bus/testing/private_bus.h"
#include "clients/application_client.h"
#include "clients/queue_engine_client.h"
#include "demo_data.h"
#include "tormel/queue_engine.h"

namespace {

using oskara::clients::ApplicationClient;
using oskara::clients::QueueEngineClient;

int64_t g_customers = 100'000;
oskara::contract::DatabaseFiles g_files;

void callGetLogId(benchmark::State& state, QueueEngineClient engine) {
  for (auto _ : state) benchmark::DoNotOptimize(engine.GetLogID("C000001"));
}

// The engine's smallest member, GetLogID (no databases open: it answers Null
// at once), so that the time is the call itself.
void BM_CallInProcess(benchmark::State& state) {
  callGetLogId(state, QueueEngineClient(std::make_shared<tormel::QueueEngine>()));
}

void BM_CallOverBus(benchmark::State& state) {
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

void BM_UpdateThroughServers(benchmark::State& state) {
  ApplicationClient application = ApplicationClient::create();
  // Keeps tormel running, as on a busy system: the time is the update's, not
  // that of starting the engine's process.
  QueueEngineClient keepTormel = QueueEngineClient::create();
  for (auto _ : state) {
    int32_t lErr = 0;
    std::string sError;
    const std::string result = application.UpdateQueue(
        g_files.dt.string(), g_files.ar.string(), g_files.so.string(), lErr, sError);
    checkScanned(state, result.empty(), sError);
  }
}

BENCHMARK(BM_CallInProcess);
BENCHMARK(BM_CallOverBus)->UseRealTime();
BENCHMARK(BM_UpdateInProcess)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_UpdateThroughServers)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

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
  ~BenchBus() {
    oskara::setObjectActivator(nullptr);
    bus_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("bench"));
  }
  bool ready() const { return bus_ && bus_->connection().isConnected(); }

 private:
  oskara::test_support::PrivateBus daemon_;
  std::unique_ptr<oskara::automation::Bus> bus_;
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
  g_files = oskara::tool::createDemoDatabases(dir.path().toStdString(),
                                              {.customers = g_customers, .seed = 1})
                .files;
  BenchBus bus;
  if (!bus.ready()) {
    std::fprintf(stderr, "bus_bench: cannot start a private bus\n");
    return 1;
  }

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  reporter.printRatio("call by name, over the bus / in-process:", "BM_CallOverBus",
                      "BM_CallInProcess");
  reporter.printRatio("full update, through both servers / in-process:", "BM_UpdateThroughServers",
                      "BM_UpdateInProcess");
  benchmark::Shutdown();
  return 0;
}
