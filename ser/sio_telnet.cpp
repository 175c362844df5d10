// Telnet stream decoding and encoding for remote ports.
#include "ser/sio_telnet.h"

namespace telnet {

void decode(Decoder &d, const uint8_t *bytes, size_t count, Sink &sink) {
  using S = Decoder::State;
  size_t i = 0;
  while (i < count) {
    if (d.state == S::Data) {
      // The common case in one piece: a run of data up to the next IAC.
      size_t run = i;
      while (run < count && bytes[run] != IAC)
        ++run;
      if (run > i)
        sink.data(bytes + i, run - i);
      if (run < count)
        d.state = S::Iac;
      i = run + 1;
      continue;
    }
    const uint8_t b = bytes[i++];
    switch (d.state) {
    case S::Iac:
      d.state = S::Data;
      if (b == IAC)
        sink.data(&b, 1);
      else if (b >= WILL) {
        d.verb = b;
        d.state = S::Verb;
      } else if (b == SB)
        d.state = S::SubOption;
      // NOP, GA, DM and the others carry nothing for a serial port.
      break;
    case S::Verb:
      d.state = S::Data;
      sink.option(d.verb, b);
      break;
    case S::SubOption:
      d.subOption = b;
      d.subBytes.clear();
      d.state = S::Sub;
      break;
    case S::Sub:
      if (b == IAC)
        d.state = S::SubIac;
      else if (d.subBytes.size() < SubMax)
        d.subBytes.push_back(b);
      break;
    case S::SubIac:
      if (b == IAC) {
        if (d.subBytes.size() < SubMax)
          d.subBytes.push_back(b);
        d.state = S::Sub;
      } else {
        // SE ends it; anything else is a broken stream, ended here too.
        d.state = S::Data;
        if (b == SE)
          sink.sub(d.subOption, d.subBytes.data(), d.subBytes.size());
      }
      break;
    case S::Data:
      break;
    }
  }
}

void escape(const uint8_t *bytes, size_t count, std::vector<uint8_t> &out) {
  for (size_t i = 0; i < count; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == IAC)
      out.push_back(IAC);
  }
}

void option(uint8_t verb, uint8_t opt, std::vector<uint8_t> &out) {
  out.insert(out.end(), {IAC, verb, opt});
}

void comPort(uint8_t command, const uint8_t *payload, size_t count, std::vector<uint8_t> &out) {
  out.insert(out.end(), {IAC, SB, OPT_COM_PORT});
  escape(&command, 1, out);
  escape(payload, count, out);
  out.insert(out.end(), {IAC, SE});
}

}  // namespace telnet
