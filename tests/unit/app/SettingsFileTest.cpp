// The settings file: the integer reading rule, writes that keep the rest of the file, the
// failure message, and where the file lives.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "TempDir.h"
#include "app/SettingsFile.h"

namespace {

using app::ParseIniInteger;
using app::TIniFile;

TEST(ParseIniInteger, ReadsDecimalAndPrefixedHexadecimal) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"3", 3},
      {"0", 0},
      {"-5", -5},
      {"+9", 9},
      {"0x20", 32},
      {"0X1f", 31},
      {"0x7FFFFFFF", INT_MAX},
      {"2147483647", INT_MAX},
      {"-2147483648", INT_MIN},
      {"007", 7},
      // Not an integer: the default (here 200).
      {"", 200},
      {"abc", 200},
      {"0x", 200},
      {"0x-1", 200},
      {"0xg", 200},
      {"12a", 200},
      {"1 2", 200},
      {"-", 200},
      {"2147483648", 200},
      {"-2147483649", 200},
      {"0x80000000", 200},
      {"99999999999999999999", 200},
      {"$20", 200},
      {"-0x20", 200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseIniInteger(c.text, 200), c.expected) << "text \"" << c.text << "\"";
  }
}

class SettingsFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.File("Zanowipe.ini");
};

TEST_F(SettingsFileTest, MissingFileGivesDefaultsAndCreatesNothing) {
  {
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("APP", "TOP", 200), 200);
    EXPECT_EQ(ini.ReadInteger("APP", "COM PORT", 0), 0);
    EXPECT_EQ(ini.ReadString("APP", "LEFT", "none"), "none");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(SettingsFileTest, ReadsValuesAsTheProfileApiDoes) {
  TempDir::Write(path,
                 "[APP]\nTOP=0x20\nLEFT=abc\nCOM PORT=3\n"
                 "[other]\nquoted=\"a b\"\nspaced =  7  \n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("APP", "TOP", 200), 32);
  EXPECT_EQ(ini.ReadInteger("APP", "LEFT", 200), 200);
  EXPECT_EQ(ini.ReadInteger("APP", "COM PORT", 0), 3);
  // Section and key names are not case-sensitive.
  EXPECT_EQ(ini.ReadInteger("app", "com port", 0), 3);
  EXPECT_EQ(ini.ReadString("other", "quoted", ""), "a b");
  EXPECT_EQ(ini.ReadInteger("other", "spaced", 0), 7);
}

TEST_F(SettingsFileTest, WriteCreatesTheFileAndReadsBack) {
  {
    TIniFile ini(path);
    ini.WriteInteger("APP", "TOP", 120);
    ini.WriteInteger("APP", "LEFT", -40);
    ini.WriteInteger("APP", "COM PORT", 0);
  }
  const std::string text = TempDir::Read(path);
  EXPECT_NE(text.find("[APP]"), std::string::npos) << text;
  EXPECT_NE(text.find("TOP=120"), std::string::npos) << text;
  EXPECT_NE(text.find("LEFT=-40"), std::string::npos) << text;
  EXPECT_NE(text.find("COM PORT=0"), std::string::npos) << text;
  EXPECT_LT(text.find("TOP="), text.find("LEFT=")) << text;
  EXPECT_LT(text.find("LEFT="), text.find("COM PORT=")) << text;
  TIniFile again(path);
  EXPECT_EQ(again.ReadInteger("APP", "LEFT", 200), -40);
}

TEST_F(SettingsFileTest, WriteKeepsOtherSectionsKeysAndComments) {
  TempDir::Write(path,
                 "; kept by the technician\n[PORTS]\nCOM1=/dev/ttyACM0\n\n"
                 "[APP]\nTOP=10\nNOTE=keep me\n");
  {
    TIniFile ini(path);
    ini.WriteInteger("APP", "TOP", 99);
  }
  const std::string text = TempDir::Read(path);
  EXPECT_NE(text.find("; kept by the technician"), std::string::npos) << text;
  EXPECT_NE(text.find("COM1=/dev/ttyACM0"), std::string::npos) << text;
  EXPECT_NE(text.find("NOTE=keep me"), std::string::npos) << text;
  EXPECT_NE(text.find("TOP=99"), std::string::npos) << text;
  EXPECT_EQ(text.find("TOP=10\n"), std::string::npos) << text;
}

TEST_F(SettingsFileTest, FailedWriteNamesThePath) {
  const std::string unwritable = dir.File("missing-dir") + app::PathSeparator() + "Zanowipe.ini";
  TIniFile ini(unwritable);
  try {
    ini.WriteInteger("APP", "TOP", 1);
    FAIL() << "a write into a missing directory succeeded";
  } catch (const app::EIniFileException& e) {
    EXPECT_EQ(e.Message(), "Unable to write to " + unwritable);
  }
}

TEST_F(SettingsFileTest, SomethingOtherThanAFileReadsAsMissingAndIsNotWritten) {
  std::filesystem::create_directory(path);
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("APP", "TOP", 200), 200);
  EXPECT_THROW(ini.WriteInteger("APP", "TOP", 1), app::EIniFileException);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(AppDir, AppendsTheSeparatorUnconditionally) {
  const char sep = app::PathSeparator();
  EXPECT_EQ(app::AppDirFrom(std::string("work") + sep + "tool"),
            std::string("work") + sep + "tool" + sep);
  // A root directory already ends in a separator; the path then holds two in a row.
  const std::string root = sep == '\\' ? "C:\\" : "/";
  const std::string appDir = app::AppDirFrom(root);
  EXPECT_EQ(appDir, root + sep);
  EXPECT_NE((appDir + "Zanowipe.ini").find(std::string(2, sep)), std::string::npos);
}

TEST_F(SettingsFileTest, DoubledSeparatorInThePathStillFindsTheFile) {
  TempDir::Write(path, "[APP]\nCOM PORT=8\n");
  const std::string doubled =
      app::AppDirFrom(dir.Path().string() + app::PathSeparator()) + "Zanowipe.ini";
  TIniFile ini(doubled);
  EXPECT_EQ(ini.ReadInteger("APP", "COM PORT", 0), 8);
}

TEST(CurrentDirectory, IsWhatTheSystemReports) {
  EXPECT_EQ(app::CurrentDirectory(), std::filesystem::current_path().string());
}

}  // namespace
