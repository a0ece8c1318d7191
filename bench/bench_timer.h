// Medians of repeated runs, for benchmarks that compare against a peer
// measured in the same run, with the spread between the tenth and the
// ninetieth percentile so that a noisy run shows itself.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

struct Timing {
  double median;
  double low;   // tenth percentile
  double high;  // ninetieth percentile
};

// Adds `runs` timings of `body` after one untimed run that warms the page
// cache, the code and every buffer the body touches.
template <typename Body>
void SampleSeconds(std::vector<double>& times, int runs, Body body) {
  body();
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}

inline Timing Summarise(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const size_t last = times.size() - 1;
  return Timing{times[last / 2], times[last / 10], times[last - last / 10]};
}

// Ours and a peer sampled in alternating rounds, so that a drift of the
// machine (another tenant, the clock) falls on both alike.
struct OursAndLimit {
  Timing ours;
  Timing limit;
};

template <typename Ours, typename Limit>
OursAndLimit MeasureAlternately(int runs, Ours ours, Limit limit) {
  constexpr int kRounds = 3;
  std::vector<double> oursTimes;
  std::vector<double> limitTimes;
  for (int round = 0; round < kRounds; ++round) {
    SampleSeconds(oursTimes, runs / kRounds, ours);
    SampleSeconds(limitTimes, runs / kRounds, limit);
  }
  return OursAndLimit{Summarise(oursTimes), Summarise(limitTimes)};
}

template <typename Body>
Timing MeasureSeconds(int runs, Body body) {
  std::vector<double> times;
  SampleSeconds(times, runs, body);
  return Summarise(times);
}

template <typename Body>
double MedianSeconds(int runs, Body body) {
  return MeasureSeconds(runs, body).median;
}
