// The HTML log: opening and closing it, writing its records, and the
// file-choice dialog it shares with file transfers.
#include "hex/hex_log.h"

#include "hex/hex_msgbox.h"
#include "resources/ids.h"

#include <cerrno>

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

// The controls and the flag of "No Log".
void show_no_log(HWND window) {
  dlg_set_path_text(window, IDC_FILE_NAME, "");
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

void save_record(int port, HexDirection direction, const char *text, int length) {
  if (hex_log == 0 || !hex_logfile || length < 1)
    return;
  FileOut file;
  hex_log_record(file, hex_port_rgb(port, direction), text, length, g_log_state);
  if (!file.written())
    write_failed();
}

// The chosen file becomes the log: emptied or created, the header first.
void start_log(HWND window, const char *path) {
  dlg_set_path_text(window, IDC_FILE_NAME, path);
  hex_logfile = std::fopen(path, "wb");
  if (!hex_logfile) {
    hex_err_msg("Log File open error");
    show_no_log(window);
    return;
  }
  std::setvbuf(hex_logfile, nullptr, _IOFBF, kFileBuffer);
  g_log_window = window;
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
  start_log(window, path);
}

void hex_log_open_file(HWND window, const char *path) {
  hex_log_close(window);
  start_log(window, path);
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

void hex_save_rx_log(int port, const char *text, int length) {
  save_record(port, HEX_RECEIVED, text, length);
}

void hex_save_tx_log(int port, const char *text, int length) {
  save_record(port, HEX_SENT, text, length);
  hex_log_flush();
}

void hex_log_flush() {
  if (hex_logfile)
    flush_log();
}

int hex_file_dlg(const char *default_extension, const char *title, char *path, int size) {
  return dlg_choose_file(nullptr, title, kAllFiles, default_extension, path, size);
}
