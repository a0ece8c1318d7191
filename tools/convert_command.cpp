#include "tools/convert_command.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "exr/mondrel.h"
#include "tools/clip.h"
#include "tools/file_output.h"
#include "tools/progress.h"
#include "tools/text_output.h"
#include "tools/tool_platform.h"

#ifdef _WIN32
#include <process.h>
#define MONDREL_PROCESS_ID _getpid()
#else
#include <unistd.h>
#define MONDREL_PROCESS_ID getpid()
#endif

namespace fs = std::filesystem;

namespace {

enum class Outcome { kConverted, kRefused, kKept };

struct FileResult {
  std::string source;
  std::string output;
  Outcome outcome = Outcome::kRefused;
  std::string reason;  // refused or kept: why
  PictureCopy copy;    // what was taken and dropped (its bytes released)
  int64_t bytesIn = 0;
  int64_t bytesOut = 0;
};

// Every file each PATH stands for, as the host takes it: a numbered file
// for its run, any other file for itself; each file once.
std::vector<std::string> SourceFiles(const std::vector<std::string>& paths) {
  std::vector<std::string> files;
  std::set<std::string> seen;
  for (const std::string& path : paths) {
    const int32_t run = NumberedRunLength(path);
    for (int32_t n = 0; n < (run > 1 ? run : 1); ++n) {
      const std::string file = run > 1 ? FrameSourceName(path, n) : path;
      if (seen.insert(file).second) files.push_back(file);
    }
  }
  return files;
}

std::string OutputFor(const std::string& folder, const std::string& source) {
  return (fs::u8path(folder) / fs::u8path(source).filename()).u8string();
}

// The plug-in opens the copy and decodes a frame of it, as a host will.
// The frame lands in the copy's own bytes, already written out: a frame's
// worth of fresh pages costs more than the decode.
bool PlugInReadsBack(const PluginTable* table, const std::string& path, PictureCopy& copy, std::string* why) {
  const WideString wide = ToWide(path);
  void* handle = table->open(wide.c_str());
  if (handle == nullptr) {
    *why = "the plug-in refuses the copy";
    return false;
  }
  InputInfo info;
  std::memset(&info, 0, sizeof info);
  const int64_t frameBytes = FrameByteCount(copy.width, copy.height);
  if (static_cast<int64_t>(copy.bytes.size()) < frameBytes) copy.bytes.resize(static_cast<size_t>(frameBytes));
  const bool read = table->getInformation(handle, &info) &&
                    table->readFrame(handle, 0, copy.bytes.data()) == static_cast<int32_t>(frameBytes);
  table->close(handle);
  if (!read) *why = "the plug-in opens the copy but does not decode its frame";
  return read;
}

struct Run {
  const PluginTable* table;
  const ConvertOptions* options;
  std::mutex plugIn;  // opens and frame reads of the plug-in run one at a time
};

FileResult ConvertOne(Run& run, const std::string& source, const std::string& output, int slot) {
  FileResult result;
  result.source = source;
  result.output = output;
  std::error_code error;
  if (!run.options->force && fs::exists(fs::u8path(output), error)) {
    result.outcome = Outcome::kKept;
    result.reason = output + " exists; --force replaces it";
    return result;
  }
  FileBytes bytes;
  if (!ReadWholeFile(source, &bytes, &result.reason)) {
    result.reason = "cannot read the file: " + result.reason;
    return result;
  }
  result.bytesIn = static_cast<int64_t>(bytes.size());
  result.copy = CopyPicture(bytes.data(), static_cast<int64_t>(bytes.size()), run.options->request);
  FileBytes().swap(bytes);
  if (!result.copy.refusal.empty()) {
    result.reason = result.copy.refusal;
    return result;
  }
  // Written under a name of its own in the folder, and renamed into place
  // only once whole and read back.
  const fs::path target = fs::u8path(output);
  const std::string temporary =
      (target.parent_path() / fs::u8path("." + target.filename().u8string() + Format(".%d-%d.mondrel-tmp",
                                                                                      MONDREL_PROCESS_ID, slot)))
          .u8string();
  NoteTemporaryFile(slot, temporary);
  std::string why;
  const int64_t written = static_cast<int64_t>(result.copy.bytes.size());
  bool done = WriteNewFile(temporary, result.copy.bytes.data(), result.copy.bytes.size(), &why);
  if (!done) {
    why = "cannot write " + temporary + ": " + why;
  } else {
    {
      std::lock_guard<std::mutex> lock(run.plugIn);
      done = PlugInReadsBack(run.table, temporary, result.copy, &why);
    }
    done = done && MoveIntoPlace(temporary, output, run.options->force, &why);
    if (!done) RemoveFile(temporary);
  }
  ForgetTemporaryFile(slot);
  result.bytesOut = done ? written : 0;
  FileBytes().swap(result.copy.bytes);
  if (!done && !run.options->force && fs::exists(target, error)) {
    result.outcome = Outcome::kKept;  // it appeared while we worked
    result.reason = output + " exists; --force replaces it";
  } else {
    result.outcome = done ? Outcome::kConverted : Outcome::kRefused;
    result.reason = why;
  }
  return result;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  return joined;
}

std::string TextLine(const FileResult& result) {
  const std::string source = Printable(result.source);
  if (result.outcome == Outcome::kRefused) return source + ": refused: " + Printable(result.reason) + "\n";
  if (result.outcome == Outcome::kKept) return source + ": kept: " + Printable(result.reason) + "\n";
  std::string line = source + " -> " + Printable(result.output) + ": converted";
  if (!result.copy.part.empty()) line += "; part " + Printable(result.copy.part);
  line += "; channels " + Printable(Joined(result.copy.channels));
  if (!result.copy.droppedChannels.empty()) line += "; dropped " + Printable(Joined(result.copy.droppedChannels));
  if (!result.copy.droppedAttributes.empty()) {
    line += "; attributes dropped " + Printable(Joined(result.copy.droppedAttributes));
  }
  return line + "\n";
}

std::string JsonList(const std::vector<std::string>& names) {
  std::string out = "[";
  for (size_t i = 0; i < names.size(); ++i) out += (i ? "," : "") + Json(names[i]);
  return out + "]";
}

std::string JsonObject(const FileResult& result) {
  static const char* const kOutcomes[] = {"converted", "refused", "kept"};
  std::string out = "{\"path\":" + Json(result.source) + ",\"output\":" + Json(result.output) +
                    ",\"outcome\":" + Json(kOutcomes[static_cast<int>(result.outcome)]);
  if (result.outcome != Outcome::kConverted) return out + ",\"reason\":" + Json(result.reason) + "}";
  if (!result.copy.part.empty()) out += ",\"part\":" + Json(result.copy.part);
  out += ",\"channels\":" + JsonList(result.copy.channels);
  out += ",\"droppedChannels\":" + JsonList(result.copy.droppedChannels);
  out += ",\"droppedAttributes\":" + JsonList(result.copy.droppedAttributes);
  return out + Format(",\"bytesIn\":%lld,\"bytesOut\":%lld}", static_cast<long long>(result.bytesIn),
                      static_cast<long long>(result.bytesOut));
}

// A folder that holds one of the sources under its own name would have the
// copy replace it.
std::string SourceInFolder(const std::vector<std::string>& sources, const std::string& folder) {
  for (const std::string& source : sources) {
    std::error_code error;
    const fs::path output = fs::u8path(OutputFor(folder, source));
    if (fs::exists(output, error) && fs::equivalent(output, fs::u8path(source), error)) return source;
  }
  return "";
}

}  // namespace

int RunConvert(const PluginTable* table, const std::vector<std::string>& paths, const ConvertOptions& options) {
  const std::vector<std::string> sources = SourceFiles(paths);
  const std::string held = SourceInFolder(sources, options.folder);
  if (!held.empty()) {
    Err("mondrel: " + Printable(options.folder) + " holds " + Printable(held) +
        ", which its copy would replace; convert never writes over a source: choose another folder\n");
    return 2;
  }
  std::error_code error;
  fs::create_directories(fs::u8path(options.folder), error);
  if (!fs::is_directory(fs::u8path(options.folder), error)) {
    Err("mondrel: cannot make the folder " + Printable(options.folder) + "\n");
    return 1;
  }

  // Two sources of one name would both be written to the same copy.
  std::vector<FileResult> results(sources.size());
  std::vector<bool> ready(sources.size(), false);
  std::vector<size_t> work;
  std::map<std::string, size_t> outputs;
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string output = OutputFor(options.folder, sources[i]);
    const auto taken = outputs.emplace(output, i);
    if (taken.second) {
      work.push_back(i);
      continue;
    }
    results[i].source = sources[i];
    results[i].output = output;
    results[i].reason = "another source of the same name, " + sources[taken.first->second] + ", is copied to " + output;
    ready[i] = true;
  }

  Run run{table, &options, {}};
  std::mutex lock;
  std::condition_variable finished;
  std::atomic<size_t> next{0};
  const unsigned cores = std::thread::hardware_concurrency();
  const size_t wanted = options.threads > 0 ? static_cast<size_t>(options.threads) : (cores > 0 ? cores : 1);
  const size_t workers = std::min({wanted, work.size(), static_cast<size_t>(kTemporarySlots)});
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (size_t w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (size_t k = next++; k < work.size(); k = next++) {
        const size_t i = work[k];
        FileResult result = ConvertOne(run, sources[i], OutputFor(options.folder, sources[i]), static_cast<int>(w));
        std::lock_guard<std::mutex> guard(lock);
        results[i] = std::move(result);
        ready[i] = true;
        finished.notify_one();
      }
    });
  }

  ProgressBar bar = StartProgress("convert", static_cast<int>(sources.size()));
  int counts[3] = {0, 0, 0};
  int64_t bytesIn = 0;
  int64_t bytesOut = 0;
  std::string document = "{\"command\":\"convert\",\"files\":[";
  for (size_t i = 0; i < sources.size(); ++i) {
    {
      std::unique_lock<std::mutex> guard(lock);
      finished.wait(guard, [&] { return ready[i]; });
    }
    const FileResult& result = results[i];
    ++counts[static_cast<int>(result.outcome)];
    bytesIn += result.bytesIn;
    bytesOut += result.bytesOut;
    if (options.json) {
      document += (i ? "," : "") + JsonObject(result);
    } else {
      Out(TextLine(result));
      std::fflush(stdout);  // each file's line stands even if the run is interrupted
    }
    AdvanceProgress(bar, static_cast<int>(i + 1));
  }
  for (std::thread& thread : threads) thread.join();
  FinishProgress(bar);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double perSecond = seconds > 0 ? counts[0] / seconds : 0;
  if (options.json) {
    Out(document + Format("],\"converted\":%d,\"refused\":%d,\"kept\":%d,\"bytesIn\":%lld,\"bytesOut\":%lld,"
                          "\"framesPerSecond\":%.1f}\n",
                          counts[0], counts[1], counts[2], static_cast<long long>(bytesIn),
                          static_cast<long long>(bytesOut), perSecond));
  } else {
    Out(Format("%d converted, %d refused, %d kept; %.1f MB in, %.1f MB out; %.1f frames per second\n", counts[0],
               counts[1], counts[2], bytesIn / 1e6, bytesOut / 1e6, perSecond));
  }
  return counts[0] == static_cast<int>(sources.size()) ? 0 : 1;
}
