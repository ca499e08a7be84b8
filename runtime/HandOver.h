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

// Blocks until done is signalled. Meanwhile runs the queued calls (main thread only) and
// delivers messages sent to hidden windows owned by the calling thread; nothing else.
void WaitServingHandOver(EventHandle done);

}  // namespace rt::detail
