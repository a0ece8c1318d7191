#include "tools/progress.h"

#include <cstdio>

#include "tools/tool_platform.h"

namespace {

void Draw(const ProgressBar& bar, int done) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - bar.start).count();
  const int width = 30;
  const int filled = bar.total > 0 ? done * width / bar.total : width;
  std::string cells(static_cast<size_t>(filled), '#');
  cells.append(static_cast<size_t>(width - filled), '.');
  std::fprintf(stderr, "\r%s [%s] %d/%d  %.1f frames/s", bar.label.c_str(), cells.c_str(), done, bar.total,
               seconds > 0 ? done / seconds : 0.0);
  std::fflush(stderr);
}

}  // namespace

ProgressBar StartProgress(const std::string& label, int total) {
  ProgressBar bar;
  bar.label = label;
  bar.total = total;
  bar.visible = ErrorIsTerminal();
  bar.start = bar.lastDrawn = std::chrono::steady_clock::now();
  return bar;
}

void AdvanceProgress(ProgressBar& bar, int done) {
  if (!bar.visible) return;
  const auto now = std::chrono::steady_clock::now();
  if (done < bar.total && now - bar.lastDrawn < std::chrono::milliseconds(100)) return;
  bar.lastDrawn = now;
  Draw(bar, done);
}

void FinishProgress(ProgressBar& bar) {
  if (!bar.visible) return;
  Draw(bar, bar.total);
  std::fprintf(stderr, "\n");
}
