#include "about/registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace oskara::about {
namespace {

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = fs::temp_directory_path() / ("registry_test_" + std::to_string(getpid()) + ".reg");
  }
  void TearDown() override { fs::remove(file_); }

  void write(const std::string& text) { std::ofstream(file_, std::ios::binary) << text; }

  // GetKeyValue on the test file, starting from `start`.
  std::pair<bool, std::string> get(const std::string& key, const std::string& value,
                                   std::string start = {}) {
    ScopedRegistryFile use(file_.string());
    const bool read = GetKeyValue(RegistryRoot::LocalMachine, key, value, start);
    return {read, start};
  }

  fs::path file_;
};

TEST_F(RegistryTest, StringValuesAreTheirText) {
  write(
      "OSKARA REGISTRY\r\n"
      "; the programs of this machine\r\n"
      "[SOFTWARE\\Oskara\\Tools]\r\n"
      "\"PATH\"=\"/opt/tools/sysinfo \\\"x\\\" \\\\ end\"\r\n"
      "@=\"unnamed\"\r\n"
      "\"Empty\"=\"\"\r\n");
  EXPECT_EQ(get("SOFTWARE\\Oskara\\Tools", "PATH"),
            std::make_pair(true, std::string("/opt/tools/sysinfo \"x\" \\ end")));
  // Keys and value names without regard to case; the unnamed value by "".
  EXPECT_EQ(get("software\\oskara\\TOOLS", "path").first, true);
  EXPECT_EQ(get("SOFTWARE\\Oskara\\Tools", ""), std::make_pair(true, std::string("unnamed")));
  // The closing NUL is cut, leaving the empty text.
  EXPECT_EQ(get("SOFTWARE\\Oskara\\Tools", "Empty", "old"), std::make_pair(true, std::string()));
}

TEST_F(RegistryTest, DoubleWordsBecomeDecimalFromTheirByteCodesLastFirst) {
  write(
      "[Numbers]\n"
      "\"Full\"=dword:12345678\n"
      "\"AllOnes\"=dword:ffffffff\n"
      "\"Small\"=dword:00000201\n"
      "\"Word\"=dword:0000ffff\n"
      "\"Zero\"=dword:00000000\n");
  EXPECT_EQ(get("Numbers", "Full"), std::make_pair(true, std::string("305419896")));
  EXPECT_EQ(get("Numbers", "AllOnes"), std::make_pair(true, std::string("-1")));
  // A last byte of 0 is cut like a string's NUL: 01 02 00 gives "021", 33.
  EXPECT_EQ(get("Numbers", "Small"), std::make_pair(true, std::string("33")));
  // FF FF 00 gives "0FFFF", which fits 16 bits: -1.
  EXPECT_EQ(get("Numbers", "Word"), std::make_pair(true, std::string("-1")));
  EXPECT_EQ(get("Numbers", "Zero"), std::make_pair(true, std::string("0")));
  // The digits are appended to what the caller passed.
  EXPECT_EQ(get("Numbers", "Small", "1"), std::make_pair(true, std::string("4129")));  // &h1021
  EXPECT_EQ(get("Numbers", "Small", "x"), std::make_pair(true, std::string("&hx021")));
}

TEST_F(RegistryTest, OtherTypesLeaveTheTextAsPassed) {
  write(
      "[Other]\n"
      "\"Bytes\"=hex:41,42,\\\n"
      "  43\n"
      "\"Expand\"=hex(2):25,00\n"
      "\"NoData\"=hex:\n");
  EXPECT_EQ(get("Other", "Bytes", "kept"), std::make_pair(true, std::string("kept")));
  EXPECT_EQ(get("Other", "Expand", "kept"), std::make_pair(true, std::string("kept")));
  EXPECT_EQ(get("Other", "NoData", "kept"), std::make_pair(false, std::string()));
}

TEST_F(RegistryTest, WhatIsMissingOrTooLongIsNotReadAndEmptiesTheText) {
  write(
      "[Here]\n"
      "\"Fits\"=\"" + std::string(1023, 'a') + "\"\n"
      "\"TooLong\"=\"" + std::string(1024, 'a') + "\"\n"
      "\"Gone\"=-\n"
      "[-Deleted]\n"
      "\"Value\"=\"x\"\n");
  EXPECT_EQ(get("Here", "Fits").second.size(), 1023u);
  EXPECT_EQ(get("Here", "TooLong", "old"), std::make_pair(false, std::string()));
  EXPECT_EQ(get("Here", "Missing", "old"), std::make_pair(false, std::string()));
  EXPECT_EQ(get("Here", "Gone", "old"), std::make_pair(false, std::string()));
  EXPECT_EQ(get("Deleted", "Value", "old"), std::make_pair(false, std::string()));
  EXPECT_EQ(get("Nowhere", "Value", "old"), std::make_pair(false, std::string()));

  fs::remove(file_);
  EXPECT_EQ(get("Here", "Fits", "old"), std::make_pair(false, std::string()));
}

TEST(RegistryTextTest, KeysWrittenTwiceMergeAndLaterValuesWin) {
  const auto keys = parseRegistryText(
      "[A\\B]\n\"x\"=\"1\"\n[\\a\\b\\]\n\"X\"=\"2\"\n\"y\"=dword:1\nnot a value line\n");
  ASSERT_EQ(keys.size(), 1u);
  ASSERT_EQ(keys[0].values.size(), 2u);
  EXPECT_EQ(keys[0].values[0].data, std::string("2\0", 2));
  EXPECT_EQ(keys[0].values[1].type, reg_type::kDoubleWord);
  EXPECT_EQ(keys[0].values[1].data, std::string("\x01\0\0\0", 4));
}

TEST(RegistryTextTest, HexNumbersTakeTheSmallestSignedWidth) {
  EXPECT_EQ(formatHexNumber("&h7FFF"), "32767");
  EXPECT_EQ(formatHexNumber("&h8000"), "-32768");
  EXPECT_EQ(formatHexNumber("&h10000"), "65536");
  EXPECT_EQ(formatHexNumber("&h80000000"), "-2147483648");
  EXPECT_EQ(formatHexNumber("&h100000000"), "&h100000000");  // too large: left as text
  EXPECT_EQ(formatHexNumber("&h"), "&h");
  EXPECT_EQ(formatHexNumber("&hG1"), "&hG1");
}

}  // namespace
}  // namespace oskara::about
