// The receive pump: every 50 ms, whatever the capture thread has read on
// Port A and Port B since the last run is shown in the current view, in the
// order it came; what the pane cannot keep up with goes to the log alone.
#include "shell/shell.h"

#include "hex/hex_auto.h"
#include "hex/hex_capture.h"
#include "hex/hex_display.h"
#include "hex/hex_log.h"
#include "hex/hex_reconnect.h"
#include "hex/hex_send.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_timer.h"
#include "hex/hex_pcap.h"
#include "resources/ids.h"

void win_init_periodic(HWND window) {
  hex_timer = hex_timer_arm(window, TIMER_PUMP, WIN_PUMP_PERIOD_MS) ? TIMER_PUMP : 0;
  hex_capture_start(window);
}

void win_periodic(HWND window) {
  // The timer is one-shot: armed again at the end, so runs never overlap
  // and ticks never pile up behind a slow run.
  // More of a message the line could not take at once.
  hex_send_drain(window);

  // Chunks are handed over in pieces of at most WIN_RX_CHUNK bytes; the
  // Hexadecimal view writes its text back into the buffer, three characters
  // a byte, and the frame decoders make their lines elsewhere.
  static uint8_t buffer[WIN_RX_BUFFER];
  HexWindowSink sink(window, true);
  HexLogSink log_only;
  const uint64_t arrived = hex_capture_run_begin(window);
  HexCapturePiece piece{};
  bool shown = true;
  // A side's bytes the pane skipped are marked where the pane takes up again.
  auto mark_gap = [&](int side, int port) {
    if (const uint64_t gap = hex_capture_gap(side); gap != 0) {
      sink.flush();
      hex_show_gap(window, port, gap);
    }
  };
  while (hex_capture_next(arrived, buffer, WIN_RX_CHUNK, &piece, &shown)) {
    // A port gone or back is said even under Stop, where what was read is
    // dropped.
    HexSideRecord &record = hex_obj[piece.side];
    if (piece.event != HEX_PORT_NO_EVENT) {
      // Nothing the device left unfinished is finished after it went or
      // came back; a modem line's change leaves the bytes' frames alone.
      if (piece.event == HEX_PORT_GONE || piece.event == HEX_PORT_BACK)
        hex_restart_decoders(record);
      hex_show_capture_event(piece, sink);
      // The capture thread found the device gone: the side lets it go.
      if (piece.event == HEX_PORT_GONE && record.open && record.port == piece.port)
        hex_port_gone(window, piece.side, piece.ms, false);
      continue;
    }
    if (hex_run == 0)
      continue;
    buffer[piece.count > 0 ? piece.count : 0] = 0;
    hex_pcap_piece(piece, buffer);
    HexSink &out = shown ? static_cast<HexSink &>(sink) : log_only;
    if (!shown)
      sink.flush();  // the log keeps the order
    else
      mark_gap(piece.side, piece.port);
    hex_show_breaks(hex_time, piece.port, piece.ms, piece.breaks, out);
    if (piece.count <= 0)
      continue;
    // Each side's bytes go through its own record: a frame or a sequence
    // one port left unfinished is never finished by the other port's bytes,
    // nor by those of the port the side has since.
    if (record.decoded_port != piece.port)
      hex_restart_decoders(record);
    record.decoded_port = piece.port;
    // The triggers see the bytes before the view writes over them, and
    // answer behind them.
    hex_auto_scan(piece.side, piece.port, piece.ms, buffer, piece.count);
    hex_show_chunk(hex_view_mode, record, piece.port, hex_time_stamp, hex_time,
                   piece.ms, reinterpret_cast<char *>(buffer), piece.count, out);
    hex_auto_answer(window, sink);
  }
  for (int side : {HEX_SIDE_A, HEX_SIDE_B})
    mark_gap(side, hex_obj[side].port);
  sink.flush();
  // A view that shows every byte and is behind catches up in runs
  // WIN_PUMP_GAP_MS apart, the window's events between.
  const bool behind = hex_capture_run_end(window);
  // What this run logged reaches the file now: a crash loses at most one run.
  hex_log_flush();
  hex_pcap_flush();

  hex_time_stamp = uint16_t(hex_time_stamp + WIN_TIME_STEP);
  hex_timer = hex_timer_arm(window, TIMER_PUMP, behind ? WIN_PUMP_GAP_MS : WIN_PUMP_PERIOD_MS)
                  ? TIMER_PUMP
                  : 0;
}
