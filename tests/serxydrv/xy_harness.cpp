#include "xy_harness.h"

#include "serxydrv/serxydrv.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef XY_LINESIM_PATH
#error "XY_LINESIM_PATH must name the line simulator"
#endif

namespace xytest {

// --- Process --------------------------------------------------------------

Process::~Process() { stop(); }

bool Process::start(const std::vector<std::string> &argv, const std::string &cwd,
                    const std::string &stdio, const std::string &stderrPath,
                    const std::string &stdoutPath) {
  pid_t pid = fork();
  if (pid < 0)
    return false;
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0)
      _exit(126);
    if (!stdio.empty()) {
      int fd = open(stdio.c_str(), O_RDWR | O_NOCTTY);
      if (fd < 0)
        _exit(126);
      dup2(fd, 0);
      dup2(fd, 1);
      if (fd > 2)
        close(fd);
    }
    if (!stdoutPath.empty()) {
      int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0)
        dup2(out, 1);
    }
    int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0)
      dup2(err, 2);
    std::vector<char *> args;
    for (const auto &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  pid_ = pid;
  exit_code_ = -1;
  return true;
}

bool Process::wait(int timeoutMs) {
  if (pid_ <= 0)
    return true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Process::stop() {
  if (pid_ <= 0)
    return;
  kill(pid_, SIGTERM);
  if (!wait(1000)) {
    kill(pid_, SIGKILL);
    wait(5000);
  }
}

// --- Line -------------------------------------------------------------------

Line::Line(const std::string &dir)
    : dir_(dir), a_(dir + "/line-a"), b_(dir + "/line-b"), stats_(dir + "/line-stats") {}

Line::~Line() { stop(); }

bool Line::waitForLinks(bool both) {
  for (int i = 0; i < 400; ++i) {
    struct stat st {};
    if (stat(a_.c_str(), &st) == 0 && (!both || stat(b_.c_str(), &st) == 0))
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

bool Line::startSocat() {
  if (!relay_.start({"socat", "pty,raw,echo=0,link=" + a_, "pty,raw,echo=0,link=" + b_}, dir_))
    return false;
  return waitForLinks();
}

bool Line::startSocatProgram(const std::string &command, const std::string &cwd,
                             const std::string &log) {
  if (!relay_.start({"socat", "pty,raw,echo=0,link=" + a_, "EXEC:" + command + ",pipes"}, cwd, "",
                    log))
    return false;
  return waitForLinks(false);
}

bool Line::startSim(const std::vector<std::string> &options) {
  std::vector<std::string> argv{linesimPath(), "--a", a_, "--b", b_, "--stats", stats_};
  argv.insert(argv.end(), options.begin(), options.end());
  if (!relay_.start(argv, dir_, "", "/dev/null", "/dev/null"))
    return false;
  return waitForLinks();
}

void Line::stop() { relay_.stop(); }

uint64_t Line::corrupted(const std::string &direction) const {
  std::ifstream in(stats_);
  std::string dir;
  uint64_t bytes = 0, bad = 0;
  while (in >> dir >> bytes >> bad)
    if (dir == direction)
      return bad;
  return 0;
}

// --- Driver loop ------------------------------------------------------------

DriveResult driveToEnd(int port, int tickMs, int deadlineMs) {
  DriveResult result;
  auto start = std::chrono::steady_clock::now();
  auto deadline = start + std::chrono::milliseconds(deadlineMs);
  for (;;) {
    ++result.calls;
    if (xyDriver(port) == 0) {
      result.ended = true;
      result.lastError = xyGetParameter(port, XY_PARAM_LAST_ERROR);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      xyAbort(port);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(tickMs));
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (auto &b : bytes)
    b = uint8_t(random());
  return bytes;
}

bool equalSaveFill(const std::vector<uint8_t> &sent, const std::vector<uint8_t> &received) {
  size_t padded = (sent.size() + 127) / 128 * 128;
  if (received.size() != sent.size() && received.size() != padded)
    return false;
  for (size_t i = 0; i < received.size(); ++i)
    if (received[i] != (i < sent.size() ? sent[i] : 0x1A))
      return false;
  return true;
}

std::string linesimPath() { return XY_LINESIM_PATH; }

}  // namespace xytest
