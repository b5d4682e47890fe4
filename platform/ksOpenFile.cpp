#include "ksOpenFile.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <thread>

extern char** environ;

namespace ksplatform {

bool OpenWithDesktop(const std::string& path) {
  std::error_code ec;
  std::string absolute = std::filesystem::absolute(path, ec).string();
  if (ec) absolute = path;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // Our signal handlers (removing a half-written output) and any blocked signals are not
  // the opener's; its own session keeps it alive when our terminal closes.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);

  char program[] = "xdg-open";
  char* argv[] = {program, absolute.data(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program, &actions, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;

  // Reaped by a thread of its own, so the caller goes on at once and no zombie is left
  // behind in a long-running window.
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the process is reaped when we end.
  }
  return true;
}

}  // namespace ksplatform
