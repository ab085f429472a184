#include "bench_support.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace oskara::bench {

namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix) {
  std::random_device entropy;
  for (;;) {
    path_ = fs::temp_directory_path() /
            (prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(entropy() % 1000000));
    if (fs::create_directory(path_)) return;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool resetPeakMemory() {
  // "5" resets the high-water mark of the resident set (Linux 4.0 and later).
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

int64_t peakMemoryKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) {
      std::istringstream fields(line.substr(6));
      int64_t kib = 0;
      fields >> kib;
      return kib;
    }
  }
  return -1;
}

ComparingReporter::ComparingReporter(std::vector<Comparison> comparisons, double target, Basis basis)
    : comparisons_(std::move(comparisons)), target_(target), basis_(basis) {}

void ComparingReporter::ReportRuns(const std::vector<Run>& runs) {
  ConsoleReporter::ReportRuns(runs);
  for (const Run& run : runs) {
    if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
    // Keyed by the name as registered, without the suffixes of the run's settings.
    std::string name = run.run_name.function_name;
    if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
    Timing& timing = timings_[name];
    timing.seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    timing.cpuSeconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    for (const auto& [name, counter] : run.counters) timing.counters[name] = counter.value;
  }
}

void ComparingReporter::Finalize() {
  ConsoleReporter::Finalize();
  bool header = false;
  for (const Comparison& c : comparisons_) {
    auto measured = timings_.find(c.measured);
    auto reference = timings_.find(c.reference);
    if (measured == timings_.end() || reference == timings_.end()) continue;
    const bool cpu = basis_ == Basis::CpuTime;
    if (!header) {
      std::printf("\n%-34s %11s %11s %7s", "comparison", "measured s", "reference s", "ratio");
      if (cpu) std::printf(" %11s %11s %7s", "cpu s", "cpu s", "ratio");
      std::printf("  target (%s ratio at most)\n", cpu ? "processor-time" : "real-time");
      header = true;
    }
    const Timing& m = measured->second;
    const Timing& r = reference->second;
    const double ratio = m.seconds / r.seconds;
    const double cpuRatio = m.cpuSeconds / r.cpuSeconds;
    std::printf("%-34s %11.4f %11.4f %7.2f", c.label.c_str(), m.seconds, r.seconds, ratio);
    if (cpu) std::printf(" %11.4f %11.4f %7.2f", m.cpuSeconds, r.cpuSeconds, cpuRatio);
    const double target = c.target > 0 ? c.target : target_;
    std::printf("  %.1f %s\n", target, (cpu ? cpuRatio : ratio) <= target ? "ok" : "OVER TARGET");
  }
  std::fflush(stdout);
}

int runBenchmarks(int argc, char** argv, ComparingReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace oskara::bench
