#include "tests/fakes/posix/ThreadStartFaults.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<int> gFailuresLeft{0};

bool TakeFailure() {
  int left = gFailuresLeft.load();
  while (left > 0) {
    if (gFailuresLeft.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

}  // namespace

namespace fake {

void FailThreadStarts(int n) {
  gFailuresLeft = n;
}

}  // namespace fake

// Found before the C library's (and a sanitizer's) by every caller in the program; what it
// does not fail it hands on to the next definition, so a sanitizer still sees every thread.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) noexcept {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const Create next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  if (TakeFailure()) return EAGAIN;
  return next(thread, attr, start, arg);
}
