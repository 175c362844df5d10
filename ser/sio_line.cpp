// Serial line control and status: speed, character format, flow control,
// the modem lines, break, error bits and the library's fixed information.
#include "ser/sio_internal.h"

#include <cstring>

const uint32_t BaudValue[10] = {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

namespace {

int32_t DebugValue = 0;

// Applies the port's record. Refused, the device keeps what it had and the
// record goes back to it, so that a later setting does not carry the refused
// value along. Taken, and with `lines`, DTR and RTS are set as they were last
// set, since a new setting may have changed them; under RTS/CTS handshaking
// RTS is raised for the kernel to drive: it lowers the line while its input
// is full. 0 or the errno value of the refusal.
int applyRecord(PortRecord &rec, bool lines) {
  if (const int err = devApply(rec.Handle, *rec.Dcb); err != 0) {
    devLoadDcb(rec.Handle, rec.Dcb);
    return err;
  }
  if (lines) {
    const bool handshake = rec.Dcb->fOutxCtsFlow || rec.Dcb->fRtsControl == 2;
    devSetModemLine(rec.Handle, ModemLine::Dtr, rec.Flags & SIO_FLAG_DTR);
    devSetModemLine(rec.Handle, ModemLine::Rts, (rec.Flags & SIO_FLAG_RTS) || handshake);
  }
  return 0;
}

void setRate(PortDCB_t &dcb, int baud) {
  dcb.BaudRate = uint32_t(baud) > 9 ? uint32_t(baud) : BaudValue[baud];
}

void setFormat(PortDCB_t &dcb, int parity, int stopBits, int dataBits) {
  dcb.Parity = uint8_t(parity);
  dcb.StopBits = uint8_t(stopBits);
  dcb.ByteSize = uint8_t(dataBits);
}

void setFlow(PortDCB_t &dcb, int mode) {
  switch (char(mode)) {
  case 'H':
    dcb.fOutxCtsFlow = true;
    dcb.fRtsControl = 2;
    dcb.fOutX = dcb.fInX = false;
    break;
  case 'S':
    dcb.fOutxCtsFlow = false;
    dcb.fRtsControl = 0;
    dcb.fOutX = dcb.fInX = true;
    break;
  case 'N':
    dcb.fOutxCtsFlow = false;
    dcb.fRtsControl = 0;
    dcb.fOutX = dcb.fInX = false;
    break;
  default:
    break;
  }
}

int flowOf(const PortDCB_t &dcb) {
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == 2)
    return 'H';
  return dcb.fOutX || dcb.fInX ? 'S' : 'N';
}

int refusedOr0(int err) { return err == 0 ? 0 : SioFail(err); }

int lineCommand(int port, int command, ModemLine line, uint8_t flag) {
  if (int r = SioPrologue(port))
    return r;
  PortRecord &rec = PortData[port];
  switch (char(command)) {
  case 'S':
    rec.Flags |= flag;
    return devSetModemLine(rec.Handle, line, true) == 0 ? 1 : 0;
  case 'C':
    rec.Flags &= uint8_t(~flag);
    return devSetModemLine(rec.Handle, line, false) == 0 ? 1 : 0;
  case 'R':
    return rec.Flags & flag;
  default:
    return SIO_RANGE;
  }
}

int modemBit(int port, int mask) {
  if (int r = SioPrologue(port))
    return r;
  int bits = 0;
  devModemStatus(PortData[port].Handle, &bits);  // no modem lines: all off
  return bits & mask;
}

}  // namespace

int SioBaud(int port, int baud) {
  if (port == -1) {
    BaudRateDefault = uint32_t(baud);
    return 0;
  }
  if (int r = SioPrologue(port))
    return r;
  PortRecord &rec = PortData[port];
  setRate(*rec.Dcb, baud);
  return applyRecord(rec, false) == 0 ? 1 : 0;
}

int SioParms(int port, int parity, int stopBits, int dataBits) {
  if (port == -1) {
    ParityDefault = uint8_t(parity);
    StopBitsDefault = uint8_t(stopBits);
    DataBitsDefault = uint8_t(dataBits);
    return 0;
  }
  if (int r = SioPrologue(port))
    return r;
  PortRecord &rec = PortData[port];
  setFormat(*rec.Dcb, parity, stopBits, dataBits);
  return refusedOr0(applyRecord(rec, true));
}

int SioFlow(int port, int mode) {
  if (int r = SioPrologue(port))
    return r;
  PortRecord &rec = PortData[port];
  setFlow(*rec.Dcb, mode);
  return refusedOr0(applyRecord(rec, true));
}

int SioSetLine(int port, const SioLine &line) {
  if (int r = SioPrologue(port))
    return r;
  PortRecord &rec = PortData[port];
  PortDCB_t want = *rec.Dcb;
  setRate(want, line.baud);
  setFormat(want, line.parity, line.stopBits, line.dataBits);
  setFlow(want, line.flow);
  *rec.Dcb = want;
  const int err = applyRecord(rec, true);
  if (err == 0)
    return 0;
  // Refused as a whole: each value the device takes on its own is kept, so
  // that one refused value does not cost the others.
  setRate(*rec.Dcb, line.baud);
  applyRecord(rec, true);
  rec.Dcb->Parity = uint8_t(line.parity);
  applyRecord(rec, true);
  rec.Dcb->StopBits = uint8_t(line.stopBits);
  applyRecord(rec, true);
  rec.Dcb->ByteSize = uint8_t(line.dataBits);
  applyRecord(rec, true);
  setFlow(*rec.Dcb, line.flow);
  applyRecord(rec, true);
  return SioFail(err);
}

int SioGetLine(int port, SioLine *line) {
  if (int r = SioPrologue(port))
    return r;
  const PortDCB_t &dcb = *PortData[port].Dcb;
  *line = SioLine{int(dcb.BaudRate), dcb.Parity, dcb.StopBits, dcb.ByteSize, flowOf(dcb)};
  return 0;
}

int SioDTR(int port, int command) {
  return lineCommand(port, command, ModemLine::Dtr, SIO_FLAG_DTR);
}
int SioRTS(int port, int command) {
  return lineCommand(port, command, ModemLine::Rts, SIO_FLAG_RTS);
}

int SioCTS(int port) { return modemBit(port, 0x10); }
int SioDSR(int port) { return modemBit(port, 0x20); }
int SioRI(int port) { return modemBit(port, 0x40); }
int SioDCD(int port) { return modemBit(port, 0x80); }

int SioModemLines(int port, int *bits) {
  if (int r = SioPrologue(port))
    return r;
  if (devModemStatus(PortData[port].Handle, bits) != 0) {
    *bits = 0;
    return 0;
  }
  return 1;
}

int SioGetAnswers(int port, SioLineAnswers *answers) {
  if (int r = SioPrologue(port))
    return r;
  *answers = SioLineAnswers{};
  PortRecord &rec = PortData[port];
  if (!remotePort(rec.Handle))
    return 0;
  const int err = remoteAnswers(rec.Handle, answers, rec.Dcb);
  return err == 0 ? 1 : SioFail(err);
}

int SioBrkSig(int port, int command) {
  if (int r = SioPrologue(port))
    return r;
  switch (char(command)) {
  case 'A':
    return devSetBreak(PortData[port].Handle, true) == 0 ? 1 : 0;
  case 'C':
    return devSetBreak(PortData[port].Handle, false) == 0 ? 1 : 0;
  case 'D':
    return 0;
  default:
    return SIO_RANGE;
  }
}

int SioStatus(int port, int mask) {
  if (int r = SioPrologue(port))
    return r;
  PortRecord &rec = PortData[port];
  ErrorCounters now;
  if (devErrorCounters(rec.Handle, &now) != 0) {
    rec.CountersValid = false;
    return 0;
  }
  int bits = 0;
  if (rec.CountersValid) {
    const ErrorCounters &was = rec.Counters;
    if (now.overflow != was.overflow)
      bits |= 0x1;
    if (now.overrun != was.overrun)
      bits |= 0x2;
    if (now.parity != was.parity)
      bits |= 0x4;
    if (now.framing != was.framing)
      bits |= 0x8;
    if (now.breaks != was.breaks)
      bits |= 0x10;
  }
  rec.Counters = now;
  rec.CountersValid = true;
  return bits & mask;
}

int SioCounts(int port, SioLineCounts *counts) {
  if (int r = SioPrologue(port))
    return r;
  SioLineCounts none;
  if (counts)
    *counts = none;
  PortRecord &rec = PortData[port];
  ErrorCounters now;
  if (!rec.OpenCountersValid || devErrorCounters(rec.Handle, &now) != 0)
    return 0;
  if (counts) {
    // The driver's counts run on from its own start; the port's share is
    // the difference, modulo 2^32 as the counters wrap.
    const ErrorCounters &was = rec.OpenCounters;
    counts->overrun = now.overrun - was.overrun;
    counts->parity = now.parity - was.parity;
    counts->framing = now.framing - was.framing;
    counts->breaks = now.breaks - was.breaks;
    counts->overflow = now.overflow - was.overflow;
  }
  return 1;
}

int SioInfo(int letter) {
  switch (char(letter)) {
  case 'V':
  case '3':
    return 0x232;
  case '?':
    return 0;
  case 'I':
    return 1;
  default:
    return -1;
  }
}

int SioDebug() { return DebugValue; }

int SioWinError(char *buffer, int size) {
  if (buffer && size > 0) {
    const char *text = strerror(LastWinError);
    size_t n = strnlen(text, size_t(size - 1));
    memcpy(buffer, text, n);
    buffer[n] = '\0';
  }
  return LastWinError;
}
