// The record file: lines appended whole, from many writers at once, and a file that cannot be
// written is reported before anything depends on it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/cli/RecordFile.h"

namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  const std::string text = all.str();
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "the file ends in a cut line";
  std::vector<std::string> lines;
  std::istringstream split(text);
  for (std::string line; std::getline(split, line);) lines.push_back(line);
  return lines;
}

TEST(RecordFile, LinesAreAppendedToWhatIsThere) {
  TempDir dir;
  const std::string path = dir.File("records.jsonl");
  std::string error;
  ASSERT_TRUE(cli::CheckRecordFile(path, error)) << error;
  EXPECT_TRUE(Lines(path).empty());
  ASSERT_TRUE(cli::AppendRecordLine(path, "{\"n\":1}\n", error)) << error;
  ASSERT_TRUE(cli::CheckRecordFile(path, error)) << error;
  ASSERT_TRUE(cli::AppendRecordLine(path, "{\"n\":2}\n", error)) << error;
  EXPECT_EQ(Lines(path), (std::vector<std::string>{"{\"n\":1}", "{\"n\":2}"}));
}

TEST(RecordFile, AFileThatCannotBeWrittenIsReportedWithItsName) {
  TempDir dir;
  const std::string path = dir.File("missing-dir/records.jsonl");
  std::string error;
  EXPECT_FALSE(cli::CheckRecordFile(path, error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(cli::AppendRecordLine(path, "{}\n", error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
}

TEST(RecordFile, ThisComputerHasAName) {
  EXPECT_FALSE(cli::HostName().empty());
}

}  // namespace
