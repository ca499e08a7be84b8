#include "bench/ArrivalCounter.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace bench {

namespace {

constexpr std::size_t kPage = 4096;

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

static_assert(std::atomic<std::int64_t>::is_always_lock_free,
              "the counter is shared with other processes, which see only its bytes");

ArrivalCounter::ArrivalCounter(int fd, bool owned) : fd_(fd), owned_(owned) {
  void* page = mmap(nullptr, kPage, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (page == MAP_FAILED) Fail("mmap of the arrival counter");
  word_ = static_cast<std::atomic<std::int64_t>*>(page);
}

ArrivalCounter ArrivalCounter::Create() {
  const int fd = memfd_create("zw-bench-arrivals", MFD_CLOEXEC);
  if (fd < 0) Fail("memfd_create");
  if (ftruncate(fd, kPage) != 0) Fail("ftruncate of the arrival counter");
  ArrivalCounter c(fd, true);
  new (c.word_) std::atomic<std::int64_t>(0);
  return c;
}

ArrivalCounter ArrivalCounter::Map(int fd) {
  return ArrivalCounter(fd, false);
}

ArrivalCounter::ArrivalCounter(ArrivalCounter&& other) noexcept
    : fd_(other.fd_), owned_(other.owned_), word_(other.word_) {
  other.fd_ = -1;
  other.word_ = nullptr;
}

ArrivalCounter::~ArrivalCounter() {
  if (word_) munmap(word_, kPage);
  if (owned_ && fd_ >= 0) close(fd_);
}

}  // namespace bench
