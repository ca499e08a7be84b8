// The one word the two sides of the independent latency method share (IndependentDevice.h,
// ArrivalLog.h): how many bytes the receiving code has seen, a 64-bit little-endian count at
// the start of a page of memory that the device side creates (memfd) and hands the receiving
// process as a descriptor. Writing it costs the receiver no system call and wakes nobody, so
// the device side learns that a byte was seen without the receiver doing anything a program
// receiving from a device would not do.
#pragma once

#include <atomic>
#include <cstdint>

namespace bench {

class ArrivalCounter {
 public:
  // A fresh page, zero, for the device side.
  static ArrivalCounter Create();
  // The page behind fd, for the receiving process.
  static ArrivalCounter Map(int fd);
  ArrivalCounter(ArrivalCounter&& other) noexcept;
  ArrivalCounter& operator=(ArrivalCounter&&) = delete;
  ~ArrivalCounter();

  int Fd() const { return fd_; }
  std::int64_t Load() const { return word_->load(std::memory_order_acquire); }
  void Store(std::int64_t count) { word_->store(count, std::memory_order_release); }

 private:
  ArrivalCounter(int fd, bool owned);

  int fd_ = -1;
  bool owned_ = false;
  std::atomic<std::int64_t>* word_ = nullptr;
};

}  // namespace bench
