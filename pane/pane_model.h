// Text model of the display pane: coloured characters, a selection and a
// line index. Plain C++, no Qt, so it is tested and measured on its own.
//
// Characters. Every byte put into the pane is stored as one character, and
// positions are offsets in that sequence (0 .. length()). Nothing is
// translated on the way in; how a byte looks is decided when it is shown
// (resources/glyphs.h). A line ends at a LF, at a CR followed by LF (the pair is one
// break: the CR and the LF both belong to the break) or at a lone CR. A CR at
// the very end of the text ends its line until a LF arrives behind it.
// lineLength() counts the characters of a line without its break, so
// lineStart(n) + lineLength(n) is the position where the break starts.
//
// Colours are Win32 COLORREF values (blue * 65536 + green * 256 + red), the
// form the monitor's colour tables hold. Every character has one. Text that
// is inserted takes the insertion colour. As on a rich-edit control, setting
// the colour of an empty selection sets the insertion colour; moving an
// empty selection (the caret) behind a character takes over that
// character's colour, so text typed there continues in its colour.
//
// Bounded memory: the pane keeps at most capacity() characters (32 Mi by
// default). When an insertion goes beyond it, the oldest text is dropped in
// one large step, a quarter of the capacity, so dropping is rare. The cut
// never splits a hex group (a blank and two hex digits): where the text
// around the cut reads as hex groups, the remaining text starts with the
// blank of a group. With setDropWholeScreens(true) (the ANSI view, wrapping
// off) whole screens of 25 lines are dropped, so line numbers stay aligned
// to screens: the remaining text starts at a line whose number was a multiple
// of 25. Positions of the selection move with the text (clamped at 0). A text
// that has fewer screen starts than needed loses the head of its first line
// instead (still aligned). Memory: one byte of text and one byte of colour
// (an index into a palette of up to 255 colours; beyond that the nearest held
// colour is used) per character, plus two bytes per line break: about 2 bytes
// per character, 4 when every character is a line break.
//
// Line lookups (lineFromPosition, lineStart, lineLength) cost O(log n) plus
// at most one block of 32 Ki characters; appending n characters costs O(n).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

using PaneColour = std::uint32_t;  // COLORREF: blue*65536 + green*256 + red

// Green, the pane's colour at start-up.
inline constexpr PaneColour kPaneDefaultColour = 0x00FF00u;

struct PaneSelection {
  std::int64_t anchor = 0;  // where the selection was started
  std::int64_t caret = 0;   // where it ends; the blinking caret
  std::int64_t start() const { return anchor < caret ? anchor : caret; }
  std::int64_t end() const { return anchor < caret ? caret : anchor; }
  bool empty() const { return anchor == caret; }
  bool operator==(const PaneSelection &) const = default;
};

// What changed, for the view. Positions are those after the change.
struct PaneChange {
  enum class Kind {
    Inserted,    // `count` characters inserted at `position`
    Removed,     // `count` characters removed at `position`
    Recoloured,  // `count` characters from `position` got a new colour
    Reset,       // the whole text was replaced
    Dropped,     // oldest `count` characters and `lines` whole lines
                 // dropped; `position` characters of them were the head
                 // of the line that is now the first
    Selection,   // only the selection moved
  };
  Kind kind = Kind::Reset;
  std::int64_t position = 0;
  std::int64_t count = 0;
  std::int64_t lines = 0;  // Dropped: number of whole lines that went
};

class PaneModel {
public:
  static constexpr std::int64_t kDefaultCapacity = std::int64_t{32} << 20;
  static constexpr int kScreenLines = 25;

  // capacity: characters kept (tests use small ones; at least 1024).
  explicit PaneModel(std::int64_t capacity = kDefaultCapacity);
  ~PaneModel();
  PaneModel(const PaneModel &) = delete;
  PaneModel &operator=(const PaneModel &) = delete;

  // --- text -------------------------------------------------------------
  std::int64_t length() const { return length_; }
  // Replaces the selection by the bytes in the insertion colour; afterwards
  // the caret stands behind them (empty selection).
  void replaceSelection(std::string_view bytes);
  // Appends at the end in the insertion colour; the selection keeps its
  // positions (it moves only if old text is dropped).
  void append(std::string_view bytes);
  // Appends at the end in `colour`, which becomes the insertion colour; the
  // selection stays on the text it covered and a caret at the end stays at
  // the end. Received text goes in this way while the user reads or selects.
  void appendKeepingSelection(std::string_view bytes, PaneColour colour);
  // Removes [from, to) (order free, clamped to the text). The selection
  // follows the text; a selection inside the range collapses to `from`.
  void deleteRange(std::int64_t from, std::int64_t to);
  // Replaces the whole text (empty: clears the pane) in the insertion
  // colour; the caret goes to the end. Emptying resets the insertion colour
  // to the default colour.
  void setText(std::string_view bytes);
  void clear() { setText({}); }

  std::uint8_t charAt(std::int64_t position) const;            // 0 outside
  PaneColour colourAt(std::int64_t position) const;            // default outside
  std::string text(std::int64_t from, std::int64_t to) const;  // clamped
  std::string text() const { return text(0, length_); }
  // Reads up to `count` characters from `position` into the buffers
  // (either may be null); returns how many were read.
  std::int64_t read(std::int64_t position, std::int64_t count, std::uint8_t *chars,
                    PaneColour *colours) const;

  // --- selection ----------------------------------------------------------
  PaneSelection selection() const { return selection_; }
  // Positions are clamped to 0..length(); -1 stands for length().
  void setSelection(std::int64_t anchor, std::int64_t caret);
  void setCaret(std::int64_t position) { setSelection(position, position); }
  std::string selectedText() const;
  bool hasSelectedText() const { return !selection_.empty(); }

  // --- colour ---------------------------------------------------------------
  // Empty selection: sets the insertion colour. Otherwise recolours the
  // selected characters (the insertion colour is set as well).
  void setSelectionColour(PaneColour colour);
  PaneColour insertionColour() const { return insertionColour_; }
  PaneColour defaultColour() const { return defaultColour_; }
  void setDefaultColour(PaneColour colour) { defaultColour_ = colour; }

  // --- lines ----------------------------------------------------------------
  std::int64_t lineCount() const;  // at least 1; an empty text has one line
  // Line holding `position`; positions past the end give the last line.
  std::int64_t lineFromPosition(std::int64_t position) const;
  // First position of a line; -1 when there is no such line.
  std::int64_t lineStart(std::int64_t line) const;
  // Characters of a line without its break; 0 when there is no such line.
  std::int64_t lineLength(std::int64_t line) const;
  // Position where the line's break starts (or the text's end).
  std::int64_t lineEnd(std::int64_t line) const;

  // --- bounding ---------------------------------------------------------------
  std::int64_t capacity() const { return capacity_; }
  void setDropWholeScreens(bool on) { dropWholeScreens_ = on; }
  bool dropWholeScreens() const { return dropWholeScreens_; }
  // Characters dropped from the front since the model was made.
  std::int64_t droppedTotal() const { return droppedTotal_; }
  // Counts the changes other than appending at the end and dropping old
  // text (an insertion or removal inside, a new text): who keeps positions
  // in the text (a search) knows when they may have moved.
  std::uint64_t edits() const { return edits_; }
  // Heap bytes held for the text, colours and index.
  std::size_t memoryBytes() const;

  // One listener, the view; called after every change.
  using Listener = std::function<void(const PaneChange &)>;
  void setListener(Listener listener) { listener_ = std::move(listener); }

private:
  struct Block;  // a run of up to kBlockMax characters, see pane_model.cpp
  static constexpr std::int64_t kBlockMax = 32 * 1024;

  void insertAt(std::int64_t position, std::string_view bytes);
  void removeRange(std::int64_t from, std::int64_t to);
  void dropOldText();
  std::int64_t chooseCut(std::int64_t least, std::int64_t aim) const;
  std::size_t blockOf(std::int64_t position) const;  // index into blocks_
  void reindexFrom(std::size_t block);               // recomputes the prefix sums
  int charAfter(std::size_t block) const;            // first char behind it; -1: none
  // Finds the breaks of a block again from offset `from` on.
  void scanBreaksFrom(std::size_t block, std::int64_t from);
  void fixTrailingCr(std::size_t block);  // CR at the end of a block
  std::uint8_t paletteIndex(PaneColour colour);
  void moveSelection(PaneSelection selection, bool notify);
  void notify(const PaneChange &change);

  std::vector<Block *> blocks_;
  std::vector<std::int64_t> blockChars_;   // chars before block i (size n+1)
  std::vector<std::int64_t> blockBreaks_;  // breaks before block i (size n+1)
  std::vector<PaneColour> palette_;
  std::int64_t length_ = 0;
  std::int64_t capacity_;
  std::int64_t droppedTotal_ = 0;
  std::uint64_t edits_ = 0;
  bool dropWholeScreens_ = false;
  PaneSelection selection_;
  PaneColour insertionColour_ = kPaneDefaultColour;
  PaneColour defaultColour_ = kPaneDefaultColour;
  Listener listener_;
};
