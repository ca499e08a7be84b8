// A tty as a port's line: opened exclusively, in raw mode with line errors marked in-band
// (PARMRK) unless it is a pseudo-terminal, the DCB applied through termios and the modem-line
// ioctls, and the original line state given back at close.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "serial/driver/posix/engine/Line.h"
#include "serial/driver/posix/tty/LineSettings.h"
#include "serial/driver/posix/tty/Termios2.h"

namespace drv::posix {

class TtyLine final : public Line {
 public:
  // Opens, locks and sets up the device; on failure returns nullptr and sets *error.
  static std::unique_ptr<TtyLine> Open(const std::string& path, std::uint32_t* error);
  ~TtyLine() override;

  int Fd() const override { return fd_; }
  bool MarksLineErrors() const override { return lineErrors_ == LineErrors::kMarked; }
  Input Read(std::uint8_t* buffer, std::size_t max) override;
  bool InputPending() override;
  long Write(const std::uint8_t* data, std::size_t n) override;
  bool OutputQueued(std::uint32_t* queued) override;
  std::uint32_t Apply(const Dcb& dcb) override;
  std::uint32_t ModemStatus(std::uint32_t* status) override;
  void Purge(bool transmit, bool receive) override;
  std::unique_ptr<LineActivity> WatchLineChanges(LineChangeReport report) override;
  void Close() override;

 private:
  TtyLine(int fd, const SavedLineState& saved, LineErrors lineErrors)
      : fd_(fd), saved_(saved), lineErrors_(lineErrors) {}
  void LetOutputLeave();

  int fd_;
  SavedLineState saved_;
  LineErrors lineErrors_;
  // The line's pace, for how long output still queued at the close may take.
  std::uint32_t bitsPerCharacter_ = 10;
  std::uint32_t bitsPerSecond_ = 9600;
};

}  // namespace drv::posix
