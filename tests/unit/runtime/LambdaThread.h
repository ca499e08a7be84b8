// A Thread whose body is a function, so tests can say what the worker does where they use it.
#pragma once

#include <functional>
#include <utility>

#include "runtime/Thread.h"

namespace rt::test {

class LambdaThread : public Thread {
 public:
  explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
  ~LambdaThread() override { TerminateAndWait(); }
  using Thread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(LambdaThread&)> body_;
};

// Real-time bounds that only a hang or a busy machine far beyond normal could exceed.
inline constexpr int kGenerousMs = 10000;

}  // namespace rt::test
