// Several workers append to one record file at once: every line stays whole. Large lines cross
// the file's page boundaries, where a write that is not one append could be split.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "app/cli/RecordFile.h"

namespace {

TEST(RecordFileConcurrency, LinesFromManyWritersAtOnceStayWhole) {
  TempDir dir;
  const std::string path = dir.File("records.jsonl");
  constexpr int kWriters = 8;
  constexpr int kLines = 40;
  std::vector<std::thread> writers;
  std::vector<std::string> errors(kWriters);
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int n = 0; n < kLines; ++n) {
        // Each line: its writer's letter, repeated, so a mixed line shows.
        const std::string line =
            std::to_string(w) + ":" + std::to_string(n) + ":" +
            std::string(3000 + 997 * ((w + n) % 7), static_cast<char>('a' + w)) + "\n";
        if (!cli::AppendRecordLine(path, line, errors[w])) return;
      }
    });
  }
  for (auto& t : writers) t.join();
  for (const auto& e : errors) EXPECT_EQ(e, "");

  std::ifstream in(path, std::ios::binary);
  std::set<std::string> seen;
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    ASSERT_NE(second, std::string::npos) << "line " << count << " is cut";
    const int w = std::stoi(line.substr(0, first));
    const std::string body = line.substr(second + 1);
    EXPECT_EQ(body.find_first_not_of(static_cast<char>('a' + w)), std::string::npos)
        << "line " << count << " of writer " << w << " holds another writer's bytes";
    seen.insert(line.substr(0, second));
  }
  EXPECT_EQ(count, kWriters * kLines);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kWriters * kLines));
}

}  // namespace
