/* Test-only LD_PRELOAD library: lets Wine wait for comm events on a pseudo-terminal.
 *
 * Wine 8 waits for WaitCommEvent by polling TIOCMGET (modem lines) and TIOCGICOUNT (error
 * counters). A pty slave has neither and fails both with ENOTTY, and Wine then completes the
 * wait at once with ERROR_OPERATION_ABORTED. Here exactly those two requests, on a pty slave,
 * when the real call fails with ENOTTY, succeed instead: no modem line is on and no error was
 * ever counted, which is what a pty truthfully has. Every other call is passed through.
 *
 * The 32-bit Wine's ntdll is built with a 64-bit time_t and so calls __ioctl_time64, not
 * ioctl: both are defined. Built once per word size and loaded with
 * LD_PRELOAD='.../$LIB/libzwptyshim.so', so each Wine process gets its own copy. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Unix98 pty slaves have majors 136..143 (/dev/pts). */
static int is_pty_slave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int stand_in(int fd, unsigned long request, void* arg, int result) {
  if (result != -1 || errno != ENOTTY || arg == NULL || !is_pty_slave(fd)) return result;
  if (request == TIOCMGET) {
    *(int*)arg = 0;
    return 0;
  }
  if (request == TIOCGICOUNT) {
    memset(arg, 0, sizeof(struct serial_icounter_struct));
    return 0;
  }
  return result;
}

static int forward(const char* name, int fd, unsigned long request, void* arg) {
  ioctl_fn real = (ioctl_fn)dlsym(RTLD_NEXT, name);
  if (real == NULL) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  int result = real(fd, request, arg);
  int saved = errno;
  int replaced = stand_in(fd, request, arg, result);
  if (replaced == result) errno = saved;
  return replaced;
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  return forward("ioctl", fd, request, arg);
}

int __ioctl_time64(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  return forward("__ioctl_time64", fd, request, arg);
}
