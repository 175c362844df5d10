// The executable itself: the ways out by signal, starting without a
// display, and the command line.
#include "hex/hex.h"
#include "shell/options.h"
#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

namespace {

using Args = std::vector<std::string>;

// A started kestrelon: its id and the reading ends of its stderr and stdout.
struct ChildRun {
  pid_t pid = -1;
  int stderrFd = -1;
  int stdoutFd = -1;
  ChildRun() = default;
  ChildRun(ChildRun &&other) noexcept
      : pid(other.pid), stderrFd(std::exchange(other.stderrFd, -1)),
        stdoutFd(std::exchange(other.stdoutFd, -1)) {}
  ~ChildRun() {
    for (int fd : {stderrFd, stdoutFd})
      if (fd >= 0)
        close(fd);
  }
};

// Starts kestrelon with `args` in `cwd` with the current environment changed
// by `set` (an empty value removes the variable).
ChildRun startKestrelon(const std::string &cwd, const std::map<std::string, std::string> &set,
                        const Args &args = {}) {
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

  std::vector<char *> argv{const_cast<char *>(KESTRELON_EXE)};
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);

  int errPipe[2];
  int outPipe[2];
  EXPECT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(outPipe, O_CLOEXEC), 0);
  ChildRun run;
  run.pid = fork();
  if (run.pid == 0) {
    dup2(errPipe[1], 2);
    dup2(outPipe[1], 1);
    if (chdir(cwd.c_str()) != 0)
      _exit(126);
    execve(KESTRELON_EXE, argv.data(), envp.data());
    _exit(127);
  }
  close(errPipe[1]);
  close(outPipe[1]);
  run.stderrFd = errPipe[0];
  run.stdoutFd = outPipe[0];
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

std::string readAll(int &fd) {
  std::string out;
  char buffer[1024];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    out.append(buffer, size_t(n));
  close(fd);
  fd = -1;
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

// --- The command line -----------------------------------------------------------------

namespace {

const std::map<std::string, std::string> kNoDisplay{
    {"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};

// Counts the opens of a file by anyone, from now on.
class OpenWatch {
public:
  explicit OpenWatch(const std::string &path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(fd_, 0);
    EXPECT_GE(inotify_add_watch(fd_, path.c_str(), IN_OPEN), 0) << path;
  }
  ~OpenWatch() { close(fd_); }
  int opens() {
    alignas(inotify_event) char buffer[4096];
    ssize_t n;
    while ((n = read(fd_, buffer, sizeof buffer)) > 0)
      for (ssize_t at = 0; at < n;) {
        const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
        opens_ += (event->mask & IN_OPEN) ? 1 : 0;
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
    return opens_;
  }

private:
  int fd_;
  int opens_ = 0;
};

std::vector<std::string> entriesOf(const std::string &dir) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  return names;
}

std::string parseError(const Args &args) {
  std::vector<const char *> argv{"kestrelon"};
  for (const std::string &a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return win_parse_options(int(argv.size() - 1), argv.data()).error;
}

// The texts of the records in one colour, joined: a port's traffic in one
// direction, however the pump's runs cut it.
std::string recordsIn(const std::string &log, uint32_t rgb) {
  char open[32];
  std::snprintf(open, sizeof open, "<font color=\"#%06X\">", rgb);
  const std::string close = "</font>";
  std::string text;
  for (size_t at = log.find(open); at != std::string::npos; at = log.find(open, at)) {
    at += std::strlen(open);
    const size_t end = log.find(close, at);
    if (end == std::string::npos)
      break;
    text += log.substr(at, end - at);
  }
  return text;
}

std::string fileText(const std::string &path) {
  const std::vector<uint8_t> bytes = readFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(KestrelonCommandLine, HelpAndVersionNeedNoDisplay) {
  TempDir dir;
  const std::vector<std::pair<Args, std::string>> cases{
      {{"--help"}, win_usage()},
      {{"-h", "--bogus"}, win_usage()},
      {{"--version"}, win_version()},
      {{"-V"}, win_version()},
  };
  for (const auto &[args, expected] : cases) {
    ChildRun run = startKestrelon(dir.path(), kNoDisplay, args);
    EXPECT_EQ(waitExit(run, 10000), 0) << args[0];
    EXPECT_EQ(readAll(run.stdoutFd), expected) << args[0];
    EXPECT_EQ(readAll(run.stderrFd), "") << args[0];
  }
  EXPECT_EQ(win_usage().rfind("Usage: kestrelon [OPTION]... [DEVICE_A [DEVICE_B]]\n", 0), 0u);
  EXPECT_EQ(win_version().rfind("kestrelon 4.", 0), 0u) << win_version();
  EXPECT_TRUE(entriesOf(dir.path()).empty());
}

// Without a display a window could not even start (status 1), so status 2
// shows that none was tried; a device given stays unopened and no file,
// the log's or the history's, is made.
TEST(KestrelonCommandLine, AWrongCommandLineOpensAndWritesNothing) {
  TempDir dir;
  TempDir logDir;
  PtyPair pty;
  const std::string log = logDir.file("bench.htm");
  const std::string device = pty.slavePath();
  const std::vector<Args> lines{
      {"--log", log, "--bogus", device},
      {"--log", log, "-x", device},
      {"--log", log, "-s", "12k", device},
      {"--log", log, "--parity", "nine", device},
      {"--log", log, device, "second", "third"},
      {"--log", log, device, "--view"},
      {"--log", log, "-a", "COM2", device, "second"},
  };
  OpenWatch watch(device);
  for (const Args &args : lines) {
    ChildRun run = startKestrelon(dir.path(), kNoDisplay, args);
    EXPECT_EQ(waitExit(run, 10000), WIN_EXIT_USAGE) << args[2];
    const std::string error = parseError(args);
    ASSERT_FALSE(error.empty()) << args[2];
    EXPECT_EQ(readAll(run.stderrFd), error + "\n" + WIN_TRY_HELP + "\n");
    EXPECT_EQ(readAll(run.stdoutFd), "");
  }
  EXPECT_EQ(watch.opens(), 0) << "the device was opened";
  EXPECT_TRUE(entriesOf(dir.path()).empty());
  EXPECT_TRUE(entriesOf(logDir.path()).empty());
}

// The devices on the chosen entries (over the environment's mapping), the
// speed on both devices, the view and the log: what arrives on each port is
// logged as text in its port's colour.
TEST(KestrelonCommandLine, StartsWatchingAndLoggingTheDevicesGiven) {
  TempDir dir;
  PtyPair a;
  PtyPair b;
  PtyPair mappedBefore;
  OpenWatch watchB(b.slavePath());
  OpenWatch watchMapped(mappedBefore.slavePath());
  const std::string log = dir.file("bench.htm");
  ChildRun run = startKestrelon(dir.path(),
                                {{"QT_QPA_PLATFORM", "offscreen"},
                                 {"KESTRELON_COM1", dir.file("none")},
                                 {"KESTRELON_COM2", dir.file("none")},
                                 {"KESTRELON_COM3", mappedBefore.slavePath()}},
                                {"-a", "COM3", "-b", "COM5", "-s", "115200", "--view", "ascii",
                                 "--log", log, a.slavePath(), b.slavePath()});
  QElapsedTimer clock;
  clock.start();
  // Held as soon as opened; the speed follows a moment later.
  auto speedOf = [](const PtyPair &pty) {
    termios tio = pty.deviceSettings();
    return cfgetospeed(&tio);
  };
  while ((!deviceHeld(a.slavePath()) || speedOf(b) != speed_t(B115200)) &&
         clock.elapsed() < 15000)
    QThread::msleep(20);
  ASSERT_TRUE(deviceHeld(a.slavePath())) << readAll(run.stderrFd);
  for (const PtyPair *pty : {&a, &b}) {
    termios tio = pty->deviceSettings();
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B115200));
  }
  a.send("from A");
  b.send("from B");
  const uint32_t fromA = hex_port_rgb(2, HEX_RECEIVED);  // COM3
  const uint32_t fromB = hex_port_rgb(4, HEX_RECEIVED);  // COM5
  clock.restart();
  while ((recordsIn(fileText(log), fromA) != "from A" ||
          recordsIn(fileText(log), fromB) != "from B") &&
         clock.elapsed() < 10000)
    QThread::msleep(20);
  ASSERT_EQ(kill(run.pid, SIGTERM), 0);
  EXPECT_EQ(waitExit(run, 15000), 0);

  const std::string text = fileText(log);
  EXPECT_EQ(text.rfind(HEX_LOG_HEADER, 0), 0u) << text;
  EXPECT_EQ(recordsIn(text, fromA), "from A") << text;
  EXPECT_EQ(recordsIn(text, fromB), "from B") << text;
  const std::string trailer = HEX_LOG_TRAILER;
  ASSERT_GE(text.size(), trailer.size());
  EXPECT_EQ(text.substr(text.size() - trailer.size()), trailer);
  // The program's own opens are seen; the device COM3 was mapped to before
  // has none.
  EXPECT_GT(watchB.opens(), 0);
  EXPECT_EQ(watchMapped.opens(), 0);
  EXPECT_EQ(readAll(run.stderrFd).find("rror"), std::string::npos);
}
