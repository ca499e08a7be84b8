// The record file: lines appended by several processes at once and read while they run. Each
// line goes out whole to the end of the file, under a lock that every writer of this program
// takes, and is flushed to the disk before the call returns, so a reader sees whole lines only,
// and a line that was reported written survives a crash of the machine. A line that could not
// be written whole is taken back, so the file stays as it was. Anything that is not a file (a
// pipe, a terminal) gets whole lines and no flush.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace cli {

// Appends one whole line (line feed included). False with a message that names the file when
// it could not be written or flushed.
bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error);
// Creates the file if needed and checks that lines can be appended, before anything is erased:
// also that a file ends in a line feed (one that ends in a cut line is not appended to, so
// that no record is glued to it), and that a pipe has a reader.
bool CheckRecordFile(const std::string& path, std::string& error);
// This computer's name, for the records.
std::string HostName();

// POSIX, for a line: its parent opens the target once (OpenRecordTarget) and every worker
// inherits the descriptor, so that a target such as /dev/stdout means the same to all of them.
// The writers take a lock that is the process's, so that a worker killed in the middle of its
// line leaves a fragment that the next writer takes off before its own line.
// `name` is the target's path, for the messages.
int OpenRecordTarget(const std::string& path, std::string& error);
bool AppendRecordLine(int descriptor, const std::string& name, const std::string& line,
                      std::string& error);
// The file's size (0 for what is not a file): where lines appended from now on begin.
std::uint64_t RecordFileSize(int descriptor);
// Appends the line unless a whole line appended at or after `since` is one that `already`
// accepts (the record of a worker that died after writing it, before it could say so); `there`
// tells which. Not a file: the line is appended.
bool AppendRecordLineUnlessThere(int descriptor, const std::string& name, std::uint64_t since,
                                 const std::function<bool(std::string_view)>& already,
                                 const std::string& line, std::string& error, bool& there);
// Holds every writer's lock on the target for as long as it lives, waiting for it at most
// `waitMs`: a line's parent that has to end its workers at once does so while none of them is
// in the middle of a line.
class RecordTargetLock {
 public:
  RecordTargetLock(int descriptor, int waitMs);
  ~RecordTargetLock();
  RecordTargetLock(const RecordTargetLock&) = delete;
  RecordTargetLock& operator=(const RecordTargetLock&) = delete;
  bool Held() const { return held_; }

 private:
  int descriptor_;
  bool held_ = false;
};

}  // namespace cli
