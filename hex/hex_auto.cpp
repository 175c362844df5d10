// Automation: macros on buttons and F keys, periodic sends, and triggers
// that answer received bytes, all sent through the Send path.
#include "hex/hex_auto.h"

#include "hex/hex_msgbox.h"
#include "hex/hex_port_out.h"
#include "hex/hex_send.h"
#include "hex/hex_settings.h"
#include "hex/hex_side.h"
#include "hex/hex_state.h"
#include "hex/hex_status.h"
#include "hex/hex_timer.h"
#include "hex/hex_transfer.h"
#include "resources/ids.h"
#include "ser/ser.h"

#include <cerrno>
#include <cstdio>

namespace {

// A trigger's firings since the rules came into force.
struct TriggerRun {
  bool spent = false;  // a `once` rule that fired
  HexFireGuard guard;
};

// A trigger that matched in this pump run, answered once its chunk is shown.
struct Fired {
  int trigger;
  int port;
  uint32_t ms;
};

// A reply waiting for its time (after=), or for the line (bytes of another
// message still going out).
struct Pending {
  uint32_t due;
  int trigger;
  int port;  // where the request came
};

class FiredSink final : public HexMatchSink {
public:
  FiredSink(const std::vector<int> &rules, int port, uint32_t ms, std::vector<Fired> &fired)
      : rules_(rules), port_(port), ms_(ms), fired_(fired) {}
  void matched(int pattern, int) override {
    fired_.push_back({rules_[size_t(pattern)], port_, ms_});
  }

private:
  const std::vector<int> &rules_;
  int port_;
  uint32_t ms_;
  std::vector<Fired> &fired_;
};

std::string g_path = HEX_AUTO_NAME;
HexAutoRules g_rules;
std::vector<TriggerRun> g_runs;
HexMatcher g_matchers[2];
std::vector<int> g_rule_of[2];  // a side's pattern -> its trigger
std::vector<Fired> g_fired;
std::vector<Pending> g_pending;
bool g_running[HEX_MACROS];
uint32_t g_due[HEX_MACROS];

bool due_by(uint32_t due, uint32_t now) { return int32_t(due - now) <= 0; }

bool transfer_running() { return hex_transfer_running() != 0; }

void show_buttons(HWND window) {
  for (int i = 0; i < HEX_MACROS; ++i) {
    const HexMacro &macro = g_rules.macros[i];
    char caption[48];
    std::snprintf(caption, sizeof caption, "F%d %.24s", i + 1,
                  macro.defined ? macro.name.c_str() : "");
    dlg_set_text(window, IDC_MACRO_1 + i, caption);
    dlg_enable(window, IDC_MACRO_1 + i, macro.defined);
    dlg_check_button(window, IDC_MACRO_1 + i, g_running[i] ? BST_CHECKED : BST_UNCHECKED);
  }
}

// A send overdue (the line was busy) is tried again this much later.
constexpr int32_t kWaitLeastMs = 5;

// Timer 6 is armed for the first periodic send or reply due, or not at all.
void arm(HWND window) {
  const uint32_t now = SioTimer();
  bool any = false;
  uint32_t first = now;
  auto consider = [&](uint32_t due) {
    if (!any || int32_t(due - first) < 0)
      first = due;
    any = true;
  };
  for (int i = 0; i < HEX_MACROS; ++i)
    if (g_running[i])
      consider(g_due[i]);
  for (const Pending &pending : g_pending)
    consider(pending.due);
  hex_timer_cancel(window, TIMER_AUTO);
  if (!any)
    return;
  const int32_t wait = int32_t(first - now);
  hex_timer_arm(window, TIMER_AUTO, unsigned(wait > kWaitLeastMs ? wait : kWaitLeastMs));
}

// A text macro is echoed as text, unless a frame wraps it.
bool echoed_as_text(const HexMacro &macro) { return !macro.hex && macro.frame == HEX_FRAME_NONE; }

// Why bytes cannot go out on a side's port now; empty when they can.
std::string refusal(int side) {
  const hex_obj_t &record = hex_obj[side];
  if (transfer_running())
    return "a transfer is running";
  if (!record.open)
    return std::string(hex_portnames[record.port]) + " (Port " + (side ? "B" : "A") +
           ") is not open";
  return "";
}

// Bytes out on a side's port, echoed and logged as Send does. 1 when they
// went out; 0 while the line is busy with another message (try again); -1
// when they cannot go, with `why`.
int send_to_side(HWND window, int side, const std::string &bytes, bool as_text, std::string *why) {
  *why = refusal(side);
  if (!why->empty())
    return -1;
  if (hex_out_waiting() > 0)
    return 0;
  const int written =
      hex_send_bytes(window, hex_obj[side].port, reinterpret_cast<const uint8_t *>(bytes.data()),
                     int(bytes.size()), as_text);
  if (written < 0) {
    char text[200];
    hex_sio_error_text(written, text, sizeof text);
    *why = text;
    return -1;
  }
  return 1;
}

std::string trigger_title(int index) {
  const HexTrigger &trigger = g_rules.triggers[size_t(index)];
  return trigger.name.empty() ? "trigger " + std::to_string(index + 1)
                              : "trigger '" + trigger.name + "'";
}

// An event line behind whatever `sink` gathered, and in the status field.
void say(HWND window, HexWindowSink &sink, int port, const std::string &what, bool status) {
  hex_show_event_line(hex_time, port, what.c_str(), SioTimer(), sink);
  sink.flush();
  if (status)
    hex_status_show(window, (std::string(hex_portnames[port]) + " " + what).c_str());
}

// A trigger's reply goes out now: 1 sent, 0 the line is busy, -1 not sent.
int answer(HWND window, HexWindowSink &sink, int index, int port) {
  const HexTrigger &trigger = g_rules.triggers[size_t(index)];
  const int side = trigger.to >= 0 ? trigger.to : trigger.side;
  std::string bytes = trigger.reply;
  bool as_text = !trigger.reply_hex;
  if (trigger.reply_macro >= 0) {
    const HexMacro &macro = g_rules.macros[trigger.reply_macro];
    bytes = hex_macro_wire(macro);
    as_text = echoed_as_text(macro);
  }
  std::string why = refusal(side);
  if (why.empty() && hex_out_waiting() > 0)
    return 0;
  if (why.empty()) {
    say(window, sink, port, trigger_title(index) + " answered", false);
    if (send_to_side(window, side, bytes, as_text, &why) > 0)
      return 1;
  }
  say(window, sink, port, trigger_title(index) + " not answered: " + why, true);
  return -1;
}

void compile() {
  g_runs.assign(g_rules.triggers.size(), TriggerRun{});
  for (int side : {HEX_SIDE_A, HEX_SIDE_B}) {
    g_matchers[side].clear();
    g_rule_of[side].clear();
    hex_obj[side].trigger_match = HexMatchState{};
  }
  for (size_t i = 0; i < g_rules.triggers.size(); ++i) {
    const HexTrigger &trigger = g_rules.triggers[i];
    if (!trigger.enabled)
      continue;
    HexMatcher &matcher = g_matchers[trigger.side];
    std::string why;  // read and checked already: a pattern is never refused here
    const int pattern = trigger.kind == HexPattern::Regex
                            ? matcher.add_regex(trigger.pattern, &why)
                            : matcher.add_bytes(trigger.pattern, &why);
    if (pattern >= 0)
      g_rule_of[trigger.side].push_back(int(i));
  }
  g_fired.clear();
  g_pending.clear();
}

void send_macro(HWND window, int index) {
  const HexMacro &macro = g_rules.macros[index];
  const int side = macro.target == HEX_AUTO_TO_SEND ? hex_send_side() : macro.target;
  std::string why;
  const int sent = send_to_side(window, side, hex_macro_wire(macro), echoed_as_text(macro), &why);
  if (sent == 0)
    why = "another message is still going out";
  if (sent <= 0)
    hex_status_show(window, ("Macro F" + std::to_string(index + 1) + " not sent: " + why).c_str());
}

}  // namespace

void hex_auto_set_path(const char *path) { g_path = path && *path ? path : HEX_AUTO_NAME; }

const char *hex_auto_path() { return g_path.c_str(); }

const HexAutoRules &hex_auto_rules() { return g_rules; }

void hex_auto_start(HWND window) {
  for (int i = 0; i < HEX_MACROS; ++i)
    dlg_set_accelerator(window, VK_F1 + i, IDC_MACRO_1 + i);
  HexAutoRules rules;
  std::string why;
  if (!hex_auto_read(g_path.c_str(), rules, &why) && !(errno == ENOENT && g_path == HEX_AUTO_NAME))
    hex_dbg_msg(("Macros file " + why).c_str());
  hex_auto_apply(window, rules);
}

void hex_auto_stop(HWND window) {
  hex_auto_editor_destroy();
  hex_auto_apply(window, HexAutoRules{});
}

void hex_auto_apply(HWND window, const HexAutoRules &rules) {
  g_rules = rules;
  for (bool &running : g_running)
    running = false;
  compile();
  show_buttons(window);
  arm(window);
}

int hex_auto_running(int macro) { return macro >= 0 && macro < HEX_MACROS && g_running[macro]; }

void hex_auto_macro(HWND window, int index) {
  if (index < 0 || index >= HEX_MACROS || !g_rules.macros[index].defined)
    return;
  const HexMacro &macro = g_rules.macros[index];
  if (macro.every_ms > 0 && g_running[index]) {
    g_running[index] = false;
  } else {
    send_macro(window, index);
    g_running[index] = macro.every_ms > 0;
    g_due[index] = SioTimer() + macro.every_ms;
  }
  dlg_check_button(window, IDC_MACRO_1 + index, g_running[index] ? BST_CHECKED : BST_UNCHECKED);
  arm(window);
}

void hex_auto_tick(HWND window) {
  const uint32_t now = SioTimer();
  for (int i = 0; i < HEX_MACROS; ++i) {
    if (!g_running[i] || !due_by(g_due[i], now))
      continue;
    // A transfer holds the line: the send is skipped, the period kept.
    if (!transfer_running())
      send_macro(window, i);
    g_due[i] += g_rules.macros[i].every_ms;
    if (due_by(g_due[i], now))
      g_due[i] = now + g_rules.macros[i].every_ms;  // fallen behind: no burst to catch up
  }
  HexWindowSink sink(window);
  std::vector<Pending> waiting;
  for (const Pending &pending : g_pending) {
    if (!due_by(pending.due, now) || answer(window, sink, pending.trigger, pending.port) == 0)
      waiting.push_back(pending);
  }
  g_pending = std::move(waiting);
  arm(window);
}

void hex_auto_scan(int side, int port, uint32_t ms, const uint8_t *bytes, int count) {
  if (g_matchers[side].patterns() == 0)
    return;
  FiredSink sink(g_rule_of[side], port, ms, g_fired);
  g_matchers[side].scan(hex_obj[side].trigger_match, bytes, count, sink);
}

void hex_auto_answer(HWND window, HexWindowSink &sink) {
  if (g_fired.empty())
    return;
  const std::vector<Fired> fired = std::move(g_fired);
  g_fired.clear();
  for (const Fired &f : fired) {
    const HexTrigger &trigger = g_rules.triggers[size_t(f.trigger)];
    TriggerRun &run = g_runs[size_t(f.trigger)];
    if (trigger.once && run.spent)
      continue;
    const bool was_held = run.guard.held;
    if (!hex_fire_allow(run.guard, f.ms)) {
      if (!was_held)
        say(window, sink, f.port,
            trigger_title(f.trigger) + " held: more than " + std::to_string(HEX_TRIGGER_RATE_MAX) +
                " firings a second",
            true);
      continue;
    }
    run.spent = true;
    if (trigger.after_ms > 0 || answer(window, sink, f.trigger, f.port) == 0)
      g_pending.push_back({f.ms + trigger.after_ms, f.trigger, f.port});
  }
  arm(window);
}
