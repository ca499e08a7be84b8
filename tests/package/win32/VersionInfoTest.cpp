// The Windows programs as Explorer and the installer see them: version information with the
// product's name and the project's version, and the program icon.
#include <gtest/gtest.h>
#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct Program {
  const char* path;
  const char* originalName;
};

// Paths relative to this test's working directory, its build folder, so the same build tree
// works wherever Wine maps it.
const Program kPrograms[] = {
    {ZW_PROGRAM_PATH, "Zanowipe.exe"},
    {ZW_CLI_PATH, "zanowipe-cli.exe"},
};

void PrintTo(const Program& program, std::ostream* os) {
  *os << program.originalName;
}

std::vector<char> VersionBlock(const char* path) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return {};
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(path, 0, size, block.data())) return {};
  return block;
}

std::string StringValue(std::vector<char>& block, const char* name) {
  std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
  char* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length) ||
      text == nullptr)
    return "<missing>";
  return std::string(text);
}

class ProgramResources : public ::testing::TestWithParam<Program> {};

TEST_P(ProgramResources, VersionInfoNamesTheProductAndTheProjectVersion) {
  const Program& program = GetParam();
  std::vector<char> block = VersionBlock(program.path);
  ASSERT_FALSE(block.empty()) << program.path << ": no version information (error "
                              << GetLastError() << ")";

  EXPECT_EQ(StringValue(block, "ProductName"), "Zanowipe") << program.path;
  EXPECT_EQ(StringValue(block, "ProductVersion"), ZW_PROJECT_VERSION) << program.path;
  EXPECT_EQ(StringValue(block, "FileVersion"), ZW_PROJECT_VERSION) << program.path;
  EXPECT_EQ(StringValue(block, "OriginalFilename"), program.originalName) << program.path;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length))
      << program.path;
  ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu) << program.path;
  EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), ZW_VERSION_MAJOR) << program.path;
  EXPECT_EQ(LOWORD(fixed->dwProductVersionMS), ZW_VERSION_MINOR) << program.path;
  EXPECT_EQ(HIWORD(fixed->dwProductVersionLS), ZW_VERSION_PATCH) << program.path;
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP)) << program.path;
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramResources, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return info.index == 0 ? std::string("Zanowipe")
                                                  : std::string("ZanowipeCli");
                         });

// Explorer shows the first icon group of a program as its icon; the window's program must
// have one, and it must load as a 32 by 32 icon.
TEST(ProgramIcon, ZanowipeExeCarriesTheProgramIcon) {
  HMODULE module = LoadLibraryExA(ZW_PROGRAM_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << ZW_PROGRAM_PATH << ": error " << GetLastError();
  HRSRC group = FindResourceA(module, "ICON_PROGRAM", MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
  EXPECT_NE(group, nullptr) << "no icon group ICON_PROGRAM in " << ZW_PROGRAM_PATH;
  HANDLE icon = LoadImageA(module, "ICON_PROGRAM", IMAGE_ICON, 32, 32, 0);
  EXPECT_NE(icon, nullptr) << "ICON_PROGRAM does not load as a 32x32 icon";
  if (icon) DestroyIcon(static_cast<HICON>(icon));
  FreeLibrary(module);
}

}  // namespace
