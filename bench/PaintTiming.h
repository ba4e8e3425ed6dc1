// Paint timings against a baseline taken in the same run: each benchmark iteration times one
// paint and one memcpy of the whole source frame back to back, and the medians are reported,
// so load from other processes on the machine shifts both alike and spikes drop out. The
// calling thread's CPU time is reported beside the wall time: on X11 the wall time also holds
// whatever the X server does while it has this thread's core (it is woken by each put).
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace kwz_bench {

inline double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Sets the counters ms_per_paint, baseline_ms (the memcpy of frameBytes) and ratio from wall
// time, and cpu_ratio from the thread's CPU time.
template <typename Paint>
void TimeAgainstMemcpy(benchmark::State& state, const void* frame, std::size_t frameBytes,
                       Paint paint) {
  using Clock = std::chrono::steady_clock;
  std::vector<unsigned char> copy(frameBytes);
  // The first rounds fault in the copy and the images that the paint keeps between frames.
  for (int i = 0; i < 3; ++i) {
    paint();
    std::memcpy(copy.data(), frame, frameBytes);
  }
  std::vector<double> paints, copies, paintsCpu, copiesCpu;
  for (auto _ : state) {
    const double cpuStart = ThreadCpuMs();
    const auto start = Clock::now();
    paint();
    const auto painted = Clock::now();
    const double cpuPainted = ThreadCpuMs();
    std::memcpy(copy.data(), frame, frameBytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
    const auto copied = Clock::now();
    const double cpuCopied = ThreadCpuMs();
    paints.push_back(std::chrono::duration<double, std::milli>(painted - start).count());
    copies.push_back(std::chrono::duration<double, std::milli>(copied - painted).count());
    paintsCpu.push_back(cpuPainted - cpuStart);
    copiesCpu.push_back(cpuCopied - cpuPainted);
  }
  const double perPaint = Median(paints), baseline = Median(copies);
  state.counters["ms_per_paint"] = perPaint;
  state.counters["baseline_ms"] = baseline;
  state.counters["ratio"] = baseline > 0 ? perPaint / baseline : 0;
  const double cpuBaseline = Median(copiesCpu);
  state.counters["cpu_ratio"] = cpuBaseline > 0 ? Median(paintsCpu) / cpuBaseline : 0;
}

}  // namespace kwz_bench
