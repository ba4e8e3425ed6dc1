// Paint timings against a baseline taken in the same run: each benchmark iteration times one
// paint and one memcpy of the whole source frame back to back, and the medians are reported,
// so load from other processes on the machine shifts both alike and spikes drop out.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace kwz_bench {

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

// Sets the counters ms_per_paint, baseline_ms (the memcpy of frameBytes) and ratio.
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
  std::vector<double> paints, copies;
  for (auto _ : state) {
    const auto start = Clock::now();
    paint();
    const auto painted = Clock::now();
    std::memcpy(copy.data(), frame, frameBytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
    const auto copied = Clock::now();
    paints.push_back(std::chrono::duration<double, std::milli>(painted - start).count());
    copies.push_back(std::chrono::duration<double, std::milli>(copied - painted).count());
  }
  const double perPaint = Median(paints), baseline = Median(copies);
  state.counters["ms_per_paint"] = perPaint;
  state.counters["baseline_ms"] = baseline;
  state.counters["ratio"] = baseline > 0 ? perPaint / baseline : 0;
}

}  // namespace kwz_bench
