// Start-up and exit of the monitor: lists, ports, buttons and the message
// history.
#include "hex/hex_init.h"
#include "hex/hex_pcap.h"

#include "hex/hex_auto.h"
#include "hex/hex_capture.h"
#include "hex/hex_help.h"
#include "hex/hex_lines.h"
#include "hex/hex_log.h"
#include "hex/hex_msgbox.h"
#include "hex/hex_ports.h"
#include "hex/hex_reconnect.h"
#include "hex/hex_screen.h"
#include "hex/hex_send.h"
#include "hex/hex_settings.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_status.h"
#include "hex/hex_timer.h"
#include "hex/hex_transfer.h"
#include "hex/hex_views.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Start entries of the lists that have no name of their own elsewhere.
constexpr int kParityNone = 0;    // "NONE"
constexpr int kDataBits8 = 3;     // "8"
constexpr int kStopBits1 = 0;     // "1"
constexpr int kFlowNone = 2;      // "NONE"
constexpr int kProtocolDump = 0;  // "Dump"
constexpr long kTimeGapMostMs = 60000;

template <size_t N, size_t W>
void fill_list(HWND window, int id, const char (&table)[N][W], int selection) {
  for (size_t i = 0; i < N; ++i)
    dlg_combo_add(window, id, table[i]);
  dlg_combo_set_sel(window, id, selection);
}

// The entry a side starts on: its own (COM1, COM2) unless another was set.
int start_port(int side) {
  const int port = hex_start_port[side];
  return port >= 0 && port < HEX_PORTS ? port : side;
}

// The start values of a side's record.
void reset_record(HexSideRecord &record, int side) {
  record = HexSideRecord{};
  record.port = start_port(side);
  record.baud = HEX_BAUD_9600;
  record.data_bits = 8;
  record.parity = 0;
  record.stop_bits = 0;
  hex_restart_decoders(record);
}

void open_side_at_start(HWND window, int side) {
  HexSideRecord &record = hex_obj[side];
  reset_record(record, side);
  if (const int result = hex_open_side(window, side); result != 0) {
    char reason[200];
    hex_sio_error_text(result, reason, sizeof reason);
    hex_show_port_state(window, side, reason);
  } else {
    hex_show_port_state(window, side, nullptr);
  }
}

// The Time view's gap: KESTRELON_TIME_GAP_MS milliseconds when it names a
// number from 1 to 60000, else the default.
uint32_t time_gap_ms() {
  const char *text = std::getenv("KESTRELON_TIME_GAP_MS");
  if (!text || !*text)
    return HEX_TIME_GAP_MS;
  char *end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return (*end == '\0' && value >= 1 && value <= kTimeGapMostMs) ? uint32_t(value)
                                                                 : HEX_TIME_GAP_MS;
}

// The configuration file, regular only: a FIFO in its place would hang
// start-up and Exit. One not there is no history yet, silently.
std::FILE *open_config(HexOpen how) {
  std::string why;
  const int fd = hex_open_user_file(HEX_CFG_NAME, how, &why);
  std::FILE *file = fd >= 0 ? fdopen(fd, how == HexOpen::Read ? "rb" : "wb") : nullptr;
  if (!file && fd >= 0)
    close(fd);
  else if (fd < 0 && !(how == HexOpen::Read && errno == ENOENT))
    hex_file_refused(
        how == HexOpen::Read ? "Message history not read" : "Message history not saved",
        HEX_CFG_NAME, why.c_str());
  return file;
}

void load_history(HWND window) {
  dlg_combo_reset(window, IDC_MESSAGE);
  std::FILE *file = open_config(HexOpen::Read);
  if (!file)
    return;
  for (const std::string &entry : hex_cfg_read(file))
    dlg_combo_add(window, IDC_MESSAGE, entry.c_str());
  dlg_combo_set_sel(window, IDC_MESSAGE, 0);
  std::fclose(file);
}

void save_history(HWND window) {
  std::FILE *file = open_config(HexOpen::Replace);
  if (!file)
    return;
  static char entries[HEX_HISTORY_LINES][HEX_CFG_ENTRY_MAX + 1];
  const char *lines[HEX_HISTORY_LINES];
  for (int i = 0; i < HEX_HISTORY_LINES; ++i) {
    // Selecting past the end leaves the field empty: an empty line.
    dlg_combo_set_sel(window, IDC_MESSAGE, i);
    dlg_get_text(window, IDC_MESSAGE, entries[i], sizeof entries[i]);
    lines[i] = entries[i];
  }
  hex_cfg_write(file, lines, HEX_HISTORY_LINES);
  std::fclose(file);
}

}  // namespace

int32_t hex_start_port[2] = {HEX_SIDE_A, HEX_SIDE_B};  // COM1, COM2

int hex_side_port_list(int side) { return side == HEX_SIDE_A ? IDC_PORT_A : IDC_PORT_B; }
int hex_side_indicator(int side) { return side == HEX_SIDE_A ? IDC_OPEN_A : IDC_OPEN_B; }
int hex_side_send_button(int side) {
  return side == HEX_SIDE_A ? IDC_SEND_PORT_A : IDC_SEND_PORT_B;
}

void hex_sio_error_text(int code, char *buffer, int size) {
  if (size <= 0)
    return;
  buffer[0] = '\0';
  if (code == SIO_WIN32_ERROR) {
    SioWinError(buffer, size);
  } else if (const char *text = SioErrorText(code)) {
    std::snprintf(buffer, size_t(size), "%s", text);
  }
  if (buffer[0] == '\0')
    std::snprintf(buffer, size_t(size), "error %d", code);
}

void hex_show_port_state(HWND window, int side, const char *reason) {
  const hex_obj_t &record = hex_obj[side];
  const char *path = SioDevicePath(record.port);
  const char *name =
      (record.port >= 0 && record.port < HEX_PORTS) ? hex_portnames[record.port] : "?";
  char tip[768];
  if (record.open) {
    char counts[256];
    char changes[160];
    hex_capture_line_text(side, counts, sizeof counts);
    hex_lines_tip_text(side, changes, sizeof changes);
    std::snprintf(tip, sizeof tip, "%s is open on %s%s%s%s%s", name, path ? path : "?",
                  counts[0] ? "\n" : "", counts, changes[0] ? "\n" : "", changes);
  } else {
    std::snprintf(tip, sizeof tip, "%s (%s) did not open: %s", name, path ? path : "?",
                  reason ? reason : "not open");
  }
  int indicator = hex_side_indicator(side);
  dlg_check_button(window, indicator, record.open ? BST_CHECKED : BST_INDETERMINATE);
  dlg_set_tooltip(window, indicator, tip);
}

void hex_init(HWND window) {
  hex_help_start(window);      // before the rooms that show something in tooltips
  hex_reconnect_stop(window);  // nothing waits from an earlier window
  open_side_at_start(window, HEX_SIDE_A);
  open_side_at_start(window, HEX_SIDE_B);

  hex_run = 1;
  hex_ascii = 0;
  hex_log = 0;
  hex_start_send_side(window);
  hex_send_file = 1;
  hex_view_mode = HEX_VIEW_HEXADECIMAL;
  hex_local_echo = 1;
  hex_time_stamp = 0;
  const HexClockFace face = hex_time.face;  // set when the pump started
  hex_time = HexTimeLines{};
  hex_time.face = face;
  hex_time.gap_ms = time_gap_ms();

  fill_list(window, IDC_PARITY_A, hex_parity, kParityNone);
  fill_list(window, IDC_PARITY_B, hex_parity, kParityNone);
  fill_list(window, IDC_SPEED_A, hex_baudcode, HEX_BAUD_9600);
  fill_list(window, IDC_SPEED_B, hex_baudcode, HEX_BAUD_9600);
  fill_list(window, IDC_DATA_A, hex_data, kDataBits8);
  fill_list(window, IDC_DATA_B, hex_data, kDataBits8);
  fill_list(window, IDC_STOP_A, hex_stop, kStopBits1);
  fill_list(window, IDC_STOP_B, hex_stop, kStopBits1);
  fill_list(window, IDC_FLOW_A, hex_flow, kFlowNone);
  fill_list(window, IDC_FLOW_B, hex_flow, kFlowNone);
  fill_list(window, IDC_CHECK_KIND, hex_sum, HEX_CHECK_CRC16);
  hex_checkKindSelChange(window, 0, 0, 0);
  fill_list(window, IDC_PROTOCOL, hex_protocol, kProtocolDump);
  // The lists show the settings the devices keep.
  hex_show_side_settings(window, HEX_SIDE_A);
  hex_show_side_settings(window, HEX_SIDE_B);
  fill_list(window, IDC_PORT_A, hex_portnames, hex_obj[HEX_SIDE_A].port);
  fill_list(window, IDC_PORT_B, hex_portnames, hex_obj[HEX_SIDE_B].port);
  fill_list(window, IDC_VIEW, hex_view, HEX_VIEW_HEXADECIMAL);
  fill_list(window, IDC_FRAME_TYPE, hex_frame, HEX_FRAME_NONE);
  // Each Comm Port entry tells which device it stands for.
  hex_ports_start(window);

  load_history(window);

  dlg_check_radio(window, IDC_LOG, IDC_NO_LOG, IDC_NO_LOG);
  dlg_check_radio(window, IDC_RUN, IDC_STOP, IDC_RUN);
  dlg_check_radio(window, IDC_XFER_SEND, IDC_XFER_GET, IDC_XFER_SEND);
  dlg_check_button(window, IDC_LOCAL_ECHO, BST_CHECKED);
  dlg_check_button(window, IDC_TIME, BST_UNCHECKED);
  dlg_check_button(window, IDC_PORT_NAMES, BST_UNCHECKED);
  hex_capture_sync(window);  // the ports just opened
  hex_status_show(window, "");
  hex_apply_view_layout(window);
  hex_lines_start(window);
}

void hex_quit(HWND window) {
  hex_auto_stop(window);
  hex_transfer_stop(window);
  hex_capture_stop(window);  // before the ports close under it
  save_history(window);
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    hex_obj_t &record = hex_obj[side];
    // A side whose open failed may name the other side's port: leave it.
    if (!record.open)
      continue;
    SioDTR(record.port, 'C');
    SioRTS(record.port, 'C');
    record.status = SioDone(record.port);
    if (record.status == 0)
      hex_err_msg("Error closing comm port");
    else
      record.open = 0;
  }
  hex_reconnect_stop(window);
  hex_screens_release();
  hex_lines_stop(window);
  hex_ports_stop(window);
  hex_log_close(window);
  hex_pcap_close(window);
  hex_timer_cancel(window, TIMER_PUMP);
  hex_timer = 0;
}
