// CheckSum, Add Frame and the frame views in the real window: reports in
// message boxes, frames written back into the message field with its
// history, and frames sent on one port of a null-modem cable (a socat
// pseudo-terminal pair) shown on the other.
#include "hex/hex.h"
#include "hex/hex_pcap.h"
#include "pane/pane_view.h"
#include "resources/ids.h"
#include "shell/shell.h"
#include "support/dialog_reads.h"
#include "support/event_loop.h"
#include "support/window_fixture.h"
#include "xy_harness.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

using FrameWindow = WindowTest;

std::string header(int port, uint16_t stamp) {
  char text[32];
  std::snprintf(text, sizeof text, "\nRx%d %5d ", port + 1, int(stamp));
  return text;
}

std::string repeated(const char *piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += piece;
  return out;
}

TEST_F(FrameWindow, CheckSumReportsTheChosenKind) {
  start();
  dlg_user_type(window_, IDC_MESSAGE, "31 32 33 34 35 36 37 38 39");
  const char *reports[] = {"CRC 16 (ITU) = 6F91, != 906E", "CRC 32 = 340BC6D9, != CBF43926",
                           "Arithmetic Checksum = DD", "Modulo 2 XOR Checksum = 31"};
  for (int kind = HEX_CHECK_CRC16; kind <= HEX_CHECK_XOR; ++kind) {
    dlg_user_choose(window_, IDC_CHECK_KIND, kind);
    dlg_user_click(window_, IDC_CHECKSUM);
  }
  dlg_combo_set_sel(window_, IDC_CHECK_KIND, -1);  // typed text: no choice
  dlg_user_click(window_, IDC_CHECKSUM);
  ASSERT_EQ(boxes_.size(), 5u);
  for (int kind = HEX_CHECK_CRC16; kind <= HEX_CHECK_XOR; ++kind)
    EXPECT_EQ(boxes_[size_t(kind)].text, reports[kind]);
  EXPECT_EQ(boxes_[4].text, "No check kind selected");
  for (const RecordedBox &box : boxes_)
    EXPECT_EQ(box.caption, "Kestrelon");
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), "31 32 33 34 35 36 37 38 39");
}

TEST_F(FrameWindow, AddFrameWritesTheFrameBackAndRecordsIt) {
  start();
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_PPP);  // CRC16
  dlg_user_type(window_, IDC_MESSAGE, "ff 03 c0 21");
  dlg_user_click(window_, IDC_ADD_FRAME);
  const std::string frame = " 7E FF 7D 23 C0 21 49 2C 7E";
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), frame);
  // A second Add Frame frames the frame.
  dlg_user_click(window_, IDC_ADD_FRAME);
  const std::string twice = controlText(window_, IDC_MESSAGE);
  EXPECT_EQ(twice.substr(0, 12), " 7E 7D 5E FF");
  // None keeps the text; one entry for it whatever the letter case.
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_NONE);
  dlg_user_type(window_, IDC_MESSAGE, " 7e ff 7d 23 c0 21 49 2c 7e");
  dlg_user_click(window_, IDC_ADD_FRAME);
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), " 7e ff 7d 23 c0 21 49 2c 7e");
  EXPECT_EQ(listEntries(window_, IDC_MESSAGE),
            (std::vector<std::string>{"ff 03 c0 21", frame, twice}));
  // With ten entries the tenth makes room for the newest frame.
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_ICNI);  // XOR
  for (int i = 0; i < 7; ++i)
    dlg_combo_add(window_, IDC_MESSAGE, ("0" + std::to_string(i)).c_str());
  dlg_set_text(window_, IDC_MESSAGE, "01 00 11 22");
  dlg_user_click(window_, IDC_ADD_FRAME);
  const std::vector<std::string> history = listEntries(window_, IDC_MESSAGE);
  ASSERT_EQ(history.size(), 10u);
  EXPECT_EQ(history[8], "05");
  EXPECT_EQ(history[9], " EE 01 02 11 22 30");
  EXPECT_TRUE(boxes_.empty());
}

// The message field holds 25343 characters: a frame of 8447 bytes is the
// longest whose text fits.
TEST_F(FrameWindow, AFrameTooLongForTheFieldIsRefusedWhole) {
  start();
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_PPP);
  dlg_user_choose(window_, IDC_CHECK_KIND, HEX_CHECK_SUM);
  // 41 needs no escape, nor do the sums FC and 3D: flag, message, sum, flag.
  const std::string fits = repeated("41", 8444);
  dlg_set_text(window_, IDC_MESSAGE, fits.c_str());
  dlg_user_click(window_, IDC_ADD_FRAME);
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), " 7E" + repeated(" 41", 8444) + " FC 7E");
  EXPECT_TRUE(boxes_.empty());
  const std::vector<std::string> history = listEntries(window_, IDC_MESSAGE);

  const std::string too_long = repeated("41", 8445);
  dlg_set_text(window_, IDC_MESSAGE, too_long.c_str());
  dlg_user_click(window_, IDC_ADD_FRAME);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Frame too long");
  EXPECT_EQ(controlText(window_, IDC_MESSAGE), too_long);
  EXPECT_EQ(listEntries(window_, IDC_MESSAGE), history);
}

// COM1 and COM2 joined by a null-modem cable.
class FramesOnACable : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(cable_.startSocat());
    setenv("KESTRELON_COM1", cable_.a().c_str(), 1);
    setenv("KESTRELON_COM2", cable_.b().c_str(), 1);
  }

  // One pump run after `count` bytes have reached each listed port; the
  // pane shows only what the run adds.
  std::string pumpRun(const std::vector<std::pair<int, int>> &waiting) {
    for (auto [port, count] : waiting)
      EXPECT_TRUE(waitForQueue(port, count)) << "port " << port;
    pane()->model().clear();
    win_periodic(window_);
    return paneText();
  }

  void sendText(int side, const char *text) {
    dlg_user_click(window_, side == HEX_SIDE_A ? IDC_SEND_PORT_A : IDC_SEND_PORT_B);
    dlg_set_text(window_, IDC_MESSAGE, text);
    dlg_user_click(window_, IDC_SEND);
  }

  xytest::Line cable_{dir_.path()};
};

// The capture file `path`, chosen with the Wireshark button.
void startCapture(HWND window, const std::string &path) {
  dlg_set_file_dialog_hook([path](bool, std::string &chosen) {
    chosen = path;
    return true;
  });
  dlg_user_click(window, IDC_PCAP);
  EXPECT_EQ(hex_pcap_running(), 1);
  EXPECT_EQ(dlg_button_state(window, IDC_PCAP), BST_CHECKED);
}

// What a reader no one here wrote prints, or "exit <status>" when it fails
// (a damaged or cut file, no such reader).
std::string wireshark(const std::string &command) {
  std::string out;
  std::FILE *pipe = popen((command + " 2>/dev/null").c_str(), "r");
  char buffer[4096];
  for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  const int status = pipe ? pclose(pipe) : -1;
  return status == 0 ? out : out + "exit " + std::to_string(status);
}

struct CheckKind {
  int32_t kind;
  const char *wireshark;  // ppp.fcs_type
  const char *good, *bad;  // the check of FF 03 C0 21 and of FF 03 C1 21
};

class FrameVerdicts : public FramesOnACable, public ::testing::WithParamInterface<CheckKind> {};

// A good and a bad PPP frame each way: the pane ends each line with its
// verdict (a bad one in the alert colour), the status field counts them per
// side, and Wireshark, reading the capture file, finds the same checks good
// and bad, Port A's receptions as received and Port B's as sent.
TEST_P(FrameVerdicts, InThePaneTheStatusAndTheCaptureFile) {
  const CheckKind &kind = GetParam();
  start();
  const std::string path = dir_.file("frames.pcapng");
  startCapture(window_, path);
  dlg_user_choose(window_, IDC_FRAME_TYPE, HEX_FRAME_PPP);
  dlg_user_choose(window_, IDC_CHECK_KIND, kind.kind);
  dlg_user_click(window_, IDC_LOCAL_ECHO);  // off: the pane shows received lines only
  dlg_user_type(window_, IDC_MESSAGE, "FF 03 C0 21");
  dlg_user_click(window_, IDC_ADD_FRAME);
  const std::string good = controlText(window_, IDC_MESSAGE);
  std::string bad = good;
  bad[14] = '1';  // " 7E FF 7D 23 C0 ...": C1 with the check of C0
  const std::string verdict =
      std::string(" BAD, CRC-") + (kind.kind == HEX_CHECK_CRC16 ? "16" : "32") + " should be " + kind.bad;
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    sendText(side, good.c_str());
    sendText(side, bad.c_str());
    const std::string head = header(1 - side, hex_time_stamp);
    EXPECT_EQ(pumpRun({{1 - side, int(2 * good.size() / 3)}}),
              head + " 7E FF 03 C0 21 " + kind.good + " ok" + head + " 7E FF 03 C1 21 " +
                  kind.good + verdict);
  }
  const int64_t at = int64_t(paneText().find(verdict));
  EXPECT_EQ(pane()->model().colourAt(at + 1), HEX_ALERT_COLOUR);
  EXPECT_EQ(pane()->model().colourAt(at - 1), hex_port_colour(0, HEX_RECEIVED));
  EXPECT_EQ(controlText(window_, IDC_LINE_STATUS),
            "COM1: 1 frames ok, 1 BAD; COM2: 1 frames ok, 1 BAD");
  EXPECT_NE(tooltip(IDC_OPEN_B).find("1 frames ok, 1 BAD"), std::string::npos);

  dlg_user_click(window_, IDC_PCAP);
  EXPECT_EQ(hex_pcap_running(), 0);
  EXPECT_EQ(wireshark("tshark -r " + path + " -o ppp.fcs_type:" + kind.wireshark +
                      " -T fields -e frame.p2p_dir -e ppp.fcs.status -e frame.comment"),
            "0\t1\t\n0\t0\t" + verdict.substr(1) + "\n1\t1\t\n1\t0\t" + verdict.substr(1) + "\n");
  EXPECT_TRUE(boxes_.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, FrameVerdicts,
                         ::testing::Values(CheckKind{HEX_CHECK_CRC16, "16-bit", "49 2C", "91 35"},
                                           CheckKind{HEX_CHECK_CRC32, "32-bit", "A4 A0 94 7A",
                                                     "E5 91 8F 63"}));

TEST_F(FramesOnACable, AFrameBuiltAndSentOnOnePortShowsOnTheOther) {
  start();
  struct Row {
    int type;
    const char *message;
    const char *line;
  };
  const Row rows[] = {
      {HEX_FRAME_HDLC, "FF 03 C0 21 7E 7D", " 7E FF 03 C0 21 7E 7D E1 B7 ok"},
      {HEX_FRAME_PPP, "FF 03 C0 21", " 7E FF 03 C0 21 49 2C ok"},
      {HEX_FRAME_ICNI, "01 00 11 22", " EE 01 02 11 22 30 ok"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.message);
    dlg_user_choose(window_, IDC_FRAME_TYPE, row.type);
    for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
      const int receiver = side == HEX_SIDE_A ? 1 : 0;
      dlg_user_click(window_, side == HEX_SIDE_A ? IDC_SEND_PORT_A : IDC_SEND_PORT_B);
      dlg_user_type(window_, IDC_MESSAGE, row.message);
      dlg_user_click(window_, IDC_ADD_FRAME);
      const std::string frame = controlText(window_, IDC_MESSAGE);
      dlg_user_click(window_, IDC_SEND);
      const uint16_t stamp = hex_time_stamp;
      EXPECT_EQ(pumpRun({{receiver, int(frame.size() / 3)}}), header(receiver, stamp) + row.line);
    }
  }
}

// Both directions of one link at once, each frame in two pieces: the pieces
// of one port never join those of the other.
TEST_F(FramesOnACable, FramesOfBothDirectionsArriveInAlternatingPieces) {
  start();
  dlg_user_choose(window_, IDC_VIEW, HEX_VIEW_PPP);
  dlg_user_choose(window_, IDC_CHECK_KIND, HEX_CHECK_SUM);  // no check PPP verifies
  dlg_user_click(window_, IDC_LOCAL_ECHO);  // off: the pane shows received lines only
  sendText(HEX_SIDE_A, "7E 01 02 7D");
  sendText(HEX_SIDE_B, "7E 0A");
  EXPECT_EQ(pumpRun({{0, 2}, {1, 4}}), "");
  // Port A's end of its frame reaches COM2 before Port B's reaches COM1.
  const uint64_t read = hex_capture_read_total(HEX_SIDE_B);
  sendText(HEX_SIDE_A, "23 7E");
  ASSERT_TRUE(processEventsUntil([&] { return hex_capture_read_total(HEX_SIDE_B) == read + 2; }));
  sendText(HEX_SIDE_B, "0B 0C 7E");
  const uint16_t stamp = hex_time_stamp;
  EXPECT_EQ(pumpRun({{0, 3}, {1, 2}}),
            header(1, stamp) + " 7E 01 02 03" + header(0, stamp) + " 7E 0A 0B 0C");
}

}  // namespace

namespace {

enum class CaptureEnd { Button, Exit, Sigterm };

class CaptureFile : public FramesOnACable, public ::testing::WithParamInterface<CaptureEnd> {};

// The Hexadecimal view writes each read as raw serial bytes: read back,
// the packets hold the bytes of each port in the order they came, with the
// times they were read, however the capture ends.
TEST_P(CaptureFile, RawBytesReadBackInTheirOrder) {
  start();
  const std::string path = dir_.file("raw.pcapng");
  startCapture(window_, path);
  std::string expected;
  for (char run = '0'; run < '4'; ++run) {
    // What Port A sends has reached COM2 before Port B sends.
    const uint64_t read = hex_capture_read_total(HEX_SIDE_B);
    sendText(HEX_SIDE_A, (std::string("41 01 3") + run).c_str());
    ASSERT_TRUE(processEventsUntil([&] { return hex_capture_read_total(HEX_SIDE_B) == read + 3; }));
    sendText(HEX_SIDE_B, (std::string("42 00 3") + run).c_str());
    pumpRun({{0, 3}, {1, 3}});
    expected += "COM2 (" + cable_.b() + ")\t0x02\t41013" + run + "\n";
    expected += "COM1 (" + cable_.a() + ")\t0x02\t42003" + run + "\n";
  }
  if (GetParam() == CaptureEnd::Sigterm) {
    dlg_close_on_signals();
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(processEventsUntil([&] { return dlg_ended(window_, nullptr); }));
  } else {
    dlg_user_click(window_, GetParam() == CaptureEnd::Exit ? IDC_EXIT : IDC_PCAP);
  }
  EXPECT_EQ(hex_pcap_running(), 0);
  EXPECT_EQ(wireshark("tshark -r " + path +
                      " -T fields -e frame.interface_name -e rtacser.eventtype -e data.data"),
            expected);
  const std::string times = wireshark("capinfos -o -a -S -T -r " + path);  // order, first
  EXPECT_TRUE(times.ends_with("\tTrue\n")) << times;
  EXPECT_NEAR(std::stod(times.substr(times.find('\t') + 1)), double(std::time(nullptr)), 60.0);
  EXPECT_TRUE(boxes_.empty());
}

INSTANTIATE_TEST_SUITE_P(Ends, CaptureFile,
                         ::testing::Values(CaptureEnd::Button, CaptureEnd::Exit,
                                           CaptureEnd::Sigterm));

// An existing file stays as it is unless the user says to replace it. A
// file system that takes no more ends the capture with one message, and the
// file keeps its whole blocks, nothing cut.
TEST_F(FramesOnACable, AFullDiskEndsTheCaptureWithWholeBlocks) {
  start();
  const std::string path = dir_.file("full.pcapng");
  writeFileBytes(path, {'o', 'l', 'd'});
  answers_ = {1, 0};  // Cancel, then Replace
  dlg_set_file_dialog_hook([path](bool, std::string &chosen) { return chosen = path, true; });
  dlg_user_click(window_, IDC_PCAP);
  EXPECT_EQ(dlg_button_state(window_, IDC_PCAP), BST_UNCHECKED);
  EXPECT_EQ(readFileBytes(path).size(), 3u);
  startCapture(window_, path);
  boxes_.clear();  // the two questions
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
  rlimit limit = saved;
  limit.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  for (int run = 0; run < 6; ++run) {
    sendText(HEX_SIDE_A, repeated("61 ", 150).c_str());
    pumpRun({{1, 150}});
  }
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  std::signal(SIGXFSZ, SIG_DFL);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Capture File write error = 27");
  EXPECT_EQ(dlg_button_state(window_, IDC_PCAP), BST_UNCHECKED);
  EXPECT_LT(readFileBytes(path).size(), 1000u);
  const std::string packets = wireshark("tshark -r " + path + " -T fields -e data.len");
  EXPECT_EQ(packets.substr(0, 8), "150\n150\n") << packets;
  EXPECT_EQ(packets.find_first_not_of("150\n"), std::string::npos) << packets;  // nothing cut
}

}  // namespace
