#include "support/ser2net_server.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

// Whether 127.0.0.1:port is in LISTEN state, read from the kernel's table
// rather than by connecting (a connection would make ser2net open the device).
bool listening(int port) {
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  std::ifstream table("/proc/net/tcp");
  std::string line;
  while (std::getline(table, line))
    if (line.find(wanted) != std::string::npos && line.find(" 0A ") != std::string::npos)
      return true;
  return false;
}

}  // namespace

int freeTcpPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

Ser2netServer::Ser2netServer(const std::string &directory, const std::string &device)
    : config_(directory + "/ser2net.yaml"), device_(device), port_(freeTcpPort()) {}

Ser2netServer::~Ser2netServer() { stop(); }

std::string Ser2netServer::url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }

bool Ser2netServer::start() {
  if (pid_ > 0)
    return true;
  std::ofstream(config_) << "connection: &remote\n"
                         << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port_ << "\n"
                         << "  connector: serialdev," << device_ << ",9600n81,local\n"
                         << "  options:\n    kickolduser: true\n";
  const std::string pidFile = config_ + ".pid";
  const char *argv[] = {"ser2net", "-n", "-c", config_.c_str(), "-P", pidFile.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "ser2net", &actions, nullptr,
                                   const_cast<char **>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!listening(port_)) {
    if (std::chrono::steady_clock::now() > deadline) {
      stop();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void Ser2netServer::stop() {
  if (pid_ <= 0)
    return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}
