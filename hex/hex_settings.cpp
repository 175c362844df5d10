// Port settings and port selection: each choice is stored in the side's
// record and applied to its port at once.
#include "hex/hex_internal.h"

#include "resources/ids.h"
#include "ser/ser.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char *kReconfigureError = "Error reconfiguring comm port parameters";

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

void report_if_failed(hex_obj_t &record, int result) {
  record.status = result;
  if (result != 0)
    hex_err_msg(kReconfigureError);
}

void apply_parms(hex_obj_t &record) {
  report_if_failed(record,
                   SioParms(record.port, record.parity, record.stop_bits, record.data_bits));
}

// The Speed list's entries: the ten rates of the library's speed codes, then
// the rate last typed, when one was.
constexpr int kSpeedCodes = 10;
constexpr int kTypedRateEntry = kSpeedCodes;
constexpr unsigned kLowestRate = kSpeedCodes;  // lower numbers are speed codes
constexpr int kRefusalMax = 96;

char g_speed_refusal[kRefusalMax];  // the refusal last shown in the status field

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
  record.status = SioBaud(record.port, record.baud);  // not reported
}

// The rate typed last is the list's entry after the ten codes' rates.
void show_typed_rate(HWND window, int id, unsigned rate) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", rate);
  if (dlg_combo_count(window, id) > kTypedRateEntry)
    dlg_combo_delete(window, id, kTypedRateEntry);
  dlg_combo_set_sel(window, id, dlg_combo_add(window, id, text));
}

void take_back_speed_refusal(HWND window) {
  char shown[kRefusalMax];
  dlg_get_text(window, IDC_XFER_STATUS, shown, sizeof shown);
  if (g_speed_refusal[0] != '\0' && std::strcmp(shown, g_speed_refusal) == 0)
    dlg_set_text(window, IDC_XFER_STATUS, "");
  g_speed_refusal[0] = '\0';
}

void data_changed(HWND window, int side, int id) {
  hex_obj_t &record = hex_obj[side];
  unsigned bits = 8;
  if (!list_number(window, id, &bits))
    bits = 8;
  record.data_bits = int32_t(bits);
  apply_parms(record);
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
  apply_parms(record);
}

void parity_changed(HWND window, int side, int id) {
  int selection = dlg_combo_get_sel(window, id);
  if (selection < 0)
    return;
  hex_obj_t &record = hex_obj[side];
  record.parity = selection;
  apply_parms(record);
}

void flow_changed(HWND window, int side, int id) {
  hex_obj_t &record = hex_obj[side];
  char text[64];
  dlg_get_text(window, id, text, sizeof text);
  // The first two characters name the mode: "RT", "XO" or "NO".
  record.flow[0] = text[0];
  record.flow[1] = text[0] ? text[1] : '\0';
  record.flow[2] = '\0';
  report_if_failed(record, SioFlow(record.port, hex_flow_mode(record.flow)));
}

void port_changed(HWND window, int side) {
  int selection = dlg_combo_get_sel(window, hex_side_port_list(side));
  if (selection < 0 || selection >= HEX_PORTS)
    return;
  hex_obj_t &record = hex_obj[side];
  // The entry's device may have been mapped anew since start; both lists
  // show the same devices.
  const char *path = SioDevicePath(selection);
  for (int list : {IDC_PORT_A, IDC_PORT_B})
    dlg_combo_set_item_tooltip(window, list, selection, path ? path : "");
  // A side waiting for its device gone waits no more: it has another port.
  hex_reconnect_cancel(window, side);
  // Only a port this side opened is closed: a side whose open failed may
  // name the port the other side holds.
  if (record.open)
    record.status = SioDone(record.port);  // a failed close is not reported
  record.open = 0;
  record.port = selection;
  if (const int result = hex_open_side(side); result != 0) {
    char reason[200];
    hex_sio_error_text(result, reason, sizeof reason);
    hex_show_port_state(window, side, reason);
  } else {
    hex_show_port_state(window, side, nullptr);
  }
  // Messages go where the send side's port now is, not to the port it left.
  if (dlg_button_state(window, hex_side_send_button(side)) == BST_CHECKED)
    hex_send_port = record.port;
  hex_capture_sync(window);
}

// Applies the side's speed, data bits, parity, stop bits and flow control to
// its open port; the flow control's apply, last, sets DTR and RTS as they
// were last set.
void apply_side_settings(hex_obj_t &record) {
  record.status = SioBaud(record.port, record.baud);
  record.status = SioParms(record.port, record.parity, record.stop_bits, record.data_bits);
  record.status = SioFlow(record.port, hex_flow_mode(record.flow));
}

}  // namespace

int hex_open_side(int side) {
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
  apply_side_settings(record);
  SioDTR(record.port, 'S');
  return 0;
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
  bool refused = !list_number(window, id, &rate) || rate < kLowestRate || rate > INT32_MAX;
  // A closed port takes the rate when it opens; an open one says now.
  if (!refused && record.open) {
    record.status = SioBaud(record.port, int(rate));
    refused = record.status == 0;
  }
  if (refused) {
    std::snprintf(g_speed_refusal, sizeof g_speed_refusal, "%s refused %.24s bit/s",
                  hex_portnames[record.port], digits);
    dlg_set_text(window, IDC_XFER_STATUS, g_speed_refusal);
    // The library's record of the port took the refused rate: the last one
    // goes back to it and to the device.
    if (record.open)
      record.status = SioBaud(record.port, record.baud);
    dlg_combo_set_sel(window, id, chosen);
    return;
  }
  take_back_speed_refusal(window);
  record.baud = int32_t(rate);
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
