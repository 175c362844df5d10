// The command line: kestrelon [OPTION]... [DEVICE_A [DEVICE_B]].
//
// Every option is a choice a user could make in the window at start-up: the
// Comm Port entry each side starts on and the device it names, the line
// settings of both sides (only the lists' own entries), the view, a log
// file and the macros file. Parsing is a pure function of the arguments;
// the choices then reach the monitor through the same handlers as the
// controls', so the lists, the records and the devices agree.
#pragma once

#include "dlg/dlg.h"

#include <string>

// What the command line asks the program to do.
enum class WinCommand {
  Run,      // start the window with the options
  Help,     // print win_usage() to stdout, exit 0
  Version,  // print win_version() to stdout, exit 0
  Error,    // print the error and WIN_TRY_HELP to stderr, exit 2
};

constexpr int WIN_EXIT_USAGE = 2;  // exit status of a wrong command line
constexpr const char *WIN_TRY_HELP = "Try 'kestrelon --help' for more information.";

// The choices of a command line. An entry is an index into its list (the
// name tables' order); -1, or an empty text, leaves the start-up as it is
// without arguments.
struct WinStartOptions {
  int port[2] = {-1, -1};  // Comm Port entry of Port A, Port B (0 = COM1)
  std::string device[2];   // the device that side's entry names
  int speed = -1;          // Speed list, both sides
  std::string rate;        // else a rate in bit/s (digits), typed into both Speed lists
  int data_bits = -1;      // Data bits list, both sides
  int parity = -1;         // Parity list, both sides
  int stop_bits = -1;      // Stop bits list, both sides
  int flow = -1;           // Flow list, both sides
  int view = -1;           // View list
  std::string log;         // log file
  bool append = false;     // the log is written on at its end, not replaced
  std::string pcap;        // capture file for Wireshark
  std::string macros;      // macros and triggers file (empty: the default)
  int dtr = -1;            // DTR at every open of both sides: 0 down, 1 up
  int rts = -1;            // RTS the same way
  unsigned pulse_ms = 0;   // a DTR or RTS pulse; 0 the default
  unsigned break_ms = 0;   // a break sent; 0 the default
  bool port_names = false; // lines of another port headed by its name (Ports)
  bool operator==(const WinStartOptions &) const = default;
};

struct WinParsed {
  WinCommand command = WinCommand::Run;
  WinStartOptions options;  // for Run
  std::string error;        // for Error: one line, "kestrelon: " and what is wrong (bytes
                            // that do not print escaped, as \x1B)
};

// Reads argv[1..argc-1] the GNU way (getopt_long: options and devices in any
// order, "--opt=value", "--opt value", "-s115200", "-s 115200", unambiguous
// abbreviations of long options, "--" ends the options; a later option
// overrides an earlier one). --help and --version act where they stand; a
// fault before them is reported instead.
WinParsed win_parse_options(int argc, const char *const argv[]);

// The text of --help and of --version, each ending in a line feed.
std::string win_usage();
std::string win_version();

// The Comm Port entry a side starts on with these options.
int win_start_port(const WinStartOptions &options, int side);

// Before the window is made: keeps the options for win_apply_start_options,
// points each side's start entry at its device (as KESTRELON_COM<n> does, so
// the entries' tooltips show it) and has hex_init open those entries.
// Options without devices or entries put back the start-up without
// arguments.
void win_set_start_options(const WinStartOptions &options);

// After hex_init: chooses the kept line settings in both sides' lists, then
// the view, each through its list's handler as a user's choice, and starts
// the log. A side whose port did not open keeps its settings without an
// error report: its greyed indicator says why.
void win_apply_start_options(HWND window);
