#include "support/pty_pair.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
  int slave = -1;
  char name[256] = {};
  if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed: " << strerror(errno);
    return;
  }
  // The far end must pass bytes through untouched.
  termios tio{};
  tcgetattr(master_, &tio);
  cfmakeraw(&tio);
  tcsetattr(master_, TCSANOW, &tio);
  slave_path_ = name;
  // Only the code under test holds the slave, as with a real device.
  close(slave);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  if (mapped_port_ >= 0)
    unsetenv(("KESTRELON_COM" + std::to_string(mapped_port_ + 1)).c_str());
  closeMaster();
}

void PtyPair::mapTo(int port) {
  if (mapped_port_ >= 0 && mapped_port_ != port)
    unsetenv(("KESTRELON_COM" + std::to_string(mapped_port_ + 1)).c_str());
  // Without a pair the port must still never reach a real device: an empty
  // mapping would fall back to the default table (/dev/ttyS0 and so on).
  const std::string path = slave_path_.empty() ? "/nonexistent/kestrelon-no-pty" : slave_path_;
  setenv(("KESTRELON_COM" + std::to_string(port + 1)).c_str(), path.c_str(), 1);
  mapped_port_ = port;
}

void PtyPair::send(const std::vector<uint8_t> &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      ADD_FAILURE() << "write to pty master failed: " << strerror(errno);
      return;
    }
    pollfd p{master_, POLLOUT, 0};
    poll(&p, 1, 100);
  }
}

void PtyPair::send(const std::string &text) {
  send(std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> PtyPair::receive(size_t count, int timeout_ms) {
  std::vector<uint8_t> got;
  while (got.size() < count) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0 || !(p.revents & POLLIN))
      break;
    uint8_t buf[4096];
    ssize_t n = read(master_, buf, std::min(sizeof buf, count - got.size()));
    if (n <= 0)
      break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

std::vector<uint8_t> PtyPair::drain(int quiet_ms) { return receive(SIZE_MAX, quiet_ms); }

termios PtyPair::deviceSettings() const {
  termios tio{};
  EXPECT_EQ(tcgetattr(master_, &tio), 0) << strerror(errno);
  return tio;
}

void PtyPair::closeMaster() {
  if (master_ >= 0)
    close(master_);
  master_ = -1;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/kestrelon-test-XXXXXX";
  if (!mkdtemp(tmpl))
    ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> readFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFileBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}
