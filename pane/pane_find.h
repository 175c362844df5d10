// Finding bytes in the pane's text a slice at a time, so that a search or a
// count over 32 Mi characters never holds the window: the widget calls
// step() from its event loop until the work is done, and the text may grow,
// lose its oldest part or be edited between two calls. Plain C++, no Qt.
//
// Positions kept inside count from the model's first character ever
// (position + droppedTotal()), so they hold while old text is dropped; the
// accessors give positions of the text as it is now. Matches may overlap:
// "aa" is found at 0, 1 and 2 in "aaaa".
//
// A search goes from where it starts to one end of the text and on from the
// other end back to where it started; it finds the nearest match that way.
// The count covers the whole text and follows it as it grows; it starts
// again when old text is dropped, when the text is edited other than at its
// end, and when another match is found (the match's number among all is
// counted on the way).
#pragma once

#include "pane/pane_model.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// What the user typed, as the bytes to look for. Text: the bytes as they are.
// Hex: pairs of hex digits, blanks between bytes allowed ("7E FF", "7eff");
// where the pane shows bytes as hex groups (`groups`, the Hexadecimal and
// frame views) the bytes are looked for as those groups (" 7E FF").
// Returns false with `why` for a hex text that does not read as bytes.
bool paneFindPattern(std::string_view typed, bool hex, bool groups, std::string *pattern,
                     std::string *why);

class PaneFinder {
public:
  static constexpr std::size_t kPatternMax = 4096;

  explicit PaneFinder(const PaneModel &model) : model_(model) {}

  // The bytes looked for (at most kPatternMax); forgets the match and starts
  // the count.
  void setPattern(std::string pattern);
  const std::string &pattern() const { return pattern_; }

  // Looks for the first match at or after `from` (forward) or the last one
  // that starts before `from` (backward), then around the text's end.
  void find(std::int64_t from, bool forward);
  // Stops the search (the count goes on).
  void cancel() { searching_ = false; }

  // At most `budget` starting places looked at: the search first, then the
  // count. False when nothing is left to do until the text changes.
  bool step(std::int64_t budget);

  enum class Result { None, Searching, Found, NotFound };
  Result result() const { return state_; }
  // The match (positions now), or -1 when there is none.
  std::int64_t matchStart() const;
  std::int64_t matchEnd() const;
  // Matches in the text counted so far, whether that covers the whole text,
  // and the match's number among them (1 = the first), -1 until counted.
  std::int64_t count() const { return count_; }
  bool counted() const;
  std::int64_t ordinal() const { return ordinal_; }

private:
  void follow();  // catches up with drops and edits of the text
  void forget();  // the match is gone
  void lapDone(std::int64_t restart);
  void restartCount();
  void searchStep(std::int64_t budget);
  void countStep(std::int64_t budget);
  std::int64_t base() const { return model_.droppedTotal(); }
  std::int64_t lastStart() const;  // absolute: one past the last place a match may start
  // Reads the characters for the starting places [from, to) (absolute).
  std::string_view window(std::int64_t from, std::int64_t to);

  const PaneModel &model_;
  std::string pattern_, reversed_;
  using Searcher = std::boyer_moore_horspool_searcher<std::string::const_iterator>;
  std::optional<Searcher> ahead_, back_;
  std::string buffer_;
  std::uint64_t edits_ = 0;
  std::int64_t dropped_ = 0;

  Result state_ = Result::None;
  bool searching_ = false;
  bool forward_ = true;
  bool wrapped_ = false;
  std::int64_t origin_ = 0;  // absolute
  std::int64_t next_ = 0;    // forward: next place to look at; backward: one past it
  std::int64_t stop_ = 0;    // where this lap ends
  std::int64_t match_ = -1;  // absolute

  std::int64_t countNext_ = 0;  // absolute
  std::int64_t count_ = 0;
  std::int64_t before_ = 0;  // matches counted that start before the match
  std::int64_t ordinal_ = -1;
};
