// The one way a file the user named is opened: the log, the configuration
// file, transferred files. A FIFO would hang the open, a device would take
// the bytes onto a line, a link would redirect them to another file.
#include "hex/core/hexcore.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// A terminal, told without opening it (an open may raise a line's DTR):
// the kernel files it under the tty class, or it is a pseudo-terminal's
// slave (majors 136 to 143, which sysfs does not list).
bool is_terminal(const struct stat &st) {
  const unsigned kind = major(st.st_rdev);
  if (kind >= 136 && kind <= 143)
    return true;
  char link[64], target[256];
  std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", kind, minor(st.st_rdev));
  const ssize_t length = readlink(link, target, sizeof target - 1);
  if (length <= 0)
    return false;
  target[length] = '\0';
  const char *name = std::strrchr(target, '/');
  return std::strcmp(name ? name + 1 : target, "tty") == 0;
}

// Why something that is not a regular file is refused.
const char *kind_refused(const struct stat &st, int fd) {
  if (S_ISLNK(st.st_mode))
    return "is a symbolic link";
  if (S_ISFIFO(st.st_mode))
    return "is a FIFO";
  if (S_ISDIR(st.st_mode))
    return "is a directory";
  if (S_ISSOCK(st.st_mode))
    return "is a socket";
  if (S_ISCHR(st.st_mode))
    return (fd >= 0 && isatty(fd)) || is_terminal(st) ? "is a terminal device" : "is a device";
  if (S_ISBLK(st.st_mode))
    return "is a device";
  return nullptr;
}

int open_flags(HexOpen how) {
  constexpr int kAlways = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  switch (how) {
  case HexOpen::Read:
    return O_RDONLY | kAlways;
  case HexOpen::Replace:
    return O_WRONLY | O_CREAT | kAlways;  // emptied only once known regular
  case HexOpen::Append:
    return O_WRONLY | O_CREAT | O_APPEND | kAlways;
  case HexOpen::New:
    return O_WRONLY | O_CREAT | O_EXCL | kAlways;
  }
  return O_RDONLY | kAlways;
}

int refuse(std::string *why, const char *text, int fd = -1) {
  const int error = errno;
  if (fd >= 0)
    close(fd);
  if (why)
    *why = text;
  errno = error;
  return -1;
}

}  // namespace

int hex_open_user_file(const char *path, HexOpen how, std::string *why) {
  struct stat st {};
  // Looked at before opening too: opening a terminal may raise its lines.
  if (lstat(path, &st) == 0) {
    if (const char *kind = kind_refused(st, -1)) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      return refuse(why, kind);
    }
  }
  const int fd = open(path, open_flags(how), 0600);
  if (fd < 0) {
    const int error = errno;
    // What came in between the look and the open.
    if (lstat(path, &st) == 0 && (error == ELOOP || error == ENXIO || error == EISDIR))
      if (const char *kind = kind_refused(st, -1))
        return refuse(why, kind);
    errno = error;
    return refuse(why, std::strerror(error));
  }
  if (fstat(fd, &st) != 0)
    return refuse(why, std::strerror(errno), fd);
  if (const char *kind = kind_refused(st, fd)) {
    errno = EINVAL;
    return refuse(why, kind, fd);
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      (how == HexOpen::Replace && ftruncate(fd, 0) != 0))
    return refuse(why, std::strerror(errno), fd);
  if (why)
    why->clear();
  return fd;
}

int hex_open_part_file(const char *path, std::string *part, std::string *why) {
  const std::string whole = path;
  const size_t slash = whole.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : whole.substr(0, slash + 1);
  const std::string name = whole.substr(slash == std::string::npos ? 0 : slash + 1);
  for (int n = 0; n < 100; ++n) {
    *part = folder + "." + name + (n ? "." + std::to_string(n) : "") + ".part";
    const int fd = hex_open_user_file(part->c_str(), HexOpen::New, why);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  return -1;  // a hundred left behind: `why` says the last one exists
}

bool hex_same_file(const char *a, const char *b) {
  if (!*a || !*b)
    return false;
  struct stat sa {}, sb {};
  if (stat(a, &sa) == 0 && stat(b, &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  std::error_code error;
  const auto ca = std::filesystem::weakly_canonical(a, error);
  const auto cb = std::filesystem::weakly_canonical(b, error);
  return !error && ca == cb;
}
