// The console control handler that InterruptWatch registers, reachable for its tests: Ctrl-C
// and Ctrl-Break interrupt; the console closed (or a log-off, a shutdown) interrupts and waits
// for the watch to end before the system ends the process. True when the event was taken.
#pragma once

namespace cli {

bool TakeConsoleEvent(unsigned long type);

}  // namespace cli
