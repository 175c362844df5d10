#include "pane/pane_model.h"

#include <algorithm>
#include <cstring>

// The text is cut into blocks of at most kBlockMax characters. Each block
// keeps its characters, one palette index per character and the offsets of
// the line breaks inside it (the offset of the LF, or of a lone CR). Two
// prefix sums over the blocks (characters and breaks before each block) make
// every lookup a binary search plus a search inside one block. Appending
// fills the last block and adds new ones, so its cost is that of the new
// characters; dropping old text removes whole blocks from the front.
struct PaneModel::Block {
  std::vector<std::uint8_t> chars;
  std::vector<std::uint8_t> colours;  // palette indexes
  std::vector<std::uint16_t> breaks;  // sorted offsets of break characters

  std::int64_t size() const { return static_cast<std::int64_t>(chars.size()); }
  void reserveFor(std::size_t wanted) {
    if (wanted > chars.capacity()) {
      std::size_t room = std::max<std::size_t>(wanted, kBlockMax);
      chars.reserve(room);
      colours.reserve(room);
    }
  }
  std::size_t heapBytes() const {
    return chars.capacity() + colours.capacity() + breaks.capacity() * sizeof(std::uint16_t) +
           sizeof(Block);
  }
};

namespace {

bool isHexDigit(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

PaneModel::PaneModel(std::int64_t capacity) : capacity_(std::max<std::int64_t>(capacity, 1024)) {
  blocks_.push_back(new Block);
  blockChars_ = {0, 0};
  blockBreaks_ = {0, 0};
  palette_.push_back(defaultColour_);
}

PaneModel::~PaneModel() {
  for (Block *block : blocks_)
    delete block;
}

// --- internal bookkeeping --------------------------------------------------

std::size_t PaneModel::blockOf(std::int64_t position) const {
  // The last block whose first position is <= position (empty blocks only
  // occur when the text is empty).
  auto it = std::upper_bound(blockChars_.begin() + 1, blockChars_.end() - 1, position);
  return static_cast<std::size_t>(it - blockChars_.begin()) - 1;
}

void PaneModel::reindexFrom(std::size_t block) {
  blockChars_.resize(blocks_.size() + 1);
  blockBreaks_.resize(blocks_.size() + 1);
  if (block == 0) {
    blockChars_[0] = 0;
    blockBreaks_[0] = 0;
  }
  for (std::size_t i = block; i < blocks_.size(); ++i) {
    blockChars_[i + 1] = blockChars_[i] + blocks_[i]->size();
    blockBreaks_[i + 1] = blockBreaks_[i] + static_cast<std::int64_t>(blocks_[i]->breaks.size());
  }
  length_ = blockChars_.back();
}

int PaneModel::charAfter(std::size_t block) const {
  for (std::size_t j = block + 1; j < blocks_.size(); ++j)
    if (!blocks_[j]->chars.empty())
      return blocks_[j]->chars.front();
  return -1;  // end of text
}

void PaneModel::scanBreaksFrom(std::size_t block, std::int64_t from) {
  // Breaks before `from` stay; the rest are found again. A CR ends a line
  // unless a LF follows, possibly as the first character of the next block.
  if (block >= blocks_.size())
    return;
  Block &b = *blocks_[block];
  auto &breaks = b.breaks;
  breaks.erase(std::lower_bound(breaks.begin(), breaks.end(), from), breaks.end());
  const std::size_t n = b.chars.size();
  const int next = charAfter(block);
  // The list grows by half its size at a time (never beyond a block's
  // worth), which keeps appends cheap and the room left over small.
  auto add = [&breaks](std::size_t offset) {
    if (breaks.size() == breaks.capacity())
      breaks.reserve(std::min<std::size_t>(std::max<std::size_t>(breaks.size() * 3 / 2, 64),
                                           static_cast<std::size_t>(kBlockMax)));
    breaks.push_back(static_cast<std::uint16_t>(offset));
  };
  for (std::size_t i = static_cast<std::size_t>(from); i < n; ++i) {
    const std::uint8_t c = b.chars[i];
    if (c == '\n') {
      add(i);
    } else if (c == '\r') {
      const int after = i + 1 < n ? b.chars[i + 1] : next;
      if (after != '\n')
        add(i);
    }
  }
  // A full block is sealed: appending goes on in a new one, so its break
  // list gets no longer and can give back its spare room once.
  if (b.size() == kBlockMax && breaks.capacity() > breaks.size())
    breaks.shrink_to_fit();
}

void PaneModel::fixTrailingCr(std::size_t block) {
  // Only a CR at the block's end depends on what follows the block.
  Block &b = *blocks_[block];
  if (b.chars.empty() || b.chars.back() != '\r')
    return;
  const auto last = static_cast<std::uint16_t>(b.chars.size() - 1);
  const bool has = !b.breaks.empty() && b.breaks.back() == last;
  const bool ends = charAfter(block) != '\n';
  if (has && !ends)
    b.breaks.pop_back();
  if (!has && ends)
    b.breaks.push_back(last);
}

std::uint8_t PaneModel::paletteIndex(PaneColour colour) {
  for (std::size_t i = 0; i < palette_.size(); ++i)
    if (palette_[i] == colour)
      return static_cast<std::uint8_t>(i);
  if (palette_.size() < 255) {
    palette_.push_back(colour);
    return static_cast<std::uint8_t>(palette_.size() - 1);
  }
  // A full palette: the nearest colour held (the monitor uses a handful).
  auto channel = [](PaneColour c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
  std::size_t best = 0;
  long bestDistance = -1;
  for (std::size_t i = 0; i < palette_.size(); ++i) {
    long distance = 0;
    for (int shift : {0, 8, 16}) {
      long d = channel(palette_[i], shift) - channel(colour, shift);
      distance += d * d;
    }
    if (bestDistance < 0 || distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return static_cast<std::uint8_t>(best);
}

void PaneModel::notify(const PaneChange &change) {
  if (listener_)
    listener_(change);
}

void PaneModel::moveSelection(PaneSelection selection, bool notifyView) {
  selection.anchor = std::clamp<std::int64_t>(selection.anchor, 0, length_);
  selection.caret = std::clamp<std::int64_t>(selection.caret, 0, length_);
  selection_ = selection;
  if (notifyView)
    notify({PaneChange::Kind::Selection, selection.caret, 0, 0});
}

// --- storage changes ---------------------------------------------------------

void PaneModel::insertAt(std::int64_t position, std::string_view bytes) {
  if (bytes.empty())
    return;
  if (position != length_)
    ++edits_;
  const std::uint8_t colour = paletteIndex(insertionColour_);
  const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.data());
  const std::int64_t n = static_cast<std::int64_t>(bytes.size());

  const std::size_t b = blockOf(position);
  Block &block = *blocks_[b];
  const std::int64_t offset = position - blockChars_[b];
  std::size_t last = b;  // last block that received characters

  if (block.size() + n <= kBlockMax) {
    block.reserveFor(static_cast<std::size_t>(block.size() + n));
    block.chars.insert(block.chars.begin() + offset, data, data + n);
    block.colours.insert(block.colours.begin() + offset, n, colour);
  } else {
    // Build the characters from the insertion point on and spread them over
    // this block and new ones. At the end of the text blocks are filled up;
    // in the middle the pieces are evened out so that typing in the middle
    // of a full block does not leave a trail of tiny blocks.
    std::vector<std::uint8_t> tailChars(block.chars.begin() + offset, block.chars.end());
    std::vector<std::uint8_t> tailColours(block.colours.begin() + offset, block.colours.end());
    block.chars.resize(offset);
    block.colours.resize(offset);
    std::vector<std::uint8_t> restChars(data, data + n);
    std::vector<std::uint8_t> restColours(n, colour);
    restChars.insert(restChars.end(), tailChars.begin(), tailChars.end());
    restColours.insert(restColours.end(), tailColours.begin(), tailColours.end());

    const bool atEnd = tailChars.empty() && b + 1 == blocks_.size();
    const std::int64_t total = offset + static_cast<std::int64_t>(restChars.size());
    std::int64_t pieces = (total + kBlockMax - 1) / kBlockMax;
    std::int64_t share = atEnd ? kBlockMax : (total + pieces - 1) / pieces;

    std::int64_t used = 0;
    const std::int64_t restSize = static_cast<std::int64_t>(restChars.size());
    {
      std::int64_t take = std::min(restSize, std::max<std::int64_t>(0, share - offset));
      block.reserveFor(static_cast<std::size_t>(offset + take));
      block.chars.insert(block.chars.end(), restChars.begin(), restChars.begin() + take);
      block.colours.insert(block.colours.end(), restColours.begin(), restColours.begin() + take);
      used = take;
    }
    std::vector<Block *> fresh;
    while (used < restSize) {
      std::int64_t take = std::min(share, restSize - used);
      auto *piece = new Block;
      piece->chars.reserve(static_cast<std::size_t>(atEnd ? kBlockMax : take));
      piece->colours.reserve(piece->chars.capacity());
      piece->chars.assign(restChars.begin() + used, restChars.begin() + used + take);
      piece->colours.assign(restColours.begin() + used, restColours.begin() + used + take);
      fresh.push_back(piece);
      used += take;
    }
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(b + 1), fresh.begin(),
                   fresh.end());
    last = b + fresh.size();
  }
  // Breaks before the insertion stay put, except that the character just
  // before it (a CR) may now be followed by a different one; when that
  // character ends the previous block, only its last break is checked.
  scanBreaksFrom(b, std::max<std::int64_t>(0, offset - 1));
  for (std::size_t i = b + 1; i <= last; ++i)
    scanBreaksFrom(i, 0);
  if (b > 0)
    fixTrailingCr(b - 1);
  reindexFrom(b > 0 ? b - 1 : 0);
}

void PaneModel::removeRange(std::int64_t from, std::int64_t to) {
  if (to <= from)
    return;
  ++edits_;
  const std::size_t first = blockOf(from);
  std::int64_t offset = from - blockChars_[first];
  std::int64_t remaining = to - from;
  std::size_t b = first;
  while (remaining > 0 && b < blocks_.size()) {
    Block &block = *blocks_[b];
    std::int64_t take = std::min(remaining, block.size() - offset);
    block.chars.erase(block.chars.begin() + offset, block.chars.begin() + offset + take);
    block.colours.erase(block.colours.begin() + offset, block.colours.begin() + offset + take);
    remaining -= take;
    offset = 0;
    ++b;
  }
  // Drop emptied blocks (keeping one), then merge the edited block with its
  // follower when both fit in one, so deletions leave no crumbs.
  std::size_t end = b;
  for (std::size_t i = end; i-- > first;) {
    if (blocks_[i]->chars.empty() && blocks_.size() > 1) {
      delete blocks_[i];
      blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  std::size_t edited = std::min(first, blocks_.size() - 1);
  if (edited + 1 < blocks_.size() &&
      blocks_[edited]->size() + blocks_[edited + 1]->size() <= kBlockMax) {
    Block &into = *blocks_[edited];
    Block *from_block = blocks_[edited + 1];
    into.reserveFor(static_cast<std::size_t>(into.size() + from_block->size()));
    into.chars.insert(into.chars.end(), from_block->chars.begin(), from_block->chars.end());
    into.colours.insert(into.colours.end(), from_block->colours.begin(), from_block->colours.end());
    delete from_block;
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(edited + 1));
  }
  std::size_t lo = edited > 0 ? edited - 1 : 0;
  for (std::size_t i = lo; i <= std::min(edited + 1, blocks_.size() - 1); ++i)
    scanBreaksFrom(i, 0);
  // Release memory of blocks that shrank a lot.
  Block &kept = *blocks_[edited];
  if (kept.chars.capacity() > 2 * static_cast<std::size_t>(kept.size()) + 1024) {
    kept.chars.shrink_to_fit();
    kept.colours.shrink_to_fit();
  }
  if (kept.breaks.capacity() > 2 * kept.breaks.size() + 512)
    kept.breaks.shrink_to_fit();
  reindexFrom(lo);
}

// --- dropping old text ---------------------------------------------------------

std::int64_t PaneModel::chooseCut(std::int64_t least, std::int64_t aim) const {
  if (dropWholeScreens_) {
    // Whole screens of 25 lines, never the screen that holds the end.
    const std::int64_t lastScreen = (lineCount() - 1) / kScreenLines * kScreenLines;
    const std::int64_t line = lineFromPosition(aim);
    const std::int64_t down = line / kScreenLines * kScreenLines;
    const std::int64_t up = down + kScreenLines;
    if (up <= lastScreen)
      return lineStart(up);
    if (lineStart(down) >= least)
      return lineStart(down);
    // Too few screens: cut the head of the screen's first line instead.
    const std::int64_t end = lineEnd(down);
    if (end >= least)
      return std::max(least, std::min(aim, end));
    return aim;  // one screen holds nearly everything: alignment must give
  }
  // Prefer a line start shortly behind the aim, so frame lines stay whole.
  const std::int64_t line = lineFromPosition(aim);
  if (lineStart(line) == aim)
    return aim;
  if (line + 1 < lineCount()) {
    std::int64_t next = lineStart(line + 1);
    if (next - aim <= 4096)
      return next;
  }
  // Never split a hex group: a group " XX" covering the aim starts at it or
  // one or two characters before it.
  for (std::int64_t back = 0; back <= 2; ++back) {
    std::int64_t p = aim - back;
    if (p < least)
      break;
    if (charAt(p) == ' ' && isHexDigit(charAt(p + 1)) && isHexDigit(charAt(p + 2)))
      return p;
  }
  std::int64_t cut = aim;
  if (charAt(cut) == '\n' && charAt(cut - 1) == '\r')
    ++cut;  // keep CR LF whole
  return cut;
}

void PaneModel::dropOldText() {
  if (length_ <= capacity_)
    return;
  const std::int64_t least = length_ - capacity_;
  const std::int64_t aim = std::min(length_, least + capacity_ / 4);
  const std::int64_t cut = std::clamp<std::int64_t>(chooseCut(least, aim), least, length_);
  const std::int64_t lines = lineFromPosition(cut);
  const std::int64_t headCut = cut - lineStart(lines);

  // Whole blocks go at once; then the head of the first remaining block.
  const std::size_t whole = blockOf(cut);
  for (std::size_t i = 0; i < whole; ++i)
    delete blocks_[i];
  blocks_.erase(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(whole));
  const std::int64_t inBlock = cut - blockChars_[whole];
  Block &head = *blocks_.front();
  head.chars.erase(head.chars.begin(), head.chars.begin() + inBlock);
  head.colours.erase(head.colours.begin(), head.colours.begin() + inBlock);
  scanBreaksFrom(0, 0);
  if (head.breaks.capacity() > head.breaks.size())
    head.breaks.shrink_to_fit();
  reindexFrom(0);
  droppedTotal_ += cut;

  PaneSelection moved = selection_;
  moved.anchor = std::max<std::int64_t>(0, moved.anchor - cut);
  moved.caret = std::max<std::int64_t>(0, moved.caret - cut);
  selection_ = moved;
  notify({PaneChange::Kind::Dropped, headCut, cut, lines});
}

// --- public text operations -------------------------------------------------

void PaneModel::replaceSelection(std::string_view bytes) {
  const std::int64_t start = selection_.start();
  const std::int64_t end = selection_.end();
  if (end > start) {
    removeRange(start, end);
    selection_ = {start, start};
    notify({PaneChange::Kind::Removed, start, end - start, 0});
  }
  if (!bytes.empty()) {
    insertAt(start, bytes);
    const std::int64_t after = start + static_cast<std::int64_t>(bytes.size());
    selection_ = {after, after};
    notify({PaneChange::Kind::Inserted, start, static_cast<std::int64_t>(bytes.size()), 0});
    dropOldText();
  } else if (end > start) {
    notify({PaneChange::Kind::Selection, start, 0, 0});
  }
}

void PaneModel::append(std::string_view bytes) {
  if (bytes.empty())
    return;
  const std::int64_t at = length_;
  insertAt(at, bytes);
  notify({PaneChange::Kind::Inserted, at, static_cast<std::int64_t>(bytes.size()), 0});
  dropOldText();
}

void PaneModel::appendKeepingSelection(std::string_view bytes, PaneColour colour) {
  if (bytes.empty())
    return;
  const PaneSelection kept = selection_;
  if (kept.empty()) {
    // An empty selection carries the insertion colour; a caret at the end
    // stays at the end.
    const bool caretAtEnd = kept.caret >= length_;
    setSelectionColour(colour);
    append(bytes);
    if (caretAtEnd)
      setCaret(length_);
    return;
  }
  // Colouring a selection would recolour the user's text: take the colour at
  // an empty selection at the end, then give the selection back, moved by
  // whatever old text was dropped meanwhile.
  const std::int64_t droppedBefore = droppedTotal_;
  setCaret(length_);
  setSelectionColour(colour);
  append(bytes);
  const std::int64_t shift = droppedTotal_ - droppedBefore;
  setSelection(std::max<std::int64_t>(0, kept.anchor - shift),
               std::max<std::int64_t>(0, kept.caret - shift));
}

void PaneModel::deleteRange(std::int64_t from, std::int64_t to) {
  if (from > to)
    std::swap(from, to);
  from = std::clamp<std::int64_t>(from, 0, length_);
  to = std::clamp<std::int64_t>(to, 0, length_);
  if (to <= from)
    return;
  removeRange(from, to);
  auto follow = [&](std::int64_t p) {
    if (p >= to)
      return p - (to - from);
    return p > from ? from : p;
  };
  selection_ = {follow(selection_.anchor), follow(selection_.caret)};
  notify({PaneChange::Kind::Removed, from, to - from, 0});
}

void PaneModel::setText(std::string_view bytes) {
  ++edits_;
  for (Block *block : blocks_)
    delete block;
  blocks_.assign(1, new Block);
  reindexFrom(0);
  if (bytes.empty())
    insertionColour_ = defaultColour_;
  palette_.assign(1, defaultColour_);
  selection_ = {};
  if (!bytes.empty())
    insertAt(0, bytes);
  selection_ = {length_, length_};
  notify({PaneChange::Kind::Reset, 0, length_, 0});
  dropOldText();
}

std::uint8_t PaneModel::charAt(std::int64_t position) const {
  if (position < 0 || position >= length_)
    return 0;
  std::size_t b = blockOf(position);
  return blocks_[b]->chars[static_cast<std::size_t>(position - blockChars_[b])];
}

PaneColour PaneModel::colourAt(std::int64_t position) const {
  if (position < 0 || position >= length_)
    return defaultColour_;
  std::size_t b = blockOf(position);
  return palette_[blocks_[b]->colours[static_cast<std::size_t>(position - blockChars_[b])]];
}

std::int64_t PaneModel::read(std::int64_t position, std::int64_t count, std::uint8_t *chars,
                             PaneColour *colours) const {
  position = std::clamp<std::int64_t>(position, 0, length_);
  count = std::clamp<std::int64_t>(count, 0, length_ - position);
  std::int64_t done = 0;
  std::size_t b = blockOf(position);
  std::int64_t offset = position - blockChars_[b];
  while (done < count && b < blocks_.size()) {
    const Block &block = *blocks_[b];
    std::int64_t take = std::min(count - done, block.size() - offset);
    if (chars)
      std::memcpy(chars + done, block.chars.data() + offset, static_cast<std::size_t>(take));
    if (colours)
      for (std::int64_t i = 0; i < take; ++i)
        colours[done + i] = palette_[block.colours[offset + i]];
    done += take;
    offset = 0;
    ++b;
  }
  return done;
}

std::string PaneModel::text(std::int64_t from, std::int64_t to) const {
  from = std::clamp<std::int64_t>(from, 0, length_);
  to = std::clamp<std::int64_t>(to, from, length_);
  std::string out(static_cast<std::size_t>(to - from), '\0');
  read(from, to - from, reinterpret_cast<std::uint8_t *>(out.data()), nullptr);
  return out;
}

// --- selection and colour ------------------------------------------------------

void PaneModel::setSelection(std::int64_t anchor, std::int64_t caret) {
  if (anchor < 0)
    anchor = length_;
  if (caret < 0)
    caret = length_;
  moveSelection({anchor, caret}, false);
  // As on a rich-edit control, the caret takes over the colour of the
  // character before it.
  if (selection_.empty() && selection_.caret > 0)
    insertionColour_ = colourAt(selection_.caret - 1);
  notify({PaneChange::Kind::Selection, selection_.caret, 0, 0});
}

std::string PaneModel::selectedText() const { return text(selection_.start(), selection_.end()); }

void PaneModel::setSelectionColour(PaneColour colour) {
  insertionColour_ = colour;
  if (selection_.empty())
    return;
  const std::uint8_t index = paletteIndex(colour);
  std::int64_t position = selection_.start();
  const std::int64_t end = selection_.end();
  std::size_t b = blockOf(position);
  while (position < end && b < blocks_.size()) {
    Block &block = *blocks_[b];
    std::int64_t offset = position - blockChars_[b];
    std::int64_t take = std::min(end - position, block.size() - offset);
    std::fill_n(block.colours.begin() + offset, take, index);
    position += take;
    ++b;
  }
  notify({PaneChange::Kind::Recoloured, selection_.start(), end - selection_.start(), 0});
}

// --- lines -------------------------------------------------------------------------

std::int64_t PaneModel::lineCount() const { return blockBreaks_.back() + 1; }

std::int64_t PaneModel::lineFromPosition(std::int64_t position) const {
  position = std::clamp<std::int64_t>(position, 0, length_);
  std::size_t b = blockOf(position);
  const auto &breaks = blocks_[b]->breaks;
  const std::int64_t offset = position - blockChars_[b];
  // Breaks strictly before the position end the lines above it.
  auto it = std::lower_bound(breaks.begin(), breaks.end(), offset,
                             [](std::uint16_t o, std::int64_t off) { return o < off; });
  return blockBreaks_[b] + (it - breaks.begin());
}

std::int64_t PaneModel::lineStart(std::int64_t line) const {
  if (line < 0 || line >= lineCount())
    return -1;
  if (line == 0)
    return 0;
  const std::int64_t k = line - 1;  // the break that ends line - 1
  auto it = std::upper_bound(blockBreaks_.begin(), blockBreaks_.end(), k);
  std::size_t b = static_cast<std::size_t>(it - blockBreaks_.begin()) - 1;
  return blockChars_[b] + blocks_[b]->breaks[static_cast<std::size_t>(k - blockBreaks_[b])] + 1;
}

std::int64_t PaneModel::lineEnd(std::int64_t line) const {
  if (line < 0 || line >= lineCount())
    return length_;
  if (line == lineCount() - 1)
    return length_;
  std::int64_t breakEnd = lineStart(line + 1) - 1;  // the LF or lone CR
  if (charAt(breakEnd) == '\n' && breakEnd > 0 && charAt(breakEnd - 1) == '\r')
    return breakEnd - 1;
  return breakEnd;
}

std::int64_t PaneModel::lineLength(std::int64_t line) const {
  if (line < 0 || line >= lineCount())
    return 0;
  return lineEnd(line) - lineStart(line);
}

std::size_t PaneModel::memoryBytes() const {
  std::size_t bytes = blocks_.capacity() * sizeof(Block *) +
                      (blockChars_.capacity() + blockBreaks_.capacity()) * sizeof(std::int64_t) +
                      palette_.capacity() * sizeof(PaneColour);
  for (const Block *block : blocks_)
    bytes += block->heapBytes();
  return bytes;
}
