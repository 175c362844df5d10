// The HTML log: opening and closing it, writing its records, and the
// file-choice dialog it shares with file transfers.
#include "hex/hex_log.h"
#include "hex/hex_display.h"

#include "hex/hex_msgbox.h"
#include "hex/hex_transfer.h"
#include "resources/ids.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <string>
#include <sys/stat.h>

int32_t hex_log;

namespace {

std::FILE *hex_logfile;  // the open log file

constexpr char kLogExtension[] = "htm";
constexpr char kLogTitle[] = "Select or enter a Log File name";
// Any file: names on this system need not have an extension.
constexpr char kAllFiles[] = "All Files (*)";

// Records go to the file in large writes: one pump run's text is a few
// hundred kilobytes at most.
constexpr size_t kFileBuffer = 64 * 1024;

HWND g_log_window = nullptr;  // whose controls show the open log
HexLogState g_log_state;      // where the log's text stands after the last record
std::string g_log_path;       // the open log's, empty without one

// The name field shows the log's path, but the transferred file's while a
// transfer runs (the transfer shows the log's again at its end).
void show_name(HWND window, const char *path) {
  if (!hex_transfer_running())
    dlg_set_path_text(window, IDC_FILE_NAME, path);
}

// The controls and the flag of "No Log".
void show_no_log(HWND window) {
  g_log_path.clear();
  show_name(window, "");
  dlg_check_radio(window, IDC_LOG, IDC_NO_LOG, IDC_NO_LOG);
  hex_log = 0;
}

// The first write that fails ends the log: the file keeps what reached it.
// The log is closed before the message shows, so nothing that runs while it
// is up finds the log half open.
void write_failed() {
  const int error = errno;  // what hex_err_msg reports
  if (hex_logfile)
    std::fclose(hex_logfile);
  hex_logfile = nullptr;
  show_no_log(g_log_window);
  errno = error;
  hex_err_msg("Log File write error");
}

// A record's pieces into the file; after a failed piece the rest is dropped.
class FileOut final : public HexLogOut {
public:
  void write(const char *bytes, size_t count) override {
    if (written_ && std::fwrite(bytes, 1, count, hex_logfile) != count)
      written_ = false;
  }
  bool written() const { return written_; }

private:
  bool written_ = true;
};

bool write_log(const char *data, size_t size) {
  if (std::fwrite(data, 1, size, hex_logfile) == size)
    return true;
  write_failed();
  return false;
}

bool flush_log() {
  if (std::fflush(hex_logfile) == 0)
    return true;
  write_failed();
  return false;
}

void save_record(uint32_t rgb, const char *text, int length) {
  if (hex_log == 0 || !hex_logfile || length < 1)
    return;
  FileOut file;
  hex_log_record(file, rgb, text, length, g_log_state);
  if (!file.written())
    write_failed();
}

// The chosen file becomes the log: emptied or created (or written on at its
// end), the header first. Only a regular file is written: a FIFO would hang
// the window, a device would put the log out on a line.
void start_log(HWND window, const char *path, HexOpen how) {
  show_name(window, path);
  std::string why;
  // A file being received takes that place at its end: the log would go.
  const bool received = hex_same_file(path, hex_transfer_target());
  const int fd = received ? -1 : hex_open_user_file(path, how, &why);
  if (received)
    why = "is the file being received";
  hex_logfile = fd >= 0 ? fdopen(fd, how == HexOpen::Append ? "ab" : "wb") : nullptr;
  if (!hex_logfile) {
    if (fd >= 0) {
      why = std::strerror(errno);
      close(fd);
    }
    hex_file_refused("Log File open error", path, why.c_str());
    show_no_log(window);
    return;
  }
  std::setvbuf(hex_logfile, nullptr, _IOFBF, kFileBuffer);
  g_log_window = window;
  g_log_path = path;
  g_log_state = HexLogState{};
  hex_log = 1;
  dlg_check_radio(window, IDC_LOG, IDC_NO_LOG, IDC_LOG);
  // On disk at once: a file that takes nothing is found out now.
  if (write_log(HEX_LOG_HEADER, sizeof HEX_LOG_HEADER - 1))
    flush_log();
}

}  // namespace

void hex_log_open(HWND window) {
  // A log already open is finished first, so no file is left without its end.
  hex_log_close(window);
  char path[HEX_PATH_SIZE];
  if (!hex_file_dlg(kLogExtension, kLogTitle, path, sizeof path))
    return;  // cancelled: not an error, "No Log" stays
  switch (hex_ask_existing(window, path, true)) {
  case HEX_EXISTING_REPLACE:
    start_log(window, path, HexOpen::Replace);
    break;
  case HEX_EXISTING_APPEND:
    start_log(window, path, HexOpen::Append);
    break;
  case HEX_EXISTING_CANCEL:
    break;
  }
}

void hex_log_open_file(HWND window, const char *path, bool append) {
  hex_log_close(window);
  start_log(window, path, append ? HexOpen::Append : HexOpen::Replace);
}

void hex_log_close(HWND window) {
  if (hex_logfile && write_log(HEX_LOG_TRAILER, sizeof HEX_LOG_TRAILER - 1) && flush_log()) {
    std::FILE *file = hex_logfile;
    hex_logfile = nullptr;
    if (std::fclose(file) != 0)
      write_failed();
  }
  show_no_log(window);
}

const char *hex_log_path() { return g_log_path.c_str(); }

void hex_save_rx_log(int port, const char *text, int length) {
  save_record(hex_port_rgb(port, HEX_RECEIVED), text, length);
}

void hex_save_alert_log(const char *text, int length) { save_record(HEX_ALERT_RGB, text, length); }

void hex_save_tx_log(int port, const char *text, int length) {
  save_record(hex_port_rgb(port, HEX_SENT), text, length);
  hex_log_flush();
}

void hex_log_flush() {
  if (hex_logfile)
    flush_log();
}

int hex_file_dlg(const char *default_extension, const char *title, char *path, int size) {
  return dlg_choose_file(nullptr, title, kAllFiles, default_extension, path, size);
}

HexExisting hex_ask_existing(HWND window, const char *path, bool offer_append) {
  struct stat st {};
  // Nothing there, or nothing a file could replace: the open says why.
  if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode))
    return HEX_EXISTING_REPLACE;
  static const char *const kWithAppend[] = {"Replace", "Append", "Cancel"};
  static const char *const kReplaceOnly[] = {"Replace", "Cancel"};
  const std::string text = std::string(path) + " exists.\n" +
                           (offer_append ? "Replace it, or append to it?" : "Replace it?");
  const int pressed = offer_append
                          ? dlg_question_box(window, text.c_str(), "Kestrelon", kWithAppend, 3)
                          : dlg_question_box(window, text.c_str(), "Kestrelon", kReplaceOnly, 2);
  if (pressed == 0)
    return HEX_EXISTING_REPLACE;
  if (offer_append && pressed == 1)
    return HEX_EXISTING_APPEND;
  return HEX_EXISTING_CANCEL;
}
