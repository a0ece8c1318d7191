// Medians of repeated runs, for benchmarks that compare against a peer
// measured in the same run.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

template <typename Body>
double MedianSeconds(int runs, Body body) {
  std::vector<double> times;
  body();  // warm the page cache and the code
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}
