// A network namespace of the test's own, with a loopback interface that the test can take
// down: packets between the tool and a server on 127.0.0.1 are then dropped, as by a pulled
// cable or a server that lost its power, while both processes keep running. Entered by the
// calling thread, so the processes it starts afterwards live in it; left at destruction.
#pragma once

#include <string>

namespace e2e {

class PrivateNetwork {
 public:
  PrivateNetwork();
  ~PrivateNetwork();
  PrivateNetwork(const PrivateNetwork&) = delete;
  PrivateNetwork& operator=(const PrivateNetwork&) = delete;

  // Empty when the namespace is in use; otherwise why it could not be made.
  const std::string& Problem() const { return problem_; }
  // Brings loopback up or down; false with Problem() set when that fails.
  bool SetLoopback(bool up);

 private:
  void AddDocumentationAddress();

  int original_ = -1;
  bool entered_ = false;
  std::string problem_;
};

}  // namespace e2e
