// The HTML log's records: the text as the pane lays it out, in markup that
// nothing received can change.
#include "hex/core/hexcore.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// How one byte (other than LF, CR and TAB) is written: its character, an
// entity, or the reference of its glyph; at most eight characters.
struct ByteHtml {
  char text[8];
  uint8_t length;
};

struct ByteTable {
  ByteHtml bytes[256];

  ByteTable() {
    for (int value = 0; value < 256; ++value) {
      ByteHtml &html = bytes[value];
      std::memset(html.text, 0, sizeof html.text);
      const char *entity = value == '&'   ? "&amp;"
                           : value == '<' ? "&lt;"
                           : value == '>' ? "&gt;"
                           : value == '"' ? "&quot;"
                                          : nullptr;
      const char32_t glyph = paneGlyph(uint8_t(value));
      if (entity) {
        html.length = uint8_t(std::strlen(entity));
        std::memcpy(html.text, entity, html.length);
      } else if (glyph >= U' ' && glyph < 0x7F) {
        html.text[0] = char(glyph);
        html.length = 1;
      } else {
        // "&#" + up to five digits (the glyphs stay below U+10000) + ';'
        char digits[6];
        int count = 0;
        for (uint32_t rest = glyph; count == 0 || rest != 0; rest /= 10)
          digits[count++] = char('0' + rest % 10);
        html.text[0] = '&';
        html.text[1] = '#';
        int at = 2;
        while (count > 0)
          html.text[at++] = digits[--count];
        html.text[at++] = ';';
        html.length = uint8_t(at);
      }
    }
  }
};

const ByteTable kByteTable;

// How many bytes from `p` on go out as they are, sixteen at a time: those
// that need no entity, and blanks that stand alone (their neighbours shown;
// the caller knows the one before `p` is). At least one byte must follow
// each block of sixteen, to see whether a last blank stands alone.
size_t as_it_is(const char *p, const char *end) {
  size_t count = 0;
#if defined(__SSE2__)
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tilde = _mm_set1_epi8('~');
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  while (end - (p + count) > 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + count));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + count + 1));
    // Signed: bytes of 0x80 and above are below the blank too.
    const __m128i outside =
        _mm_or_si128(_mm_cmplt_epi8(bytes, blank), _mm_cmpgt_epi8(bytes, tilde));
    const __m128i entities =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, amp), _mm_cmpeq_epi8(bytes, quote)),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, lt), _mm_cmpeq_epi8(bytes, gt)));
    const __m128i twoBlanks =
        _mm_and_si128(_mm_cmpeq_epi8(bytes, blank), _mm_cmpeq_epi8(next, blank));
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(outside, entities), twoBlanks)) != 0)
      break;
    count += 16;
  }
#else
  (void)p;
  (void)end;
#endif
  return count;
}

constexpr char kNbsp[] = "&nbsp;";
constexpr char kBreak[] = "<br>\n";
constexpr char kEnd[] = "</font>";

// One step of the pane's layout at a time into HTML, gathered in a buffer
// that goes out whenever it is nearly full. A browser drops a plain blank at
// the start or end of a line and merges a run of them, so blanks wait until
// the next shown character says which may stay plain: the first of a run,
// when the line already shows something and a character follows in this
// record. Every other blank is &nbsp;.
class HtmlLayout {
public:
  HtmlLayout(HexLogOut &out, HexLogState &state)
      : out_(out), state_(state), lineShown_(state.lineShown) {}

  void characters(const char *run, size_t count) {
    // The state in locals: what goes through `at` may be any byte, so members
    // would be read again after every store.
    char *at = at_;
    bool shown = lineShown_;
    long long pending = pending_;
    const char *nextBlocks = run;  // where plain text is looked for next
    for (const char *p = run, *end = run + count; p < end; ++p) {
      if (p >= nextBlocks) {
        // Plain text goes out in blocks, as far as the buffer has room.
        // Binary traffic has little of it: it is looked for now and then.
        nextBlocks = p + kBlockRetry;
        if (pending == 0 && (shown || *p != ' ')) {
          if (at > buffer_ + kSize / 2) {
            at_ = at;
            spill();
            at = at_;
          }
          const long room = buffer_ + kLimit - at;
          const size_t plain = as_it_is(p, end - p > room ? p + room : end);
          if (plain != 0) {
            std::memcpy(at, p, plain);
            at += plain;
            p += plain;
            shown = true;
            nextBlocks = p;
            if (p == end)
              break;
          }
        }
      }
      const unsigned char byte = static_cast<unsigned char>(*p);
      if (byte == ' ') {
        // The common case at once: one blank between shown characters.
        if (pending == 0 && shown && p + 1 < end && p[1] != ' ')
          *at++ = ' ';
        else
          ++pending;
        continue;
      }
      if (pending != 0 || at > buffer_ + kLimit) {
        at_ = at;
        lineShown_ = shown;
        pending_ = pending;
        putBlanks(true);
        if (at_ > buffer_ + kLimit)
          spill();
        at = at_;
        pending = 0;
      }
      // A whole entry at once: its length says how much of it counts.
      const ByteHtml &html = kByteTable.bytes[byte];
      std::memcpy(at, html.text, sizeof html.text);
      at += html.length;
      shown = true;
    }
    at_ = at;
    lineShown_ = shown;
    pending_ = pending;
  }
  void lineBreak() {
    putBlanks(false);
    put(kBreak, sizeof kBreak - 1);
    lineShown_ = false;
  }
  void blanks(int count) { pending_ += count; }

  void put(const char *text, size_t count) {
    while (count > 0) {
      if (at_ == buffer_ + sizeof buffer_)
        spill();
      const size_t room = size_t(buffer_ + sizeof buffer_ - at_);
      const size_t now = count < room ? count : room;
      std::memcpy(at_, text, now);
      at_ += now;
      text += now;
      count -= now;
    }
  }
  // The record ends: blanks still waiting may end their line.
  void finish() {
    putBlanks(false);
    put(kEnd, sizeof kEnd - 1);
    spill();
    state_.lineShown = lineShown_;
  }

private:
  static constexpr size_t kSize = 16384;
  // Bytes between two looks for plain text after one found none.
  static constexpr long kBlockRetry = 64;
  // Room kept for one byte's entry and the blank before it.
  static constexpr size_t kLimit = kSize - 2 * sizeof(ByteHtml::text);

  void putBlanks(bool beforeShown) {
    if (pending_ == 0)
      return;
    if (beforeShown && lineShown_) {
      put(" ", 1);
      --pending_;
    }
    for (; pending_ > 0; --pending_)
      put(kNbsp, sizeof kNbsp - 1);
    lineShown_ = true;
  }

  void spill() {
    if (at_ != buffer_)
      out_.write(buffer_, size_t(at_ - buffer_));
    at_ = buffer_;
  }

  HexLogOut &out_;
  HexLogState &state_;
  bool lineShown_;
  long long pending_ = 0;
  char buffer_[kSize];
  char *at_ = buffer_;
};

class StringOut final : public HexLogOut {
public:
  explicit StringOut(std::string &text) : text_(text) {}
  void write(const char *bytes, size_t count) override { text_.append(bytes, count); }

private:
  std::string &text_;
};

}  // namespace

void hex_log_record(HexLogOut &out, uint32_t rgb, const char *text, int length,
                    HexLogState &state) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  char tag[] = "<font color=\"#RRGGBB\">";
  for (int digit = 0; digit < 6; ++digit)
    tag[14 + digit] = kHexDigits[(rgb >> (20 - 4 * digit)) & 0xF];
  HtmlLayout layout(out, state);
  layout.put(tag, sizeof tag - 1);
  if (text && length > 0)
    paneLayOut(std::string_view(text, size_t(length)), state.layout, layout);
  layout.finish();
}

void hex_log_record(std::string &out, uint32_t rgb, const char *text, int length,
                    HexLogState &state) {
  StringOut toString(out);
  hex_log_record(toString, rgb, text, length, state);
}
