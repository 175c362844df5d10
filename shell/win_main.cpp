// Process entry and the dialog's run.
#include "shell/shell.h"

#include <cstdlib>
#include <cstring>

const char *win_skip_program_name(const char *commandLine) {
  const char *p = commandLine ? commandLine : "";
  if (*p == '"') {
    ++p;
    while (*p && *p != '"')
      ++p;
    if (*p == '"')
      ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t')
      ++p;
  }
  while (*p == ' ' || *p == '\t')
    ++p;
  return p;
}

bool win_display_available(std::string &why) {
  const char *platform = std::getenv("QT_QPA_PLATFORM");
  const char *x11 = std::getenv("DISPLAY");
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  const bool hasX11 = x11 && *x11;
  const bool hasWayland = wayland && *wayland;
  if (platform && *platform) {
    const std::string name = platform;
    // "xcb", "wayland", "wayland-egl" and the like need their display;
    // offscreen, vnc, eglfs and the others bring their own.
    if (name.rfind("xcb", 0) == 0 && !hasX11) {
      why = "QT_QPA_PLATFORM is " + name + " but DISPLAY is not set";
      return false;
    }
    if (name.rfind("wayland", 0) == 0 && !hasWayland) {
      why = "QT_QPA_PLATFORM is " + name + " but WAYLAND_DISPLAY is not set";
      return false;
    }
    return true;
  }
  if (hasX11 || hasWayland)
    return true;
  why = "neither DISPLAY nor WAYLAND_DISPLAY is set";
  return false;
}

int WinMain(HINSTANCE, HINSTANCE, char *, int) {
  dlg_close_on_signals();
  dlg_run(DialogFunc);
  return 0;
}
