// Shared helpers of the XMODEM driver tests and benchmark: peer processes
// (lrzsz, socat, the line simulator) and the driver loop the transfer window
// runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xytest {

// A child process. Its stdin and stdout can be a device (a pty end), its
// stderr goes to a file. Killed on destruction when still running.
class Process {
public:
  Process() = default;
  ~Process();
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;

  // Starts argv[0] (searched in PATH) in directory cwd.
  bool start(const std::vector<std::string> &argv, const std::string &cwd,
             const std::string &stdio = "", const std::string &stderrPath = "/dev/null",
             const std::string &stdoutPath = "");
  // Waits for the end; false when still running after timeoutMs.
  bool wait(int timeoutMs);
  int exitCode() const { return exit_code_; }  // -1 unless it exited normally
  bool running() const { return pid_ > 0; }
  void stop();  // SIGTERM, then SIGKILL after a second

private:
  int pid_ = -1;
  int exit_code_ = -1;
};

// Two linked pty ends, a and b, made by socat (relaying at once) or by the
// line simulator (a given rate and corruption).
class Line {
public:
  explicit Line(const std::string &dir);
  ~Line();
  bool startSocat();
  // End b is a program's stdin and stdout through pipes (no pty), run in
  // directory cwd with its stderr in log. For receivers that exit right after
  // their last ACK: on a pty they flush output the relay has not read yet.
  bool startSocatProgram(const std::string &command, const std::string &cwd,
                         const std::string &log);
  bool running() const { return relay_.running(); }
  // Waits for the relay to end (it ends with the program).
  bool wait(int timeoutMs) { return relay_.wait(timeoutMs); }
  bool startSim(const std::vector<std::string> &options);
  const std::string &a() const { return a_; }
  const std::string &b() const { return b_; }
  void stop();
  // After stop: bytes corrupted by the simulator in direction "ab" or "ba".
  uint64_t corrupted(const std::string &direction) const;

private:
  bool waitForLinks(bool both = true);
  std::string dir_, a_, b_, stats_;
  Process relay_;
};

// Runs the driver the way the transfer window does: one xyDriver call, then
// tickMs of sleep, until it returns 0 or deadlineMs pass (then it aborts).
struct DriveResult {
  bool ended = false;  // false: still running at the deadline
  int lastError = 0;   // parameter 0 when ended
  int calls = 0;
  double seconds = 0;
};
DriveResult driveToEnd(int port, int tickMs, int deadlineMs);

std::vector<uint8_t> randomBytes(size_t size, uint32_t seed);

// The received file equals the sent one, save 0x1A fill up to the next
// multiple of 128 (what non-batch XMODEM adds).
bool equalSaveFill(const std::vector<uint8_t> &sent, const std::vector<uint8_t> &received);

// Path of the line simulator tool.
std::string linesimPath();

}  // namespace xytest
