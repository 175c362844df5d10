// The macros and triggers editor: the rules as lines of the file in a list,
// the line being edited in the list's field. Each line is checked as it is
// added or changed; Save writes the file and puts the rules in force.
#include "hex/hex_auto.h"

#include "resources/dialog_template.h"
#include "resources/ids.h"

#include <vector>

namespace {

HWND g_editor = nullptr;
HWND g_owner = nullptr;
HexAutoRules g_edit;  // the rules as edited, in force once saved

// What a line of the list stands for: a macro's number (0..11) or a trigger.
struct Entry {
  int macro = -1;
  int trigger = -1;
};

std::vector<Entry> entries() {
  std::vector<Entry> out;
  for (int i = 0; i < HEX_MACROS; ++i)
    if (g_edit.macros[i].defined)
      out.push_back({i, -1});
  for (size_t i = 0; i < g_edit.triggers.size(); ++i)
    out.push_back({-1, int(i)});
  return out;
}

void fill(HWND editor, int select) {
  dlg_combo_reset(editor, IDC_AUTO_RULES);
  for (const Entry &e : entries())
    dlg_combo_add(editor, IDC_AUTO_RULES,
                  (e.macro >= 0 ? hex_auto_format_macro(g_edit.macros[e.macro], e.macro + 1)
                                : hex_auto_format_trigger(g_edit.triggers[size_t(e.trigger)]))
                      .c_str());
  dlg_combo_set_sel(editor, IDC_AUTO_RULES, select);
}

// The list's place of a macro or trigger.
int place_of(int macro, int trigger) {
  const std::vector<Entry> all = entries();
  for (size_t i = 0; i < all.size(); ++i)
    if (all[i].macro == macro && all[i].trigger == trigger)
      return int(i);
  return -1;
}

// A trigger must not answer with a macro that is gone.
bool answers_complete(const HexAutoRules &rules, std::string *why) {
  for (const HexTrigger &trigger : rules.triggers)
    if (trigger.reply_macro >= 0 && !rules.macros[trigger.reply_macro].defined) {
      *why = "a trigger answers with macro " + std::to_string(trigger.reply_macro + 1);
      return false;
    }
  return true;
}

bool chosen(HWND editor, Entry *entry) {
  const int selected = dlg_combo_get_sel(editor, IDC_AUTO_RULES);
  const std::vector<Entry> all = entries();
  if (selected < 0 || size_t(selected) >= all.size())
    return false;
  *entry = all[size_t(selected)];
  return true;
}

std::string typed(HWND editor) {
  std::string line(HEX_AUTO_LINE_MAX + 2, '\0');
  line.resize(size_t(dlg_get_text(editor, IDC_AUTO_RULES, line.data(), int(line.size()))));
  return line;
}

// Without `replaced`, the typed line joins the rules; with it, the line
// takes the place of the chosen one. The list shows the outcome.
std::string put_line(HWND editor, const Entry *replaced) {
  HexAutoRules changed = g_edit;
  if (replaced && replaced->macro >= 0)
    changed.macros[replaced->macro] = HexMacro{};
  if (replaced && replaced->trigger >= 0)
    changed.triggers.erase(changed.triggers.begin() + replaced->trigger);
  const size_t triggers = changed.triggers.size();
  std::string why;
  if (!hex_auto_parse_line(typed(editor), changed, &why) || !answers_complete(changed, &why))
    return why;
  int macro = -1, trigger = -1;
  if (changed.triggers.size() > triggers) {
    trigger = int(triggers);
    if (replaced && replaced->trigger >= 0) {
      // A changed trigger keeps its place: the order is the order of firing.
      HexTrigger moved = std::move(changed.triggers.back());
      changed.triggers.pop_back();
      changed.triggers.insert(changed.triggers.begin() + replaced->trigger, std::move(moved));
      trigger = replaced->trigger;
    }
  } else {
    for (int i = 0; i < HEX_MACROS && macro < 0; ++i)
      if (!(changed.macros[i] == g_edit.macros[i]) || (replaced && replaced->macro == i))
        macro = changed.macros[i].defined ? i : -1;
  }
  if (macro < 0 && trigger < 0)
    return "a blank line or a comment is not kept";
  g_edit = std::move(changed);
  fill(editor, place_of(macro, trigger));
  return "";
}

void command(HWND editor, int id) {
  Entry entry;
  std::string outcome;
  switch (id) {
  case IDC_AUTO_ADD:
    outcome = put_line(editor, nullptr);
    break;
  case IDC_AUTO_CHANGE:
    outcome = chosen(editor, &entry) ? put_line(editor, &entry) : "choose the line to change";
    break;
  case IDC_AUTO_ENABLE:
    if (!chosen(editor, &entry) || entry.trigger < 0) {
      outcome = "choose a trigger to turn on or off";
      break;
    }
    g_edit.triggers[size_t(entry.trigger)].enabled =
        !g_edit.triggers[size_t(entry.trigger)].enabled;
    fill(editor, place_of(-1, entry.trigger));
    break;
  case IDC_AUTO_REMOVE: {
    if (!chosen(editor, &entry)) {
      outcome = "choose the line to remove";
      break;
    }
    HexAutoRules changed = g_edit;
    if (entry.macro >= 0)
      changed.macros[entry.macro] = HexMacro{};
    else
      changed.triggers.erase(changed.triggers.begin() + entry.trigger);
    if (!answers_complete(changed, &outcome))
      break;
    g_edit = std::move(changed);
    fill(editor, -1);
    break;
  }
  case IDC_AUTO_SAVE:
    if (!hex_auto_write(hex_auto_path(), g_edit, &outcome))
      break;
    hex_auto_apply(g_owner, g_edit);
    dlg_set_text(editor, IDC_AUTO_STATUS, "Saved; the rules are in force");
    return;
  case IDC_EXIT:
    dlg_end(editor, 0);
    return;
  default:
    return;
  }
  dlg_set_text(editor, IDC_AUTO_STATUS, outcome.c_str());
}

}  // namespace

void hex_auto_edit(HWND window) {
  if (g_editor && !dlg_ended(g_editor, nullptr))
    return;
  hex_auto_editor_destroy();
  g_owner = window;
  g_editor = dlg_create_modeless(window, kAutoDialog, hex_auto_editor_proc);
}

HWND hex_auto_editor() { return g_editor && !dlg_ended(g_editor, nullptr) ? g_editor : nullptr; }

void hex_auto_editor_destroy() {
  if (!g_editor)
    return;
  dlg_end(g_editor, 0);
  dlg_destroy(g_editor);
  g_editor = nullptr;
}

int hex_auto_editor_proc(HWND editor, unsigned message, uintptr_t wParam, intptr_t) {
  switch (message) {
  case WM_INITDIALOG:
    g_edit = hex_auto_rules();
    fill(editor, -1);
    dlg_set_path_text(editor, IDC_AUTO_PATH, hex_auto_path());
    return 1;
  case WM_CLOSE:
    dlg_end(editor, 0);
    return 1;
  case WM_COMMAND:
    command(editor, int(LOWORD(wParam)));
    return 1;
  default:
    return 0;
  }
}
