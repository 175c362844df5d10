// The monitor state: module-level, zero at program start, set by hex_init.
#include "hex/hex_state.h"

int32_t hex_view_mode;
int32_t hex_ascii;
int32_t hex_local_echo;
int32_t hex_run;
int32_t hex_send_file;
uint16_t hex_time_stamp;
unsigned hex_timer;

HexSideRecord hex_obj[2];
HexTimeLines hex_time;
