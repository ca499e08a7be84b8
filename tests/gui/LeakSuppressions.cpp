// Fontconfig keeps a few caches for the life of the process, which the leak checker of the
// sanitizer builds reports at exit; they are not ours to free. The sanitizer runtime calls this
// hook when it is linked in; otherwise nothing does.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
