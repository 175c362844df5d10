// A real ser2net on 127.0.0.1 serving a local device (a socat
// pseudo-terminal), as a lab's Raspberry Pi serves its adapters: RFC 2217
// (telnet(rfc2217)) on a free port picked at start. Used by tests and by the
// remote-port benchmark, so it reports failures by its results.
#pragma once

#include <string>
#include <sys/types.h>

class Ser2netServer {
public:
  // Serves `device`; the configuration goes into `directory`.
  Ser2netServer(const std::string &directory, const std::string &device);
  ~Ser2netServer();  // stopped
  Ser2netServer(const Ser2netServer &) = delete;
  Ser2netServer &operator=(const Ser2netServer &) = delete;

  // Starts ser2net and waits (at most 5 s) until it listens; the port stays
  // the same across stops and starts.
  bool start();
  // Ends ser2net and waits for it: its connections end.
  void stop();
  std::string url() const;

private:
  std::string config_, device_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// A TCP port on 127.0.0.1 that no one listens on now.
int freeTcpPort();
