// What each view makes of a received chunk.
#include "hex/core/hexcore.h"

void hex_restart_decoders(hex_obj_t &record) {
  record.ansi_intro = record.ansi_ch1 = record.ansi_ch2 = 0;
  record.ansi_column = record.ansi_line = record.ansi_state = 0;
  record.icni_len = HEX_ICNI_NO_LENGTH;
  record.frame_len = 0;
  record.hdlc_bits = record.hdlc_byte = record.hdlc_ones = 0;
  record.hdlc_zero = record.hdlc_hunt = 0;
}

void hex_show_received(int32_t view, hex_obj_t &record, int port, uint16_t stamp, char *buffer,
                       int count, HexSink &sink) {
  const auto *bytes = reinterpret_cast<const uint8_t *>(buffer);
  switch (view) {
  case HEX_VIEW_HEXADECIMAL: {
    const int length = hex_to_hexstr(buffer, buffer, count);
    sink.show(port, buffer, length);
    break;
  }
  case HEX_VIEW_ASCII:
    sink.show(port, buffer, count);
    break;
  case HEX_VIEW_ANSI:
    hex_parse_ansi(record, port, buffer, buffer, count, sink);
    break;
  case HEX_VIEW_HDLC:
    hex_parse_hdlc(record, port, stamp, bytes, count, sink);
    break;
  case HEX_VIEW_PPP:
    hex_parse_ppp(record, port, stamp, bytes, count, sink);
    break;
  case HEX_VIEW_ICNI:
    hex_parse_icni(record, port, stamp, bytes, count, sink);
    break;
  default:
    break;
  }
}
