#include "resources/dialog_template.h"

namespace {

constexpr unsigned kRight = ANCHOR_RIGHT;
constexpr unsigned kBottom = ANCHOR_BOTTOM;
constexpr unsigned kBottomRight = ANCHOR_RIGHT | ANCHOR_BOTTOM;

// In the dialog's tab order.
constexpr DialogControl kMainControls[] = {
    {IDC_PANE, ControlKind::DisplayPane, "", 6, 11, 356, 265, STYLE_TAB_STOP,
     ANCHOR_STRETCH_X | ANCHOR_STRETCH_Y},
    {IDC_EXIT, ControlKind::PushButton, "Exit", 495, 296, 40, 14, STYLE_TAB_STOP, kBottomRight},
    {IDC_GROUP_PORT_A, ControlKind::GroupBox, "Port A Settings", 366, 7, 95, 126, STYLE_NONE,
     kRight},
    {IDC_GROUP_PORT_B, ControlKind::GroupBox, "Port B Settings", 466, 7, 95, 126, STYLE_NONE,
     kRight},
    {IDC_LABEL_SPEED_A, ControlKind::Label, "Speed", 373, 43, 36, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_DATA_A, ControlKind::Label, "Data bits", 373, 60, 36, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_STOP_A, ControlKind::Label, "Stop bits", 373, 76, 36, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_PARITY_A, ControlKind::Label, "Parity", 373, 93, 36, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_SPEED_B, ControlKind::Label, "Speed", 473, 43, 36, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_DATA_B, ControlKind::Label, "Data bits", 473, 60, 36, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_STOP_B, ControlKind::Label, "Stop bits", 473, 76, 36, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_PARITY_B, ControlKind::Label, "Parity", 474, 93, 36, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_RUN, ControlKind::PushRadio, "Run", 417, 207, 39, 11, STYLE_GROUP_START | STYLE_TAB_STOP,
     kRight},
    {IDC_STOP, ControlKind::PushRadio, "Stop", 372, 207, 39, 11, STYLE_NONE, kRight},
    {IDC_LOG, ControlKind::PushRadio, "Log", 517, 240, 39, 10, STYLE_GROUP_START | STYLE_TAB_STOP,
     kRight},
    {IDC_NO_LOG, ControlKind::PushRadio, "No Log", 471, 240, 39, 10, STYLE_NONE, kRight},
    {IDC_PCAP, ControlKind::PushCheck, "Wireshark", 471, 252, 85, 10, STYLE_TAB_STOP, kRight},
    {IDC_SEND_PORT_A, ControlKind::PushRadio, "Port A", 372, 246, 39, 11,
     STYLE_GROUP_START | STYLE_TAB_STOP, kRight},
    {IDC_SEND_PORT_B, ControlKind::PushRadio, "Port B", 417, 246, 39, 11, STYLE_NONE, kRight},
    {IDC_SPEED_A, ControlKind::DropDown, "", 413, 41, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_DATA_A, ControlKind::DropDown, "", 413, 58, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_STOP_A, ControlKind::DropDown, "", 413, 74, 43, 35, STYLE_TAB_STOP, kRight},
    {IDC_PARITY_A, ControlKind::DropDown, "", 413, 90, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_SPEED_B, ControlKind::DropDown, "", 513, 41, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_DATA_B, ControlKind::DropDown, "", 513, 58, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_STOP_B, ControlKind::DropDown, "", 513, 74, 43, 35, STYLE_TAB_STOP, kRight},
    {IDC_PARITY_B, ControlKind::DropDown, "", 513, 90, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_LABEL_MESSAGE, ControlKind::Label, "Edit Message(s) to Send:", 6, 285, 129, 9,
     STYLE_ALIGN_LEFT, kBottom},
    {IDC_SEND, ControlKind::PushButton, "Send", 322, 299, 39, 11, STYLE_TAB_STOP, kBottomRight},
    {IDC_OPEN_A, ControlKind::ThreeState, "", 371, 115, 13, 10, STYLE_TAB_STOP, kRight},
    {IDC_OPEN_B, ControlKind::ThreeState, "", 471, 115, 11, 10, STYLE_TAB_STOP, kRight},
    {IDC_FLOW_A, ControlKind::DropDown, "", 413, 106, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_FLOW_B, ControlKind::DropDown, "", 513, 106, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_LABEL_FLOW_A, ControlKind::Label, "Flow", 389, 107, 20, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_FLOW_B, ControlKind::Label, "Flow", 490, 107, 20, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_MESSAGE, ControlKind::DropDown, "", 6, 297, 311, 55, STYLE_AUTO_HSCROLL | STYLE_TAB_STOP,
     ANCHOR_BOTTOM | ANCHOR_STRETCH_X},
    {IDC_CHECK_KIND, ControlKind::DropDown, "", 371, 279, 40, 55, STYLE_TAB_STOP, kBottomRight},
    {IDC_CHECKSUM, ControlKind::PushButton, "CheckSum", 371, 299, 39, 11, STYLE_TAB_STOP,
     kBottomRight},
    {IDC_GROUP_DISPLAY, ControlKind::GroupBox, "Display Settings", 366, 140, 96, 86, STYLE_NONE,
     kRight},
    {IDC_CLEAR, ControlKind::PushButton, "Clear", 417, 185, 39, 11, STYLE_TAB_STOP, kRight},
    {IDC_GROUP_TRANSFER, ControlKind::GroupBox, "File Transfer", 466, 140, 95, 86, STYLE_NONE,
     kRight},
    {IDC_LABEL_PROTOCOL, ControlKind::Label, "Protocol", 468, 159, 27, 12, STYLE_ALIGN_RIGHT,
     kRight},
    {IDC_PROTOCOL, ControlKind::DropDown, "", 497, 156, 59, 55, STYLE_TAB_STOP, kRight},
    {IDC_XFER_SEND, ControlKind::PushRadio, "Send", 517, 185, 39, 11,
     STYLE_GROUP_START | STYLE_TAB_STOP, kRight},
    {IDC_XFER_GET, ControlKind::PushRadio, "Get", 471, 185, 39, 11, STYLE_NONE, kRight},
    {IDC_XFER_START, ControlKind::PushButton, "Start", 517, 207, 39, 11, STYLE_TAB_STOP, kRight},
    {IDC_XFER_ABORT, ControlKind::PushButton, "Abort", 471, 207, 39, 11, STYLE_TAB_STOP, kRight},
    {IDC_XFER_STATUS, ControlKind::StatusField, "", 366, 346, 195, 12, STYLE_ALIGN_RIGHT,
     kBottomRight},
    {IDC_FILE_NAME, ControlKind::StatusField, "", 205, 346, 157, 12, STYLE_ALIGN_LEFT,
     kBottomRight},
    {IDC_LINE_STATUS, ControlKind::StatusField, "", 6, 346, 195, 12, STYLE_ALIGN_LEFT, kBottom},
    {IDC_PORT_A, ControlKind::DropDown, "", 413, 24, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_PORT_B, ControlKind::DropDown, "", 513, 24, 43, 55, STYLE_TAB_STOP, kRight},
    {IDC_LABEL_PORT_B, ControlKind::Label, "Comm Port", 469, 26, 40, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LABEL_PORT_A, ControlKind::Label, "Comm Port", 369, 26, 40, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_VIEW, ControlKind::DropDown, "", 397, 156, 59, 55, STYLE_TAB_STOP, kRight},
    {IDC_GROUP_LOG, ControlKind::GroupBox, "Log File", 466, 230, 95, 35, STYLE_NONE, kRight},
    {IDC_GROUP_SEND_PORT, ControlKind::GroupBox, "Send Port", 366, 230, 95, 35, STYLE_NONE, kRight},
    {IDC_LABEL_VIEW, ControlKind::Label, "View", 371, 159, 19, 12, STYLE_ALIGN_RIGHT, kRight},
    {IDC_LOCAL_ECHO, ControlKind::PushCheck, "Local Echo", 372, 185, 39, 11,
     STYLE_TEXT_LEFT | STYLE_TAB_STOP, kRight},
    {IDC_TIME, ControlKind::PushCheck, "Time", 372, 171, 39, 11, STYLE_TEXT_LEFT | STYLE_TAB_STOP,
     kRight},
    {IDC_FRAME_TYPE, ControlKind::DropDown, "", 415, 279, 40, 55, STYLE_TAB_STOP, kBottomRight},
    {IDC_ADD_FRAME, ControlKind::PushButton, "Add Frame", 415, 299, 39, 11, STYLE_TAB_STOP,
     kBottomRight},
    {IDC_GROUP_FRAME, ControlKind::GroupBox, "Frame Type", 366, 269, 95, 49, STYLE_NONE,
     kBottomRight},
};

}  // namespace

const DialogTemplate kMainDialog = {
    IDD_MAIN,
    "Kestrelon version 4.5, April 2003",
    "Helv",
    8,
    5,
    0,
    567,
    364,
    kMainControls,
    int(sizeof kMainControls / sizeof kMainControls[0]),
};

const DialogControl *dialog_find_control(const DialogTemplate &dialog, int id) {
  for (int i = 0; i < dialog.controlCount; ++i)
    if (dialog.controls[i].id == id)
      return &dialog.controls[i];
  return nullptr;
}
