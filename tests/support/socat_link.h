// A device that can be pulled and plugged in again: a socat pair of
// pseudo-terminals under two link names. The monitor opens the near link
// (a COM port mapped to it, as a user maps /dev/serial/by-id/...); the test
// writes into the far one. Ending socat closes both pseudo-terminals and
// removes the links, as an adapter pulled takes its node along; starting it
// again makes them anew under the same names, most often to other
// /dev/pts numbers. Used by tests and by the reconnect benchmark, so it
// reports failures by its results, not through a test framework.
#pragma once

#include <string>
#include <sys/types.h>

class SocatLink {
public:
  // The links are `directory`/`name`.near and `directory`/`name`.far.
  SocatLink(const std::string &directory, const std::string &name);
  ~SocatLink();  // unplugged
  SocatLink(const SocatLink &) = delete;
  SocatLink &operator=(const SocatLink &) = delete;

  const std::string &nearPath() const { return near_; }
  const std::string &farPath() const { return far_; }

  // Starts socat and waits (at most 5 s) until both links are there; the
  // far end is then held open. False when socat did not come up.
  bool plug();
  // Ends socat and waits for it: the near end hangs up for whoever holds it.
  void unplug();
  bool plugged() const { return pid_ > 0; }

  // Writes all of `text` into the far end; false when it could not.
  bool send(const std::string &text);
  // What reaches the far end within `waitMs`, up to `count` bytes.
  std::string receive(size_t count, int waitMs);

private:
  std::string near_, far_;
  pid_t pid_ = -1;
  int far_fd_ = -1;
};

// Descriptors the process holds now (the entries of /proc/self/fd).
int openDescriptorCount();
