/* The Linux end of a Windows serial test under Wine: a pseudo-terminal whose other end is
 * the test's COM port.
 *
 *   pty_peer --link PATH --idle TARGET -- COMMAND [ARGS...]
 *
 * Creates a pty, puts its slave side in raw mode, points the symlink PATH (the one the
 * prefix maps a COM port to) at the slave, runs COMMAND, and echoes back every byte the
 * command writes to the port, so the Windows side can check both directions on its own.
 * When COMMAND ends, PATH is pointed back at TARGET (a path that does not exist) and the
 * peer exits with COMMAND's status. The slave stays open here for the whole run, so the
 * Windows side's open and close never hang the line up.
 *
 * The wineserver is a session leader without a terminal, and it opens the port without
 * O_NOCTTY: it would take the pty as its controlling terminal and get SIGHUP when the pty
 * goes away. So a small holder process makes the pty its own controlling terminal first,
 * and the hang-up at the end reaches only the holder. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

static volatile sig_atomic_t child_pid;

static void forward_signal(int sig) {
  if (child_pid > 0) kill(child_pid, sig);
}

static int point_link(const char* link, const char* target) {
  char tmp[4096];
  snprintf(tmp, sizeof tmp, "%s.tmp%d", link, (int)getpid());
  unlink(tmp);
  if (symlink(target, tmp) != 0) return -1;
  return rename(tmp, link); /* atomic: the link never goes missing */
}

static int write_all(int fd, const char* p, ssize_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, (size_t)n);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return -1;
    }
    p += w;
    n -= w;
  }
  return 0;
}

int main(int argc, char** argv) {
  const char* link = NULL;
  const char* idle = NULL;
  int i = 1;
  for (; i < argc; ++i) {
    if (strcmp(argv[i], "--link") == 0 && i + 1 < argc) {
      link = argv[++i];
    } else if (strcmp(argv[i], "--idle") == 0 && i + 1 < argc) {
      idle = argv[++i];
    } else if (strcmp(argv[i], "--") == 0) {
      ++i;
      break;
    } else {
      break;
    }
  }
  if (link == NULL || idle == NULL || i >= argc) {
    fprintf(stderr, "usage: %s --link PATH --idle TARGET -- COMMAND [ARGS...]\n", argv[0]);
    return 2;
  }

  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    perror("pty_peer: posix_openpt");
    return 2;
  }
  const char* slave_name = ptsname(master);
  int slave = slave_name ? open(slave_name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  struct termios raw;
  if (slave < 0 || tcgetattr(slave, &raw) != 0) {
    perror("pty_peer: slave");
    return 2;
  }
  /* Raw from the start: a line discipline echo would bounce our own echo back for ever. */
  cfmakeraw(&raw);
  tcsetattr(slave, TCSANOW, &raw);
  if (point_link(link, slave_name) != 0) {
    perror("pty_peer: symlink");
    return 2;
  }

  pid_t holder = fork();
  if (holder == 0) {
    close(master);
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    for (;;) pause(); /* until the hang-up, or the kill below */
  }

  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = forward_signal;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);
  sigaction(SIGHUP, &sa, NULL);

  pid_t pid = fork();
  if (pid < 0) {
    perror("pty_peer: fork");
    point_link(link, idle);
    return 2;
  }
  if (pid == 0) {
    execvp(argv[i], &argv[i]);
    perror("pty_peer: exec");
    _exit(127);
  }
  child_pid = pid;

  int status = 0;
  for (;;) {
    struct pollfd pfd = {master, POLLIN, 0};
    /* The timeout only bounds how late the child's end is noticed. */
    int ready = poll(&pfd, 1, 100);
    if (ready > 0 && (pfd.revents & POLLIN)) {
      char buf[4096];
      ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) write_all(master, buf, n);
    }
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
  }
  point_link(link, idle);
  close(slave);
  close(master);
  if (holder > 0) {
    kill(holder, SIGKILL);
    waitpid(holder, NULL, 0);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}
