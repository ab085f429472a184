// A full queue update: ProcessQueue with every rule on (queue reset
// included) on demo data, against a baseline in the same run that writes
// the same queue with a handful of set-based SQLite statements written by
// hand (set_based_scan.h). Both must leave the same queue, or the benchmark
// fails.
//
// Every measured run is a child process (this program again, told what to
// run), so that its peak resident memory is its own and runs do not mix. The
// child times the scan itself: opening the files, the scan's transaction and
// its commit; making the demo data, copying it and counting the queue are
// outside the timing. The demo data of each size is made once per run of this
// program and copied afresh for every measured run.
//
//   scan_bench [--sizes=100000,1000000] [benchmark options]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/set_based_scan.h"
#include "bench_support.h"
#include "tormel/queue_engine.h"

namespace oskara::bench {
namespace {

namespace fs = std::filesystem;

// What one measured run reports.
struct RunResult {
  double seconds = 0;     // wall-clock time of the scan
  double cpuSeconds = 0;  // processor time of the scan (user and system)
  int64_t peakKiB = 0;    // peak resident memory of the child process
  QueueCounts counts{};
  uint64_t digest = 0;  // outcomeDigest
};

// --- the child: one scan, then its report on standard output ---------------

double cpuSecondsNow() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void engineScan(const fs::path& dir) {
  tormel::QueueEngine engine;
  int32_t error = 0;
  std::string text;
  if (!engine.ProcessQueue((dir / "dt.db").string(), (dir / "ar.db").string(), (dir / "so.db").string(), error,
                           text))
    throw std::runtime_error("ProcessQueue failed: " + std::to_string(error) + " " + text);
}

// Runs one scan in this process and prints "ok seconds cpu peak count1..count10 other digest".
int childMain(const std::string& what, const fs::path& dir) {
  try {
    const double cpuBefore = cpuSecondsNow();
    const auto start = std::chrono::steady_clock::now();
    if (what == "engine") {
      engineScan(dir);
    } else if (what == "baseline") {
      setBasedScan(dir);
    } else {
      throw std::runtime_error("unknown scan " + what);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double cpu = cpuSecondsNow() - cpuBefore;
    const int64_t peak = peakMemoryKiB();
    const QueueCounts counts = countQueue(dir / "dt.db");
    const uint64_t digest = outcomeDigest(dir / "dt.db");
    std::printf("ok %.6f %.6f %lld", elapsed.count(), cpu, static_cast<long long>(peak));
    for (int code = 1; code <= kReasons; ++code) std::printf(" %lld", static_cast<long long>(counts[static_cast<size_t>(code)]));
    std::printf(" %lld %llx\n", static_cast<long long>(counts[0]), static_cast<unsigned long long>(digest));
    return 0;
  } catch (const std::exception& e) {
    std::printf("error %s\n", e.what());
    return 1;
  }
}

// --- the parent: demo data, child processes, comparison ---------------------

// Demo data of one size, made at its first use and kept for this run.
class DemoCache {
 public:
  const fs::path& files(int64_t customers) {
    auto it = folders_.find(customers);
    if (it == folders_.end()) {
      auto folder = std::make_unique<TempFolder>("oskara-scan-demo-" + std::to_string(customers));
      makeScanDemo(folder->path(), customers, 1);
      it = folders_.emplace(customers, std::move(folder)).first;
    }
    return it->second->path();
  }

 private:
  std::map<int64_t, std::unique_ptr<TempFolder>> folders_;
};

DemoCache& demoCache() {
  static DemoCache cache;
  return cache;
}

// Copies the demo files into `to`, replacing what a previous run left there.
void freshCopy(const fs::path& from, const fs::path& to) {
  for (const char* name : {"dt.db", "ar.db", "so.db"})
    fs::copy_file(from / name, to / name, fs::copy_options::overwrite_existing);
  for (const auto& entry : fs::directory_iterator(to)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with("-lock") || name.ends_with("-journal")) fs::remove(entry.path());
  }
}

// Runs `what` on the files in `dir` in a child process and reads its report.
RunResult runChild(const std::string& what, const fs::path& dir) {
  int out[2];
  if (pipe(out) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    const std::string run = "--scan-child=" + what, folder = "--scan-dir=" + dir.string();
    execl("/proc/self/exe", "scan_bench", run.c_str(), folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string report;
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0) report.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);

  std::istringstream fields(report);
  std::string word;
  fields >> word;
  if (word != "ok" || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(what + " scan failed: " + (report.empty() ? "no report" : report));
  RunResult result;
  fields >> result.seconds >> result.cpuSeconds >> result.peakKiB;
  for (int code = 1; code <= kReasons; ++code) fields >> result.counts[static_cast<size_t>(code)];
  fields >> result.counts[0] >> std::hex >> result.digest;
  return result;
}

std::string countsText(const QueueCounts& counts) {
  std::string text;
  for (int code = 1; code <= kReasons; ++code)
    text += (code > 1 ? " " : "") + std::to_string(code) + ":" + std::to_string(counts[static_cast<size_t>(code)]);
  if (counts[0]) text += " other:" + std::to_string(counts[0]);
  return text;
}

// The last run of each side per size, for the summary and the check.
struct Measured {
  RunResult last;
  // The least over the iterations: on a shared machine the other work only
  // ever adds to a run's time.
  double seconds = 0, cpuSeconds = 0;
  int64_t peakKiB = 0;                  // the largest of the iterations
};
std::map<std::pair<int64_t, std::string>, Measured> g_measured;
bool g_mismatch = false;

void scan(benchmark::State& state, const std::string& what) {
  const int64_t customers = state.range(0);
  const fs::path& demo = demoCache().files(customers);
  TempFolder work("oskara-scan-run");
  Measured measured;
  int runs = 0;
  for (auto _ : state) {
    freshCopy(demo, work.path());
    RunResult result;
    try {
      result = runChild(what, work.path());
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
    state.SetIterationTime(result.seconds);
    measured.seconds = runs == 0 ? result.seconds : std::min(measured.seconds, result.seconds);
    measured.cpuSeconds = runs == 0 ? result.cpuSeconds : std::min(measured.cpuSeconds, result.cpuSeconds);
    measured.peakKiB = std::max(measured.peakKiB, result.peakKiB);
    measured.last = result;
    ++runs;
  }
  if (runs == 0) return;
  state.counters["cpu_s"] = measured.cpuSeconds;
  state.counters["peak_MiB"] = static_cast<double>(measured.peakKiB) / 1024.0;
  int64_t queued = 0;
  for (int64_t count : measured.last.counts) queued += count;
  state.counters["queued"] = static_cast<double>(queued);
  g_measured[{customers, what}] = measured;

  // The same queue from both, by reason code.
  const std::string other = what == "engine" ? "baseline" : "engine";
  auto theirs = g_measured.find({customers, other});
  if (theirs != g_measured.end() && theirs->second.last.counts != measured.last.counts) {
    g_mismatch = true;
    const std::string message = "queue differs by reason code: " + what + " " + countsText(measured.last.counts) +
                                "; " + other + " " + countsText(theirs->second.last.counts);
    state.SkipWithError(message.c_str());
  } else if (theirs != g_measured.end() && theirs->second.last.digest != measured.last.digest) {
    g_mismatch = true;
    state.SkipWithError("the same counts by reason code, but other customers, call-log ids or remarks");
  }
}

void printSummary() {
  std::printf("\n%-10s %10s %10s %10s %10s %8s %8s %12s %12s\n", "customers", "engine s", "cpu s", "baseline s",
              "cpu s", "ratio", "cpu", "engine MiB", "baseline MiB");
  std::set<int64_t> sizes;
  for (const auto& [key, measured] : g_measured) sizes.insert(key.first);
  for (int64_t size : sizes) {
    auto engine = g_measured.find({size, "engine"});
    auto baseline = g_measured.find({size, "baseline"});
    if (engine == g_measured.end() || baseline == g_measured.end()) continue;
    const Measured& e = engine->second;
    const Measured& b = baseline->second;
    std::printf("%-10lld %10.2f %10.2f %10.2f %10.2f %8.2f %8.2f %12.1f %12.1f\n", static_cast<long long>(size),
                e.seconds, e.cpuSeconds, b.seconds, b.cpuSeconds, e.seconds / b.seconds,
                e.cpuSeconds / b.cpuSeconds, static_cast<double>(e.peakKiB) / 1024.0,
                static_cast<double>(b.peakKiB) / 1024.0);
    std::printf("           queue by reason code: %s\n", countsText(e.last.counts).c_str());
  }
  if (g_mismatch) std::printf("The engine and the baseline queued different customers: see the errors above.\n");
  std::fflush(stdout);
}

}  // namespace
}  // namespace oskara::bench

int main(int argc, char** argv) {
  using namespace oskara::bench;
  std::string child;
  std::filesystem::path dir;
  std::vector<int64_t> sizes{100'000, 1'000'000};
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.starts_with("--scan-child=")) {
      child = arg.substr(13);
    } else if (arg.starts_with("--scan-dir=")) {
      dir = arg.substr(11);
    } else if (arg.starts_with("--sizes=")) {
      sizes.clear();
      std::istringstream list{std::string(arg.substr(8))};
      for (std::string size; std::getline(list, size, ',');) {
        int64_t n = 0;
        const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), n);
        if (ec != std::errc() || end != size.data() + size.size() || n <= 0) {
          std::fprintf(stderr, "scan_bench: --sizes takes customer counts separated by commas, such as "
                               "--sizes=100000,1000000; \"%s\" is not a positive whole number.\n", size.c_str());
          return 2;
        }
        sizes.push_back(n);
      }
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (!child.empty()) return childMain(child, dir);
  if (sizes.empty()) {
    std::fprintf(stderr, "scan_bench: --sizes names no customer count.\n");
    return 2;
  }

  std::vector<Comparison> comparisons;
  for (int64_t size : sizes) {
    for (const char* what : {"engine", "baseline"}) {
      benchmark::RegisterBenchmark((std::string("scan/") + what).c_str(),
                                   [what = std::string(what)](benchmark::State& state) { scan(state, what); })
          ->Arg(size)
          ->Unit(benchmark::kSecond)
          ->UseManualTime()
          ->Iterations(size >= 1'000'000 ? 1 : 3);
    }
    const std::string arg = "/" + std::to_string(size);
    comparisons.push_back({"scan " + std::to_string(size) + ": engine / baseline", "scan/engine" + arg,
                           "scan/baseline" + arg, size >= 1'000'000 ? 1.5 : 1.3});
  }
  ComparingReporter reporter(std::move(comparisons), 1.5);
  int restCount = static_cast<int>(rest.size());
  const int status = runBenchmarks(restCount, rest.data(), reporter);
  printSummary();
  return status != 0 ? status : (g_mismatch ? 1 : 0);
}
