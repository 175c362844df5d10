// The Comm Port lists: each entry COM1..COM16 shows the device it maps to,
// whether that device is there, and the adapter as udev knows it ("COM5
// /dev/ttyUSB0 FTDI FT232R USB UART A10K3B7Q"); entries whose device is
// absent are greyed, remote ones (rfc2217://, tcp://) are not checked.
//
// The lists follow devices coming and going as it happens: udev's monitor
// where udev runs, and the directories of the entries' devices watched
// (inotify) in any case, which is how links such as /dev/serial/by-id or a
// socat pair's are seen, and all there is where udev is absent. Both only
// tell the window's thread that something changed; a look at the sixteen
// devices is a few stat calls.
//
// KESTRELON_UDEV_DATA, when set, names a directory that stands for udev's
// database: "<dir>/c<major>:<minor>" holds a device's properties as udev
// keeps them ("E:ID_VENDOR=FTDI" lines). It is read instead of asking udev.
#pragma once

#include "dlg/dlg.h"

// The message that something changed (wParam: the descriptor that says so).
constexpr unsigned HEX_PORTS_CHANGED = WM_USER + 20;

// Shows both lists' entries and starts following the devices.
void hex_ports_start(HWND window);
void hex_ports_stop(HWND window);
// Looks again at every entry's device and shows what changed.
void hex_ports_show(HWND window);
// HEX_PORTS_CHANGED: takes the news from the descriptor and looks again.
void hex_ports_ready(HWND window, int fd);

// Text typed into a Comm Port list that names none of its entries: a device
// path ("/dev/ttyUSB3") or a remote device maps the list's chosen entry to
// it for this session (the configuration keeps nothing of it) and the side
// opens it, as when an entry is chosen; true then. Other text: false, the
// caller puts the entry back. An entry the other side holds open is not
// mapped anew: the status field says so.
bool hex_port_typed(HWND window, int list);
