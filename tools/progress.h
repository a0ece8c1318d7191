// A progress bar with frames per second on standard error, shown only when
// standard error is a terminal; silent otherwise.
#pragma once

#include <chrono>
#include <string>

struct ProgressBar {
  std::string label;
  int total = 0;
  bool visible = false;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point lastDrawn;
};

ProgressBar StartProgress(const std::string& label, int total);
void AdvanceProgress(ProgressBar& bar, int done);
void FinishProgress(ProgressBar& bar);
