// The automation file: macros and triggers, one a line, read with errors
// that name the line and written back so that reading gives them again.
#include "hex/core/hexcore.h"

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace {

struct Field {
  std::string key;    // empty for a bare word
  std::string value;  // as written, quotes removed
};

bool fail(std::string *why, const std::string &what) {
  if (why)
    *why = what;
  return false;
}

// Words and key=value fields; a value in quotes may hold blanks, and a
// backslash inside takes the next character along (\" does not end it).
bool split_fields(std::string_view line, std::vector<Field> &fields, std::string *why) {
  size_t at = 0;
  while (true) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r'))
      ++at;
    if (at == line.size() || line[at] == '#')
      return true;
    Field field;
    const size_t start = at;
    while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '=' &&
           line[at] != '"')
      ++at;
    field.key.assign(line.substr(start, at - start));
    if (at < line.size() && line[at] == '=') {
      ++at;
      if (at < line.size() && line[at] == '"') {
        const size_t open = at++;
        while (at < line.size() && line[at] != '"')
          at += line[at] == '\\' ? 2 : 1;
        if (at >= line.size())
          return fail(why,
                      "no closing quote for the quote at character " + std::to_string(open + 1));
        field.value.assign(line.substr(open + 1, at - open - 1));
        ++at;
      } else {
        const size_t value = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t' && line[at] != '\r')
          ++at;
        field.value.assign(line.substr(value, at - value));
      }
    } else if (at < line.size() && line[at] == '"') {
      return fail(why, "a quote without a key= before it at character " + std::to_string(at + 1));
    } else {
      field.value = field.key;
      field.key.clear();
    }
    fields.push_back(std::move(field));
  }
}

bool decode_text(const std::string &written, std::string &bytes, std::string *why) {
  bytes.clear();
  for (size_t i = 0; i < written.size(); ++i) {
    if (written[i] != '\\') {
      bytes += written[i];
      continue;
    }
    const char c = ++i < written.size() ? written[i] : '\0';
    switch (c) {
    case 'r':
      bytes += '\r';
      break;
    case 'n':
      bytes += '\n';
      break;
    case 't':
      bytes += '\t';
      break;
    case '0':
      bytes += '\0';
      break;
    case '\\':
      bytes += '\\';
      break;
    case '"':
      bytes += '"';
      break;
    case 'x': {
      const int high = i + 1 < written.size() ? hex_digit_value(written[i + 1]) : -1;
      const int low = i + 2 < written.size() ? hex_digit_value(written[i + 2]) : -1;
      if (high < 0 || low < 0)
        return fail(why, "'\\x' needs two hex digits");
      bytes += char(high * 16 + low);
      i += 2;
      break;
    }
    default:
      return fail(why, std::string("unknown escape '\\") + c + "'");
    }
  }
  return true;
}

// Hex bytes: one or two digits each, blanks between.
bool decode_hex(const std::string &written, std::string &bytes, std::string *why) {
  bytes.clear();
  size_t i = 0;
  while (i < written.size()) {
    if (written[i] == ' ' || written[i] == '\t') {
      ++i;
      continue;
    }
    const int high = hex_digit_value(written[i]);
    if (high < 0)
      return fail(why, std::string("'") + written[i] + "' is not a hex digit");
    int value = high;
    if (++i < written.size() && hex_digit_value(written[i]) >= 0)
      value = value * 16 + hex_digit_value(written[i++]);
    bytes += char(value);
  }
  return true;
}

bool bytes_field(const Field &field, bool hex, std::string &bytes, bool empty_ok,
                 std::string *why) {
  std::string reason;
  if (!(hex ? decode_hex(field.value, bytes, &reason) : decode_text(field.value, bytes, &reason)))
    return fail(why, field.key + ": " + reason);
  if (bytes.size() > size_t(HEX_AUTO_BYTES_MAX))
    return fail(why, field.key + ": more than " + std::to_string(HEX_AUTO_BYTES_MAX) + " bytes");
  if (bytes.empty() && !empty_ok)
    return fail(why, field.key + ": no bytes");
  return true;
}

bool number_field(const Field &field, uint32_t most, uint32_t &value, std::string *why) {
  const std::string &text = field.value;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || n > most)
      return fail(why,
                  field.key + "=" + text + " is not a number from 0 to " + std::to_string(most));
    n = n * 10 + uint64_t(c - '0');
  }
  if (text.empty() || n > most)
    return fail(why, field.key + "=" + text + " is not a number from 0 to " + std::to_string(most));
  value = uint32_t(n);
  return true;
}

template <size_t N, size_t W>
bool choice_field(const Field &field, const char (&table)[N][W], int32_t &value, std::string *why) {
  for (size_t i = 0; i < N; ++i)
    if (strcasecmp(table[i], field.value.c_str()) == 0) {
      value = int32_t(i);
      return true;
    }
  std::string names;
  for (size_t i = 0; i < N; ++i)
    names += (i ? i + 1 == N ? " or " : ", " : "") + std::string(table[i]);
  return fail(why, field.key + "=" + field.value + " is not " + names);
}

bool side_word(const std::string &word, int &side) {
  if (strcasecmp(word.c_str(), "A") == 0)
    side = HEX_SIDE_A;
  else if (strcasecmp(word.c_str(), "B") == 0)
    side = HEX_SIDE_B;
  else
    return false;
  return true;
}

// An expression keeps its escapes for itself, but for a quote: the file's
// \" is the expression's ", and a bare " is written so.
std::string regex_read(const std::string &written) {
  std::string out;
  for (size_t i = 0; i < written.size(); ++i) {
    if (written[i] == '\\' && i + 1 < written.size()) {
      if (written[i + 1] != '"')
        out += written[i];
      out += written[++i];
    } else {
      out += written[i];
    }
  }
  return out;
}

std::string regex_written(const std::string &expression) {
  std::string out = "\"";
  for (size_t i = 0; i < expression.size(); ++i) {
    if (expression[i] == '\\' && i + 1 < expression.size())
      out += expression[i++];
    else if (expression[i] == '"')
      out += '\\';
    out += expression[i];
  }
  return out + "\"";
}

// Each field once, each known to its kind of line.
bool check_keys(const std::vector<Field> &fields, const char *const *known, std::string *why) {
  for (size_t i = 2; i < fields.size(); ++i) {
    const std::string &name = fields[i].key.empty() ? fields[i].value : fields[i].key;
    bool found = false;
    for (const char *const *k = known; *k; ++k)
      found = found || name == *k;
    if (!found)
      return fail(why, "unknown word '" + name + "'");
    for (size_t j = 2; j < i; ++j)
      if ((fields[j].key.empty() ? fields[j].value : fields[j].key) == name)
        return fail(why, "'" + name + "' given twice");
  }
  return true;
}

bool parse_macro(const std::vector<Field> &fields, HexAutoRules &rules, std::string *why) {
  static const char *const kKnown[] = {"name",  "text",  "hex",   "to",
                                       "every", "frame", "check", nullptr};
  uint32_t number = 0;
  if (fields.size() < 2 || !fields[1].key.empty() ||
      !number_field({"macro", fields[1].value}, HEX_MACROS, number, nullptr) || number < 1)
    return fail(why, "a macro needs its number, 1 to 12, after 'macro'");
  if (!check_keys(fields, kKnown, why))
    return false;
  HexMacro macro;
  macro.defined = true;
  bool has_bytes = false;
  for (size_t i = 2; i < fields.size(); ++i) {
    const Field &f = fields[i];
    if (f.key == "name") {
      if (!bytes_field(f, false, macro.name, true, why))
        return false;
    } else if (f.key == "text" || f.key == "hex") {
      if (has_bytes)
        return fail(why, "a macro has text= or hex=, not both");
      has_bytes = true;
      macro.hex = f.key == "hex";
      if (!bytes_field(f, macro.hex, macro.bytes, false, why))
        return false;
    } else if (f.key == "to") {
      if (strcasecmp(f.value.c_str(), "send") == 0)
        macro.target = HEX_AUTO_TO_SEND;
      else if (!side_word(f.value, macro.target))
        return fail(why, "to=" + f.value + " is not A, B or send");
    } else if (f.key == "every") {
      if (!number_field(f, HEX_AUTO_MS_MAX, macro.every_ms, why))
        return false;
      if (macro.every_ms != 0 && macro.every_ms < HEX_AUTO_EVERY_MIN_MS)
        return fail(
            why, "every=" + f.value + " is below " + std::to_string(HEX_AUTO_EVERY_MIN_MS) + " ms");
    } else if (f.key == "frame") {
      if (!choice_field(f, hex_frame, macro.frame, why))
        return false;
    } else if (f.key == "check") {
      if (!choice_field(f, hex_sum, macro.check, why))
        return false;
    } else {
      return fail(why, "'" + (f.key.empty() ? f.value : f.key) + "' needs a value");
    }
  }
  if (!has_bytes)
    return fail(why, "a macro needs text= or hex=");
  rules.macros[number - 1] = std::move(macro);
  return true;
}

bool parse_trigger(const std::vector<Field> &fields, HexAutoRules &rules, bool macros_known,
                   std::string *why) {
  static const char *const kKnown[] = {"name",      "text",  "hex",  "regex", "reply", "reply-text",
                                       "reply-hex", "after", "once", "off",   "to",    nullptr};
  HexTrigger trigger;
  if (fields.size() < 2 || !fields[1].key.empty() || !side_word(fields[1].value, trigger.side))
    return fail(why, "a trigger needs its side, A or B, after 'trigger'");
  if (!check_keys(fields, kKnown, why))
    return false;
  if (rules.triggers.size() >= size_t(HEX_TRIGGERS_MAX))
    return fail(why, "more than " + std::to_string(HEX_TRIGGERS_MAX) + " triggers");
  bool has_pattern = false, has_reply = false;
  for (size_t i = 2; i < fields.size(); ++i) {
    const Field &f = fields[i];
    if (f.key.empty() && (f.value == "once" || f.value == "off")) {
      (f.value == "once" ? trigger.once : trigger.enabled) = f.value == "once";
    } else if (f.key == "name") {
      if (!bytes_field(f, false, trigger.name, true, why))
        return false;
    } else if (f.key == "text" || f.key == "hex" || f.key == "regex") {
      if (has_pattern)
        return fail(why, "a trigger has one of text=, hex= or regex=");
      has_pattern = true;
      if (f.key == "regex") {
        trigger.kind = HexPattern::Regex;
        trigger.pattern = regex_read(f.value);
        std::string reason;
        if (!hex_regex_check(trigger.pattern, &reason))
          return fail(why, "regex: " + reason);
      } else {
        trigger.kind = f.key == "hex" ? HexPattern::Hex : HexPattern::Text;
        if (!bytes_field(f, trigger.kind == HexPattern::Hex, trigger.pattern, false, why))
          return false;
      }
    } else if (f.key == "reply" || f.key == "reply-text" || f.key == "reply-hex") {
      if (has_reply)
        return fail(why, "a trigger has one of reply=, reply-text= or reply-hex=");
      has_reply = true;
      if (f.key == "reply") {
        uint32_t number = 0;
        if (!number_field(f, HEX_MACROS, number, why) || number < 1)
          return fail(why, "reply=" + f.value + " is not a macro number, 1 to 12");
        trigger.reply_macro = int(number) - 1;
        if (macros_known && !rules.macros[trigger.reply_macro].defined)
          return fail(why, "reply=" + f.value + " names no macro");
      } else {
        trigger.reply_hex = f.key == "reply-hex";
        if (!bytes_field(f, trigger.reply_hex, trigger.reply, false, why))
          return false;
      }
    } else if (f.key == "after") {
      if (!number_field(f, HEX_AUTO_MS_MAX, trigger.after_ms, why))
        return false;
    } else if (f.key == "to") {
      if (!side_word(f.value, trigger.to))
        return fail(why, "to=" + f.value + " is not A or B");
    } else {
      return fail(why, "'" + (f.key.empty() ? f.value : f.key) + "' needs a value");
    }
  }
  if (!has_pattern)
    return fail(why, "a trigger needs text=, hex= or regex=");
  if (!has_reply)
    return fail(why, "a trigger needs reply=, reply-text= or reply-hex=");
  rules.triggers.push_back(std::move(trigger));
  return true;
}

bool parse_line(std::string_view line, HexAutoRules &rules, bool macros_known, std::string *why) {
  if (line.size() > size_t(HEX_AUTO_LINE_MAX))
    return fail(why, "longer than " + std::to_string(HEX_AUTO_LINE_MAX) + " characters");
  if (line.find('\0') != std::string_view::npos)
    return fail(why, "a NUL byte: not a text file");
  std::vector<Field> fields;
  if (!split_fields(line, fields, why))
    return false;
  if (fields.empty())
    return true;
  if (fields[0].key.empty() && fields[0].value == "macro")
    return parse_macro(fields, rules, why);
  if (fields[0].key.empty() && fields[0].value == "trigger")
    return parse_trigger(fields, rules, macros_known, why);
  const std::string &word = fields[0].key.empty() ? fields[0].value : fields[0].key;
  return fail(why, "unknown word '" + word + "': a line starts with macro or trigger");
}

// A text value as the file writes it.
std::string quoted(const std::string &bytes) {
  std::string out = "\"";
  for (char c : bytes) {
    const auto b = uint8_t(c);
    switch (c) {
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '"':
      out += "\\\"";
      break;
    case '\\':
      out += "\\\\";
      break;
    default:
      if (b >= 0x20 && b < 0x7F) {
        out += c;
      } else {
        static const char kDigits[] = "0123456789ABCDEF";
        out += "\\x";
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
      }
    }
  }
  return out + "\"";
}

std::string hex_words(const std::string &bytes) {
  std::string text(3 * bytes.size() + 1, '\0');
  text.resize(size_t(hex_to_hexstr(bytes.data(), text.data(), int(bytes.size()))));
  return "\"" + (text.empty() ? text : text.substr(1)) + "\"";
}

}  // namespace

bool hex_auto_parse_line(std::string_view line, HexAutoRules &rules, std::string *why) {
  HexAutoRules changed = rules;
  if (!parse_line(line, changed, true, why))
    return false;
  rules = std::move(changed);
  return true;
}

bool hex_auto_parse(std::string_view text, HexAutoRules &rules, std::string *why) {
  rules = HexAutoRules{};
  std::vector<int> trigger_lines;
  int number = 0;
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos)
      end = text.size();
    ++number;
    const std::string_view line = text.substr(at, end - at);
    std::string reason;
    const size_t triggers = rules.triggers.size();
    if (!parse_line(line, rules, false, &reason)) {
      rules = HexAutoRules{};
      return fail(why, "line " + std::to_string(number) + ": " + reason);
    }
    if (rules.triggers.size() > triggers)
      trigger_lines.push_back(number);
    at = end + 1;
  }
  // A trigger may name a macro written further down.
  for (size_t i = 0; i < rules.triggers.size(); ++i) {
    const int macro = rules.triggers[i].reply_macro;
    if (macro >= 0 && !rules.macros[macro].defined) {
      rules = HexAutoRules{};
      return fail(why, "line " + std::to_string(trigger_lines[i]) +
                           ": reply=" + std::to_string(macro + 1) + " names no macro");
    }
  }
  return true;
}

std::string hex_auto_format_macro(const HexMacro &macro, int number) {
  std::string line = "macro " + std::to_string(number) + " name=" + quoted(macro.name);
  line += macro.hex ? " hex=" + hex_words(macro.bytes) : " text=" + quoted(macro.bytes);
  if (macro.target != HEX_AUTO_TO_SEND)
    line += macro.target == HEX_SIDE_A ? " to=A" : " to=B";
  if (macro.every_ms)
    line += " every=" + std::to_string(macro.every_ms);
  if (macro.frame > HEX_FRAME_NONE && macro.frame <= HEX_FRAME_ICNI)
    line += std::string(" frame=") + hex_frame[macro.frame] +
            " check=" + hex_sum[macro.check >= 0 && macro.check < 4 ? macro.check : 0];
  return line;
}

std::string hex_auto_format_trigger(const HexTrigger &trigger) {
  std::string line = trigger.side == HEX_SIDE_B ? "trigger B" : "trigger A";
  line += " name=" + quoted(trigger.name);
  switch (trigger.kind) {
  case HexPattern::Text:
    line += " text=" + quoted(trigger.pattern);
    break;
  case HexPattern::Hex:
    line += " hex=" + hex_words(trigger.pattern);
    break;
  case HexPattern::Regex:
    line += " regex=" + regex_written(trigger.pattern);
    break;
  }
  if (trigger.reply_macro >= 0)
    line += " reply=" + std::to_string(trigger.reply_macro + 1);
  else
    line += trigger.reply_hex ? " reply-hex=" + hex_words(trigger.reply)
                              : " reply-text=" + quoted(trigger.reply);
  if (trigger.to >= 0)
    line += trigger.to == HEX_SIDE_A ? " to=A" : " to=B";
  if (trigger.after_ms)
    line += " after=" + std::to_string(trigger.after_ms);
  if (trigger.once)
    line += " once";
  if (!trigger.enabled)
    line += " off";
  return line;
}

std::string hex_auto_format(const HexAutoRules &rules) {
  std::string text = "# Kestrelon macros and triggers: one a line (see the README)\n";
  for (int i = 0; i < HEX_MACROS; ++i)
    if (rules.macros[i].defined)
      text += hex_auto_format_macro(rules.macros[i], i + 1) + "\n";
  for (const HexTrigger &trigger : rules.triggers)
    text += hex_auto_format_trigger(trigger) + "\n";
  return text;
}

std::string hex_macro_wire(const HexMacro &macro) {
  if (macro.frame == HEX_FRAME_NONE)
    return macro.bytes;
  std::vector<uint8_t> frame(HEX_FRAME_MAX);
  const int length = hex_build_frame(macro.frame, macro.check,
                                     reinterpret_cast<const uint8_t *>(macro.bytes.data()),
                                     int(macro.bytes.size()), frame.data());
  if (length <= 0)
    return macro.bytes;
  return std::string(reinterpret_cast<const char *>(frame.data()), size_t(length));
}

bool hex_auto_read(const char *path, HexAutoRules &rules, std::string *why) {
  constexpr size_t kFileMax = 1 << 20;
  rules = HexAutoRules{};
  std::string reason;
  const int fd = hex_open_user_file(path, HexOpen::Read, &reason);
  if (fd < 0)
    return fail(why, std::string(path) + ": " + reason);
  std::string text;
  char block[16384];
  ssize_t got = 0;
  while ((got = read(fd, block, sizeof block)) > 0 && text.size() <= kFileMax)
    text.append(block, size_t(got));
  const int error = errno;
  close(fd);
  if (got < 0) {
    errno = error;
    return fail(why, std::string(path) + ": " + std::strerror(error));
  }
  if (text.size() > kFileMax) {
    errno = EFBIG;
    return fail(why, std::string(path) + ": larger than 1 MiB");
  }
  if (!hex_auto_parse(text, rules, &reason)) {
    errno = EINVAL;
    return fail(why, std::string(path) + ": " + reason);
  }
  return true;
}

bool hex_auto_write(const char *path, const HexAutoRules &rules, std::string *why) {
  std::string reason;
  const int fd = hex_open_user_file(path, HexOpen::Replace, &reason);
  if (fd < 0)
    return fail(why, std::string(path) + ": " + reason);
  const std::string text = hex_auto_format(rules);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR)
      continue;
    if (put <= 0)
      break;
    done += size_t(put);
  }
  const int error = errno;
  if (close(fd) != 0 && done == text.size())
    return fail(why, std::string(path) + ": " + std::strerror(errno));
  if (done < text.size()) {
    errno = error;
    return fail(why, std::string(path) + ": " + std::strerror(error));
  }
  return true;
}
