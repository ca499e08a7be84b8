// Gathers the record of one Box while its run goes on: it watches the window's progress and the
// bytes exchanged, and is told of error boxes and of the run's end.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "app/RunObserver.h"
#include "app/cli/BoxRecord.h"

namespace cli {

class BoxRecorder : public app::RunObserver {
 public:
  BoxRecorder(std::string host, std::string port, std::string device, bool withConfiguration,
              bool readBackOn = true);

  void Progressed(const app::RunProgress& progress) override;
  void Received(std::string_view text) override;
  void Sent(std::string_view bytes) override;
  void Checked(const app::EraseVerdict& verdict) override;
  // The first error is the one that ended the run; later ones (a close that fails as well) are
  // its consequences.
  void NoteError(const BoxError& error);

  // Whether the Box has said anything: a port that waits for the next Box has no Box yet.
  bool BoxSpoke() const { return firstWord_.has_value(); }
  // The record as it stands when the run ended with this status and last word.
  BoxRecord Finish(int status, const std::string& message);

 private:
  using Steady = std::chrono::steady_clock;
  struct Moment {
    BoxRecord::Time wall;
    Steady::time_point steady;
    static Moment Now() { return {std::chrono::system_clock::now(), Steady::now()}; }
  };
  static double Seconds(const Moment& from, const Moment& to);

  BoxRecord record_;
  std::optional<Moment> created_, opened_, firstWord_, ready_, eraseSent_, closed_;
  bool sentAnything_ = false;
  // The reply ends when the read-back command goes out or the result is known.
  bool replyDone_ = false;
};

}  // namespace cli
