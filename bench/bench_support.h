// What the benchmarks share: a temporary folder, the process's peak resident
// memory, and a reporter that prints, after the usual table, how much longer
// each measurement took than the one it is compared with.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace oskara::bench {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Peak resident memory of this process in KiB (VmHWM). resetPeakMemory()
// lowers the mark to what is resident now, so that a later peakMemoryKiB()
// tells the peak of what ran in between; it returns false where the kernel
// does not allow that, and the peak then counts from the start of the process.
bool resetPeakMemory();
int64_t peakMemoryKiB();

// A pair of benchmarks to compare: `measured` against `reference`.
struct Comparison {
  std::string label;      // what the line of the summary is about
  std::string measured;   // benchmark names, as registered
  std::string reference;
  double target = 0;      // the largest ratio that passes; 0: the reporter's
};

// Which time a comparison's target is judged on. Processor time suits work
// that stays in this process and never waits (the engine benchmark, whose
// files sit in the page cache): on a machine shared with other work it does
// not count the time spent waiting for a processor. Real time suits the rest.
enum class Basis { RealTime, CpuTime };

// The console output, then one line per comparison whose two benchmarks ran:
// both times and their ratio (in real time, and also in processor time when
// that is the basis), and whether the ratio on `basis` stays within the target.
class ComparingReporter : public benchmark::ConsoleReporter {
 public:
  ComparingReporter(std::vector<Comparison> comparisons, double target, Basis basis = Basis::RealTime);

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

 private:
  struct Timing {
    double seconds = 0;                       // real time per iteration
    double cpuSeconds = 0;                    // processor time per iteration
    std::map<std::string, double> counters;   // as reported
  };
  std::vector<Comparison> comparisons_;
  double target_;
  Basis basis_;
  std::map<std::string, Timing> timings_;  // by benchmark name as registered
};

// Runs the benchmarks registered so far with `reporter` and the usual
// command-line flags; returns the process's exit status.
int runBenchmarks(int argc, char** argv, ComparingReporter& reporter);

}  // namespace oskara::bench
