#include <gtest/gtest.h>

#include <cstring>

#include "plugin/plugin_table.h"

namespace {

const uint8_t* RawTable() { return reinterpret_cast<const uint8_t*>(GetInputPluginTable()); }

template <typename T>
T SlotAt(size_t offset) {
  T value;
  std::memcpy(&value, RawTable() + offset, sizeof value);
  return value;
}

std::basic_string<WideChar> WideAt(size_t offset) {
  return std::basic_string<WideChar>(SlotAt<const WideChar*>(offset));
}

TEST(PluginTable, SlotsAtTheirByteOffsets) {
  EXPECT_EQ(GetInputPluginTable(), GetInputPluginTable());
  EXPECT_EQ(SlotAt<uint32_t>(0), 1u);
  EXPECT_EQ(SlotAt<uint32_t>(4), 0u);
  EXPECT_EQ(WideAt(8), MONDREL_WIDE("Mondrel"));
  EXPECT_EQ(WideAt(24), MONDREL_WIDE("Mondrel v0.4.0"));
  EXPECT_EQ(SlotAt<void*>(32), reinterpret_cast<void*>(&OpenInput));
  EXPECT_EQ(SlotAt<void*>(40), reinterpret_cast<void*>(&CloseInput));
  EXPECT_EQ(SlotAt<void*>(48), reinterpret_cast<void*>(&GetInputInformation));
  EXPECT_EQ(SlotAt<void*>(56), reinterpret_cast<void*>(&ReadInputFrame));
  EXPECT_EQ(SlotAt<void*>(64), nullptr);
  EXPECT_NE(SlotAt<void*>(72), nullptr);
  EXPECT_EQ(SlotAt<void*>(80), nullptr);
  EXPECT_EQ(SlotAt<void*>(88), reinterpret_cast<void*>(&AnswerZero));
}

TEST(PluginTable, FileFilterBlock) {
  const WideChar* filter = GetInputPluginTable()->fileFilter;
  const WideChar expected[] = MONDREL_WIDE("EXR File (*.exr)\0*.exr\0AllFile (*.*)\0*.*\0");
  const size_t units = sizeof expected / sizeof expected[0];  // ends in two NULs
  ASSERT_EQ(units, 42u);
  EXPECT_EQ(std::memcmp(filter, expected, sizeof expected), 0);
  EXPECT_EQ(filter[units - 2], 0);
  EXPECT_EQ(filter[units - 1], 0);
  EXPECT_EQ(filter[units - 3], u'*');
}

TEST(PluginTable, EntriesAnswerWithoutAHandle) {
  EXPECT_TRUE(InitializePlugin());
  EXPECT_TRUE(InitializePlugin());
  UninitializePlugin();
  const PluginTable* table = GetInputPluginTable();
  InputInfo info;
  std::memset(&info, 0xEE, sizeof info);
  EXPECT_TRUE(table->close(nullptr));
  EXPECT_FALSE(table->getInformation(nullptr, &info));
  EXPECT_EQ(info.flags, static_cast<int32_t>(0xEEEEEEEE)) << "nothing written";
  uint8_t buffer[8] = {};
  EXPECT_EQ(table->readFrame(nullptr, 0, buffer), 0);
  EXPECT_EQ(table->twelfth(), 0);
  EXPECT_EQ(table->open(nullptr), nullptr);
}

#ifndef _WIN32
TEST(PluginTable, NativeConfigureAnswersTrue) {
  EXPECT_TRUE(GetInputPluginTable()->configure(nullptr, nullptr));
}
#endif

}  // namespace
