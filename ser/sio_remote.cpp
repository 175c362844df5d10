// Remote ports: a serial port on another machine, reached over TCP, either
// through a Telnet COM-PORT-OPTION server (rfc2217://HOST:PORT, RFC 2217, as
// ser2net serves one) or as raw bytes (tcp://HOST:PORT). The device layer
// hands every call on such a descriptor here.
//
// Nothing here waits for the server: settings, modem lines, break and purges
// are sent and their answers taken as they come, by whichever call reads the
// socket next. Reading calls (SioGets, on a capture thread) and writing or
// setting calls (the window's thread) may run at once: each port's state is
// under its own mutex, held only while bytes are moved.
#include "ser/sio_internal.h"
#include "ser/sio_telnet.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

constexpr char kTelnetScheme[] = "rfc2217://";
constexpr char kRawScheme[] = "tcp://";
constexpr uint32_t kConnectLimitMs = 5000;
// The open looks this long for the connection's outcome: on a near network
// a refusal is known by then and fails the open; a slower one completes (or
// fails) later, found by the reading calls.
constexpr int kOpenLookMs = 20;
// A setting the server has not answered within this time is unconfirmed.
constexpr uint32_t kAnswerMs = 1000;
constexpr size_t kOutMax = 64 * 1024;  // encoded bytes taken before a write waits
constexpr size_t kInMax = 64 * 1024;   // decoded bytes held before reading stops
constexpr uint8_t kLineStateMask = 0x1E;  // break, framing, parity, overrun
constexpr uint8_t kModemStateMask = 0xFF;

// The five settings a server confirms, in SIO_SET_* bit order.
enum Slot { Baud, Parity, Stop, Data, Flow, Slots };
constexpr uint8_t kSlotCommand[Slots] = {telnet::SET_BAUDRATE, telnet::SET_PARITY,
                                         telnet::SET_STOPSIZE, telnet::SET_DATASIZE,
                                         telnet::SET_CONTROL};

struct Ask {
  enum class State : uint8_t { Idle, Waiting, Confirmed, Refused, Silent } state = State::Idle;
  uint32_t asked = 0;
  uint32_t answer = 0;
  uint32_t at = 0;
  bool told = false;  // a refusal or silence already handed out
  bool sent = false;
  uint16_t unanswered = 0;  // requests of this setting sent, not answered yet
};

struct Remote : telnet::Sink {
  std::mutex lock;
  int fd = -1;
  bool telnetMode = true;
  bool connecting = true;
  uint32_t startedAt = 0;
  int failure = 0;  // the connection's error once it failed or ended
  bool ended = false;
  telnet::Decoder decoder;
  std::vector<uint8_t> in;  // decoded data not yet read
  size_t inHead = 0;
  std::vector<uint8_t> out;  // encoded bytes not yet sent
  size_t outHead = 0;
  std::vector<uint8_t> held;  // COM-PORT requests until the server takes the option
  bool usOn[256] = {};        // options enabled on our side
  bool himOn[256] = {};       // on the server's side
  bool offered[256] = {};     // WILL sent, not yet answered
  bool asked[256] = {};       // DO sent, not yet answered
  bool comPort = false;
  bool comPortRefused = false;
  Ask asks[Slots];
  int modem = 0;  // SIO_LINE_CTS/DSR/RI/DCD as last notified
  bool modemKnown = false;
  bool dtr = false, rts = false;
  ErrorCounters counters;

  void data(const uint8_t *bytes, size_t count) override {
    in.insert(in.end(), bytes, bytes + count);
  }
  void option(uint8_t verb, uint8_t opt) override;
  void sub(uint8_t opt, const uint8_t *payload, size_t count) override;

  void request(uint8_t command, const uint8_t *payload, size_t count) {
    if (!telnetMode)
      return;
    telnet::comPort(command, payload, count, comPort ? out : held);
  }
  void request(uint8_t command, uint8_t value) { request(command, &value, 1); }
};

bool supported(uint8_t opt) {
  return opt == telnet::OPT_BINARY || opt == telnet::OPT_SGA || opt == telnet::OPT_COM_PORT;
}

// Each side's options agreed without loops: a verb that changes nothing is
// not answered, and one that answers our own request is not answered again.
void Remote::option(uint8_t verb, uint8_t opt) {
  using namespace telnet;
  switch (verb) {
  case DO:
    if (!supported(opt) || (opt == OPT_COM_PORT && comPortRefused)) {
      if (!offered[opt])
        telnet::option(WONT, opt, out);
      offered[opt] = false;
      break;
    }
    if (!usOn[opt] && !offered[opt])
      telnet::option(WILL, opt, out);
    usOn[opt] = true;
    offered[opt] = false;
    if (opt == OPT_COM_PORT && !comPort) {
      comPort = true;
      request(SET_LINESTATE_MASK, kLineStateMask);
      request(SET_MODEMSTATE_MASK, kModemStateMask);
      out.insert(out.end(), held.begin(), held.end());
      held.clear();
    }
    break;
  case DONT:
    if (usOn[opt])
      telnet::option(WONT, opt, out);
    usOn[opt] = offered[opt] = false;
    if (opt == OPT_COM_PORT) {
      comPort = false;
      comPortRefused = true;
      held.clear();  // never answered: the settings go unconfirmed
    }
    break;
  case WILL:
    if (opt == OPT_COM_PORT || !supported(opt)) {
      // The server's side of COM-PORT-OPTION is a client's business only.
      if (!asked[opt])
        telnet::option(DONT, opt, out);
      asked[opt] = false;
      break;
    }
    if (!himOn[opt] && !asked[opt])
      telnet::option(DO, opt, out);
    himOn[opt] = true;
    asked[opt] = false;
    break;
  case WONT:
    if (himOn[opt])
      telnet::option(DONT, opt, out);
    himOn[opt] = asked[opt] = false;
    break;
  default:
    break;
  }
}

void Remote::sub(uint8_t opt, const uint8_t *p, size_t count) {
  if (opt != telnet::OPT_COM_PORT || count < 1 || p[0] <= telnet::ServerOffset)
    return;
  const uint8_t command = uint8_t(p[0] - telnet::ServerOffset);
  ++p;
  --count;
  if (command == telnet::NOTIFY_MODEMSTATE && count >= 1) {
    modem = p[0] & (SIO_LINE_CTS | SIO_LINE_DSR | SIO_LINE_RI | SIO_LINE_DCD);
    modemKnown = true;
    return;
  }
  if (command == telnet::NOTIFY_LINESTATE && count >= 1) {
    counters.overrun += (p[0] >> 1) & 1;
    counters.parity += (p[0] >> 2) & 1;
    counters.framing += (p[0] >> 3) & 1;
    counters.breaks += (p[0] >> 4) & 1;
    return;
  }
  for (int slot = 0; slot < Slots; ++slot) {
    if (kSlotCommand[slot] != command)
      continue;
    uint32_t value = 0;
    if (slot == Baud) {
      if (count < 4)
        return;
      value = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    } else {
      if (count < 1)
        return;
      value = p[0];
      // SET-CONTROL answers break and the modem lines too: only 1..3 are
      // flow control.
      if (slot == Flow && (value < 1 || value > 3))
        return;
    }
    Ask &ask = asks[slot];
    // Answers come in the order of the requests: one to an earlier request
    // (a setting changed again before its answer came) says nothing of this one.
    if (ask.unanswered > 0 && --ask.unanswered > 0)
      return;
    if (ask.state != Ask::State::Waiting && ask.state != Ask::State::Silent)
      return;
    ask.answer = value;
    ask.state = value == ask.asked ? Ask::State::Confirmed : Ask::State::Refused;
    ask.told = false;
  }
}

std::mutex g_tableLock;
std::map<int, std::shared_ptr<Remote>> g_remotes;

std::shared_ptr<Remote> remoteOf(int fd) {
  std::lock_guard<std::mutex> hold(g_tableLock);
  auto it = g_remotes.find(fd);
  return it == g_remotes.end() ? nullptr : it->second;
}

// Sends what the socket takes now. 0 or the error that ended the connection.
int flush(Remote &r) {
  while (!r.connecting && r.failure == 0 && r.outHead < r.out.size()) {
    ssize_t n = send(r.fd, r.out.data() + r.outHead, r.out.size() - r.outHead,
                     MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      r.outHead += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN)
      r.failure = errno;
    break;
  }
  if (r.outHead == r.out.size()) {
    r.out.clear();
    r.outHead = 0;
  }
  return r.failure;
}

// A connection still being made: has it been made, failed or run out of
// time? 0 while it is fine.
int settle(Remote &r) {
  if (r.connecting) {
    pollfd p{r.fd, POLLOUT, 0};
    if (poll(&p, 1, 0) == 1) {
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(r.fd, SOL_SOCKET, SO_ERROR, &err, &len);
      if (err != 0)
        r.failure = err;
      else
        r.connecting = false;
    } else if (SioTimer() - r.startedAt >= kConnectLimitMs) {
      r.failure = ETIMEDOUT;
    }
  }
  return flush(r);
}

// Takes what the socket holds into the decoded input. 0 or the error.
int pull(Remote &r) {
  if (int err = settle(r))
    return err;
  if (r.connecting)
    return 0;
  uint8_t raw[8192];
  while (!r.ended && r.in.size() - r.inHead < kInMax) {
    ssize_t n = recv(r.fd, raw, sizeof raw, MSG_DONTWAIT);
    if (n > 0) {
      if (r.telnetMode)
        telnet::decode(r.decoder, raw, size_t(n), r);
      else
        r.data(raw, size_t(n));
      continue;
    }
    if (n == 0)
      r.ended = true;  // the server closed the connection
    else if (errno == EINTR)
      continue;
    else if (errno != EAGAIN)
      r.failure = errno;
    break;
  }
  return flush(r);  // answers to the options just read
}

void take(Remote &r, uint8_t *buffer, int length, int *got) {
  const size_t n = std::min(size_t(length), r.in.size() - r.inHead);
  memcpy(buffer, r.in.data() + r.inHead, n);
  r.inHead += n;
  if (r.inHead == r.in.size()) {
    r.in.clear();
    r.inHead = 0;
  }
  *got = int(n);
}

// Parses HOST:PORT ([v6]:PORT too) and resolves it. 0 or an errno value.
int resolve(const std::string &where, addrinfo **found) {
  const size_t colon = where.rfind(':');
  if (colon == std::string::npos || colon + 1 == where.size())
    return EINVAL;
  std::string host = where.substr(0, colon);
  const std::string service = where.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty() || service.find_first_not_of("0123456789") != std::string::npos)
    return EINVAL;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, found);
  if (rc == 0)
    return 0;
  return rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
}

uint32_t wireValue(Slot slot, const PortDCB_t &dcb) {
  switch (slot) {
  case Baud:
    return dcb.BaudRate;
  case Parity:
    return dcb.Parity + 1u;  // 1 none, 2 odd, 3 even, 4 mark, 5 space
  case Stop:
    return dcb.StopBits == 0 ? 1u : dcb.StopBits == 1 ? 3u : 2u;
  case Data:
    return dcb.ByteSize;
  case Flow:
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == 2)
      return 3;
    return dcb.fOutX || dcb.fInX ? 2 : 1;
  default:
    return 0;
  }
}

// The record takes a value the server answered with instead.
void takeValue(Slot slot, uint32_t value, PortDCB_t *dcb) {
  switch (slot) {
  case Baud:
    dcb->BaudRate = value;
    break;
  case Parity:
    if (value >= 1 && value <= 5)
      dcb->Parity = uint8_t(value - 1);
    break;
  case Stop:
    dcb->StopBits = value == 1 ? 0 : value == 3 ? 1 : 2;
    break;
  case Data:
    if (value >= 5 && value <= 8)
      dcb->ByteSize = uint8_t(value);
    break;
  case Flow:
    dcb->fOutxCtsFlow = value == 3;
    dcb->fRtsControl = value == 3 ? 2 : 0;
    dcb->fOutX = dcb->fInX = value == 2;
    break;
  default:
    break;
  }
}

template <typename F> int withRemote(int fd, F f) {
  std::shared_ptr<Remote> r = remoteOf(fd);
  if (!r)
    return EBADF;
  std::lock_guard<std::mutex> hold(r->lock);
  return f(*r);
}

// A request with no counterpart on a raw connection.
template <typename F> int telnetOnly(int fd, F f) {
  return withRemote(fd, [&](Remote &r) {
    if (!r.telnetMode)
      return ENOTTY;
    f(r);
    return settle(r);
  });
}

}  // namespace

bool remoteName(const char *path) {
  return strncmp(path, kTelnetScheme, sizeof kTelnetScheme - 1) == 0 ||
         strncmp(path, kRawScheme, sizeof kRawScheme - 1) == 0;
}

bool remotePort(int fd) { return remoteOf(fd) != nullptr; }

int remoteOpen(const char *url, int *fd) {
  *fd = -1;
  auto r = std::make_shared<Remote>();
  r->telnetMode = strncmp(url, kTelnetScheme, sizeof kTelnetScheme - 1) == 0;
  addrinfo *found = nullptr;
  const char *where = url + (r->telnetMode ? sizeof kTelnetScheme : sizeof kRawScheme) - 1;
  if (int err = resolve(where, &found))
    return err;
  int s = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    freeaddrinfo(found);
    return errno;
  }
  const int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  int rc = connect(s, found->ai_addr, found->ai_addrlen);
  freeaddrinfo(found);
  if (rc != 0 && errno != EINPROGRESS) {
    const int err = errno;
    close(s);
    return err;
  }
  r->fd = s;
  r->startedAt = SioTimer();
  pollfd p{s, POLLOUT, 0};
  if (rc != 0 && poll(&p, 1, kOpenLookMs) == 1) {
    int err = 0;
    socklen_t len = sizeof err;
    getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0) {
      close(s);
      return err;
    }
  }
  r->connecting = rc != 0 && p.revents == 0;
  if (r->telnetMode) {
    using namespace telnet;
    for (uint8_t opt : {OPT_BINARY, OPT_SGA}) {
      option(WILL, opt, r->out);
      option(DO, opt, r->out);
      r->offered[opt] = r->asked[opt] = true;
    }
    option(WILL, OPT_COM_PORT, r->out);
    r->offered[OPT_COM_PORT] = true;
  }
  flush(*r);
  {
    std::lock_guard<std::mutex> hold(g_tableLock);
    g_remotes[s] = r;
  }
  *fd = s;
  return 0;
}

int remoteClose(int fd) {
  std::shared_ptr<Remote> r;
  {
    std::lock_guard<std::mutex> hold(g_tableLock);
    auto it = g_remotes.find(fd);
    if (it == g_remotes.end())
      return EBADF;
    r = it->second;
    g_remotes.erase(it);
  }
  std::lock_guard<std::mutex> hold(r->lock);
  flush(*r);  // what the socket takes now; the rest goes with the connection
  return close(fd) == 0 ? 0 : errno;
}

int remoteRead(int fd, uint8_t *buffer, int length, int *got) {
  *got = 0;
  return withRemote(fd, [&](Remote &r) {
    const int err = pull(r);
    take(r, buffer, length, got);
    if (*got > 0)
      return 0;  // what came before the end is read first
    if (err)
      return err;
    return r.ended ? ECONNRESET : 0;
  });
}

int remoteWrite(int fd, const uint8_t *buffer, int length, uint32_t allowanceMs, bool wait,
                int *taken) {
  *taken = 0;
  std::shared_ptr<Remote> r = remoteOf(fd);
  if (!r)
    return EBADF;
  const uint32_t start = SioTimer();
  // Bounded in real time as well, for a clock that only moves when slept on.
  for (uint32_t looks = 0;; ++looks) {
    {
      std::lock_guard<std::mutex> hold(r->lock);
      if (int err = settle(*r))
        return err;
      while (*taken < length && r->out.size() - r->outHead < kOutMax) {
        const int n = std::min(length - *taken, 4096);
        if (r->telnetMode)
          telnet::escape(buffer + *taken, size_t(n), r->out);
        else
          r->out.insert(r->out.end(), buffer + *taken, buffer + *taken + n);
        *taken += n;
      }
      if (int err = flush(*r))
        return err;
      if (*taken == length || !wait)
        return 0;
    }
    if (SioTimer() - start >= allowanceMs || looks * 5 >= allowanceMs)
      return ETIMEDOUT;
    pollfd p{fd, POLLOUT, 0};
    poll(&p, 1, 5);
  }
}

int remoteApply(int fd, const PortDCB_t &dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 ||
      dcb.StopBits > 2)
    return EINVAL;
  return withRemote(fd, [&](Remote &r) {
    const uint32_t now = SioTimer();
    for (int slot = 0; slot < Slots; ++slot) {
      Ask &ask = r.asks[slot];
      const uint32_t value = wireValue(Slot(slot), dcb);
      if (ask.sent && ask.asked == value)
        continue;
      const uint16_t unanswered = ask.unanswered;
      ask = Ask{};
      ask.asked = value;
      ask.at = now;
      ask.sent = true;
      // A raw connection has no one to ask: the value is never confirmed.
      ask.state = r.telnetMode && !r.comPortRefused ? Ask::State::Waiting : Ask::State::Silent;
      if (ask.state == Ask::State::Waiting)
        ask.unanswered = unanswered + 1;
      if (slot == Baud) {
        const uint8_t be[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8),
                               uint8_t(value)};
        r.request(kSlotCommand[slot], be, 4);
      } else {
        r.request(kSlotCommand[slot], uint8_t(value));
      }
    }
    settle(r);
    return 0;  // a failed connection shows in the next read
  });
}

int remoteAnswers(int fd, SioLineAnswers *answers, PortDCB_t *dcb) {
  *answers = SioLineAnswers{};
  // Answers are taken by the reads, in their place among the bytes: taking
  // them here would take the bytes too, behind the reading thread's back.
  return withRemote(fd, [&](Remote &r) {
    const uint32_t now = SioTimer();
    for (int slot = 0; slot < Slots; ++slot) {
      Ask &ask = r.asks[slot];
      const int bit = 1 << slot;
      if (ask.state == Ask::State::Waiting && now - ask.at >= kAnswerMs) {
        ask.state = Ask::State::Silent;
        ask.told = false;
      }
      if (ask.state == Ask::State::Waiting)
        answers->waiting |= bit;
      if (ask.told)
        continue;
      if (ask.state == Ask::State::Refused) {
        answers->refused |= bit;
        takeValue(Slot(slot), ask.answer, dcb);
        ask.asked = ask.answer;
        ask.told = true;
      } else if (ask.state == Ask::State::Silent) {
        answers->silent |= bit;
        ask.told = true;
      }
    }
    return 0;
  });
}

int remoteInputCount(int fd, int *count) {
  *count = 0;
  return withRemote(fd, [&](Remote &r) {
    const int err = pull(r);
    *count = int(r.in.size() - r.inHead);
    return *count > 0 ? 0 : err;
  });
}

int remoteOutputCount(int fd, int *count) {
  *count = 0;
  return withRemote(fd, [&](Remote &r) {
    int queued = 0;
    ioctl(fd, TIOCOUTQ, &queued);
    *count = int(r.out.size() - r.outHead) + queued;
    return settle(r);
  });
}

int remoteFlushInput(int fd) {
  return withRemote(fd, [&](Remote &r) {
    r.request(telnet::PURGE_DATA, 1);  // the server's receive buffer
    pull(r);                           // options still read; the data is dropped
    r.in.clear();
    r.inHead = 0;
    return settle(r);
  });
}

int remoteFlushOutput(int fd) {
  return telnetOnly(fd, [](Remote &r) { r.request(telnet::PURGE_DATA, 2); });
}

int remoteSetModemLine(int fd, ModemLine line, bool on) {
  return telnetOnly(fd, [&](Remote &r) {
    // SET-CONTROL: DTR 8 on, 9 off; RTS 11 on, 12 off.
    (line == ModemLine::Dtr ? r.dtr : r.rts) = on;
    const uint8_t first = line == ModemLine::Dtr ? 8 : 11;
    r.request(telnet::SET_CONTROL, uint8_t(on ? first : first + 1));
  });
}

int remoteModemStatus(int fd, int *bits) {
  *bits = 0;
  return withRemote(fd, [&](Remote &r) {
    if (!r.modemKnown)
      return ENOTTY;
    *bits = r.modem | (r.dtr ? SIO_LINE_DTR : 0) | (r.rts ? SIO_LINE_RTS : 0);
    return 0;
  });
}

int remoteSetBreak(int fd, bool on) {
  return telnetOnly(fd, [&](Remote &r) { r.request(telnet::SET_CONTROL, uint8_t(on ? 5 : 6)); });
}

int remoteErrorCounters(int fd, ErrorCounters *counters) {
  return withRemote(fd, [&](Remote &r) {
    if (!r.telnetMode)
      return ENOTTY;
    *counters = r.counters;
    return 0;
  });
}
