// File transfers from the window: Start and Abort, XMODEM stepped through
// the driver by timer 2, the raw Dump stepped by timer 3 and ended by timer 4
// after a quiet spell, and the one common end of every transfer.
#include "hex/hex_transfer.h"

#include "hex/hex_capture.h"
#include "hex/hex_log.h"
#include "hex/hex_msgbox.h"
#include "hex/hex_port_out.h"
#include "hex/hex_reconnect.h"
#include "hex/hex_send.h"
#include "hex/hex_settings.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_status.h"
#include "hex/hex_timer.h"
#include "resources/ids.h"
#include "ser/ser.h"
#include "serxydrv/serxydrv.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

int32_t hex_xmodem_busy;
int32_t hex_dump_busy;

int hex_transfer_running() { return hex_xmodem_busy || hex_dump_busy ? 1 : 0; }

namespace {

int32_t hex_xsend_port;    // port of the transfer, the send port at Start
std::FILE *hex_dump_file;  // the dump's file
int64_t hex_dump_cnt;      // bytes moved by the dump so far

// Positions in the Protocol list (hex_protocol).
enum Protocol : int { kDump = 0, kXModem = 1, kXModemCrc = 2, kXModem1K = 3 };

constexpr const char *kFileTitle = "Select or enter a File to transfer";
constexpr const char *kFileExtension = "bin";
constexpr const char *kNegotiating[] = {
    "", "X-Modem Negotiating... ", "X-Modem CRC Negotiating... ", "X-Modem 1K Negotiating... "};
constexpr const char *kXModemCompleted = "X-Modem Completed ";
constexpr const char *kXModemAborted = "X-Modem Aborted ";
constexpr const char *kDumpCompleted = "Dump Completed ";

// The transfer running or ended last.
int g_side = HEX_SIDE_A;     // the send side at Start
bool g_driver_held = false;  // xyAcquire succeeded and no xyRelease yet
bool g_reopened = false;     // XMODEM reopened the port at Start: it does so at the end
// The transfer's file. Receiving, the bytes go into a new file beside the
// chosen one (g_part), renamed into its place only when the transfer
// succeeds and removed otherwise, so an old file is never lost to a
// transfer that did not finish. XMODEM's driver reaches the file by the name
// of g_file_fd, which holds it open for the transfer: every path, however
// long, is checked by the one open of user files.
int g_file_fd = -1;
std::string g_part;
std::string g_path;
char g_file_status[96];       // the status when the received file could not take its place
bool g_dump_sending = false;  // the dump's direction, fixed at Start
bool g_file_read = false;     // sending dump: the file's end was reached
uint32_t g_moved_at = 0;      // dump: when a byte last moved, on the library's clock
int g_port_queue = 0;         // sending dump: output the port held at the last step
uint8_t g_dump_bytes[HEX_DUMP_RECEIVE_STEP];

void show_status(HWND dialog, const char *text) { hex_status_show(dialog, text); }

// Controls that would move the transfer's port under it, and Start.
void lock_controls(HWND dialog, bool locked) {
  for (int id : {int(IDC_XFER_START), int(IDC_SEND_PORT_A), int(IDC_SEND_PORT_B),
                 hex_side_port_list(g_side)})
    dlg_enable(dialog, id, !locked);
}

// Closes and opens the transfer's port again; the side's settings are
// applied anew, as the open restores only the library's defaults.
void reopen_port(HWND dialog) {
  const int port = hex_xsend_port;
  SioDone(port);
  if (hex_obj[g_side].port != port)
    return;  // not the side's port (it never is while the lists are locked)
  const int result = hex_open_side(dialog, g_side);
  if (result != 0)
    hex_port_reopen_failed(dialog, g_side, result);
}

// The file to send, or the new file beside the chosen one to receive into
// (whatever stands at the chosen path must be a regular file to be
// replaced). -1 after a message naming the path and the reason.
int open_transfer_file(const char *path, bool sending, const char *what) {
  std::string why;
  int fd = hex_open_user_file(path, HexOpen::Read, &why);
  if (!sending) {
    const bool usable = fd >= 0 || errno == ENOENT;
    if (fd >= 0)
      close(fd);
    // The received file would take the open log's place, the log writing
    // on into a file no longer there.
    if (usable && hex_same_file(path, hex_log_path())) {
      fd = -1;
      why = "is the open log";
    } else {
      fd = usable ? hex_open_part_file(path, &g_part, &why) : -1;
    }
  }
  if (fd < 0) {
    g_part.clear();
    hex_file_refused(what, path, why.c_str());
  }
  return fd;
}

// How a transfer came out, for its file: a received file takes its place
// only when it was received whole (a dump: when anything came).
enum class Outcome { Done, Failed };

// The received file into its place, or away; the status the end shows.
const char *settle_file(Outcome outcome, const char *status) {
  const bool xmodem = g_file_fd >= 0;  // a dump's descriptor is its stream's
  if (xmodem)
    close(g_file_fd);
  g_file_fd = -1;
  if (g_part.empty())
    return status;
  // A dump has no end of its own: what came is the file, when anything came.
  const bool keep = outcome == Outcome::Done && (xmodem || hex_dump_cnt > 0);
  if (keep && std::rename(g_part.c_str(), g_path.c_str()) != 0) {
    std::snprintf(g_file_status, sizeof g_file_status, "File not saved: %s ", std::strerror(errno));
    status = g_file_status;
  }
  unlink(g_part.c_str());  // gone already when renamed
  g_part.clear();
  return status;
}

// Stops whatever runs, without touching the port.
void stop_transfer(HWND dialog) {
  hex_xmodem_busy = 0;
  hex_timer_cancel(dialog, TIMER_TRANSFER);
  if (g_driver_held) {
    xyAbort(hex_xsend_port);
    xyRelease(hex_xsend_port);
    g_driver_held = false;
  }
  hex_dump_busy = 0;
  hex_timer_cancel(dialog, TIMER_DUMP);
  hex_timer_cancel(dialog, TIMER_DUMP_IDLE);
  hex_out_drop();
}

// How a transfer ends: its last bytes still go out (the receiver's last
// ACK, the CANs of a failure, a dump's last piece), or it was cut short and
// what the port still holds of it is dropped, so that closing the port does
// not wait for it.
enum class Output { Keep, Drop };

// The common end: the transfer stops, the dump's file is closed, the port is
// reopened with its settings after XMODEM, the pump runs again and the
// status field shows how it ended. A dump never closes its port: closing
// drops what the far end of a pseudo-terminal has not read yet, which the
// port's queue count does not show.
void end_transfer(HWND dialog, const char *status, Output output,
                  Outcome outcome = Outcome::Failed) {
  stop_transfer(dialog);
  if (hex_dump_file) {
    const bool failed = std::fclose(hex_dump_file) != 0;
    hex_dump_file = nullptr;
    if (failed && !g_dump_sending) {
      status = "Dump Failed: file write error ";
      outcome = Outcome::Failed;
    }
  }
  status = settle_file(outcome, status);
  if (output == Output::Drop)
    SioTxDrop(hex_xsend_port);
  if (g_reopened)
    reopen_port(dialog);
  g_reopened = false;
  hex_timer = hex_timer_arm(dialog, TIMER_PUMP, HEX_PUMP_PERIOD_MS) ? TIMER_PUMP : 0;
  hex_capture_sync(dialog);  // the capture thread reads the port again
  show_status(dialog, status);
  lock_controls(dialog, false);
  if (hex_log)
    dlg_set_path_text(dialog, IDC_FILE_NAME, hex_log_path());
}

void end_dump_with_error(HWND dialog, const char *what) {
  char status[96];
  std::snprintf(status, sizeof status, "Dump Failed: %s ", what);
  end_transfer(dialog, status, Output::Drop);
}

// The port failed under the dump (its device may have gone): the port is
// opened again at the end as after XMODEM, and a side whose device has gone
// waits for it.
void end_dump_with_port_error(HWND dialog, int code) {
  char reason[64];
  hex_sio_error_text(code, reason, sizeof reason);
  g_reopened = true;
  end_dump_with_error(dialog, reason);
}

// Something the driver did: a byte in or out, or a new state.
struct DriverMark {
  int in, out, state;
  bool operator==(const DriverMark &) const = default;
};

DriverMark driver_mark(int port) {
  return {xyGetParameter(port, XY_PARAM_GET_CHAR_COUNT),
          xyGetParameter(port, XY_PARAM_PUT_CHAR_COUNT), xyGetParameter(port, XY_PARAM_STATE)};
}

// The driver's messages are read every run, so its ring never fills; the
// outcome is told by its error code.
void drop_driver_messages() {
  while (xyGetMessage(nullptr, 0)) {
  }
}

void show_packets(HWND dialog, int port) {
  const int packet = xyGetParameter(port, XY_PARAM_PACKET);
  if (packet <= 0)
    return;
  char text[64];
  const int size = xyGetParameter(port, XY_PARAM_FILE_SIZE);
  if (size > 0) {
    const int share = int(int64_t(xyGetBytesDone(port)) * 100 / size);
    std::snprintf(text, sizeof text, "Packets = %d (%d%%) ", packet, share);
  } else {
    std::snprintf(text, sizeof text, "Packets = %d ", packet);
  }
  show_status(dialog, text);
}

void start_xmodem(HWND dialog, int protocol, int fd) {
  const int port = hex_xsend_port;
  show_status(dialog, kNegotiating[protocol]);
  // The capture thread lets go of the port before it is closed under it;
  // the other side is read, shown and logged on.
  hex_xmodem_busy = 1;
  hex_capture_sync(dialog);
  reopen_port(dialog);
  g_reopened = true;
  g_driver_held = xyAcquire(port) == 0;
  drop_driver_messages();
  // The driver opens the file again by this name, as the same file.
  g_file_fd = fd;
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  if (hex_send_file)
    xyStartTx(port, path, protocol == kXModem1K ? 1 : 0, 0);
  else
    xyStartRx(port, path, protocol == kXModem ? XY_START_CHECKSUM : XY_START_CRC, 0);
  hex_timer_arm(dialog, TIMER_TRANSFER, HEX_XMODEM_STEP_MS);
}

void start_dump(HWND dialog, std::FILE *file) {
  const int port = hex_xsend_port;
  hex_dump_file = file;
  hex_dump_busy = 1;
  hex_capture_sync(dialog);  // the dump alone reads its port
  g_dump_sending = hex_send_file != 0;
  g_file_read = false;
  g_port_queue = 0;
  if (g_dump_sending)
    SioTxClear(port);
  else
    SioRxClear(port);
  show_status(dialog, g_dump_sending ? "Send file... " : "Get file... ");
  hex_dump_cnt = 0;
  g_moved_at = SioTimer();
  hex_timer_arm(dialog, TIMER_DUMP, HEX_DUMP_STEP_MS);
  hex_timer_arm(dialog, TIMER_DUMP_IDLE, HEX_DUMP_IDLE_MS);
}

// Sending step: bytes kept from the last step first, then as much of the
// file as the port's queue has room for. The number of bytes that went into
// the port; the dump has ended when `ended` is set.
int dump_send_step(HWND dialog, bool *ended) {
  const int port = hex_xsend_port;
  const int keptBefore = hex_out_waiting();
  const int pushed = hex_out_push();
  if (pushed < 0) {
    end_dump_with_port_error(dialog, pushed);
    *ended = true;
    return 0;
  }
  int queued = SioTxQue(port);
  if (queued < 0)
    queued = 0;
  const int room = HEX_DUMP_SEND_STEP - queued - hex_out_waiting();
  int read = 0;
  if (!g_file_read && room > 0) {
    read = int(std::fread(g_dump_bytes, 1, size_t(room), hex_dump_file));
    if (read < room) {
      if (std::ferror(hex_dump_file)) {
        end_dump_with_error(dialog, "file read error");
        *ended = true;
        return 0;
      }
      g_file_read = true;
    }
    const int taken = hex_out_put(port, g_dump_bytes, read);
    if (taken < 0) {
      end_dump_with_port_error(dialog, taken);
      *ended = true;
      return 0;
    }
  }
  int moved = keptBefore + read - hex_out_waiting();
  // Once all is written, the end waits for the port's queue to empty; its
  // draining is progress too.
  if (g_file_read && hex_out_waiting() == 0) {
    queued = SioTxQue(port);
    if (queued <= 0) {
      hex_dump_cnt += moved;
      end_transfer(dialog, kDumpCompleted, Output::Keep);
      *ended = true;
      return 0;
    }
    if (queued < g_port_queue)
      g_moved_at = SioTimer();
    g_port_queue = queued;
  }
  return moved;
}

int dump_receive_step(HWND dialog, bool *ended) {
  // The read itself, never the queue count (which reads a failure as 0),
  // tells a device that has gone.
  const int got = SioGets(hex_xsend_port, g_dump_bytes, HEX_DUMP_RECEIVE_STEP);
  if (got < 0) {
    end_dump_with_port_error(dialog, got);
    *ended = true;
    return 0;
  }
  // On disk at every step: what arrived is in the file 50 ms later.
  if (got > 0 && (std::fwrite(g_dump_bytes, 1, size_t(got), hex_dump_file) != size_t(got) ||
                  std::fflush(hex_dump_file) != 0)) {
    end_dump_with_error(dialog, "file write error");
    *ended = true;
    return 0;
  }
  return got;
}

// Timer 4: the end of a dump that has moved nothing for HEX_DUMP_IDLE_MS; a
// timer that comes early is set again for the rest.
void dump_idle(HWND dialog) {
  if (!hex_dump_busy)
    return;
  const uint32_t quiet = SioTimer() - g_moved_at;
  if (quiet < HEX_DUMP_IDLE_MS) {
    hex_timer_arm(dialog, TIMER_DUMP_IDLE, HEX_DUMP_IDLE_MS - quiet);
    return;
  }
  // A receiving dump ends so; a sending one still had bytes to get out.
  if (g_dump_sending)
    end_dump_with_error(dialog, "nothing went out for 15 s");
  else
    end_transfer(dialog, kDumpCompleted, Output::Keep, Outcome::Done);
}

}  // namespace

void hex_file_transfer(HWND dialog, unsigned, uintptr_t, intptr_t) {
  if (hex_xmodem_busy || hex_dump_busy)
    return;
  if (hex_out_waiting() > 0)
    return;  // a message is still going out; the status field says how far
  const int protocol = dlg_combo_get_sel(dialog, IDC_PROTOCOL);
  if (protocol < kDump || protocol > kXModem1K)
    return;
  if (hex_send_port_refused(dialog))
    return;
  static char path[HEX_PATH_SIZE];
  if (!hex_file_dlg(kFileExtension, kFileTitle, path, sizeof path))
    return;  // cancelled: nothing starts, nothing changes
  const bool sending = hex_send_file != 0;
  if (!sending && hex_ask_existing(dialog, path, false) == HEX_EXISTING_CANCEL)
    return;
  // The side's device may have gone while the dialog was up.
  if (hex_send_port_refused(dialog))
    return;
  const int fd = open_transfer_file(path, sending,
                                    protocol == kDump ? "Dump file open error" : "File open error");
  if (fd < 0)
    return;
  g_path = path;
  std::FILE *file = nullptr;
  if (protocol == kDump && !(file = fdopen(fd, sending ? "rb" : "wb"))) {
    hex_file_refused("Dump file open error", path, std::strerror(errno));
    close(fd);
    settle_file(Outcome::Failed, "");
    return;
  }
  hex_xsend_port = hex_send_port;
  g_side = hex_send_side();
  // The log stays open for the other side; the field names the file until
  // the end.
  dlg_set_path_text(dialog, IDC_FILE_NAME, path);
  lock_controls(dialog, true);
  if (protocol == kDump)
    start_dump(dialog, file);
  else
    start_xmodem(dialog, protocol, fd);
}

void hex_file_abort(HWND dialog, unsigned message, uintptr_t wParam, intptr_t) {
  if (message == WM_TIMER && wParam == uintptr_t(TIMER_DUMP_IDLE)) {
    dump_idle(dialog);
    return;
  }
  // The driver's cancel, sent as it lets go, must reach the far end.
  if (hex_xmodem_busy)
    end_transfer(dialog, kXModemAborted, Output::Keep);
  else if (hex_dump_busy)
    end_transfer(dialog, kDumpCompleted, Output::Drop, Outcome::Done);  // a dump ends so
  else
    show_status(dialog, kDumpCompleted);
}

void hex_periodic_transfer(HWND dialog) {
  if (!hex_xmodem_busy)
    return;
  const int port = hex_xsend_port;
  const uint32_t start = SioTimer();
  int running;
  for (;;) {
    const DriverMark before = driver_mark(port);
    running = xyDriver(port);
    drop_driver_messages();
    if (running <= 0 || driver_mark(port) == before || SioTimer() - start >= HEX_TRANSFER_RUN_MS)
      break;
  }
  if (running <= 0) {
    const int outcome = running < 0 ? running : xyGetParameter(port, XY_PARAM_LAST_ERROR);
    char status[96];
    if (outcome == 0)
      std::snprintf(status, sizeof status, "%s", kXModemCompleted);
    else
      std::snprintf(status, sizeof status, "X-Modem Failed: %s ", xyErrorText(outcome));
    end_transfer(dialog, status, Output::Keep, outcome == 0 ? Outcome::Done : Outcome::Failed);
    return;
  }
  show_packets(dialog, port);
  hex_timer_arm(dialog, TIMER_TRANSFER, HEX_XMODEM_STEP_MS);
}

void hex_periodic_dump(HWND dialog) {
  if (!hex_dump_busy)
    return;
  bool ended = false;
  const int moved =
      g_dump_sending ? dump_send_step(dialog, &ended) : dump_receive_step(dialog, &ended);
  if (ended)
    return;
  if (moved > 0) {
    hex_dump_cnt += moved;
    char text[64];
    std::snprintf(text, sizeof text, "Bytes = %lld ", static_cast<long long>(hex_dump_cnt));
    show_status(dialog, text);
    g_moved_at = SioTimer();
    hex_timer_arm(dialog, TIMER_DUMP_IDLE, HEX_DUMP_IDLE_MS);
  }
  hex_timer_arm(dialog, TIMER_DUMP, HEX_DUMP_STEP_MS);
}

void hex_transfer_stop(HWND dialog) {
  if (!hex_xmodem_busy && !hex_dump_busy)
    return;
  stop_transfer(dialog);
  // What a dump received is kept, as when it is aborted.
  const bool kept = hex_dump_file && std::fclose(hex_dump_file) == 0 && !g_dump_sending;
  hex_dump_file = nullptr;
  settle_file(kept ? Outcome::Done : Outcome::Failed, "");
  lock_controls(dialog, false);
}

int hex_transfer_port() { return hex_transfer_running() ? hex_xsend_port : -1; }

const char *hex_transfer_target() {
  return hex_transfer_running() && !g_part.empty() ? g_path.c_str() : "";
}
