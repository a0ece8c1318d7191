// The `mondrel` tool: its refusal reasons, the PNGs it writes (read back
// with stb_image), and the command line's exit codes and JSON.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <stb_image.h>

#include "support/exr_writer.h"
#include "platform/utf16.h"
#include "support/test_files.h"
#include "tools/header_report.h"
#include "tools/picture_commands.h"
#include "tools/png_preview.h"

using namespace exrtest;

namespace {

const std::vector<Channel> kRgb = {{"B", kHalf}, {"G", kHalf}, {"R", kHalf}};

std::string Explain(const Bytes& bytes) {
  return ExplainRefusal(InspectHeader(bytes.data(), static_cast<int32_t>(bytes.size())));
}

std::string AllWarnings(const Bytes& bytes) {
  std::string joined;
  for (const std::string& w : Warnings(InspectHeader(bytes.data(), static_cast<int32_t>(bytes.size())))) joined += w + "\n";
  return joined;
}

Bytes Header(const std::function<void(HeaderBuilder&)>& build) {
  HeaderBuilder h;
  build(h);
  h.End();
  return h.bytes;
}

// File names reach the file system and the tool's output as UTF-8; units
// that are no character (lone or reversed surrogates) become U+FFFD.
TEST(ToolText, Utf16BecomesUtf8) {
  struct Case {
    std::u16string units;
    std::string utf8;
  };
  const Case cases[] = {
      {u"shot_0001.exr", "shot_0001.exr"},
      {u"\u00e9t\u00e9 \u30b7\u30e7\u30c3\u30c8", "\xc3\xa9t\xc3\xa9 \xe3\x82\xb7\xe3\x83\xa7\xe3\x83\x83\xe3\x83\x88"},
      {u"\U0001F3AC", "\xf0\x9f\x8e\xac"},
      {std::u16string{u'a', char16_t(0xD83C), u'b'}, "a\xef\xbf\xbd" "b"},                     // lone high
      {std::u16string{u'a', char16_t(0xDFAC)}, "a\xef\xbf\xbd"},                              // lone low
      {std::u16string{char16_t(0xDFAC), char16_t(0xD83C)}, "\xef\xbf\xbd\xef\xbf\xbd"},      // reversed
      {std::u16string{char16_t(0xD83C)}, "\xef\xbf\xbd"},                                     // high at the end
  };
  for (const Case& c : cases) {
    std::string out;
    AppendUtf8(out, reinterpret_cast<const WideChar*>(c.units.data()), c.units.size());
    EXPECT_EQ(out, c.utf8);
  }
}

TEST(ToolReasons, RefusalsInWords) {
  struct Case {
    const char* what;
    Bytes file;
    std::vector<std::string> mentions;
  };
  const Case cases[] = {
      {"compressed", Header([](HeaderBuilder& h) { h.Channels(kRgb).Compression(3).DataWindow(0, 0, 9, 9); }),
       {"ZIP", "without compression"}},
      {"compressed PIZ", Header([](HeaderBuilder& h) { h.Channels(kRgb).Compression(4).DataWindow(0, 0, 9, 9); }),
       {"PIZ"}},
      {"layer channel",
       Header([](HeaderBuilder& h) { h.Channels({{"diffuse.B", kHalf}, {"diffuse.G", kHalf}}); }),
       {"\"diffuse.B\"", "R, G, B, A or V"}},
      {"two channels", Header([](HeaderBuilder& h) { h.Channels({{"G", kHalf}, {"R", kHalf}}); }),
       {"fewer than three", "G, R"}},
      {"no R", Header([](HeaderBuilder& h) { h.Channels({{"A", kHalf}, {"B", kHalf}, {"G", kHalf}}); }),
       {"A, B, G", "R missing"}},
      {"R twice", Header([](HeaderBuilder& h) { h.Channels({{"R", kHalf}, {"R", kHalf}, {"G", kHalf}, {"B", kHalf}}); }),
       {"A missing", "R repeated"}},
      {"V not first", Header([](HeaderBuilder& h) { h.Channels({{"A", kHalf}, {"V", kHalf}}); }), {"V channel"}},
      {"not EXR", Bytes{'G', 'I', 'F', '8', '9', 'a'}, {"not an OpenEXR file"}},
      {"no pixels", Header([](HeaderBuilder& h) { h.Channels(kRgb).DataWindow(0, 5, 9, 0); }), {"no pixels"}},
      {"too large", Header([](HeaderBuilder& h) { h.Channels(kRgb).DataWindow(0, 0, 16383, 16383); }),
       {"too large", "2 GiB"}},
      {"five channels",
       Header([](HeaderBuilder& h) {
         h.Channels({{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}, {"R", kHalf}});
       }),
       {"more than four"}},
  };
  for (const Case& c : cases) {
    const std::string reason = Explain(c.file);
    for (const std::string& word : c.mentions) EXPECT_NE(reason.find(word), std::string::npos) << c.what << ": " << reason;
  }
  EXPECT_EQ(Explain(Header([](HeaderBuilder& h) { h.Channels(kRgb).DataWindow(0, 0, 9, 9); })), "");
}

TEST(ToolReasons, WarningsForFilesThatOpenButDoNotDecode) {
  struct Case {
    const char* what;
    Bytes file;
    std::string mention;
  };
  const Case cases[] = {
      {"tiled", Header([](HeaderBuilder& h) { h.Version(0x202).Channels(kRgb); }), "tiled"},
      {"multi-part", Header([](HeaderBuilder& h) { h.Version(0x1002).Channels(kRgb); }), "several parts"},
      {"long header", [] {
         HeaderBuilder h;
         h.Channels(kRgb).Attribute("preview", "preview", Bytes(17000, 1)).End();
         return h.bytes;
       }(), "16 KiB"},
      {"too wide", Header([](HeaderBuilder& h) { h.Channels(kRgb).DataWindow(0, 0, 21849, 0); }), "at most 21849"},
      {"too wide, mixed", Header([](HeaderBuilder& h) {
         h.Channels({{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kFloat}}).DataWindow(0, 0, 13109, 0);
       }), "at most 13109"},
  };
  for (const Case& c : cases) {
    const std::string warnings = AllWarnings(c.file);
    EXPECT_NE(warnings.find(c.mention), std::string::npos) << c.what << ": " << warnings;
  }
  EXPECT_EQ(AllWarnings(Header([](HeaderBuilder& h) { h.Channels(kRgb).DataWindow(0, 0, 21848, 0); })), "");
}

uint32_t HalfOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return static_cast<uint32_t>(ReferenceFloatToHalf(bits));
}

TEST(ToolPictures, PngPreviewsReadBackToTheExpectedPixels) {
  TempDir dir;
  Image image = MakeImage(4, 2, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 1);
  const float red[8] = {0.0f, 0.5f, 1.0f, 2.0f, -1.0f, 0.0031308f, 0.18f, 0.75f};
  for (size_t i = 0; i < 8; ++i) {
    image.samples[3][i] = HalfOf(red[i]);        // R
    image.samples[2][i] = HalfOf(0.25f);         // G
    image.samples[1][i] = HalfOf(1.0f);          // B
    image.samples[0][i] = HalfOf(i < 4 ? 1.0f : 0.25f);  // A
  }
  WriteBytes(dir / "still.exr", WriteExr(image).bytes);
  std::fflush(stdout);
  ASSERT_EQ(RunFrames(GetInputPluginTable(), (dir / "still.exr").u8string(), (dir / "out").u8string(), FrameRange{}), 0);
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = stbi_load((dir / "out" / "still.png").string().c_str(), &width, &height, &channels, 4);
  ASSERT_NE(pixels, nullptr);
  EXPECT_EQ(width, 4);
  EXPECT_EQ(height, 2);
  const int expectedRed[8] = {0, 188, 255, 255, 0, 10, 118, 225};
  for (int i = 0; i < 8; ++i) {
    EXPECT_NEAR(pixels[4 * i], expectedRed[i], 1) << i;
    EXPECT_EQ(pixels[4 * i], ToSrgb8(HalfToFloat(static_cast<uint16_t>(image.samples[3][i])))) << i;
    EXPECT_EQ(pixels[4 * i + 1], 137) << "0.25 in sRGB";
    EXPECT_EQ(pixels[4 * i + 2], 255);
    EXPECT_EQ(pixels[4 * i + 3], i < 4 ? 255 : 64) << "alpha kept, linear";
  }
  stbi_image_free(pixels);
}

TEST(ToolPictures, ContactSheetOfASequence) {
  TempDir dir;
  for (int i = 1; i <= 5; ++i) {
    WriteBytes(dir / ("clip_" + std::to_string(i) + ".exr"), WriteExr(MakeImage(40, 20, kRgb, i)).bytes);
  }
  const std::string sheet = (dir / "sheet.png").u8string();
  std::fflush(stdout);
  ASSERT_EQ(RunSheet(GetInputPluginTable(), (dir / "clip_1.exr").u8string(), sheet, 2, 2), 0);
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = stbi_load(sheet.c_str(), &width, &height, &channels, 4);
  ASSERT_NE(pixels, nullptr);
  // Frames 1, 3 and 5 in two columns: two rows of 40 x 20 thumbnails.
  EXPECT_EQ(width, 6 + 2 * (40 + 6));
  EXPECT_EQ(height, 6 + 2 * (20 + 16 + 6));
  stbi_image_free(pixels);
}

struct ToolRun {
  int status;
  std::string output;
};

ToolRun RunTool(const std::string& arguments) {
  const std::string command = std::string(MONDREL_TOOL_PATH) + " " + arguments + " 2>&1";
  ToolRun run{-1, ""};
  std::FILE* pipe = popen(command.c_str(), "r");
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

// A small JSON checker: true when `text` is one JSON value.
struct JsonChecker {
  const std::string& text;
  size_t at = 0;
  void Space() { while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at; }
  bool Literal(const char* word) {
    const size_t length = std::strlen(word);
    if (text.compare(at, length, word) != 0) return false;
    at += length;
    return true;
  }
  bool String() {
    if (text[at] != '"') return false;
    for (++at; at < text.size(); ++at) {
      if (text[at] == '\\') ++at;
      else if (text[at] == '"') { ++at; return true; }
      else if (static_cast<unsigned char>(text[at]) < 0x20) return false;
    }
    return false;
  }
  bool Value() {
    Space();
    if (at >= text.size()) return false;
    const char c = text[at];
    if (c == '"') return String();
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++at;
      Space();
      if (text[at] == close) { ++at; return true; }
      while (true) {
        Space();
        if (c == '{') {
          if (!String()) return false;
          Space();
          if (text[at++] != ':') return false;
        }
        if (!Value()) return false;
        Space();
        if (text[at] == ',') { ++at; continue; }
        if (text[at] == close) { ++at; return true; }
        return false;
      }
    }
    if (Literal("true") || Literal("false") || Literal("null")) return true;
    const size_t start = at;
    while (at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == '-' || text[at] == '.')) ++at;
    return at > start;
  }
  bool Whole() { const bool ok = Value(); Space(); return ok && at == text.size(); }
};

TEST(ToolCommandLine, ExitCodesAndJson) {
  TempDir dir;
  WriteBytes(dir / "good.exr", WriteExr(MakeImage(8, 4, kRgb, 1)).bytes);
  WriteBytes(dir / "zip.exr", Header([](HeaderBuilder& h) { h.Channels(kRgb).Compression(3).DataWindow(0, 0, 9, 9); }));
  const std::string good = "'" + (dir / "good.exr").string() + "'";
  const std::string zip = "'" + (dir / "zip.exr").string() + "'";

  EXPECT_EQ(RunTool("info " + good).status, 0);
  const ToolRun refused = RunTool("info " + zip);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("zip.exr: refused: compressed with ZIP"), std::string::npos) << refused.output;
  EXPECT_EQ(RunTool("info " + good + " " + zip).status, 1);
  EXPECT_EQ(RunTool("info '" + (dir / "missing.exr").string() + "'").status, 1);
  EXPECT_EQ(RunTool("").status, 2);
  EXPECT_EQ(RunTool("info").status, 2);
  EXPECT_EQ(RunTool("info --bogus " + good).status, 2);
  EXPECT_EQ(RunTool("frames " + good).status, 2) << "no -o";
  EXPECT_EQ(RunTool("frames " + good + " -o x --range 5:2").status, 2);
  EXPECT_EQ(RunTool("sheet " + good + " -o x.png --columns 0").status, 2);
  EXPECT_EQ(RunTool("frames " + zip + " -o '" + (dir / "out").string() + "'").status, 1);
  EXPECT_EQ(RunTool("dance").status, 2);

  const std::string json = RunTool("info --json " + good + " 2>/dev/null").output;
  size_t start = 0;
  int objects = 0;
  for (size_t end = json.find('\n'); end != std::string::npos; start = end + 1, end = json.find('\n', start)) {
    const std::string line = json.substr(start, end - start);
    JsonChecker checker{line};
    EXPECT_TRUE(checker.Whole()) << line;
    ++objects;
  }
  EXPECT_EQ(objects, 1);
  EXPECT_NE(json.find("\"frameCount\":120"), std::string::npos) << json;
}

}  // namespace
