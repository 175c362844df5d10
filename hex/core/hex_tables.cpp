// Name tables of the drop-down lists and the port colours.
#include "hex/core/hexcore.h"

const char hex_portnames[16][6] = {"COM1",  "COM2",  "COM3",  "COM4",  "COM5",  "COM6",
                                   "COM7",  "COM8",  "COM9",  "COM10", "COM11", "COM12",
                                   "COM13", "COM14", "COM15", "COM16"};
const char hex_baudcode[10][7] = {"110",  "300",   "1200",  "2400",  "4800",
                                  "9600", "19200", "38400", "57600", "115200"};
const char hex_data[4][2] = {"5", "6", "7", "8"};
const char hex_stop[2][2] = {"1", "2"};
const char hex_parity[5][6] = {"NONE", "ODD", "EVEN", "MARK", "SPACE"};
const char hex_flow[3][5] = {"RTS", "XON", "NONE"};
const char hex_sum[4][6] = {"CRC16", "CRC32", "SUM", "XOR"};
const char hex_protocol[4][12] = {"Dump", "XModem", "XModem CRC", "XModem 1K"};
const char hex_view[7][12] = {"Hexadecimal", "ASCII", "ANSI", "HDLC", "PPP", "ICNI", "Terminal"};
const char hex_frame[4][8] = {"None", "HDLC", "PPP", "ICNI"};

namespace {

struct Rgb {
  uint8_t red, green, blue;
};

// Received and sent colour of each port. COM1 and COM2 are the monitor's
// classic pairs; the others are distinct, readable on a light background.
constexpr Rgb kPortRgb[HEX_PORTS][2] = {
    {{0, 0, 255}, {0, 255, 0}},        // COM1: blue / green
    {{0, 0, 127}, {0, 127, 0}},        // COM2: navy / dark green
    {{192, 0, 0}, {0, 128, 128}},      // COM3: red / teal
    {{128, 0, 128}, {128, 128, 0}},    // COM4: purple / olive
    {{255, 0, 255}, {0, 192, 192}},    // COM5: magenta / cyan
    {{160, 82, 45}, {70, 130, 180}},   // COM6: sienna / steel blue
    {{255, 128, 0}, {75, 0, 130}},     // COM7: orange / indigo
    {{220, 20, 60}, {46, 139, 87}},    // COM8: crimson / sea green
    {{139, 69, 19}, {106, 90, 205}},   // COM9: brown / slate blue
    {{199, 21, 133}, {85, 107, 47}},   // COM10: violet red / olive green
    {{210, 105, 30}, {95, 158, 160}},  // COM11: chocolate / cadet blue
    {{255, 69, 0}, {60, 179, 113}},    // COM12: orange red / medium sea green
    {{184, 134, 11}, {65, 105, 225}},  // COM13: dark goldenrod / royal blue
    {{148, 0, 211}, {34, 139, 34}},    // COM14: dark violet / forest green
    {{128, 64, 0}, {0, 96, 160}},      // COM15: dark brown / ocean blue
    {{255, 20, 147}, {72, 61, 139}},   // COM16: deep pink / dark slate blue
};

constexpr uint32_t pane_value(Rgb c) {
  return uint32_t(c.blue) << 16 | uint32_t(c.green) << 8 | c.red;
}
constexpr uint32_t log_value(Rgb c) {
  return uint32_t(c.red) << 16 | uint32_t(c.green) << 8 | c.blue;
}

}  // namespace

#define HEX_ROW(n, f) \
  { f(kPortRgb[n][0]), f(kPortRgb[n][1]) }
#define HEX_TABLE(f)                                                                          \
  {                                                                                           \
    HEX_ROW(0, f), HEX_ROW(1, f), HEX_ROW(2, f), HEX_ROW(3, f), HEX_ROW(4, f), HEX_ROW(5, f), \
        HEX_ROW(6, f), HEX_ROW(7, f), HEX_ROW(8, f), HEX_ROW(9, f), HEX_ROW(10, f),           \
        HEX_ROW(11, f), HEX_ROW(12, f), HEX_ROW(13, f), HEX_ROW(14, f), HEX_ROW(15, f)        \
  }

const uint32_t hex_colour[HEX_PORTS][2] = HEX_TABLE(pane_value);
const uint32_t hex_rgb[HEX_PORTS][2] = HEX_TABLE(log_value);

namespace {

uint32_t table_colour(const uint32_t (&table)[HEX_PORTS][2], int port, HexDirection direction) {
  if (port < 0 || port >= HEX_PORTS)
    port = 0;
  return table[port][direction == HEX_SENT ? HEX_SENT : HEX_RECEIVED];
}

}  // namespace

uint32_t hex_port_colour(int port, HexDirection direction) {
  return table_colour(hex_colour, port, direction);
}

uint32_t hex_port_rgb(int port, HexDirection direction) {
  return table_colour(hex_rgb, port, direction);
}

char hex_flow_mode(const char *flow_text) {
  if (flow_text && flow_text[0] == 'R')
    return 'H';
  if (flow_text && flow_text[0] == 'X')
    return 'S';
  return 'N';
}
