// The Comm Port lists' entries and the devices behind them.
#include "hex/hex_ports.h"

#include "hex/core/hexcore.h"
#include "hex/hex_side.h"
#include "hex/hex_status.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr size_t kPropertiesMost = 64 * 1024;  // one device's properties
constexpr uint32_t kDirectoryEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF;

struct Watcher {
  udev *context = nullptr;
  udev_monitor *monitor = nullptr;  // null where udev does not run
  int inotify = -1;
  std::array<std::string, HEX_PORTS> shown;  // each entry as last shown
} g_ports;

// Properties of a character device by its number, as KEY=VALUE lines.
std::string udev_properties(dev_t number) {
  std::string text;
  if (const char *data = std::getenv("KESTRELON_UDEV_DATA"); data && *data) {
    char name[PATH_MAX];
    std::snprintf(name, sizeof name, "%s/c%u:%u", data, major(number), minor(number));
    if (std::FILE *file = std::fopen(name, "re")) {
      char chunk[4096];
      size_t got;
      while (text.size() < kPropertiesMost && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
      std::fclose(file);
    }
    return text;
  }
  if (!g_ports.context)
    return text;
  udev_device *device = udev_device_new_from_devnum(g_ports.context, 'c', number);
  if (!device)
    return text;
  udev_list_entry *entry;
  udev_list_entry_foreach(entry, udev_device_get_properties_list_entry(device)) {
    const char *value = udev_list_entry_get_value(entry);
    text += std::string(udev_list_entry_get_name(entry)) + "=" + (value ? value : "") + "\n";
  }
  udev_device_unref(device);
  return text;
}

HexDeviceFacts facts_of(const char *path) {
  HexDeviceFacts facts;
  facts.path = path;
  if (hex_is_remote_device(facts.path)) {
    facts.state = HexDeviceState::Remote;
    return facts;
  }
  struct stat entry {};
  if (lstat(path, &entry) == 0 && S_ISLNK(entry.st_mode)) {
    if (char *node = realpath(path, nullptr)) {
      facts.node = node;
      std::free(node);
    }
  }
  struct stat device {};
  if (stat(path, &device) != 0 || !S_ISCHR(device.st_mode))
    return facts;
  facts.state = HexDeviceState::Present;
  facts.identity = hex_udev_identity(udev_properties(device.st_rdev));
  return facts;
}

// The directory a device comes and goes in, or the nearest one there is
// (/dev/serial/by-id appears with the first adapter).
void watch_directory_of(const std::string &path) {
  std::string directory = path;
  for (;;) {
    const size_t slash = directory.rfind('/');
    if (slash == std::string::npos)
      return;
    directory.resize(slash == 0 ? 1 : slash);
    if (inotify_add_watch(g_ports.inotify, directory.c_str(), kDirectoryEvents) >= 0 ||
        directory == "/")
      return;
  }
}

// The serial library's name of a port: "COM5".
const char *port_name(int port) {
  return port >= 0 && port < HEX_PORTS ? hex_portnames[port] : "?";
}

}  // namespace

void hex_ports_show(HWND window) {
  for (int port = 0; port < HEX_PORTS; ++port) {
    const char *path = SioDevicePath(port);
    if (!path)
      continue;
    const HexDeviceFacts facts = facts_of(path);
    std::string text = hex_port_entry_text(port, facts);
    if (text == g_ports.shown[port])
      continue;
    // Watched anew whenever the entry changes: a directory may have come.
    if (g_ports.inotify >= 0 && facts.state != HexDeviceState::Remote)
      watch_directory_of(facts.path);
    for (int list : {IDC_PORT_A, IDC_PORT_B}) {
      dlg_combo_set_item_shown(window, list, port, text.c_str(),
                               facts.state == HexDeviceState::Absent);
      dlg_combo_set_item_tooltip(window, list, port, path);
    }
    g_ports.shown[port] = std::move(text);
  }
}

void hex_ports_start(HWND window) {
  hex_ports_stop(window);
  g_ports.inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (g_ports.inotify >= 0)
    dlg_watch_readable(window, g_ports.inotify, HEX_PORTS_CHANGED);
  g_ports.context = udev_new();
  // udev's monitor hears nothing where no udev daemon runs (containers).
  if (g_ports.context && access("/run/udev/control", F_OK) == 0) {
    g_ports.monitor = udev_monitor_new_from_netlink(g_ports.context, "udev");
    if (g_ports.monitor &&
        (udev_monitor_filter_add_match_subsystem_devtype(g_ports.monitor, "tty", nullptr) < 0 ||
         udev_monitor_enable_receiving(g_ports.monitor) < 0)) {
      udev_monitor_unref(g_ports.monitor);
      g_ports.monitor = nullptr;
    }
    if (g_ports.monitor) {
      const int fd = udev_monitor_get_fd(g_ports.monitor);
      // The monitor's socket must never hold the window's thread.
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      dlg_watch_readable(window, fd, HEX_PORTS_CHANGED);
    }
  }
  hex_ports_show(window);
}

void hex_ports_stop(HWND window) {
  if (g_ports.monitor) {
    dlg_watch_readable(window, udev_monitor_get_fd(g_ports.monitor), 0);
    udev_monitor_unref(g_ports.monitor);
  }
  if (g_ports.context)
    udev_unref(g_ports.context);
  if (g_ports.inotify >= 0) {
    dlg_watch_readable(window, g_ports.inotify, 0);
    close(g_ports.inotify);
  }
  g_ports = Watcher{};
}

void hex_ports_ready(HWND window, int fd) {
  if (fd == g_ports.inotify) {
    alignas(inotify_event) char events[4096];
    while (read(fd, events, sizeof events) > 0) {
    }
  } else if (g_ports.monitor && fd == udev_monitor_get_fd(g_ports.monitor)) {
    while (udev_device *device = udev_monitor_receive_device(g_ports.monitor))
      udev_device_unref(device);
  } else {
    return;
  }
  hex_ports_show(window);
}

bool hex_port_typed(HWND window, int list) {
  char typed[4096];
  const int length = dlg_get_text(window, list, typed, sizeof typed);
  if (length >= int(sizeof typed) - 1 || (typed[0] != '/' && !hex_is_remote_device(typed)))
    return false;
  const int side = list == IDC_PORT_B ? HEX_SIDE_B : HEX_SIDE_A;
  const int entry = dlg_combo_get_sel(window, list);
  const HexSideRecord &other = hex_obj[hex_other_side(side)];
  if (entry < 0 || entry >= HEX_PORTS)
    return false;
  if (other.open && other.port == entry) {
    char text[160];
    std::snprintf(text, sizeof text, "%s is open on the other side: choose another entry for %.60s",
                  port_name(entry), typed);
    hex_status_show(window, text);
    return false;
  }
  if (SioMapDevice(entry, typed) != 0)
    return false;
  hex_ports_show(window);
  // The side opens the entry's new device as for a choice.
  dlg_combo_set_sel(window, list, entry);
  dlg_send_message(window, WM_COMMAND, MAKEWPARAM(unsigned(list), CBN_SELCHANGE), 0);
  return true;
}
