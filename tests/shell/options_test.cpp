// The command line's grammar, as a table of argument lists and what each
// asks for; and run.sh, which must find the devices where the program does.
#include "shell/options.h"

#include "dlg/dlg_window.h"
#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "support/dialog_reads.h"
#include "support/window_fixture.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <vector>

extern char **environ;

namespace {

using Args = std::vector<std::string>;

WinParsed parse(const Args &args) {
  std::vector<const char *> argv{"kestrelon"};
  for (const std::string &a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return win_parse_options(int(argv.size() - 1), argv.data());
}

std::string shown(const Args &args) {
  std::string line = "kestrelon";
  for (const std::string &a : args)
    line += " '" + a + "'";
  return line;
}

// Options with a few fields set, for the table.
struct Set {
  WinStartOptions o;
  Set &port(int side, int entry) { return o.port[side] = entry, *this; }
  Set &device(int side, const char *path) { return o.device[side] = path, *this; }
  Set &speed(int entry) { return o.speed = entry, *this; }
  Set &rate(const char *typed) { return o.rate = typed, *this; }
  Set &data(int entry) { return o.data_bits = entry, *this; }
  Set &parity(int entry) { return o.parity = entry, *this; }
  Set &stop(int entry) { return o.stop_bits = entry, *this; }
  Set &flow(int entry) { return o.flow = entry, *this; }
  Set &view(int entry) { return o.view = entry, *this; }
  Set &log(const char *path) { return o.log = path, *this; }
  Set &append() { return o.append = true, *this; }
  Set &names() { return o.port_names = true, *this; }
  Set &pcap(const char *path) { return o.pcap = path, *this; }
  Set &lines(int dtr, int rts, unsigned pulse, unsigned brk) {
    o.dtr = dtr, o.rts = rts, o.pulse_ms = pulse, o.break_ms = brk;
    return *this;
  }
};

struct RunCase {
  Args args;
  Set expected;
};

// Command lines that start the monitor, and what each chooses.
const std::vector<RunCase> &runCases() {
  static const std::vector<RunCase> cases{
      {{}, Set()},
      {{"/dev/ttyUSB0"}, Set().device(0, "/dev/ttyUSB0")},
      {{"/dev/ttyUSB0", "/dev/ttyUSB1", "-s", "115200", "--view", "ppp", "--log", "bench.htm"},
       Set().device(0, "/dev/ttyUSB0").device(1, "/dev/ttyUSB1").speed(9).view(4).log(
           "bench.htm")},
      // Options and devices in any order; "--" ends the options.
      {{"a", "-s", "300", "b"}, Set().device(0, "a").device(1, "b").speed(1)},
      {{"-s", "9600", "--", "-odd-name"}, Set().speed(5).device(0, "-odd-name")},
      {{"-"}, Set().device(0, "-")},
      // Comm Port entries, any letter case; two devices on two entries.
      {{"-a", "COM3", "-b", "com16"}, Set().port(0, 2).port(1, 15)},
      {{"--port-a=COM5", "x"}, Set().port(0, 4).device(0, "x")},
      {{"--port-b", "Com3", "x", "y"}, Set().port(1, 2).device(0, "x").device(1, "y")},
      // One device may share its entry with the other side: that side's open
      // then fails in the window, as choosing it there does.
      {{"-a", "COM2", "x"}, Set().port(0, 1).device(0, "x")},
      // Values attached, separate, and long names shortened.
      {{"-s115200"}, Set().speed(9)},
      {{"--speed=110"}, Set().speed(0)},
      {{"-s", "230400"}, Set().rate("230400")},  // any other number: a typed rate
      {{"--sp", "300"}, Set().speed(1)},
      {{"--data-bits", "5"}, Set().data(0)},
      {{"--data=7"}, Set().data(2)},
      {{"--parity", "EVEN"}, Set().parity(2)},
      {{"--parity=space"}, Set().parity(4)},
      {{"--stop-bits", "2"}, Set().stop(1)},
      {{"--stop-bits=1"}, Set().stop(0)},
      {{"--flow", "rts"}, Set().flow(0)},
      {{"--flow", "XON"}, Set().flow(1)},
      {{"--flow=none"}, Set().flow(2)},
      {{"--view", "hex"}, Set().view(0)},
      {{"--view", "Hexadecimal"}, Set().view(0)},
      {{"--view", "ascii"}, Set().view(1)},
      {{"--vi=ANSI"}, Set().view(2)},
      {{"--view", "hdlc"}, Set().view(3)},
      {{"--view", "icni"}, Set().view(5)},
      {{"--view", "terminal"}, Set().view(6)},
      {{"--log", "-"}, Set().log("-")},
      {{"--app", "--log", "x.htm", "--port-names"}, Set().log("x.htm").append().names()},
      {{"--pcap", "s.pcapng", "--log=s.htm"}, Set().pcap("s.pcapng").log("s.htm")},
      {{"--dtr", "off", "--rts=ON", "--pulse-ms", "50", "--break-ms=1000"},
       Set().lines(0, 1, 50, 1000)},
      // The later of two choices counts.
      {{"-s", "300", "--speed", "9600", "-a", "COM4", "-a", "COM5"},
       Set().speed(5).port(0, 4)},
  };
  return cases;
}

TEST(CommandLine, ChoicesOfEachArgumentList) {
  for (const RunCase &c : runCases()) {
    const WinParsed parsed = parse(c.args);
    EXPECT_EQ(parsed.command, WinCommand::Run) << shown(c.args) << ": " << parsed.error;
    EXPECT_TRUE(parsed.options == c.expected.o) << shown(c.args);
  }
}

TEST(CommandLine, HelpAndVersionActWhereTheyStand) {
  const std::vector<std::pair<Args, WinCommand>> cases{
      {{"-h"}, WinCommand::Help},
      {{"--help"}, WinCommand::Help},
      {{"--he"}, WinCommand::Help},
      {{"-V"}, WinCommand::Version},
      {{"--version"}, WinCommand::Version},
      {{"--vers"}, WinCommand::Version},
      {{"-hV"}, WinCommand::Help},
      {{"-Vh"}, WinCommand::Version},
      {{"-hx"}, WinCommand::Help},
      // Whatever follows is not read; a fault before them is.
      {{"-s", "9600", "--help", "--bogus", "a", "b", "c"}, WinCommand::Help},
      {{"--version", "-s", "42"}, WinCommand::Version},
      {{"--bogus", "--help"}, WinCommand::Error},
      {{"-s", "4k", "--version"}, WinCommand::Error},
  };
  for (const auto &[args, command] : cases)
    EXPECT_EQ(parse(args).command, command) << shown(args);
}

TEST(CommandLine, EachFaultIsOneLineSayingWhatIsWrong) {
  const std::vector<std::pair<Args, std::string>> cases{
      {{"--bogus"}, "unrecognized option '--bogus'"},
      {{"--bogus=1"}, "unrecognized option '--bogus=1'"},
      {{"-x"}, "invalid option -- 'x'"},
      {{"-sx"}, "invalid speed 'x' for '--speed'"},
      {{"--s", "9600"}, "option '--s' is ambiguous; possibilities: '--speed' '--stop-bits'"},
      {{"--v"}, "option '--v' is ambiguous"},
      {{"--port", "COM1"}, "option '--port' is ambiguous"},
      {{"--speed"}, "option '--speed' requires an argument"},
      {{"--log"}, "option '--log' requires an argument"},
      {{"-s"}, "option requires an argument -- 's'"},
      {{"x", "-a"}, "option requires an argument -- 'a'"},
      {{"--help=now"}, "option '--help' doesn't allow an argument"},
      {{"--speed=12k"},
       "invalid speed '12k' for '--speed' (choose 110, 300, 1200, 2400, 4800, 9600, 19200, "
       "38400, 57600 or 115200)"},
      {{"--view", "\x1B]0;owned\x07"}, "invalid view '\\x1B]0;owned\\x07'"},
      {{"x", "y", "\xC2\x9B" "caf\xC3\xA9\\\xFF"}, "devices: '\\xC2\\x9Bcaf\xC3\xA9\\\\\\xFF'"},
      {{"-s", "9600 "}, "invalid speed '9600 '"},
      {{"--speed="}, "invalid speed ''"},
      {{"--data-bits", "9"}, "invalid number of data bits '9' for '--data-bits' (choose 5, 6, 7 or 8)"},
      {{"--parity", "n"}, "invalid parity 'n' for '--parity' (choose none, odd, even, mark or space)"},
      {{"--stop-bits", "1.5"}, "invalid number of stop bits '1.5' for '--stop-bits' (choose 1 or 2)"},
      {{"--flow", "cts"}, "invalid flow control 'cts' for '--flow' (choose rts, xon or none)"},
      {{"--view", "text"},
       "invalid view 'text' for '--view' (choose hex, ascii, ansi, hdlc, ppp, icni or terminal)"},
      {{"--port-a", "COM0"}, "invalid Comm Port entry 'COM0' for '--port-a' (choose COM1 to COM16)"},
      {{"-b", "17"}, "invalid Comm Port entry '17' for '--port-b'"},
      {{"-a", "COM17"}, "invalid Comm Port entry 'COM17' for '--port-a'"},
      {{"--log="}, "empty file name for '--log'"},
      {{"--append"}, "'--append' goes with '--log'"},
      {{"--pcap="}, "empty file name for '--pcap'"},
      {{"--dtr", "low"}, "invalid level 'low' for '--dtr' (choose off or on)"},
      {{"--pulse-ms", "0"}, "invalid time '0' for '--pulse-ms' (milliseconds from 1 to 10000)"},
      {{"--break-ms=-5"}, "invalid time '-5' for '--break-ms'"},
      {{"a", "b", "c"}, "too many devices: 'c' (at most DEVICE_A and DEVICE_B)"},
      {{"a", "-s", "300", "b", "--", "c", "d"}, "too many devices: 'c'"},
      {{""}, "empty device name"},
      {{"x", ""}, "empty device name"},
      {{"x", "y", "-a", "COM2"}, "DEVICE_A and DEVICE_B would both be COM2"},
      {{"-b", "com1", "x", "y"}, "DEVICE_A and DEVICE_B would both be COM1"},
  };
  for (const auto &[args, message] : cases) {
    const WinParsed parsed = parse(args);
    EXPECT_EQ(parsed.command, WinCommand::Error) << shown(args);
    EXPECT_EQ(parsed.error.rfind("kestrelon: ", 0), 0u) << parsed.error;
    EXPECT_NE(parsed.error.find(message), std::string::npos)
        << shown(args) << "\n  gave: " << parsed.error;
    for (char c : parsed.error)  // one line, no control byte
      EXPECT_FALSE(uint8_t(c) < 0x20 || c == 0x7F) << parsed.error;
  }
}

// --- The choices in the window -------------------------------------------------------

// The window started as main() starts it after reading the command line.
class CommandLineWindow : public WindowTest {
protected:
  void startWith(const Args &args) {
    const WinParsed parsed = parse(args);
    ASSERT_EQ(parsed.command, WinCommand::Run) << parsed.error;
    win_set_start_options(parsed.options);
    start();
  }
  void TearDown() override {
    WindowTest::TearDown();
    win_set_start_options(WinStartOptions{});  // the next window starts without arguments
  }
  std::string itemTooltip(int list, int entry) const {
    auto *combo = qobject_cast<QComboBox *>(window_->control(list));
    return combo ? combo->itemData(entry, Qt::ToolTipRole).toString().toStdString() : "";
  }
};

TEST_F(CommandLineWindow, DevicesOnTheirSidesEntriesAndTheViewAsChosen) {
  PtyPair a;
  PtyPair b;
  // The fixture maps COM3 and COM5 to devices that are not there: the
  // command line's devices take their place.
  startWith({"-a", "COM3", "-b", "COM5", "--view", "ansi", a.slavePath(), b.slavePath()});
  EXPECT_EQ(controlText(window_, IDC_PORT_A), "COM3");
  EXPECT_EQ(controlText(window_, IDC_PORT_B), "COM5");
  EXPECT_EQ(tooltip(IDC_OPEN_A), "COM3 is open on " + a.slavePath());
  EXPECT_EQ(tooltip(IDC_OPEN_B), "COM5 is open on " + b.slavePath());
  EXPECT_EQ(itemTooltip(IDC_PORT_A, 2), a.slavePath());
  EXPECT_EQ(itemTooltip(IDC_PORT_B, 4), b.slavePath());
  EXPECT_TRUE(SioRxQue(0) == SIO_NOT_OPEN && SioRxQue(1) == SIO_NOT_OPEN) << "COM1, COM2 opened";
  // The ANSI view as its list's choice: echo off, messages sent as text.
  EXPECT_EQ(controlText(window_, IDC_VIEW), "ANSI");
  EXPECT_EQ(dlg_button_state(window_, IDC_LOCAL_ECHO), BST_UNCHECKED);
  EXPECT_EQ(hex_local_echo, 0);
  // Port A is the send port: a message goes out on its entry's device.
  dlg_user_type(window_, IDC_MESSAGE, "AB");
  dlg_user_click(window_, IDC_SEND);
  EXPECT_EQ(a.receive(4), (std::vector<uint8_t>{'A', 'B', '\r', '\n'}));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(CommandLineWindow, LineSettingsReachBothSidesAndWaitOnOneThatDidNotOpen) {
  const std::string missing = dir_.file("no-such-adapter");
  startWith({"-s", "19200", "--parity", "even", "--stop-bits", "2", "--flow", "rts",
             "--data-bits", "7", com1_.slavePath(), missing});
  // Port B is reported as any port that does not open, and only so.
  EXPECT_EQ(dlg_button_state(window_, IDC_OPEN_B), BST_INDETERMINATE);
  EXPECT_NE(tooltip(IDC_OPEN_B).find(missing + ") did not open: No such file"), std::string::npos)
      << tooltip(IDC_OPEN_B);
  EXPECT_TRUE(boxes_.empty()) << boxes_.front().text;
  // Port B, closed, holds the choices; Port A shows what its device keeps:
  // a pseudo-terminal refuses 7 data bits and parity. Port B's device gets
  // them once a port opens there, and refuses the same.
  const int lists[2][5] = {{IDC_SPEED_A, IDC_DATA_A, IDC_PARITY_A, IDC_STOP_A, IDC_FLOW_A},
                           {IDC_SPEED_B, IDC_DATA_B, IDC_PARITY_B, IDC_STOP_B, IDC_FLOW_B}};
  const char *const chosen[5] = {"19200", "7", "EVEN", "2", "RTS"};
  const char *const kept[5] = {"19200", "8", "NONE", "2", "RTS"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(controlText(window_, lists[HEX_SIDE_A][i]), kept[i]);
    EXPECT_EQ(controlText(window_, lists[HEX_SIDE_B][i]), chosen[i]);
  }
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM1 refused EVEN parity");
  PtyPair later;
  later.mapTo(3);
  dlg_user_choose(window_, IDC_PORT_B, 3);
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM4 refused 7 data bits, EVEN parity");
  for (const auto &[pty, side] : {std::pair{&com1_, 0}, std::pair{&later, 1}}) {
    const termios device = pty->deviceSettings();
    EXPECT_EQ(cfgetospeed(&device), speed_t(B19200));
    EXPECT_EQ(device.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8 | CSTOPB | CRTSCTS));
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(controlText(window_, lists[side][i]), kept[i]);
  }
  EXPECT_TRUE(boxes_.empty());
}

// A rate that is no Speed list entry is taken, or refused, as typed there.
TEST_F(CommandLineWindow, ASpeedOutsideTheListIsTakenAsTyped) {
  startWith({"-s", "230400"});
  EXPECT_EQ(controlText(window_, IDC_SPEED_A) + controlText(window_, IDC_SPEED_B), "230400230400");
  EXPECT_EQ(cfgetospeed(&static_cast<const termios &>(com2_.deviceSettings())), speed_t(B230400));
  finish();
  startWith({"-s", "7"});
  EXPECT_EQ(controlText(window_, IDC_XFER_STATUS), "COM2 refused 7 bit/s");
}

// An existing log is written on at its end with --append, without a question.
TEST_F(CommandLineWindow, LogAsIfLogWereChosenAndTheFilePicked) {
  int dialogs = 0;
  dlg_set_file_dialog_hook([&dialogs](bool, std::string &) { return ++dialogs, false; });
  const std::string path = dir_.file("start.htm");
  writeFileBytes(path, {'o', 'l', 'd'});
  startWith({"--log", path, "--append"});
  EXPECT_EQ(hex_log, 1);
  EXPECT_EQ(dlg_button_state(window_, IDC_LOG), BST_CHECKED);
  EXPECT_EQ(controlText(window_, IDC_FILE_NAME), path);
  EXPECT_EQ(dialogs, 0) << "a file dialog was shown";
  EXPECT_EQ(readFileBytes(path).size(), 3 + sizeof HEX_LOG_HEADER - 1);
  EXPECT_TRUE(boxes_.empty());
}

// run.sh's reading of the same command lines: a device given, or not.
bool runScriptSeesADevice(const Args &args) {
  const std::string script = std::string(KESTRELON_SOURCE_DIR) + "/scripts/devices_given.sh";
  std::vector<std::string> words{"bash", "-c", ". \"$0\" && kestrelon_devices_given \"$@\"",
                                 script};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &w : words)
    argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawnp(&pid, "bash", nullptr, nullptr, argv.data(), environ), 0);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_LE(WEXITSTATUS(status), 1) << shown(args);
  return WEXITSTATUS(status) == 0;
}

TEST(CommandLine, RunScriptFindsDevicesWhereTheProgramDoes) {
  std::vector<Args> lines;
  for (const RunCase &c : runCases())
    lines.push_back(c.args);
  // Forms a user types that the table above does not hold.
  lines.push_back({"-s", "9600", "-a", "COM3", "--log=x.htm"});
  lines.push_back({"--log", "x.htm", "--view", "ansi"});
  lines.push_back({"--"});
  lines.push_back({"--", "x"});
  lines.push_back({"--speed", "9600", "x"});
  lines.push_back({"-b", "COM4", "--parity=odd", "--flow", "xon", "/dev/ttyS0"});
  for (const Args &args : lines) {
    const WinParsed parsed = parse(args);
    ASSERT_EQ(parsed.command, WinCommand::Run) << shown(args);
    EXPECT_EQ(runScriptSeesADevice(args), !parsed.options.device[0].empty()) << shown(args);
  }
}

}  // namespace
