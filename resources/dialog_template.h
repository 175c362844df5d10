// The main dialog as data: every control with its id, kind, caption,
// position and size in dialog units, and style. The stand-in dialog manager
// builds the window from this table, so the layout lives in one place.
#pragma once

#include "resources/ids.h"

enum class ControlKind {
  DisplayPane,  // the traffic pane (rich-edit stand-in)
  PushButton,
  PushRadio,   // radio button drawn as a push button, exclusive within its pair
  PushCheck,   // check box drawn as a push button
  ThreeState,  // three-state check box (checked / unchecked / greyed)
  GroupBox,
  Label,        // static text
  StatusField,  // sunken static text
  DropDown,     // editable drop-down list
};

// Style bits of a control.
enum ControlStyle : unsigned {
  STYLE_NONE = 0,
  STYLE_GROUP_START = 1u << 0,  // first radio button of a pair
  STYLE_ALIGN_LEFT = 1u << 1,   // text left-aligned (labels default to right)
  STYLE_ALIGN_RIGHT = 1u << 2,
  STYLE_AUTO_HSCROLL = 1u << 3,  // drop-down whose text scrolls horizontally
  STYLE_TEXT_LEFT = 1u << 4,     // check box text left of the box
  STYLE_TAB_STOP = 1u << 5,
};

// How a control follows when the window is resized: the display pane takes
// the extra room; the settings column right of it keeps its distance to the
// right edge, and the row of message, frame and Exit controls and the status
// line below keep theirs to the bottom edge as well.
enum ControlAnchor : unsigned {
  ANCHOR_TOP_LEFT = 0,
  ANCHOR_RIGHT = 1u << 0,      // moves with the right edge
  ANCHOR_BOTTOM = 1u << 1,     // moves with the bottom edge
  ANCHOR_STRETCH_X = 1u << 2,  // width grows with the window
  ANCHOR_STRETCH_Y = 1u << 3,  // height grows with the window
};

struct DialogControl {
  int id;
  ControlKind kind;
  const char *caption;      // "" when the control has none
  int x, y, width, height;  // dialog units
  unsigned style;           // ControlStyle bits
  unsigned anchor;          // ControlAnchor bits
};

struct DialogTemplate {
  int id;
  const char *title;
  const char *fontName;  // the template's font; a stand-in is chosen where it does not exist
  int pointSize;
  int x, y, width, height;        // dialog units
  const DialogControl *controls;  // in tab order
  int controlCount;
};

extern const DialogTemplate kMainDialog;
extern const DialogTemplate kAutoDialog;  // the macros and triggers editor

// The control with this id in the template, or nullptr.
const DialogControl *dialog_find_control(const DialogTemplate &dialog, int id);
