// Runtime-internal glue between the hand-over queue, the thread wait and each platform.
//
// The hand-over queue is the same on every platform; what differs is how a thread waits for
// another while still serving the calls and sent messages that may be what the other thread
// is blocked on. Not part of the public API.
#pragma once

#include "runtime/Event.h"

namespace rt::detail {

// Auto-reset event signalled whenever a call is queued for the main thread, so that a wait on
// the main thread wakes up to run it.
EventHandle HandOverSignal();

// Runs the queued calls whose workers are blocked waiting for them (Synchronize), oldest
// first, and leaves posted ones queued. Main thread only.
//
// A wait for a thread runs only these: a blocked worker is what a wait may depend on, while a
// posted call (an error report with its message box, a deferred close) is the main loop's
// business and could re-enter what is waiting. The loop still learns of posted calls through
// its wake-up and runs them with CheckSynchronize.
bool RunBlockedCalls();

// Blocks until done is signalled. Meanwhile runs the calls of blocked workers (main thread
// only) and delivers messages sent to hidden windows owned by the calling thread; nothing
// else, posted calls included.
void WaitServingHandOver(EventHandle done);

}  // namespace rt::detail
