// A worker thread object in the shape the event watcher needs: created suspended, a terminate
// flag that the body may read, a wait for its end, and the exception that ended the body,
// held and not rethrown.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <memory>

namespace rt {

class Thread {
 public:
  Thread();           // suspended: the body starts at Resume()
  virtual ~Thread();  // Terminate, WaitFor, release. Derived classes must call
                      // TerminateAndWait() in their own destructor first (the body is virtual).
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Raises std::system_error when the system cannot start the thread; nothing is started then.
  void Resume();
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Blocks until the body has ended. On the main thread it keeps running handed-over calls
  // and delivering messages sent to hidden windows while it waits, and nothing else.
  void WaitFor();
  bool Finished() const;
  std::exception_ptr FatalException() const { return fatal_; }

  // From the body: runs call on the main thread and blocks until it has run there. An
  // exception from call is caught on the main thread and rethrown here.
  void Synchronize(const std::function<void()>& call);

 protected:
  virtual void Execute() = 0;
  void TerminateAndWait();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::atomic<bool> terminated_{false};
  std::exception_ptr fatal_;
  friend struct ThreadAccess;
};

}  // namespace rt
