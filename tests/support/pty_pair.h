// A real pseudo-terminal standing in for a serial device in tests.
// The test holds the master side ("the far end of the cable"); the slave's
// path is what a COM port is mapped to, through KESTRELON_COM<n>, exactly as
// a user maps a real adapter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>
#include <vector>

class PtyPair {
public:
  PtyPair();   // opens a new pair; the test fails if it cannot
  ~PtyPair();  // closes the master, unmaps any port it mapped
  PtyPair(const PtyPair &) = delete;
  PtyPair &operator=(const PtyPair &) = delete;

  const std::string &slavePath() const { return slave_path_; }
  int masterFd() const { return master_; }

  // Maps COM<port+1> to this pair's slave (sets KESTRELON_COM<port+1>),
  // undoing this pair's earlier mapping of another port.
  void mapTo(int port);

  // Writes all bytes to the far end.
  void send(const std::vector<uint8_t> &bytes);
  void send(const std::string &text);

  // Reads from the far end until `count` bytes have come or `timeout_ms`
  // passed without a byte; returns what came.
  std::vector<uint8_t> receive(size_t count, int timeout_ms = 2000);

  // Reads whatever arrives within `quiet_ms` of silence.
  std::vector<uint8_t> drain(int quiet_ms = 100);

  // Closes the master: the device "goes away" for whoever holds the slave.
  void closeMaster();

  // The line settings the code under test gave the device (on Linux the
  // master reads its slave's settings); the test fails if they can't be read.
  termios deviceSettings() const;

private:
  int master_ = -1;
  std::string slave_path_;
  int mapped_port_ = -1;
};

// A fresh empty directory under /tmp, removed with its contents on
// destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Whole-file helpers for tests.
std::vector<uint8_t> readFileBytes(const std::string &path);
void writeFileBytes(const std::string &path, const std::vector<uint8_t> &bytes);
