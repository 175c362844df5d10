#include "log_reading.h"

#include "resources/glyphs.h"

#include <cctype>
#include <cstdlib>

namespace {

constexpr char32_t kNoBreakSpace = 0xA0;

bool isHtmlSpace(char32_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

struct NamedEntity {
  std::string_view name;
  char32_t value;
};
constexpr NamedEntity kEntities[] = {
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0},
};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char &c : out)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

class Reader {
public:
  LogReading read(std::string_view html) {
    size_t at = 0;
    size_t end = html.size();
    if (const size_t body = lower(html).find("<body"); body != std::string::npos) {
      at = html.find('>', body);
      at = at == std::string_view::npos ? html.size() : at + 1;
      if (const size_t close = lower(html).find("</body", at); close != std::string::npos)
        end = close;
    }
    while (at < end && reading_.fault.empty()) {
      const char c = html[at];
      if (c == '<') {
        at = tag(html, at, end);
      } else if (c == '&') {
        at = entity(html, at, end);
      } else if (static_cast<unsigned char>(c) >= 0x80) {
        fail("a byte outside ASCII at " + std::to_string(at));
      } else {
        character(static_cast<unsigned char>(c));
        ++at;
      }
    }
    endLine(false);
    return reading_;
  }

private:
  void fail(const std::string &why) {
    if (reading_.fault.empty())
      reading_.fault = why;
  }

  void character(char32_t c) {
    line_ += c;
    if (inRecord_ && !isHtmlSpace(c) && c != kNoBreakSpace)
      paneAppendUtf8(reading_.records.back().shown, c);
  }

  // A line as a browser lays it out: white-space runs as one blank, none at
  // either end, no-break spaces as blanks.
  void endLine(bool lineBreak) {
    std::u32string shown;
    for (char32_t c : line_) {
      if (isHtmlSpace(c)) {
        if (!shown.empty() && shown.back() != U' ')
          shown += U' ';
      } else {
        shown += c;
      }
    }
    if (!shown.empty() && shown.back() == U' ')
      shown.pop_back();
    for (char32_t c : shown)
      paneAppendUtf8(reading_.text, c == kNoBreakSpace ? U' ' : c);
    if (lineBreak)
      reading_.text += '\n';
    line_.clear();
  }

  // Attribute values hold no '>' here: the log writes none, and the
  // browser's document comes re-written with '>' as an entity.
  size_t tag(std::string_view html, size_t at, size_t end) {
    const size_t close = html.find('>', at);
    if (close == std::string_view::npos || close >= end) {
      fail("a tag without its end at " + std::to_string(at));
      return end;
    }
    const std::string inside = lower(html.substr(at + 1, close - at - 1));
    const bool endTag = !inside.empty() && inside[0] == '/';
    const size_t nameStart = endTag ? 1 : 0;
    const std::string name = inside.substr(nameStart, inside.find(' ') - nameStart);
    if (endTag) {
      if (name == "font")
        inRecord_ = false;
      else if (name == "p")
        endLine(false);
      return close + 1;
    }
    reading_.elements.push_back(name);
    if (name == "br") {
      endLine(true);
    } else if (name == "p") {
      endLine(false);
    } else if (name == "font") {
      const size_t value = inside.find("color=\"");
      const size_t valueEnd = value == std::string::npos ? value : inside.find('"', value + 7);
      std::string colour;
      if (valueEnd != std::string::npos)
        colour = std::string(html.substr(at + 1 + value + 7, valueEnd - value - 7));
      reading_.records.push_back({colour, ""});
      inRecord_ = true;
    }
    return close + 1;
  }

  size_t entity(std::string_view html, size_t at, size_t end) {
    const size_t semicolon = html.find(';', at);
    if (semicolon == std::string_view::npos || semicolon >= end || semicolon - at > 12) {
      fail("a bare '&' at " + std::to_string(at));
      return end;
    }
    const std::string_view name = html.substr(at + 1, semicolon - at - 1);
    char32_t value = 0;
    if (!name.empty() && name[0] == '#') {
      const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
      const std::string digits(name.substr(hex ? 2 : 1));
      char *stop = nullptr;
      value = char32_t(std::strtoul(digits.c_str(), &stop, hex ? 16 : 10));
      if (digits.empty() || *stop != '\0' || value == 0 || value > 0x10FFFF)
        fail("a bad character reference at " + std::to_string(at));
    } else {
      for (const NamedEntity &known : kEntities)
        if (known.name == name)
          value = known.value;
      if (value == 0)
        fail("an unknown entity &" + std::string(name) + "; at " + std::to_string(at));
    }
    character(value);
    return semicolon + 1;
  }

  LogReading reading_;
  std::u32string line_;
  bool inRecord_ = false;
};

}  // namespace

LogReading readLogBody(std::string_view html) { return Reader().read(html); }

std::string shownCharacters(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0xA0) {
      ++i;  // no-break space
      continue;
    }
    if (isHtmlSpace(c))
      continue;
    out += char(c);
  }
  return out;
}
