// What the window benchmarks share: a scratch directory to work in, so
// kestrelon.cfg and the logs land there, with every Comm Port entry mapped
// to a path there that is no device (a real port must never be touched; a
// benchmark maps the entries it uses afterwards).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "hex/hex.h"

// Makes /tmp/<name>.XXXXXX, maps COM1..COM16 into it and enters it. Returns
// its path, or "" (with the reason on stderr) when that fails.
inline std::string bench_scratch_dir(const std::string &name) {
  std::string dir = "/tmp/" + name + ".XXXXXX";
  if (!mkdtemp(dir.data())) {
    std::perror((name + ": mkdtemp").c_str());
    return "";
  }
  for (int port = 1; port <= HEX_PORTS; ++port)
    setenv(("KESTRELON_COM" + std::to_string(port)).c_str(), (dir + "/none").c_str(), 1);
  if (chdir(dir.c_str()) != 0) {
    std::perror((name + ": chdir").c_str());
    return "";
  }
  return dir;
}
