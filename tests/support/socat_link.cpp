#include "support/socat_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

bool exists(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

SocatLink::SocatLink(const std::string &directory, const std::string &name)
    : near_(directory + "/" + name + ".near"), far_(directory + "/" + name + ".far") {}

SocatLink::~SocatLink() { unplug(); }

bool SocatLink::plug() {
  if (plugged())
    return true;
  const std::string nearArg = "PTY,link=" + near_ + ",raw,echo=0";
  const std::string farArg = "PTY,link=" + far_ + ",raw,echo=0";
  char *argv[] = {const_cast<char *>("socat"), const_cast<char *>(nearArg.c_str()),
                  const_cast<char *>(farArg.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "socat", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!exists(near_) || !exists(far_)) {
    if (std::chrono::steady_clock::now() > deadline) {
      unplug();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // Held open: socat ends when the last holder of a pseudo-terminal's far
  // end lets go.
  far_fd_ = open(far_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  return far_fd_ >= 0;
}

void SocatLink::unplug() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
  if (far_fd_ >= 0)
    close(far_fd_);
  far_fd_ = -1;
}

bool SocatLink::send(const std::string &text) {
  size_t done = 0;
  while (far_fd_ >= 0 && done < text.size()) {
    const ssize_t n = write(far_fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += size_t(n);
  }
  return done == text.size();
}

std::string SocatLink::receive(size_t count, int waitMs) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (far_fd_ >= 0 && out.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{far_fd_, POLLIN, 0};
    if (left.count() < 0 || poll(&ready, 1, int(left.count())) <= 0)
      break;
    char block[4096];
    const ssize_t n = read(far_fd_, block, std::min(sizeof block, count - out.size()));
    if (n <= 0)
      break;
    out.append(block, size_t(n));
  }
  return out;
}

int openDescriptorCount() {
  DIR *dir = opendir("/proc/self/fd");
  if (!dir)
    return -1;
  int count = 0;
  while (dirent *entry = readdir(dir))
    count += entry->d_name[0] != '.' ? 1 : 0;
  closedir(dir);
  return count - 1;  // the directory's own descriptor
}
