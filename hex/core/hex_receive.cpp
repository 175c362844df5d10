// What each view makes of a received chunk.
#include "hex/core/hexcore.h"

void hex_show_received(int32_t view, int port, char *buffer, int count, HexSink &sink) {
  switch (view) {
  case HEX_VIEW_HEXADECIMAL: {
    const int length = hex_to_hexstr(buffer, buffer, count);
    sink.show(port, buffer, length);
    break;
  }
  case HEX_VIEW_ASCII:
  case HEX_VIEW_ANSI:
    sink.show(port, buffer, count);
    break;
  default:
    break;
  }
}
