// Port settings and port selection: each choice is stored in the side's
// record and applied to its port at once.
#include "hex/hex_settings.h"

#include "hex/hex_capture.h"
#include "hex/hex_lines.h"
#include "hex/hex_ports.h"
#include "hex/hex_reconnect.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_status.h"
#include "hex/hex_timer.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The list's text as an unsigned decimal number (blanks around it allowed);
// false when it is not one.
bool list_number(HWND window, int id, unsigned *value) {
  char text[64];
  dlg_get_text(window, id, text, sizeof text);
  const char *p = text;
  while (*p == ' ')
    ++p;
  if (*p < '0' || *p > '9')
    return false;
  unsigned long number = 0;
  while (*p >= '0' && *p <= '9') {
    number = number * 10 + unsigned(*p - '0');
    if (number > 0xFFFFFFFFul)
      return false;
    ++p;
  }
  while (*p == ' ')
    ++p;
  if (*p != '\0')
    return false;
  *value = unsigned(number);
  return true;
}

// The Speed list's entries: the ten rates of the library's speed codes, then
// the rate last typed, when one was.
constexpr int kSpeedCodes = 10;
constexpr int kTypedRateEntry = kSpeedCodes;
constexpr unsigned kLowestRate = kSpeedCodes;  // lower numbers are speed codes
constexpr int kRefusalMax = 160;
// The Flow list's entries by mode letter, and the record's text of each.
constexpr char kFlowModes[] = {'H', 'S', 'N'};
constexpr char kFlowTexts[3][3] = {"RT", "XO", "NO"};

constexpr unsigned kAnswersPeriodMs = 100;

char g_refusal[kRefusalMax];  // the refusal last shown in the status field

// The side's lists, in the order the record's settings are applied.
struct SideLists {
  int speed, data, stop, parity, flow;
};
constexpr SideLists kLists[2] = {
    {IDC_SPEED_A, IDC_DATA_A, IDC_STOP_A, IDC_PARITY_A, IDC_FLOW_A},
    {IDC_SPEED_B, IDC_DATA_B, IDC_STOP_B, IDC_PARITY_B, IDC_FLOW_B},
};

int rate_of(int32_t baud) { return baud >= 0 && baud < kSpeedCodes ? int(BaudValue[baud]) : baud; }

int flow_entry(int mode) {
  for (int i = 0; i < 3; ++i)
    if (kFlowModes[i] == mode)
      return i;
  return 2;
}

SioLine line_of(const hex_obj_t &record) {
  return SioLine{record.baud, record.parity, record.stop_bits, record.data_bits,
                 hex_flow_mode(record.flow)};
}

void show_refusal(HWND window, const char *text) {
  std::snprintf(g_refusal, sizeof g_refusal, "%s", text);
  hex_status_show(window, g_refusal);
}

void take_back_refusal(HWND window) {
  if (g_refusal[0] != '\0')
    hex_status_take_back(window, g_refusal);
  g_refusal[0] = '\0';
}

// The rate typed last is the list's entry after the ten codes' rates.
void show_typed_rate(HWND window, int id, unsigned rate) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", rate);
  if (dlg_combo_count(window, id) > kTypedRateEntry)
    dlg_combo_delete(window, id, kTypedRateEntry);
  dlg_combo_set_sel(window, id, dlg_combo_add(window, id, text));
}

// The text naming one of the record's settings (an SIO_SET_* bit), as the
// status field names a refused one: "9600 bit/s", "EVEN parity".
std::string setting_text(const hex_obj_t &record, int bit) {
  char piece[48];
  switch (bit) {
  case SIO_SET_BAUD:
    std::snprintf(piece, sizeof piece, "%d bit/s", rate_of(record.baud));
    break;
  case SIO_SET_DATA:
    std::snprintf(piece, sizeof piece, "%d data bits", int(record.data_bits));
    break;
  case SIO_SET_PARITY:
    std::snprintf(piece, sizeof piece, "%s parity",
                  record.parity >= 0 && record.parity < 5 ? hex_parity[record.parity] : "?");
    break;
  case SIO_SET_STOP:
    std::snprintf(piece, sizeof piece, "%s stop bits", record.stop_bits == 0 ? "1" : "2");
    break;
  default:
    std::snprintf(piece, sizeof piece, "%s flow control",
                  hex_flow[flow_entry(hex_flow_mode(record.flow))]);
    break;
  }
  return piece;
}

constexpr int kSettingBits[] = {SIO_SET_BAUD, SIO_SET_DATA, SIO_SET_PARITY, SIO_SET_STOP,
                                SIO_SET_FLOW};

// Names the settings of `bits` into `names` ("EVEN parity, 7 data bits").
void name_settings(const hex_obj_t &record, int bits, std::string &names) {
  for (int bit : kSettingBits) {
    if (!(bits & bit))
      continue;
    if (!names.empty())
      names += ", ";
    names += setting_text(record, bit);
  }
}

// The record takes what the device keeps; every value it did not keep is
// named in `refused`.
void take_kept(hex_obj_t &record, const SioLine &kept, std::string &refused) {
  const int differ = (rate_of(record.baud) != kept.baud ? SIO_SET_BAUD : 0) |
                     (record.data_bits != kept.dataBits ? SIO_SET_DATA : 0) |
                     (record.parity != kept.parity ? SIO_SET_PARITY : 0) |
                     (record.stop_bits != kept.stopBits ? SIO_SET_STOP : 0) |
                     (hex_flow_mode(record.flow) != kept.flow ? SIO_SET_FLOW : 0);
  name_settings(record, differ, refused);
  if (differ & SIO_SET_BAUD) {
    record.baud = kept.baud;
    for (int code = 0; code < kSpeedCodes; ++code)
      if (int(BaudValue[code]) == kept.baud)
        record.baud = code;
  }
  record.data_bits = kept.dataBits;
  record.parity = kept.parity;
  record.stop_bits = kept.stopBits;
  std::memcpy(record.flow, kFlowTexts[flow_entry(kept.flow)], sizeof record.flow);
}

// The record takes what the port keeps (when `refused`), and the status
// field names what it did not keep and the settings of `silent` its server
// did not answer ("COM3 refused EVEN parity; did not confirm 7 data bits").
void take_and_say(HWND window, int side, bool refused, int silent) {
  hex_obj_t &record = hex_obj[side];
  std::string unkept, unanswered;
  SioLine kept;
  if (refused && SioGetLine(record.port, &kept) == 0)
    take_kept(record, kept, unkept);
  name_settings(record, silent, unanswered);
  if (!unkept.empty() || !unanswered.empty()) {
    char text[kRefusalMax];
    std::snprintf(text, sizeof text, "%s %s%s%s%s%s", hex_portnames[record.port],
                  unkept.empty() ? "" : "refused ", unkept.c_str(),
                  !unkept.empty() && !unanswered.empty() ? "; " : "",
                  unanswered.empty() ? "" : "did not confirm ", unanswered.c_str());
    show_refusal(window, text);
  }
  hex_show_side_settings(window, side);
}

// Says what a remote port's server refused or left unanswered, and the
// record and the lists take what it keeps. True while answers are awaited.
bool look_at_answers(HWND window, int side) {
  hex_obj_t &record = hex_obj[side];
  SioLineAnswers answers;
  if (!record.open || SioGetAnswers(record.port, &answers) != 1)
    return false;
  if (answers.refused | answers.silent)
    take_and_say(window, side, answers.refused != 0, answers.silent);
  return answers.waiting != 0;
}

void watch_answers(HWND window, int side) {
  if (look_at_answers(window, side) && !hex_timer_armed(TIMER_ANSWERS))
    hex_timer_arm(window, TIMER_ANSWERS, kAnswersPeriodMs);
}

void setting_changed(HWND window, int side) {
  hex_obj_t &record = hex_obj[side];
  // A side whose port is not open touches no device (it may name the port
  // the other side holds): its settings wait for its port to open.
  if (record.open)
    hex_apply_side(window, side);
}

void speed_changed(HWND window, int side, int id) {
  int selection = dlg_combo_get_sel(window, id);
  if (selection < 0)
    return;
  hex_obj_t &record = hex_obj[side];
  unsigned rate = 0;
  if (selection < kSpeedCodes)
    record.baud = selection;
  else if (list_number(window, id, &rate))
    record.baud = int32_t(rate);
  setting_changed(window, side);
}

void data_changed(HWND window, int side, int id) {
  hex_obj_t &record = hex_obj[side];
  unsigned bits = 8;
  if (!list_number(window, id, &bits))
    bits = 8;
  record.data_bits = int32_t(bits);
  setting_changed(window, side);
}

void stop_changed(HWND window, int side, int id) {
  hex_obj_t &record = hex_obj[side];
  unsigned bits = 0;
  if (!list_number(window, id, &bits))
    bits = 0;
  // Codes of the line settings: 0 one stop bit, 2 two.
  if (bits == 1)
    bits = 0;
  record.stop_bits = int32_t(bits);
  setting_changed(window, side);
}

void parity_changed(HWND window, int side, int id) {
  int selection = dlg_combo_get_sel(window, id);
  if (selection < 0)
    return;
  hex_obj[side].parity = selection;
  setting_changed(window, side);
}

void flow_changed(HWND window, int side, int id) {
  hex_obj_t &record = hex_obj[side];
  char text[64];
  dlg_get_text(window, id, text, sizeof text);
  // The first two characters name the mode: "RT", "XO" or "NO".
  record.flow[0] = text[0];
  record.flow[1] = text[0] ? text[1] : '\0';
  record.flow[2] = '\0';
  setting_changed(window, side);
}

void port_changed(HWND window, int side) {
  int selection = dlg_combo_get_sel(window, hex_side_port_list(side));
  if (selection < 0 || selection >= HEX_PORTS)
    return;
  HexSideRecord &record = hex_obj[side];
  // The entry's device may have been mapped anew since start.
  hex_ports_show(window);
  // A side waiting for its device gone waits no more: it has another port.
  hex_reconnect_cancel(window, side);
  // Only a port this side opened is closed: a side whose open failed may
  // name the port the other side holds.
  hex_capture_release(side);
  if (record.open)
    record.status = SioDone(record.port);  // a failed close is not reported
  record.open = 0;
  record.port = selection;
  // Nothing the old device left unfinished is finished by the new one.
  hex_restart_decoders(record);
  if (const int result = hex_open_side(window, side); result != 0) {
    char reason[200];
    hex_sio_error_text(result, reason, sizeof reason);
    hex_show_port_state(window, side, reason);
  } else {
    hex_show_port_state(window, side, nullptr);
  }
  hex_capture_sync(window);
}

}  // namespace

void hex_show_side_settings(HWND window, int side) {
  const hex_obj_t &record = hex_obj[side];
  const SideLists &lists = kLists[side];
  if (record.baud >= 0 && record.baud < kSpeedCodes)
    dlg_combo_set_sel(window, lists.speed, record.baud);
  else
    show_typed_rate(window, lists.speed, unsigned(record.baud));
  dlg_combo_set_sel(window, lists.data, record.data_bits - 5);
  dlg_combo_set_sel(window, lists.stop, record.stop_bits == 0 ? 0 : 1);
  dlg_combo_set_sel(window, lists.parity, record.parity);
  if (record.flow[0] != '\0')
    dlg_combo_set_sel(window, lists.flow, flow_entry(hex_flow_mode(record.flow)));
}

int hex_apply_side(HWND window, int side) {
  hex_obj_t &record = hex_obj[side];
  const int result = SioSetLine(record.port, line_of(record));
  record.status = result;
  if (result == 0) {
    watch_answers(window, side);
    return 0;
  }
  take_and_say(window, side, true, 0);
  return result;
}

int hex_open_side(HWND window, int side) {
  hex_obj_t &record = hex_obj[side];
  // Frames are counted since the port opened, as its line events are.
  record.frames_good = 0;
  record.frames_bad = 0;
  // Open already: the other side holds it, and keeps it.
  const bool held = SioHandle(record.port) >= 0;
  const int result = SioReset(record.port, HEX_PORT_QUEUE, HEX_PORT_QUEUE);
  record.status = result;
  if (result != 0) {
    // A device that opened and then refused the defaults stays open in the
    // library: closed here, or its descriptor and lock would stay for good.
    if (!held)
      SioDone(record.port);
    record.open = 0;
    return result;
  }
  record.open = 1;
  // DTR and RTS as the user wants them before the settings and any byte: a
  // board held by them is not reset by opening it.
  hex_lines_opened(side);
  hex_apply_side(window, side);
  return 0;
}

void hex_answers_tick(HWND window) {
  bool waiting = false;
  for (int side : {HEX_SIDE_A, HEX_SIDE_B})
    waiting = look_at_answers(window, side) || waiting;
  if (waiting)
    hex_timer_arm(window, TIMER_ANSWERS, kAnswersPeriodMs);
}

void hex_speed_typed(HWND window, int id) {
  const int side = id == IDC_SPEED_B ? HEX_SIDE_B : HEX_SIDE_A;
  hex_obj_t &record = hex_obj[side];
  const int chosen = dlg_combo_get_sel(window, id);
  char typed[64];
  dlg_get_text(window, id, typed, sizeof typed);
  // Digits with blanks around them: a number, however large.
  char *digits = typed + std::strspn(typed, " ");
  const size_t length = std::strspn(digits, "0123456789");
  if (length == 0 || digits[length + std::strspn(digits + length, " ")] != '\0') {
    dlg_combo_set_sel(window, id, chosen);  // not a number: the rate stays
    return;
  }
  digits[length] = '\0';
  unsigned rate = 0;
  if (!list_number(window, id, &rate) || rate < kLowestRate || rate > INT32_MAX) {
    char text[kRefusalMax];
    std::snprintf(text, sizeof text, "%s refused %.24s bit/s", hex_portnames[record.port], digits);
    show_refusal(window, text);
    dlg_combo_set_sel(window, id, chosen);
    return;
  }
  record.baud = int32_t(rate);
  // A closed port takes the rate when it opens; an open one says now.
  if (record.open && hex_apply_side(window, side) != 0)
    return;
  take_back_refusal(window);
  show_typed_rate(window, id, rate);
}

void hex_speed1SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  speed_changed(window, HEX_SIDE_A, IDC_SPEED_A);
}
void hex_speed2SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  speed_changed(window, HEX_SIDE_B, IDC_SPEED_B);
}
void hex_data1SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  data_changed(window, HEX_SIDE_A, IDC_DATA_A);
}
void hex_data2SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  data_changed(window, HEX_SIDE_B, IDC_DATA_B);
}
void hex_stop1SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  stop_changed(window, HEX_SIDE_A, IDC_STOP_A);
}
void hex_stop2SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  stop_changed(window, HEX_SIDE_B, IDC_STOP_B);
}
void hex_parity1SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  parity_changed(window, HEX_SIDE_A, IDC_PARITY_A);
}
void hex_parity2SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  parity_changed(window, HEX_SIDE_B, IDC_PARITY_B);
}
void hex_flow1SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  flow_changed(window, HEX_SIDE_A, IDC_FLOW_A);
}
void hex_flow2SelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  flow_changed(window, HEX_SIDE_B, IDC_FLOW_B);
}
void hex_PortASelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  port_changed(window, HEX_SIDE_A);
}
void hex_PortBSelChange(HWND window, unsigned, uintptr_t, intptr_t) {
  port_changed(window, HEX_SIDE_B);
}
