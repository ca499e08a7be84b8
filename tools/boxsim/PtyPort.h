// The Box's end of the line: the master side of a pseudo-terminal pair.
//
// The slave side is what the tool opens. boxsim does not keep the slave open itself, so it can
// tell whether somebody has the device open: while nobody does, the master reports a hang-up
// (and reads fail with EIO). boxsim then checks again every few milliseconds instead of
// polling the master, which would report the hang-up at once, again and again.
#pragma once

#include <string>

namespace boxsim {

class PtyPort {
 public:
  ~PtyPort() { Close(); }
  // Opens the pair and puts the slave side in raw mode; returns an error text, empty on success.
  std::string Open();
  void Close();
  int Fd() const { return master_; }
  const std::string& DevicePath() const { return slavePath_; }
  // Whether some program has the device open now.
  bool ClientPresent() const;

 private:
  int master_ = -1;
  std::string slavePath_;
};

// Points `link` at `target`, replacing an older link (never a regular file). Error text or empty.
std::string MakeLink(const std::string& link, const std::string& target);
// Removes `link` if it still points at `target`.
void RemoveLink(const std::string& link, const std::string& target);

}  // namespace boxsim
