// The executable itself: the ways out by signal, and starting without a
// display.
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

struct ChildRun {
  pid_t pid = -1;
  int stderrFd = -1;
};

// Starts kestrelon in `cwd` with the current environment changed by `set`
// (an empty value removes the variable).
ChildRun startKestrelon(const std::string &cwd, const std::map<std::string, std::string> &set) {
  std::map<std::string, std::string> env;
  for (char **e = environ; *e; ++e) {
    const std::string entry = *e;
    const size_t eq = entry.find('=');
    if (eq != std::string::npos)
      env[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto &[name, value] : set) {
    if (value.empty())
      env.erase(name);
    else
      env[name] = value;
  }
  std::vector<std::string> flat;
  for (const auto &[name, value] : env)
    flat.push_back(name + "=" + value);
  std::vector<char *> envp;
  for (std::string &s : flat)
    envp.push_back(s.data());
  envp.push_back(nullptr);

  int errPipe[2];
  EXPECT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
  ChildRun run;
  run.pid = fork();
  if (run.pid == 0) {
    dup2(errPipe[1], 2);
    if (chdir(cwd.c_str()) != 0)
      _exit(126);
    char *argv[] = {const_cast<char *>(KESTRELON_EXE), nullptr};
    execve(KESTRELON_EXE, argv, envp.data());
    _exit(127);
  }
  close(errPipe[1]);
  run.stderrFd = errPipe[0];
  return run;
}

// Waits for the process; -1 when it did not end in time (it is then killed).
int waitExit(ChildRun &run, int timeoutMs, bool *signalled = nullptr) {
  QElapsedTimer clock;
  clock.start();
  int status = 0;
  while (waitpid(run.pid, &status, WNOHANG) == 0) {
    if (clock.elapsed() > timeoutMs) {
      kill(run.pid, SIGKILL);
      waitpid(run.pid, &status, 0);
      return -1;
    }
    QThread::msleep(10);
  }
  if (signalled)
    *signalled = WIFSIGNALED(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readAll(int fd) {
  std::string out;
  char buffer[1024];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    out.append(buffer, size_t(n));
  close(fd);
  return out;
}

// True once another process holds the device (kestrelon opens it
// exclusively and locks it).
bool deviceHeld(const std::string &path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return errno == EBUSY;
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held;
}

class EndSignalTest : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(EndSignalTest, EndsAsExitDoesSavingTheHistory) {
  TempDir dir;
  PtyPair com1;
  PtyPair com2;
  ChildRun run = startKestrelon(dir.path(), {{"QT_QPA_PLATFORM", "offscreen"},
                                             {"KESTRELON_COM1", com1.slavePath()},
                                             {"KESTRELON_COM2", com2.slavePath()}});
  QElapsedTimer clock;
  clock.start();
  while (!deviceHeld(com2.slavePath()) && clock.elapsed() < 15000)
    QThread::msleep(20);
  ASSERT_TRUE(deviceHeld(com2.slavePath())) << readAll(run.stderrFd);
  ASSERT_EQ(kill(run.pid, GetParam()), 0);
  bool signalled = true;
  EXPECT_EQ(waitExit(run, 15000, &signalled), 0);
  EXPECT_FALSE(signalled);
  std::vector<uint8_t> tenEmpty;
  for (int i = 0; i < 10; ++i) {
    tenEmpty.push_back('\r');
    tenEmpty.push_back('\n');
  }
  EXPECT_EQ(readFileBytes(dir.file("kestrelon.cfg")), tenEmpty);
  EXPECT_FALSE(deviceHeld(com1.slavePath()));
  readAll(run.stderrFd);
}

INSTANTIATE_TEST_SUITE_P(Signals, EndSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int> &param) {
                           return std::string(param.param == SIGTERM  ? "SIGTERM"
                                              : param.param == SIGINT ? "SIGINT"
                                                                      : "SIGHUP");
                         });

TEST(KestrelonProcess, WithoutADisplaySaysSoAndExits) {
  TempDir dir;
  ChildRun run = startKestrelon(
      dir.path(), {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  bool signalled = true;
  EXPECT_EQ(waitExit(run, 10000, &signalled), 1);
  EXPECT_FALSE(signalled);
  const std::string err = readAll(run.stderrFd);
  EXPECT_NE(err.find("cannot open a window"), std::string::npos) << err;
  EXPECT_NE(err.find("DISPLAY"), std::string::npos) << err;
}

TEST(KestrelonProcess, WithAnUnreachableDisplaySaysSoAndExits) {
  TempDir dir;
  ChildRun run = startKestrelon(
      dir.path(), {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", ""}});
  bool signalled = true;
  EXPECT_EQ(waitExit(run, 10000, &signalled), 1);
  EXPECT_FALSE(signalled);
  const std::string err = readAll(run.stderrFd);
  EXPECT_NE(err.find("cannot open a window"), std::string::npos) << err;
}
