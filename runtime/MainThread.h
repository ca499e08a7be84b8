// The hand-over of calls from worker threads to the main (GUI) thread.
//
// A worker queues a call and blocks (Synchronize) or just queues it (Post). The main thread
// runs queued calls, oldest first, from CheckSynchronize(). A GUI backend registers how its
// loop is woken when a call is queued (Win32: post WM_NULL; Qt: a queued invocation; headless:
// a condition variable) and calls CheckSynchronize when woken.
#pragma once

#include <exception>
#include <functional>

namespace rt {

// The thread that first touches the runtime (or calls this) is the main thread.
void MarkMainThread();
bool IsMainThread();

void SetMainThreadWakeup(std::function<void()> wake);

// Blocks until call has run on the main thread; rethrows what it raised. On the main thread
// itself the call runs at once.
void Synchronize(const std::function<void()>& call);
// Queues call for the main thread and returns at once. A posted call runs from the main
// loop's CheckSynchronize, never inside Thread::WaitFor: nobody is blocked on it, and it may do
// what must not happen inside a wait (show a message box, close a port).
void Post(std::function<void()> call);
// Runs every queued call, oldest first. Returns whether any ran. Main thread only.
bool CheckSynchronize();
// Runs the queued calls and delivers the messages sent to this thread's hidden windows until
// neither has anything left; returns whether anything ran. What a GUI loop runs when it is
// woken, when it is idle and inside ProcessMessages. Main thread only.
bool ServeHandOver();

// A failure that ended background work (an event watcher whose handler raised, or whose
// device went away). The report is posted to the main thread, so it never runs inside the
// dispatch that failed. The default handler writes the message to standard error; a GUI
// registers its error box.
void SetBackgroundErrorHandler(std::function<void(std::exception_ptr)> handler);
void ReportBackgroundError(std::exception_ptr error);

}  // namespace rt
