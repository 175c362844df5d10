// The capture file for Wireshark: the session written as pcapng (the blocks
// of hexcore.h's HexPcapWriter) beside the HTML log or instead of it. In
// the PPP view each frame a side's decoder shows is a packet of its own,
// flagged when its check failed; in every other view each read of a port
// is a packet of raw serial bytes, and each break and line error an event.
// Every packet carries the time its bytes were read.
//
// Written as the log is: only a regular file that is not a link, created
// 0600, asked about before an existing one is replaced; what a pump run
// made reaches the file at the run's end; the first write that fails ends
// the capture with one message and leaves the file as it was after its last
// whole block; exit closes it. The file holds no trailer, so whatever
// reached it is a complete capture.
#pragma once

#include "dlg/dlg.h"
#include "hex/core/hexcore.h"

// The "Wireshark" button of the Log File group: pressed, it asks for a file
// ("pcapng") and starts writing; released, it closes the capture. A
// cancelled question leaves it released.
void hex_pcap_clicked(HWND window);

// Starts a capture into `path` (a capture already open is closed first).
// `ask`: an existing file is replaced only when the user says so (the
// window's way); the command line's --pcap replaces it, as --log does.
// 1 when the capture runs.
int hex_pcap_open_file(HWND window, const char *path, bool ask);

// Writes what is left and closes the capture; the button is released.
void hex_pcap_close(HWND window);

// 1 while a capture runs.
int hex_pcap_running();

// The pump hands every piece it shows here before the view gets its bytes.
void hex_pcap_piece(const HexCapturePiece &piece, const uint8_t *bytes);

// A frame the view's decoder showed (the window's sink).
void hex_pcap_frame(int port, const uint8_t *bytes, int count, const HexVerdict &verdict);

// The end of every pump run: what it made goes to the file.
void hex_pcap_flush();
