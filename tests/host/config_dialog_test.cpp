// The configuration dialog of the built DLL: its resources read back with
// the resource API, and the real dialog driven in a window under Wine.
#include <windows.h>

#include "host/plugin_beside.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

HMODULE LoadPlugin() { return LoadPluginBesideProgram(); }

// Reads a dialog template: a cursor over the resource's words.
struct TemplateReader {
  const uint8_t* bytes;
  size_t size;
  size_t position = 0;

  bool Has(size_t count) const { return position + count <= size; }
  uint16_t Word() {
    uint16_t value = 0;
    if (Has(2)) std::memcpy(&value, bytes + position, 2);
    position += 2;
    return value;
  }
  uint32_t Dword() {
    uint32_t value = 0;
    if (Has(4)) std::memcpy(&value, bytes + position, 4);
    position += 4;
    return value;
  }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  std::wstring String() {
    std::wstring text;
    for (uint16_t unit = Word(); unit != 0 && Has(0); unit = Word()) text += static_cast<wchar_t>(unit);
    return text;
  }
  // A name or ordinal: 0xFFFF then an ordinal, or a string.
  std::wstring NameOrOrdinal(uint16_t* ordinal) {
    *ordinal = 0;
    if (Has(2) && bytes[position] == 0xFF && bytes[position + 1] == 0xFF) {
      position += 2;
      *ordinal = Word();
      return L"";
    }
    return String();
  }
  void AlignToDword() { position = (position + 3) & ~size_t{3}; }
};

struct Control {
  uint32_t style;
  int16_t x, y, cx, cy;
  int16_t id;
  uint16_t classAtom;
  std::wstring text;
};

class ConfigResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadPlugin();
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override { FreeLibrary(module_); }
  std::vector<uint8_t> Resource(LPCWSTR type, LPCWSTR name, WORD language) {
    HRSRC found = FindResourceExW(module_, type, name, language);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    const uint8_t* data = static_cast<const uint8_t*>(LockResource(loaded));
    return std::vector<uint8_t>(data, data + SizeofResource(module_, found));
  }
  HMODULE module_ = nullptr;
};

TEST_F(ConfigResources, DialogTemplate) {
  const std::vector<uint8_t> bytes =
      Resource(MAKEINTRESOURCEW(5) /* RT_DIALOG */, L"CONFIG", MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_FALSE(bytes.empty()) << "no CONFIG dialog in language 1033";
  TemplateReader reader{bytes.data(), bytes.size()};
  const uint32_t style = reader.Dword();
  EXPECT_EQ(style, static_cast<uint32_t>(DS_SETFONT | DS_MODALFRAME | DS_3DLOOK | WS_POPUP | WS_CAPTION | WS_SYSMENU));
  EXPECT_EQ(reader.Dword(), 0u) << "extended style";
  const uint16_t controlCount = reader.Word();
  EXPECT_EQ(controlCount, 3);
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 128);
  EXPECT_EQ(reader.Short(), 96);
  uint16_t ordinal = 0;
  EXPECT_EQ(reader.NameOrOrdinal(&ordinal), L"") << "no menu";
  EXPECT_EQ(reader.NameOrOrdinal(&ordinal), L"") << "the standard dialog class";
  EXPECT_EQ(reader.String(), L"Mondrel\u306e\u8a2d\u5b9a");
  EXPECT_EQ(reader.Word(), 9) << "point size";
  EXPECT_EQ(reader.String(), L"\u30e1\u30a4\u30ea\u30aa");

  std::vector<Control> controls;
  for (uint16_t i = 0; i < controlCount; ++i) {
    reader.AlignToDword();
    Control control;
    control.style = reader.Dword();
    reader.Dword();  // extended style
    control.x = reader.Short();
    control.y = reader.Short();
    control.cx = reader.Short();
    control.cy = reader.Short();
    control.id = reader.Short();
    reader.NameOrOrdinal(&control.classAtom);
    uint16_t textOrdinal = 0;
    control.text = reader.NameOrOrdinal(&textOrdinal);
    reader.position += reader.Word();  // creation data
    controls.push_back(control);
  }
  ASSERT_EQ(controls.size(), 3u);
  const uint32_t button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_CENTER | BS_PUSHBUTTON;
  const uint32_t label = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
  const Control expected[3] = {
      {button, 8, 76, 52, 16, IDOK, 0x0080, L"OK"},
      {button, 68, 76, 52, 16, IDCANCEL, 0x0080, L"Cancel"},
      {label, 8, 20, 64, 16, -1, 0x0082, L"\u73fe\u5728\u8a2d\u5b9a\u9805\u76ee\u306f\u3042\u308a\u307e\u305b\u3093"},
  };
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(controls[i].style, expected[i].style);
    EXPECT_EQ(controls[i].id, expected[i].id);
    EXPECT_EQ(controls[i].classAtom, expected[i].classAtom);
    EXPECT_EQ(controls[i].text, expected[i].text);
    EXPECT_EQ(controls[i].x, expected[i].x);
    EXPECT_EQ(controls[i].y, expected[i].y);
    EXPECT_EQ(controls[i].cx, expected[i].cx);
    EXPECT_EQ(controls[i].cy, expected[i].cy);
  }
}

TEST_F(ConfigResources, Manifest) {
  const std::vector<uint8_t> bytes =
      Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(2), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_FALSE(bytes.empty()) << "no manifest of type 24, id 2";
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"),
            std::string::npos);
  const size_t open = text.find("<assembly");
  const size_t inner = text.find('>', open) + 1;
  const size_t close = text.find("</assembly>");
  ASSERT_NE(close, std::string::npos);
  EXPECT_EQ(text.find_first_not_of(" \r\n\t", inner), close) << "the assembly element is empty";
}

// The live dialog, under a display.
using ConfigureFunction = uint8_t (*)(HWND, HINSTANCE);
using GetTableFunction = const uint8_t* (*)();

// The table through the export, and its configure entry at offset 72.
const uint8_t* PluginTable(HMODULE module) {
  return reinterpret_cast<GetTableFunction>(reinterpret_cast<void*>(GetProcAddress(module, "GetInputPluginTable")))();
}

ConfigureFunction ConfigureEntry(const uint8_t* table) {
  ConfigureFunction configure;
  std::memcpy(&configure, table + 72, sizeof configure);
  return configure;
}

struct Closer {
  int how;                    // 0: OK button, 1: Cancel button, 2: close from the system menu
  HANDLE configureReturned;   // manual-reset event, set by the test once configure returns
  bool found = false;
  bool controlsRight = false;
};

bool ControlsRight(HWND dialog) {
  wchar_t text[64] = {};
  GetWindowTextW(GetDlgItem(dialog, IDOK), text, 64);
  bool right = std::wstring(text) == L"OK";
  GetWindowTextW(GetDlgItem(dialog, IDCANCEL), text, 64);
  right = right && std::wstring(text) == L"Cancel";
  HWND label = FindWindowExW(dialog, nullptr, L"Static", nullptr);
  GetWindowTextW(label, text, 64);
  return right && std::wstring(text) == L"\u73fe\u5728\u8a2d\u5b9a\u9805\u76ee\u306f\u3042\u308a\u307e\u305b\u3093";
}

// Presses until configure returns. The dialog's window exists before its
// controls do, and is shown only once they all exist, so it is pressed only
// when visible. A first window on a fresh display can take many seconds
// (Wine builds its font cache), so there is no give-up here: a dialog that
// never closes ends the test by its time limit.
DWORD WINAPI FindAndClose(void* parameter) {
  Closer* closer = static_cast<Closer*>(parameter);
  DWORD pause = 50;
  while (WaitForSingleObject(closer->configureReturned, pause) == WAIT_TIMEOUT) {
    HWND dialog = FindWindowW(nullptr, L"Mondrel\u306e\u8a2d\u5b9a");
    if (dialog == nullptr || !IsWindowVisible(dialog)) continue;
    if (!closer->found) closer->controlsRight = ControlsRight(dialog);
    closer->found = true;
    if (closer->how == 0) PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    if (closer->how == 1) PostMessageW(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
    if (closer->how == 2) PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    pause = 1000;  // pressed again only if the dialog is still up by then
  }
  return 0;
}

TEST(ConfigDialog, OpensAndClosesEachWay) {
  if (std::getenv("MONDREL_DISPLAY_TESTS") == nullptr) GTEST_SKIP() << "needs a display (set MONDREL_DISPLAY_TESTS)";
  HMODULE module = LoadPlugin();
  ASSERT_NE(module, nullptr);
  const uint8_t* table = PluginTable(module);
  const ConfigureFunction configure = ConfigureEntry(table);
  for (int how = 0; how < 3; ++how) {
    SCOPED_TRACE(how);
    Closer closer{how, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, FindAndClose, &closer, 0, nullptr);
    EXPECT_EQ(configure(nullptr, module), 1);
    SetEvent(closer.configureReturned);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(closer.configureReturned);
    EXPECT_TRUE(closer.found);
    EXPECT_TRUE(closer.controlsRight);
  }
  // The settings stay as they were: a clip still runs at 30/1.
  using OpenFunction = void* (*)(const wchar_t*);
  using InfoFunction = uint8_t (*)(void*, void*);
  using CloseFunction = uint8_t (*)(void*);
  OpenFunction open;
  InfoFunction info;
  CloseFunction close;
  std::memcpy(&open, table + 32, sizeof open);
  std::memcpy(&info, table + 48, sizeof info);
  std::memcpy(&close, table + 40, sizeof close);
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring path = std::wstring(temp) + L"mondrel-config-check.exr";
  const uint8_t header[] = {0x76, 0x2F, 0x31, 0x01, 2, 0, 0, 0, 'c', 'h', 'a', 'n', 'n', 'e', 'l', 's', 0,
                            'c', 'h', 'l', 'i', 's', 't', 0, 1, 0, 0, 0, 'V', 0, 1, 0, 0, 0, 0, 0, 0, 0,
                            1, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, header, sizeof header, &written, nullptr);
  CloseHandle(file);
  void* handle = open(path.c_str());
  ASSERT_NE(handle, nullptr);
  int32_t record[12];
  std::memset(record, 0, sizeof record);
  EXPECT_EQ(info(handle, record), 1);
  EXPECT_EQ(record[1], 30);
  EXPECT_EQ(record[2], 1);
  close(handle);
  DeleteFileW(path.c_str());
  FreeLibrary(module);
}

// A dialog that cannot be created (no such template in the module given)
// still answers true at once.
TEST(ConfigDialog, AnswersTrueWhenTheDialogCannotBeCreated) {
  HMODULE module = LoadPlugin();
  ASSERT_NE(module, nullptr);
  const ConfigureFunction configure = ConfigureEntry(PluginTable(module));
  EXPECT_EQ(configure(nullptr, GetModuleHandleW(nullptr)), 1) << "the test program has no CONFIG template";
  FreeLibrary(module);
}

}  // namespace

namespace {

// Without any display the dialog cannot appear; the entry still answers
// true and returns (a hang would end the test by its time limit).
TEST(ConfigDialog, WithoutADisplayAnswersTrue) {
  if (std::getenv("DISPLAY") != nullptr) GTEST_SKIP() << "a display is present";
  HMODULE module = LoadPlugin();
  ASSERT_NE(module, nullptr);
  const ConfigureFunction configure = ConfigureEntry(PluginTable(module));
  EXPECT_EQ(configure(nullptr, module), 1);
  FreeLibrary(module);
}

}  // namespace
