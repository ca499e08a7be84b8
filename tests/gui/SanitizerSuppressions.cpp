// What the sanitizer builds report inside Qt itself, which is not built with them. The sanitizer
// runtimes call these hooks when they are linked in; otherwise nothing does.

// Fontconfig keeps a few caches for the life of the process; the leak checker reports them.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\n";
}

// A call queued from a worker thread reaches the main thread through Qt's own event-queue
// lock, which the race checker cannot see in an uninstrumented Qt: it then takes the queued
// call's hand-over for a race.
extern "C" const char* __tsan_default_suppressions() {
  return "race:QtPrivate::FunctorCall\n";
}
