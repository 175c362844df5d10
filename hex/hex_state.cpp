// The monitor state: module-level, zero at program start, set by hex_init.
#include "hex/hex.h"

int32_t hex_view_mode;
int32_t hex_ascii;
int32_t hex_local_echo;
int32_t hex_run;
int32_t hex_send_port;
int32_t hex_send_file;
uint16_t hex_time_stamp;
unsigned hex_timer;
int32_t hex_log;
std::FILE *hex_logfile;
int32_t hex_escape_code;
void *hex_rich_edit;
int32_t hex_xmodem_busy;
int32_t hex_dump_busy;

int32_t hex_xsend_port;
unsigned hex_xtimer;
unsigned hex_dtimer;
unsigned hex_derr_timer;
std::FILE *hex_dump_file;
int64_t hex_dump_cnt;

hex_obj_t hex_obj[2];
HexTimeLines hex_time;
