// The log's entry points. The HTML log is not part of the monitor yet, so no
// log can be open: nothing is written and "No Log" stays selected.
#include "hex/hex.h"

#include "resources/ids.h"

void hex_log_open(HWND window) { dlg_check_radio(window, IDC_LOG, IDC_NO_LOG, IDC_NO_LOG); }

void hex_log_close(HWND) { hex_log = 0; }

void hex_save_rx_log(int, const char *, int) {}

void hex_save_tx_log(int, const char *, int) {}
