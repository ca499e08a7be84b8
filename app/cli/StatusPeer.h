// The peer the command line attaches to the status bar and the state word: it hears every
// change, so no text goes unprinted even when a handler overwrites it at once.
#pragma once

#include "app/cli/Autopilot.h"
#include "gui/Forms.h"

namespace cli {

class StatusPeer : public gui::Peer {
 public:
  explicit StatusPeer(Autopilot& pilot) : pilot_(pilot) {}
  void Sync() override { pilot_.Changed(); }

 private:
  Autopilot& pilot_;
};

}  // namespace cli
