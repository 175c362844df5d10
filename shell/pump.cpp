// The receive pump: every 50 ms, whatever has arrived on Port A and Port B
// since the last run is shown in the current view, in the order it came.
// The bytes themselves are read as they arrive (hex_capture_ready); a run
// reads only what is still waiting.
#include "shell/shell.h"

#include "hex/hex_capture.h"
#include "hex/hex_display.h"
#include "hex/hex_log.h"
#include "hex/hex_reconnect.h"
#include "hex/hex_send.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_timer.h"
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
  const uint64_t arrived = hex_capture_run_begin(window);
  HexCapturePiece piece{};
  while (hex_capture_next(arrived, buffer, WIN_RX_CHUNK, &piece)) {
    // A port gone or back is said even under Stop, where what was read is
    // dropped.
    HexSideRecord &record = hex_obj[piece.side];
    if (piece.event != HEX_PORT_NO_EVENT) {
      // Nothing the device left unfinished is finished after it went or
      // came back.
      hex_restart_decoders(record);
      hex_show_capture_event(piece, sink);
      continue;
    }
    if (hex_run == 0)
      continue;
    hex_show_breaks(hex_time, piece.port, piece.ms, piece.breaks, sink);
    if (piece.count <= 0)
      continue;
    buffer[piece.count] = 0;
    // Each side's bytes go through its own record: a frame or a sequence
    // one port left unfinished is never finished by the other port's bytes,
    // nor by those of the port the side has since.
    if (record.decoded_port != piece.port)
      hex_restart_decoders(record);
    record.decoded_port = piece.port;
    hex_show_chunk(hex_view_mode, record, piece.port, hex_time_stamp, hex_time,
                   piece.ms, reinterpret_cast<char *>(buffer), piece.count, sink);
  }
  sink.flush();
  hex_capture_run_end(window);
  // What this run logged reaches the file now: a crash loses at most one run.
  hex_log_flush();

  hex_time_stamp = uint16_t(hex_time_stamp + WIN_TIME_STEP);
  hex_timer = hex_timer_arm(window, TIMER_PUMP, WIN_PUMP_PERIOD_MS) ? TIMER_PUMP : 0;
}
