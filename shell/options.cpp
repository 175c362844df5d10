// The command line: parsing it, and handing its choices to the monitor.
#include "shell/options.h"

#include "hex/hex_auto.h"
#include "hex/hex_help.h"
#include "hex/hex_init.h"
#include "hex/hex_lines.h"
#include "hex/hex_log.h"
#include "hex/hex_msgbox.h"
#include "hex/hex_settings.h"
#include "hex/hex_side.h"
#include "hex/hex_pcap.h"
#include "hex/hex_settings.h"
#include "hex/hex_views.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "shell/shell.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <getopt.h>
#include <string>
#include <strings.h>
#include <vector>

namespace {

// getopt's values of the options without a short form.
enum : int {
  OPT_DATA_BITS = 256,
  OPT_PARITY,
  OPT_STOP_BITS,
  OPT_FLOW,
  OPT_VIEW,
  OPT_LOG,
  OPT_APPEND,
  OPT_PCAP,
  OPT_MACROS,
  OPT_DTR,
  OPT_RTS,
  OPT_PULSE_MS,
  OPT_BREAK_MS,
  OPT_PORT_NAMES,
};

const option kLongOptions[] = {
    {"port-a", required_argument, nullptr, 'a'},
    {"port-b", required_argument, nullptr, 'b'},
    {"speed", required_argument, nullptr, 's'},
    {"data-bits", required_argument, nullptr, OPT_DATA_BITS},
    {"parity", required_argument, nullptr, OPT_PARITY},
    {"stop-bits", required_argument, nullptr, OPT_STOP_BITS},
    {"flow", required_argument, nullptr, OPT_FLOW},
    {"view", required_argument, nullptr, OPT_VIEW},
    {"log", required_argument, nullptr, OPT_LOG},
    {"append", no_argument, nullptr, OPT_APPEND},
    {"pcap", required_argument, nullptr, OPT_PCAP},
    {"macros", required_argument, nullptr, OPT_MACROS},
    {"dtr", required_argument, nullptr, OPT_DTR},
    {"rts", required_argument, nullptr, OPT_RTS},
    {"pulse-ms", required_argument, nullptr, OPT_PULSE_MS},
    {"break-ms", required_argument, nullptr, OPT_BREAK_MS},
    {"port-names", no_argument, nullptr, OPT_PORT_NAMES},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
// The leading ':' has a missing value reported apart from an unknown option.
constexpr char kShortOptions[] = ":a:b:s:hV";

constexpr unsigned long kLineMsMost = HEX_LINE_MS_MOST;  // the longest pulse or break

// The short name of the Hexadecimal view on the command line.
constexpr char kHexViewWord[] = "hex";

const char *long_name(int value) {
  for (const option &o : kLongOptions)
    if (o.name && o.val == value)
      return o.name;
  return "?";
}

// Index of the entry equal to `value` (letter case ignored), or -1.
template <size_t N, size_t W>
int find_entry(const char (&table)[N][W], const char *value) {
  for (size_t i = 0; i < N; ++i)
    if (strcasecmp(table[i], value) == 0)
      return int(i);
  return -1;
}

std::string lower(const char *text) {
  std::string out = text;
  for (char &c : out)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// "a, b, c or d".
std::string either(const std::vector<std::string> &words) {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0)
      out += i + 1 == words.size() ? " or " : ", ";
    out += words[i];
  }
  return out;
}

template <size_t N, size_t W>
std::string entry_words(const char (&table)[N][W]) {
  std::vector<std::string> words;
  for (size_t i = 0; i < N; ++i)
    words.push_back(lower(table[i]));
  return either(words);
}

// A modem line's level, as the entries of a list.
constexpr char kLevels[2][4] = {"off", "on"};

int find_port(const char *v) { return find_entry(hex_portnames, v); }
int find_speed(const char *v) { return find_entry(hex_baudcode, v); }
int find_data_bits(const char *v) { return find_entry(hex_data, v); }
int find_parity(const char *v) { return find_entry(hex_parity, v); }
int find_stop_bits(const char *v) { return find_entry(hex_stop, v); }
int find_flow(const char *v) { return find_entry(hex_flow, v); }
int find_level(const char *v) { return find_entry(kLevels, v); }
int find_view(const char *v) {
  return strcasecmp(v, kHexViewWord) == 0 ? int(HEX_VIEW_HEXADECIMAL) : find_entry(hex_view, v);
}

std::string port_words() {
  return std::string(hex_portnames[0]) + " to " + hex_portnames[HEX_PORTS - 1];
}
std::string speed_words() { return entry_words(hex_baudcode); }
std::string data_bits_words() { return entry_words(hex_data); }
std::string parity_words() { return entry_words(hex_parity); }
std::string stop_bits_words() { return entry_words(hex_stop); }
std::string flow_words() { return entry_words(hex_flow); }
std::string level_words() { return entry_words(kLevels); }
std::string view_words() {
  std::string words = entry_words(hex_view);
  return kHexViewWord + words.substr(words.find(','));
}

// An option whose value is an entry of a list.
struct ListOption {
  int value;         // getopt's value
  const char *what;  // what its value is, for messages
  int (*find)(const char *text);
  std::string (*words)();
  int *(*field)(WinStartOptions &options);
};

const ListOption kListOptions[] = {
    {'a', "Comm Port entry", find_port, port_words,
     [](WinStartOptions &o) { return &o.port[HEX_SIDE_A]; }},
    {'b', "Comm Port entry", find_port, port_words,
     [](WinStartOptions &o) { return &o.port[HEX_SIDE_B]; }},
    {'s', "speed", find_speed, speed_words, [](WinStartOptions &o) { return &o.speed; }},
    {OPT_DATA_BITS, "number of data bits", find_data_bits, data_bits_words,
     [](WinStartOptions &o) { return &o.data_bits; }},
    {OPT_PARITY, "parity", find_parity, parity_words,
     [](WinStartOptions &o) { return &o.parity; }},
    {OPT_STOP_BITS, "number of stop bits", find_stop_bits, stop_bits_words,
     [](WinStartOptions &o) { return &o.stop_bits; }},
    {OPT_FLOW, "flow control", find_flow, flow_words, [](WinStartOptions &o) { return &o.flow; }},
    {OPT_VIEW, "view", find_view, view_words, [](WinStartOptions &o) { return &o.view; }},
    {OPT_DTR, "level", find_level, level_words, [](WinStartOptions &o) { return &o.dtr; }},
    {OPT_RTS, "level", find_level, level_words, [](WinStartOptions &o) { return &o.rts; }},
};

const ListOption *list_option(int value) {
  for (const ListOption &o : kListOptions)
    if (o.value == value)
      return &o;
  return nullptr;
}

// The user's bytes as a terminal shows them safely: controls (an ESC would
// start a sequence the terminal acts on), DEL, bytes that are not UTF-8 and
// the C1 controls escaped as \xHH, a backslash doubled.
std::string printable(const std::string &text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    size_t length = byte < 0x80                   ? 1
                    : byte >= 0xC2 && byte < 0xE0 ? 2
                    : byte >= 0xE0 && byte < 0xF0 ? 3
                    : byte >= 0xF0 && byte < 0xF5 ? 4
                                                  : 0;
    for (size_t i = 1; i < length; ++i)
      if (at + i >= text.size() || (static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
        length = 0;
    const bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if (byte == '\\') {
      out += "\\\\";
    } else if (length > 1 && !c1) {
      out.append(text, at, length);
      at += length;
      continue;
    } else if (length == 1 && byte >= 0x20 && byte < 0x7F) {
      out += char(byte);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
    ++at;
  }
  return out;
}

WinParsed fault(const std::string &what) {
  WinParsed parsed;
  parsed.command = WinCommand::Error;
  parsed.error = "kestrelon: " + printable(what);
  return parsed;
}

// getopt_long's '?': an unknown short option, a long option given a value it
// does not take, or an unknown or ambiguous long option (`argument`).
WinParsed option_fault(int optionValue, const char *argument) {
  if (optionValue != 0) {
    for (const option &o : kLongOptions)
      if (o.name && o.val == optionValue)
        return fault("option '--" + std::string(o.name) + "' doesn't allow an argument");
    return fault("invalid option -- '" + std::string(1, char(optionValue)) + "'");
  }
  std::string given = argument ? argument : "";
  std::string name = given.substr(0, given.find('=')).substr(2);
  std::vector<std::string> matches;
  for (const option &o : kLongOptions)
    if (o.name && std::string(o.name).compare(0, name.size(), name) == 0)
      matches.push_back("'--" + std::string(o.name) + "'");
  if (matches.size() > 1) {
    std::string list;
    for (const std::string &m : matches)
      list += " " + m;
    return fault("option '--" + name + "' is ambiguous; possibilities:" + list);
  }
  return fault("unrecognized option '" + given + "'");
}

// getopt_long's ':': an option at the end of the line without its value.
WinParsed missing_value(int optionValue, const char *argument) {
  const std::string given = argument ? argument : "";
  if (given.rfind("--", 0) == 0)
    return fault("option '--" + std::string(long_name(optionValue)) + "' requires an argument");
  return fault("option requires an argument -- '" + std::string(1, char(optionValue)) + "'");
}

}  // namespace

WinParsed win_parse_options(int argc, const char *const argv[]) {
  // getopt_long orders the pointers (options first); the strings stay.
  std::vector<char *> args;
  for (int i = 0; i < argc; ++i)
    args.push_back(const_cast<char *>(argv[i]));
  args.push_back(nullptr);

  WinParsed parsed;
  WinStartOptions &options = parsed.options;
  opterr = 0;  // the messages are ours
  optind = 0;  // start afresh: the parse may run more than once
  int value;
  while ((value = getopt_long(argc, args.data(), kShortOptions, kLongOptions, nullptr)) != -1) {
    const char *argument = optind > 0 && optind <= argc ? args[size_t(optind - 1)] : nullptr;
    if (value == 'h' || value == 'V') {
      WinParsed done;
      done.command = value == 'h' ? WinCommand::Help : WinCommand::Version;
      return done;
    }
    if (value == '?')
      return option_fault(optopt, argument);
    if (value == ':')
      return missing_value(optopt, argument);
    if (value == OPT_LOG || value == OPT_PCAP || value == OPT_MACROS) {
      if (*optarg == '\0')
        return fault("empty file name for '--" + std::string(long_name(value)) + "'");
      (value == OPT_LOG ? options.log : value == OPT_PCAP ? options.pcap : options.macros) = optarg;
      continue;
    }
    if (value == OPT_APPEND || value == OPT_PORT_NAMES) {
      (value == OPT_APPEND ? options.append : options.port_names) = true;
      continue;
    }
    if (value == OPT_PULSE_MS || value == OPT_BREAK_MS) {
      char *end = nullptr;
      const unsigned long ms = std::strtoul(optarg, &end, 10);
      if (!std::isdigit(static_cast<unsigned char>(*optarg)) || *end != '\0' || ms < 1 ||
          ms > kLineMsMost)
        return fault("invalid time '" + std::string(optarg) + "' for '--" + long_name(value) +
                     "' (milliseconds from 1 to " + std::to_string(kLineMsMost) + ")");
      (value == OPT_PULSE_MS ? options.pulse_ms : options.break_ms) = unsigned(ms);
      continue;
    }
    const ListOption *list = list_option(value);
    if (!list)
      continue;  // none: every other option is handled above
    const int entry = list->find(optarg);
    if (value == 's') {
      // Any other number is a rate as typed into the Speed list: the
      // window takes or refuses it as it does a typed one.
      const bool number = *optarg && std::strspn(optarg, "0123456789") == std::strlen(optarg);
      options.rate = entry < 0 && number ? optarg : "";
      if (!options.rate.empty()) {
        options.speed = -1;
        continue;
      }
    }
    if (entry < 0)
      return fault("invalid " + std::string(list->what) + " '" + optarg + "' for '--" +
                   long_name(value) + "' (choose " + list->words() + ")");
    *list->field(options) = entry;
  }

  if (options.append && options.log.empty())
    return fault("'--append' goes with '--log'");
  const int devices = argc - optind;
  if (devices > 2)
    return fault("too many devices: '" + std::string(args[size_t(optind + 2)]) +
                 "' (at most DEVICE_A and DEVICE_B)");
  for (int side = 0; side < devices; ++side) {
    options.device[side] = args[size_t(optind + side)];
    if (options.device[side].empty())
      return fault("empty device name");
  }
  if (devices == 2 && win_start_port(options, HEX_SIDE_A) == win_start_port(options, HEX_SIDE_B))
    return fault("DEVICE_A and DEVICE_B would both be " +
                 std::string(hex_portnames[win_start_port(options, HEX_SIDE_A)]) +
                 " (choose other entries with --port-a or --port-b)");
  return parsed;
}

std::string win_usage() {
  return "Usage: kestrelon [OPTION]... [DEVICE_A [DEVICE_B]]\n"
         "Monitor and terminal for two serial ports, Port A and Port B, in one window.\n"
         "\n"
         "DEVICE_A and DEVICE_B are the devices Port A and Port B start on, for example\n"
         "/dev/ttyUSB0; each is what its side's Comm Port entry names.\n"
         "\n"
         "  -a, --port-a=COMn      Port A's Comm Port entry: " +
         port_words() +
         " (default COM1)\n"
         "  -b, --port-b=COMn      Port B's Comm Port entry (default COM2)\n"
         "  -s, --speed=RATE       speed of both ports in bit/s (default 9600):\n"
         "          " +
         speed_words() +
         ",\n"
         "          or another rate the devices take\n"
         "      --data-bits=BITS   " +
         data_bits_words() +
         " (default 8)\n"
         "      --parity=PARITY    " +
         parity_words() +
         " (default none)\n"
         "      --stop-bits=BITS   " +
         stop_bits_words() +
         " (default 1)\n"
         "      --flow=FLOW        flow control: " +
         flow_words() +
         " (default none)\n"
         "      --view=VIEW        " +
         view_words() +
         " (default hex)\n"
         "      --log=FILE         log all traffic into the HTML file FILE from the start\n"
         "                         (an existing FILE is replaced)\n"
         "      --append           with --log: write on at the end of an existing FILE\n"
         "      --pcap=FILE        write the session into FILE for Wireshark (pcapng)\n"
         "      --macros=FILE      macros and triggers from FILE (default kestrelon.macros)\n"
         "      --dtr=on|off       DTR of both ports at every open, before the first byte\n"
         "                         (default on); off keeps a board on DTR from resetting\n"
         "      --rts=on|off       RTS of both ports at every open (default off)\n"
         "      --pulse-ms=MS      how long a DTR or RTS pulse holds the line down (default 100)\n"
         "      --break-ms=MS      how long Break sends a break (default 250)\n"
         "      --port-names       start with Ports on: a line another port starts is headed\n"
         "                         by its name (Rx1, Tx2), in the pane and the log\n"
         "  -h, --help             show this help and exit\n"
         "  -V, --version          show the version and exit\n"
         "\n"
         "Without a device on the command line, COM<n> opens the device that the\n"
         "environment variable KESTRELON_COM<n> names, else its own (see kestrelon(1)).\n"
         "A device that cannot be opened shows as a greyed indicator in the window.\n"
         "A device path or rfc2217://HOST:PORT typed into a Comm Port list maps the\n"
         "chosen entry to it for the session.\n"
         "\n"
         "Keys in the window:\n" +
         hex_help_shortcuts_text() +
         "  Ctrl+F                 opens the find bar over the pane\n"
         "  F3, Shift+F3           the next, the previous match while it is open\n"
         "\n"
         "Exit status: 0, or 2 when the command line is wrong.\n";
}

std::string win_version() { return "kestrelon " KESTRELON_VERSION "\n"; }

int win_start_port(const WinStartOptions &options, int side) {
  return options.port[side] >= 0 ? options.port[side] : side;
}

namespace {

WinStartOptions g_start;  // the options being started with

}  // namespace

void win_set_start_options(const WinStartOptions &options) {
  g_start = options;
  hex_auto_set_path(options.macros.c_str());
  hex_lines_set_start(options.dtr, options.rts);
  hex_lines_set_durations(options.pulse_ms, options.break_ms);
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    hex_start_port[side] = win_start_port(options, side);
    if (!options.device[side].empty())
      SioMapDevice(hex_start_port[side], options.device[side].c_str());
  }
}

void win_apply_start_options(HWND window) {
  struct LineSetting {
    int entry;
    int lists[2];  // Port A's list, Port B's
  };
  const LineSetting settings[] = {
      {g_start.speed, {IDC_SPEED_A, IDC_SPEED_B}},
      {g_start.data_bits, {IDC_DATA_A, IDC_DATA_B}},
      {g_start.parity, {IDC_PARITY_A, IDC_PARITY_B}},
      {g_start.stop_bits, {IDC_STOP_A, IDC_STOP_B}},
      {g_start.flow, {IDC_FLOW_A, IDC_FLOW_B}},
  };
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const bool closed = !hex_obj[side].open;
    if (closed)
      hex_hold_err_msg(true);
    for (const LineSetting &setting : settings)
      if (setting.entry >= 0)
        win_choose_entry(window, setting.lists[side], setting.entry);
    if (closed)
      hex_hold_err_msg(false);
  }
  if (!g_start.rate.empty())
    for (int list : {IDC_SPEED_A, IDC_SPEED_B}) {
      dlg_set_text(window, list, g_start.rate.c_str());
      hex_speed_typed(window, list);
    }
  if (g_start.view >= 0)
    win_choose_entry(window, IDC_VIEW, g_start.view);
  if (g_start.port_names) {
    dlg_check_button(window, IDC_PORT_NAMES, BST_CHECKED);
    hex_portNamesChanged(window);
  }
  if (!g_start.log.empty())
    hex_log_open_file(window, g_start.log.c_str(), g_start.append);
  if (!g_start.pcap.empty())
    hex_pcap_open_file(window, g_start.pcap.c_str(), false);
}
