// The record file: lines appended by several processes at once and read while they run. Each
// line goes out in one write to the end of the file and is flushed to the disk before the call
// returns, so a reader sees whole lines only, and a line that was reported written survives a
// crash of the machine.
#pragma once

#include <string>

namespace cli {

// Appends one whole line (line feed included). False with a message when it could not be
// written or flushed; a short write is reported as such.
bool AppendRecordLine(const std::string& path, const std::string& line, std::string& error);
// Creates the file if needed and checks that lines can be appended, before anything is erased.
bool CheckRecordFile(const std::string& path, std::string& error);
// This computer's name, for the records.
std::string HostName();

}  // namespace cli
