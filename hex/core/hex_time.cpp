// The Time view: where a line starts and what heads it, and the lines of
// line events.
#include "hex/core/hexcore.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

constexpr uint32_t kMsPerSecond = 1000;
constexpr uint32_t kMsPerMinute = 60 * kMsPerSecond;
constexpr uint32_t kMsPerHour = 60 * kMsPerMinute;

// Text heads its lines with the time; everything else goes through to the
// window's sink as it is.
class TimedSink final : public HexSink {
public:
  TimedSink(HexSink &inner, HexTimeLines &lines, uint32_t ms)
      : inner_(inner), lines_(lines), ms_(ms) {}
  void show(int port, const char *text, int length) override { inner_.show(port, text, length); }
  void show_alert(int port, const char *text, int length) override {
    inner_.show_alert(port, text, length);
  }
  void frame(int port, const uint8_t *bytes, int count, const HexVerdict &verdict) override {
    inner_.frame(port, bytes, count, verdict);
  }
  int frame_head(int port, uint16_t, char *out) override {
    return hex_time_line(lines_, port, HEX_RECEIVED, ms_, out);
  }
  void ansi_key(int key) override { inner_.ansi_key(key); }
  void ansi_home() override { inner_.ansi_home(); }
  void ansi_line_end() override { inner_.ansi_line_end(); }
  void ansi_clear_to_end() override { inner_.ansi_clear_to_end(); }
  void ansi_clear_to_line_end() override { inner_.ansi_clear_to_line_end(); }
  void ansi_clear_line() override { inner_.ansi_clear_line(); }
  void ansi_clear_all() override { inner_.ansi_clear_all(); }
  void ansi_goto(int line, int column) override { inner_.ansi_goto(line, column); }

private:
  HexSink &inner_;
  HexTimeLines &lines_;
  uint32_t ms_;
};

// "hh:mm:ss.mmm" of milliseconds past midnight.
struct TimeOfDay {
  explicit TimeOfDay(uint32_t day_ms) {
    day_ms %= HEX_DAY_MS;
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", day_ms / kMsPerHour,
                  day_ms / kMsPerMinute % 60, day_ms / kMsPerSecond % 60, day_ms % kMsPerSecond);
  }
  char text[16];
};

bool is_frame_view(int32_t view) {
  return view == HEX_VIEW_HDLC || view == HEX_VIEW_PPP || view == HEX_VIEW_ICNI;
}

int clamp_length(int written) { return std::clamp(written, 0, HEX_HEAD_MAX - 1); }

}  // namespace

int HexSink::frame_head(int port, uint16_t stamp, char *out) {
  return clamp_length(std::snprintf(out, HEX_HEAD_MAX, "\nRx%d %5d ", port + 1, int(stamp)));
}

uint32_t hex_time_of_day(const HexClockFace &face, uint32_t ms) {
  // Signed: a time read just before the face was set is a little earlier.
  const int64_t since = int32_t(ms - face.clock_ms);
  const int64_t day = (int64_t(face.day_ms) + since) % int64_t(HEX_DAY_MS);
  return uint32_t(day < 0 ? day + HEX_DAY_MS : day);
}

void hex_clock_face_move(HexClockFace &face, uint32_t ms) {
  face.day_ms = hex_time_of_day(face, ms);
  face.clock_ms = ms;
}

int hex_time_head(char *out, uint32_t day_ms, uint32_t delta_ms, int port, HexDirection direction) {
  const TimeOfDay time(day_ms);
  return clamp_length(std::snprintf(out, HEX_HEAD_MAX, "\n%s +%u %cx%d ", time.text, delta_ms,
                                    direction == HEX_SENT ? 'T' : 'R', port + 1));
}

int hex_time_line(HexTimeLines &lines, int port, HexDirection direction, uint32_t ms, char *out) {
  const uint32_t delta = lines.lines == 0 ? 0 : ms - lines.line_ms;
  const int length =
      lines.on ? hex_time_head(out, hex_time_of_day(lines.face, ms), delta, port, direction)
               : clamp_length(std::snprintf(out, HEX_HEAD_MAX, "\n%cx%d ",
                                            direction == HEX_SENT ? 'T' : 'R', port + 1));
  if (lines.lines < INT32_MAX)
    ++lines.lines;
  lines.line_ms = ms;
  lines.last_ms = ms;
  lines.last_port = port;
  lines.last_direction = direction;
  return length;
}

int hex_time_chunk(HexTimeLines &lines, int port, HexDirection direction, uint32_t ms, char *out) {
  const bool same_source = lines.last_port == port && lines.last_direction == direction;
  if (lines.lines > 0 && same_source && (!lines.on || ms - lines.last_ms <= lines.gap_ms)) {
    lines.last_ms = ms;
    return 0;
  }
  return hex_time_line(lines, port, direction, ms, out);
}

void hex_show_chunk(int32_t view, hex_obj_t &record, int port, uint16_t stamp, HexTimeLines &lines,
                    uint32_t ms, char *buffer, int count, HexSink &sink) {
  // A screen is no record of time: the Time view is off while it is shown.
  // Nor are the frame views' lines headed again by their port.
  if (!hex_lines_headed(lines) || view == HEX_VIEW_TERMINAL || (is_frame_view(view) && !lines.on)) {
    hex_show_received(view, record, port, stamp, buffer, count, sink);
    return;
  }
  if (is_frame_view(view)) {
    TimedSink timed(sink, lines, ms);
    hex_show_received(view, record, port, stamp, buffer, count, timed);
    return;
  }
  char head[HEX_HEAD_MAX];
  if (const int length = hex_time_chunk(lines, port, HEX_RECEIVED, ms, head))
    sink.show(port, head, length);
  hex_show_received(view, record, port, stamp, buffer, count, sink);
}

void hex_show_breaks(HexTimeLines &lines, int port, uint32_t ms, uint32_t breaks, HexSink &sink) {
  if (breaks == 0)
    return;
  char text[HEX_HEAD_MAX + 32];
  int length = 0;
  if (lines.on) {
    length = hex_time_line(lines, port, HEX_RECEIVED, ms, text);
    // Whatever comes next heads a line of its own.
    lines.last_port = -1;
  } else {
    length = std::snprintf(text, HEX_HEAD_MAX, "\nRx%d ", port + 1);
    lines.last_port = -1;  // with Ports on, the text after it is headed anew
  }
  const int room = int(sizeof text) - length;
  length +=
      clamp_length(breaks == 1 ? std::snprintf(text + length, size_t(room), "<BREAK>")
                               : std::snprintf(text + length, size_t(room), "<BREAK x%u>", breaks));
  sink.show(port, text, length);
}

void hex_show_event_line(HexTimeLines &lines, int port, const char *what, uint32_t ms,
                         HexSink &sink) {
  const char *name = port >= 0 && port < HEX_PORTS ? hex_portnames[port] : "?";
  std::string text = "\n";
  text += TimeOfDay(hex_time_of_day(lines.face, ms)).text;
  text += ' ';
  text += name;
  text += ' ';
  text += what;
  // With Time or Ports on the next text heads a line of its own; without,
  // it starts one here.
  if (hex_lines_headed(lines))
    lines.last_port = -1;
  else
    text += '\n';
  sink.show(port, text.data(), int(text.size()));
}

void hex_show_port_event(HexTimeLines &lines, int port, const char *device, HexPortEvent event,
                         uint32_t ms, HexSink &sink) {
  bool on = false;
  const int line = hex_line_of_event(event, &on);
  std::string what;
  if (line >= 0) {
    what = hex_line_names[line];
    what += on ? " on" : " off";
  } else if (event == HEX_PORT_GONE || event == HEX_PORT_BACK) {
    what = "(";
    what += device ? device : "?";
    what += event == HEX_PORT_GONE ? ") disconnected" : ") reconnected";
  } else {
    return;
  }
  hex_show_event_line(lines, port, what.c_str(), ms, sink);
}
