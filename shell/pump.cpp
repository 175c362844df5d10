// The receive pump: every 50 ms, whatever bytes wait on Port A and then on
// Port B are read and shown in the current view.
#include "shell/shell.h"

#include "hex/hex.h"
#include "resources/ids.h"
#include "ser/ser.h"

void win_init_periodic(HWND window) {
  hex_timer = dlg_set_timer(window, TIMER_PUMP, WIN_PUMP_PERIOD_MS);
  if (hex_timer == 0)
    hex_err_msg("Timer is broken");
}

void win_periodic(HWND window) {
  // The timer is one-shot in effect: killed here, armed again at the end, so
  // runs never overlap and ticks never pile up behind a slow run.
  dlg_kill_timer(window, hex_timer);
  // More of a message the line could not take at once.
  hex_send_drain(window);

  // The Hexadecimal view writes its text back into the buffer, three
  // characters a byte; the frame decoders make their lines elsewhere.
  uint8_t buffer[WIN_RX_BUFFER];
  HexWindowSink sink(window);
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    const int port = dlg_combo_get_sel(window, hex_side_port_list(side));
    int waiting = SioRxQue(port);
    if (waiting > WIN_RX_CHUNK)
      waiting = WIN_RX_CHUNK;
    const int count = SioGets(port, buffer, waiting < 0 ? 0 : waiting);
    if (count <= 0)
      continue;
    if (hex_run == 0)
      continue;  // Stop: read and dropped
    buffer[count] = 0;
    // Each side's bytes go through its own record: a frame or a sequence
    // one port left unfinished is never finished by the other port's bytes.
    hex_show_received(hex_view_mode, hex_obj[side], port, hex_time_stamp,
                      reinterpret_cast<char *>(buffer), count, sink);
  }
  // What this run logged reaches the file now: a crash loses at most one run.
  hex_log_flush();

  hex_time_stamp = uint16_t(hex_time_stamp + WIN_TIME_STEP);
  hex_timer = dlg_set_timer(window, TIMER_PUMP, WIN_PUMP_PERIOD_MS);
  if (hex_timer == 0)
    hex_err_msg("Timer is broken");
}
