// The files of a transfer: only regular files are read or written, opening
// one never blocks, and a file is sent only when its size fits the signed
// 32-bit size a transfer announces. A refusal ends the transfer at once with
// -302, a message saying why, and nothing of the file on the wire.
#include "xy_port_fixture.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Bytes = std::vector<uint8_t>;

namespace {

// The far end of a FIFO, opened from a thread with a blocking open, as a
// program that reads or writes it would. Should the driver open the FIFO
// too, the two opens meet and return, so a driver that blocks on it fails
// its test instead of hanging it. On destruction the thread is released.
class FifoPeer {
public:
  FifoPeer(const std::string &path, int flags)
      : path_(path), flags_(flags), thread_([this] {
          int fd = open(path_.c_str(), flags_);
          opened_ = true;
          if (fd >= 0)
            close(fd);
        }) {}
  ~FifoPeer() {
    const int other = (flags_ & O_ACCMODE) == O_RDONLY ? O_WRONLY : O_RDONLY;
    std::vector<int> fds;
    while (!opened_) {
      int fd = open(path_.c_str(), other | O_NONBLOCK);
      if (fd >= 0)
        fds.push_back(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
    for (int fd : fds)
      close(fd);
  }

private:
  std::string path_;
  int flags_;
  std::atomic<bool> opened_{false};
  std::thread thread_;
};

}  // namespace

class XyFiles : public SteppedPort {
protected:
  // The transfer has ended in its first step with -302 in `state`, leaving
  // a message with `reason` and nothing of any file on the wire.
  void expectRefused(int state, const std::string &reason) {
    EXPECT_EQ(param(XY_PARAM_LAST_ERROR), XY_CANNOT_OPEN);
    EXPECT_EQ(param(XY_PARAM_ERROR_STATE), state);
    auto texts = messages();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("!COM1: " + reason, 0), 0u) << texts[0];
    EXPECT_EQ(texts[1], "!COM1: ERROR -302 (Cannot open file) @ State=0");
    EXPECT_EQ(wire(3), (Bytes{CAN, CAN, CAN}));
    EXPECT_TRUE(wireRest().empty());
  }
};

TEST_F(XyFiles, OnlyARegularFileIsSent) {
  const std::string fifo = dir_.file("fifo"), folder = dir_.file("folder");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  struct Case {
    std::string name;
    std::string reason;
  } cases[] = {
      {fifo, "Not a regular file"},  // a FIFO with no writer yet
      {folder, "Not a regular file"},
      {"/dev/null", "Not a regular file"},
      {dir_.file("absent"), strerror(ENOENT)},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    FifoPeer writer(fifo, O_WRONLY);
    ASSERT_EQ(xyStartTx(kPort, c.name.c_str(), 0, 0), 1);
    EXPECT_EQ(xyDriver(kPort), 0);
    expectRefused(XY_TX_OPEN_FILE, c.reason);
  }
}

TEST_F(XyFiles, OnlyARegularFileIsReceivedInto) {
  const std::string fifo = dir_.file("fifo"), folder = dir_.file("folder");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  for (const std::string &name : {fifo, folder, std::string("/dev/null")}) {
    SCOPED_TRACE(name);
    FifoPeer reader(fifo, O_RDONLY);
    ASSERT_EQ(xyStartRx(kPort, name.c_str(), 'C', 0), 1);
    EXPECT_EQ(xyDriver(kPort), 0);
    expectRefused(XY_RX_CREATE_FILE, "Not a regular file");
  }
}

// The size a transfer announces is signed 32-bit: a larger file is refused
// whole rather than sent in part under a wrong size.
TEST_F(XyFiles, FileLargerThanASignedSizeIsRefusedWhole) {
  struct Case {
    int64_t size;
    bool sent;
  } cases[] = {
      {INT32_MAX, true},
      {int64_t(INT32_MAX) + 1, false},
      {(int64_t(1) << 32) + 100, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.size);
    const std::string path = dir_.file("sparse.bin");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, c.size), 0) << strerror(errno);
    close(fd);
    ASSERT_EQ(xyStartTx(kPort, path.c_str(), 1, 1), 1);
    if (c.sent) {
      EXPECT_EQ(xyDriver(kPort), 1);
      EXPECT_EQ(param(XY_PARAM_STATE), XY_TX_AWAIT_START);
      EXPECT_EQ(param(XY_PARAM_FILE_SIZE), INT32_MAX);
      xyAbort(kPort);
      EXPECT_EQ(wireRest(), (Bytes{CAN, CAN, CAN}));
    } else {
      EXPECT_EQ(xyDriver(kPort), 0);
      expectRefused(XY_TX_OPEN_FILE, "File larger than 2147483647 bytes");
    }
    unlink(path.c_str());
  }
}
