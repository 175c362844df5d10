// Reading the main dialog's controls back in tests, by control id.
#pragma once

#include "dlg/dlg.h"

#include <string>
#include <vector>

// The text a control shows (a list's edit field, a label, a status field).
std::string controlText(HWND window, int id);

// The entries of a drop-down list, in their order.
std::vector<std::string> listEntries(HWND window, int id);
