// The `mondrel` tool: its refusal reasons, the PNGs it writes (read back
// with stb_image), and the command line's exit codes and JSON.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include <stb_image.h>
#include <zlib.h>

#include "writer/exr_writer.h"
#include "platform/utf16.h"
#include "support/test_files.h"
#include "tools/header_report.h"
#include "tools/picture_commands.h"
#include "tools/png_preview.h"
#include "tools/text_output.h"

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
       {"ZIP", "mondrel convert makes an uncompressed copy", "without compression"}},
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
      // A second list writes its entries from the first slot again.
      {"two channel lists",
       Header([](HeaderBuilder& h) { h.Channels({{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}).Channels({{"G", kHalf}, {"R", kHalf}}); }),
       {"(G, R, G, R)", "R, G repeated"}},
      {"channel name of 256", Header([](HeaderBuilder& h) { h.Channels({{std::string(256, 'c'), kHalf}}); }),
       {"the channel name at byte 28 is longer than 255 characters"}},
      {"not EXR", Bytes{'G', 'I', 'F', '8', '9', 'a'}, {"not an OpenEXR file"}},
      {"tiled", Header([](HeaderBuilder& h) { h.Version(0x202).Channels(kRgb); }),
       {"is tiled", "mondrel convert makes a scanline copy"}},
      {"deep", Header([](HeaderBuilder& h) { h.Version(0x802).Channels(kRgb); }), {"holds deep data", "flatten"}},
      {"extra channel", Header([](HeaderBuilder& h) { h.Channels({{"B", kHalf}, {"G", kHalf}, {"R", kHalf}, {"Z", kFloat}}); }),
       {"\"Z\"", "mondrel convert copies R, G, B alone"}},
      {"a layer", Header([](HeaderBuilder& h) { h.Channels({{"d.B", kHalf}, {"d.G", kHalf}, {"d.R", kHalf}}); }),
       {"mondrel convert --layer d copies that layer"}},
      {"multi-part, tiled", Header([](HeaderBuilder& h) { h.Version(0x1202).Channels(kRgb); }),
       {"is tiled and has several parts"}},
      {"no pixels", Header([](HeaderBuilder& h) { h.Channels(kRgb).DataWindow(0, 5, 9, 0); }), {"no pixels"}},
      {"too large", Header([](HeaderBuilder& h) { h.Channels(kRgb).DataWindow(0, 0, 16383, 16383); }),
       {"too large", "2 GiB"}},
      {"five channels",
       Header([](HeaderBuilder& h) {
         h.Channels({{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}, {"R", kHalf}});
       }),
       {"more than four"}},
      // A size that runs past the bytes hides the channels behind it: the
      // size is the reason, not the channels.
      {"size past the end",
       Header([](HeaderBuilder& h) { h.AttributeWithSize("comment", "string", 5000, Bytes{'x'}).Channels(kRgb); }),
       {"damaged header", "\"comment\"", "5000 bytes", "more than the file holds"}},
      {"long preview before the channels",
       [] {
         HeaderBuilder h;
         h.Attribute("preview", "preview", Bytes(17000, 1)).Channels(kRgb).End();
         return Bytes(h.bytes.begin(), h.bytes.begin() + 16384);
       }(),
       {"longer than the 16 KiB", "\"preview\"", "channel list comes after it", "copy without the preview"}},
      {"wrong size, then garbage",
       Header([](HeaderBuilder& h) {
         h.AttributeWithSize("dataWindow", "box2i", 2, BoxValue(0, 0, 9, 9)).Attribute("pad", "", Bytes(300, 'x')).Channels(kRgb);
       }),
       {"\"dataWindow\" is a box2i of 16 bytes but declares 2"}},
      {"timecode of 4 bytes",
       Header([](HeaderBuilder& h) {
         h.AttributeWithSize("timeCode", "timecode", 4, Bytes(8, 0)).Attribute("pad", "", Bytes(300, 'x')).Channels(kRgb);
       }),
       {"\"timeCode\" is a timecode of 8 bytes but declares 4"}},
      {"envmap of 4 bytes",
       Header([](HeaderBuilder& h) {
         h.AttributeWithSize("envmap", "envmap", 4, Bytes{0}).Attribute("pad", "", Bytes(300, 'x')).Channels(kRgb);
       }),
       {"\"envmap\" is a envmap of 1 bytes but declares 4"}},
      {"cut inside the channel list", [] {
         const Bytes whole = Header([](HeaderBuilder& h) { h.Channels(kRgb); });
         return Bytes(whole.begin(), whole.begin() + 40);
       }(), {"ends inside its header"}},
      // No channel list was reached, so no count of channels is the reason.
      {"cut before the first attribute", HeaderBuilder().bytes, {"ends inside its header (after 8 bytes)"}},
      {"16 KiB of attributes before the channels", [] {
         HeaderBuilder h;
         // "pad", "string" and the size take 15 bytes: the 16 KiB end between attributes.
         h.Attribute("pad", "string", Bytes(16384 - h.bytes.size() - 15, 'x'));
         return h.bytes;
       }(), {"longer than the 16 KiB"}},
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
      {"long header", [] {
         HeaderBuilder h;
         h.Channels(kRgb).Attribute("preview", "preview", Bytes(17000, 1)).End();
         return h.bytes;
       }(), "16 KiB"},
      {"too wide", Header([](HeaderBuilder& h) { h.Channels(kRgb).DataWindow(0, 0, 21849, 0); }), "at most 21849"},
      {"too wide, mixed", Header([](HeaderBuilder& h) {
         h.Channels({{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kFloat}}).DataWindow(0, 0, 13109, 0);
       }), "at most 13109"},
      // The parser reads a window's 16 bytes whatever its size says.
      {"cut inside a window that declares 2 bytes",
       HeaderBuilder().Channels(kRgb).AttributeWithSize("dataWindow", "box2i", 2, Bytes{0, 0}).bytes,
       "ends inside its header"},
      {"cut between two attributes", HeaderBuilder().Channels(kRgb).bytes, "ends inside its header"},
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

// Whatever a file name or a header holds, text output carries no control
// byte and JSON stays valid UTF-8.
TEST(ToolText, UntrustedTextIsMadeSafe) {
  struct Case {
    std::string raw;
    std::string printable;
    std::string json;
  };
  const Case cases[] = {
      {"plain.exr", "plain.exr", "\"plain.exr\""},
      {"a\x1b[31mred", "a\\x1B[31mred", "\"a\\u001b[31mred\""},
      {"tab\tnew\nline", "tab\\x09new\\x0Aline", "\"tab\\u0009new\\u000aline\""},
      {"quote\"back\\", "quote\"back\\", "\"quote\\\"back\\\\\""},
      {"bad\xff\xc3", "bad\xef\xbf\xbd\xef\xbf\xbd", "\"bad\xef\xbf\xbd\xef\xbf\xbd\""},
      {"overlong\xc0\xaf", "overlong\xef\xbf\xbd\xef\xbf\xbd", "\"overlong\xef\xbf\xbd\xef\xbf\xbd\""},
      {"surrogate\xed\xa0\x80", "surrogate\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd", "\"surrogate\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
      {"c1\xc2\x85", "c1\\x85", "\"c1\xc2\x85\""},
      {"del\x7f", "del\\x7F", "\"del\\u007f\""},
      {"c1 end\xc2\x9f, nbsp\xc2\xa0", "c1 end\\x9F, nbsp\xc2\xa0", "\"c1 end\xc2\x9f, nbsp\xc2\xa0\""},
      {"astral\xf0\x9d\x92\x9c", "astral\xf0\x9d\x92\x9c", "\"astral\xf0\x9d\x92\x9c\""},
      {"cut\xe3\x82", "cut\xef\xbf\xbd\xef\xbf\xbd", "\"cut\xef\xbf\xbd\xef\xbf\xbd\""},
      {"lead\xe3" "AB", "lead\xef\xbf\xbd" "AB", "\"lead\xef\xbf\xbd" "AB\""},  // no continuation bytes
      // A literal backslash before x or u would pass for an escape.
      {"lit\\x1B", "lit\\x5Cx1B", "\"lit\\\\x1B\""},
      {"D:\\shots\\a.exr", "D:\\shots\\a.exr", "\"D:\\\\shots\\\\a.exr\""},
      // Bidirectional overrides and isolates would reorder what follows.
      {"rlo\xe2\x80\xae" "exe.rts", "rlo\\u202Eexe.rts", "\"rlo\xe2\x80\xae" "exe.rts\""},
      {"isolate\xe2\x81\xa6", "isolate\\u2066", "\"isolate\xe2\x81\xa6\""},
      {"\xe3\x82\xb7\xe3\x83\xa7\xe3\x83\x83\xe3\x83\x88", "\xe3\x82\xb7\xe3\x83\xa7\xe3\x83\x83\xe3\x83\x88",
       "\"\xe3\x82\xb7\xe3\x83\xa7\xe3\x83\x83\xe3\x83\x88\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Printable(c.raw), c.printable);
    EXPECT_EQ(Json(c.raw), c.json);
  }
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
  // The arguments say where standard error goes.
  const std::string command = std::string(MONDREL_TOOL_PATH) + " " + arguments;
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

TEST(ToolCommandLine, ExitCodesOutputAndJson) {
  TempDir dir;
  WriteBytes(dir / "good.exr", WriteExr(MakeImage(8, 4, kRgb, 1)).bytes);
  WriteBytes(dir / "-dash.exr", WriteExr(MakeImage(8, 4, kRgb, 1)).bytes);
  WriteBytes(dir / "zip.exr", Header([](HeaderBuilder& h) { h.Channels(kRgb).Compression(3).DataWindow(0, 0, 9, 9); }));
  WriteBytes(dir / "cut.exr", HeaderBuilder().Channels(kRgb).bytes);  // opens, but its header never ends
  ASSERT_EQ(mkfifo((dir / "pipe_1.exr").c_str(), 0600), 0);  // opening it for reading waits for a writer
  // A sequence whose last frame is cropped, then a gap, then three more files.
  for (int i : {1, 2, 3, 5, 6, 7}) {
    WriteBytes(dir / ("seq_" + std::to_string(i) + ".exr"), WriteExr(MakeImage(i == 3 ? 16 : 8, 4, kRgb, i)).bytes);
  }
  fs::create_directories(dir / "many");
  for (int i = 1; i <= 600; ++i) {
    WriteBytes(dir / "many" / ("m_" + std::to_string(1000 + i) + ".exr"), WriteExr(MakeImage(8, 8, kRgb, 1)).bytes);
  }
  // Sequences for check: a frame of another height only, two failing
  // frames, a frame of another layout, and numbered files at the edge of
  // the window looked through after a gap.
  for (int i : {1, 2, 3}) WriteBytes(dir / ("tall_" + std::to_string(i) + ".exr"), WriteExr(MakeImage(8, i == 2 ? 5 : 4, kRgb, i)).bytes);
  for (int i : {1, 2, 3, 4, 5}) {
    WriteBytes(dir / ("two_" + std::to_string(i) + ".exr"), WriteExr(MakeImage(i == 2 || i == 4 ? 9 : 8, 4, kRgb, i)).bytes);
  }
  WriteBytes(dir / "layout_1.exr", WriteExr(MakeImage(8, 4, kRgb, 1)).bytes);
  WriteBytes(dir / "layout_2.exr",
             WriteExr(MakeImage(8, 4, {{"A", kHalf}, {"B", kHalf}, {"G", kHalf}, {"R", kHalf}}, 2)).bytes);
  WriteBytes(dir / "mixed.exr", WriteExr(MakeImage(8, 4, {{"B", kUint}, {"G", kFloat}, {"R", kHalf}}, 3)).bytes);
  fs::create_directories(dir / "gap");
  for (int i : {1, 2, 10003, 10004}) {
    WriteBytes(dir / "gap" / ("g_" + std::to_string(i) + ".exr"), WriteExr(MakeImage(2, 2, kRgb, 1)).bytes);
  }
  // A run longer than the plug-in's 10,000 frames.
  fs::create_directories(dir / "long");
  WriteBytes(dir / "long" / "l_00000.exr", WriteExr(MakeImage(2, 2, kRgb, 1)).bytes);
  for (int i = 1; i <= 10001; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "l_%05d.exr", i);
    fs::create_hard_link(dir / "long" / "l_00000.exr", dir / "long" / name);
  }
  // Files to convert: ZIPS chunks of 64 grey HALF samples (128 bytes) whose
  // zlib streams hold fewer or more bytes than that, and a ZIP file cut off.
  const auto zips = [](size_t restoredBytes) {
    HeaderBuilder header;
    header.Channels({{"V", kHalf}}).Compression(2).DataWindow(0, 0, 63, 0).End();
    Bytes file = header.bytes;
    const Bytes pixels(restoredBytes, 0x80);
    Bytes packed(compressBound(pixels.size()));
    uLongf packedSize = packed.size();
    compress(packed.data(), &packedSize, pixels.data(), pixels.size());
    AppendU64(file, file.size() + 8);
    AppendU32(file, 0);
    AppendU32(file, static_cast<uint32_t>(packedSize));
    file.insert(file.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(packedSize));
    return file;
  };
  WriteBytes(dir / "short.exr", zips(100));
  WriteBytes(dir / "long.exr", zips(200));
  WriteBytes(dir / "whole.exr", zips(128));
  Bytes cut = zips(128);
  cut.resize(cut.size() - 3);
  WriteBytes(dir / "cutzip.exr", cut);
  const std::string hostile = std::string("evil\x1b[2J\xff") + "\n.exr";
  WriteBytes(dir / hostile, WriteExr(MakeImage(8, 4, kRgb, 1)).bytes);
  const auto quoted = [&](const std::string& name) { return "'" + (dir / name).string() + "'"; };
  const std::string good = quoted("good.exr");
  const std::string zip = quoted("zip.exr");

  struct Case {
    std::string arguments;  // standard error is dropped unless the case keeps it
    int status;
    std::vector<std::string> mentions;
    std::vector<std::string> absent = {};
  };
  const Case cases[] = {
      {"info " + good, 0, {"single image", "8 x 4", "HF64", "B HALF, G HALF, R HALF"}},
      {"info " + quoted("mixed.exr"), 0, {"B UINT, G FLOAT, R HALF"}},
      {"check " + quoted("tall_1.exr"), 1, {"frame 1 fails", "another size than frame 0: 8 x 5, not 8 x 4"}},
      {"check " + quoted("two_1.exr"), 1, {"frame 1 fails", "frame 3 fails", "3 of 5 frames decode, 2 fail"}},
      {"check " + quoted("layout_1.exr"), 0, {"frame 1 has another layout", "A HALF, B HALF, G HALF, R HALF"}},
      {"check " + quoted("gap/g_1.exr"), 0, {"1 more numbered file follows the gap, from", "g_10003.exr"}},
      {"info " + quoted("cut.exr") + " 2>&1", 1, {"warning: the file ends inside its header"}, {"damaged pixel data"}},
      {"info " + zip, 1, {"zip.exr: refused: compressed with ZIP"}},  // refusals are results: stdout
      {"info " + good + " " + zip, 1, {"8 x 4", "refused"}},
      {"info " + quoted("missing.exr"), 1, {"missing.exr: cannot read the file: No such file or directory"}},
      {"info -- " + quoted("-dash.exr"), 0, {"-dash.exr"}},
      {"info " + quoted("pipe_1.exr"), 1, {"pipe_1.exr: cannot read the file: not a regular file"}},
      {"frames " + quoted("pipe_1.exr") + " -o " + quoted("piped") + " 2>&1", 1, {"pipe_1.exr"}, {"piped/"}},
      {"info " + quoted("seq_1.exr"), 0, {"sequence of 3 frames", "see also", "seq_5.exr", "last frame is 16 x 4"}},
      {"check " + quoted("seq_1.exr"), 1,
       {"frame 2 fails", "another size than frame 0: 16 x 4, not 8 x 4", "ends before", "seq_4.exr",
        "3 more numbered files follow the gap, from", "2 of 3 frames decode, 1 fail", "frames per second"}},
      {"check " + good, 0, {"120 of 120 frames decode"}},
      {"check " + zip, 1, {"refused: compressed with ZIP"}},
      {"-h", 0, {"usage:", "mondrel check"}},
      {"check --help", 0, {"usage: mondrel check"}},
      {"--version", 0, {"mondrel 0.5.0\n", "plug-in: Mondrel v0.4.0"}},
      // Refusals are results: standard output.
      {"sheet " + quoted("many/m_1001.exr") + " -o " + quoted("big.png") + " --columns 1", 1,
       {"larger than 16384 pixels a side"}},
      {"sheet " + quoted("many/m_1001.exr") + " -o " + quoted("fits.png") + " --columns 20", 0, {"fits.png"}},
      {"", 2, {}},
      {"info", 2, {}},
      {"info --bogus " + good + " 2>&1", 2, {"unknown option --bogus", "usage: mondrel info"}},
      {"frames " + good, 2, {}},  // no -o
      {"frames " + good + " -o x --range 5:2", 2, {}},
      {"frames " + good + " -o x --range 0:99999999999 2>&1", 2, {"0 <= A <= B <= 1000000"}},
      {"frames " + quoted("seq_1.exr") + " -o " + quoted("past") + " --range 1:5", 1,
       {"--range 1:5 goes past the clip's end: it has 3 frames, 0 to 2"}, {"does not decode", "past/"}},
      {"sheet " + good + " -o x.png --columns 0", 2, {}},
      {"frames " + zip + " -o " + quoted("out"), 1, {"refused"}},
      {"info " + quoted("long/l_00000.exr"), 0, {"limit of 10,000 frames", "l_10000.exr"}},
      {"check " + quoted("long/l_00000.exr"), 0, {"limit of 10,000 frames; ", "l_10000.exr exists"}, {"missing"}},
      {"convert -o " + quoted("copies") + " " + quoted("whole.exr") + " " + good, 0,
       {"whole.exr -> ", "copies/whole.exr: converted; channels V", "2 converted, 0 refused, 0 kept"}},
      {"convert -o " + quoted("copies") + " " + quoted("whole.exr"), 1,
       {"whole.exr: kept: ", "copies/whole.exr exists; --force replaces it", "0 converted, 0 refused, 1 kept"}},
      {"convert --force -o " + quoted("copies") + " " + quoted("whole.exr"), 0, {"1 converted"}},
      {"convert -o " + quoted("") + " " + good + " 2>&1", 2, {"never writes over a source"}},
      {"convert -o " + quoted("copies") + " " + quoted("short.exr") + " " + quoted("long.exr") + " " +
           quoted("cutzip.exr") + " " + zip,
       1,
       {"short.exr: refused: chunk 0 (line 0) is damaged: the chunk inflates to 100 bytes, not 128",
        "long.exr: refused: chunk 0 (line 0) is damaged: the chunk inflates to more than its 128 bytes",
        "cutzip.exr: refused: chunk 0 (line 0) is cut off", "zip.exr: refused: ", "0 converted, 4 refused"}},
      {"convert " + good, 2, {}},  // no -o
      {"dance", 2, {}},
  };
  for (const Case& c : cases) {
    const bool keepsErrors = c.arguments.find("2>&1") != std::string::npos;
    const ToolRun run = RunTool(c.arguments + (keepsErrors ? "" : " 2>/dev/null"));
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
    for (const std::string& mention : c.mentions) {
      EXPECT_NE(run.output.find(mention), std::string::npos) << c.arguments << " lacks " << mention << ":\n" << run.output;
    }
    for (const std::string& wrong : c.absent) {
      EXPECT_EQ(run.output.find(wrong), std::string::npos) << c.arguments << " says " << wrong << ":\n" << run.output;
    }
  }

  // One JSON document for the whole run, valid whatever the names hold;
  // text output of a hostile name holds no control byte but line ends.
  const std::pair<std::string, std::string> jsonCommands[] = {
      {"info --json", "\"frameCount\":120"},
      {"check --json", "\"framesDecoded\":120"},
      {"convert --force --json -o " + quoted("copies"), "\"outcome\":\"converted\""}};
  for (const auto& command : jsonCommands) {
    const std::string json = RunTool(command.first + " " + good + " " + zip + " " + quoted(hostile) + " 2>/dev/null").output;
    JsonChecker checker{json};
    EXPECT_TRUE(checker.Whole()) << json;
    EXPECT_EQ(json.find('\x1b'), std::string::npos);
    EXPECT_NE(json.find("\"files\":[{\"path\":"), std::string::npos) << json;
    EXPECT_NE(json.find(command.second), std::string::npos) << json;
  }
  for (const auto& entry : fs::directory_iterator(dir / "copies")) {
    EXPECT_EQ(entry.path().extension(), ".exr") << "no temporary left behind: " << entry.path();
  }
  const std::string text = RunTool("info " + quoted(hostile) + " 2>&1").output;
  for (const char c : text) EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\n') << text;
  EXPECT_NE(text.find("evil\\x1B[2J\xef\xbf\xbd\\x0A.exr"), std::string::npos) << text;
}

}  // namespace
