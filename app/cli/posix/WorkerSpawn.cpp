#include "app/cli/posix/WorkerSpawn.h"

#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/cli/CliOptions.h"
#include "app/cli/LineRun.h"

extern char** environ;

namespace cli {

std::string WorkerProgram(const std::string& procSelfExe) {
  if (::access(procSelfExe.c_str(), X_OK) == 0) return procSelfExe;
  const char* started = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  if (started != nullptr && ::access(started, X_OK) == 0) return started;
  return {};
}

bool StartedByLineParent() {
  const char* parent = std::getenv(kWorkerEnvironment);
  return parent != nullptr && std::to_string(::getppid()) == parent;
}

pid_t StartWorker(const std::string& program, const std::vector<std::string>& args,
                  const sigset_t& mask, int recordFd, WorkerPipes& pipes) {
  // Everything the child needs is made before fork(): after it the child may only call what is
  // safe in a child of a threaded process, up to exec.
  std::vector<std::string> argStore = args;
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string mark = std::string(kWorkerEnvironment) + "=" + std::to_string(::getpid());
  std::vector<char*> envp;
  const std::string prefix = std::string(kWorkerEnvironment) + "=";
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) envp.push_back(*e);
  }
  envp.push_back(const_cast<char*>(mark.c_str()));
  envp.push_back(nullptr);
  const std::string failed = "zanowipe-cli: cannot start the worker program " + program + "\n";
  sigset_t childMask = mask;
  sigaddset(&childMask, SIGTERM);

  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return -1;
  if (::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return -1;
  }
  const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (nothing >= 0) ::dup2(nothing, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    if (recordFd >= 0) {
      if (recordFd == kWorkerRecordDescriptor) {
        ::fcntl(recordFd, F_SETFD, 0);
      } else {
        ::dup2(recordFd, kWorkerRecordDescriptor);
      }
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, nullptr);
    ::sigaction(SIGHUP, &ignore, nullptr);
    ::sigprocmask(SIG_SETMASK, &childMask, nullptr);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The parent may have gone before the request above: then nobody is left to ask for.
    if (::getppid() != parent) ::_exit(kExitInterrupted);
    ::execve(program.c_str(), argv.data(), envp.data());
    [[maybe_unused]] const ssize_t said = ::write(STDERR_FILENO, failed.data(), failed.size());
    ::_exit(127);
  }
  const int saved = errno;
  ::close(out[1]);
  ::close(err[1]);
  if (nothing >= 0) ::close(nothing);
  if (pid < 0) {
    ::close(out[0]);
    ::close(err[0]);
    errno = saved;
    return -1;
  }
  pipes.events = out[0];
  pipes.messages = err[0];
  return pid;
}

}  // namespace cli
