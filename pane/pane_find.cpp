#include "pane/pane_find.h"

#include <cctype>

namespace {

// The value of a hex digit of either case, or -1.
int hexValue(char c) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  const auto at = kDigits.find(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

}  // namespace

bool paneFindPattern(std::string_view typed, bool hex, bool groups, std::string *pattern,
                     std::string *why) {
  pattern->clear();
  why->clear();
  if (!hex) {
    pattern->assign(typed);
    return true;
  }
  static const char kDigits[] = "0123456789ABCDEF";
  int high = -1;
  for (std::size_t i = 0; i < typed.size(); ++i) {
    const char c = typed[i];
    const int value = hexValue(c);
    if (value < 0 && c != ' ' && c != '\t') {
      *why = "'" + std::string(1, c) + "' at column " + std::to_string(i + 1) +
             " is not a hex digit";
    } else if (value < 0 && high >= 0) {
      *why = "a byte takes two hex digits";
    } else if (value >= 0 && high < 0) {
      high = value;
    } else if (value >= 0) {
      const auto byte = static_cast<unsigned char>(high << 4 | value);
      if (groups)
        *pattern += {' ', kDigits[byte >> 4], kDigits[byte & 0x0F]};
      else
        *pattern += static_cast<char>(byte);
      high = -1;
    }
    if (!why->empty())
      break;
  }
  if (high >= 0 && why->empty())
    *why = "a byte takes two hex digits";
  if (!why->empty())
    pattern->clear();
  return why->empty();
}

void PaneFinder::setPattern(std::string pattern) {
  if (pattern.size() > kPatternMax)
    pattern.resize(kPatternMax);
  pattern_ = std::move(pattern);
  reversed_.assign(pattern_.rbegin(), pattern_.rend());
  ahead_.emplace(pattern_.begin(), pattern_.end());
  back_.emplace(reversed_.begin(), reversed_.end());
  searching_ = false;
  state_ = Result::None;
  match_ = -1;
  edits_ = model_.edits();
  dropped_ = base();
  restartCount();
}

std::int64_t PaneFinder::lastStart() const {
  return base() + model_.length() - static_cast<std::int64_t>(pattern_.size()) + 1;
}

bool PaneFinder::counted() const {
  return !pattern_.empty() && edits_ == model_.edits() && dropped_ == base() &&
         countNext_ >= lastStart();
}

void PaneFinder::restartCount() {
  countNext_ = base();
  count_ = 0;
  before_ = 0;
  ordinal_ = -1;
}

void PaneFinder::follow() {
  if (model_.edits() != edits_) {
    edits_ = model_.edits();
    // A match the edit changed is forgotten.
    const std::int64_t at = match_ - base();
    if (match_ >= 0 && model_.text(at, at + static_cast<std::int64_t>(pattern_.size())) != pattern_)
      forget();
    restartCount();
  }
  if (base() != dropped_) {
    dropped_ = base();
    if (match_ >= 0 && match_ < dropped_)
      forget();
    restartCount();
  }
}

void PaneFinder::forget() {
  match_ = -1;
  if (state_ == Result::Found)
    state_ = Result::None;
}

std::string_view PaneFinder::window(std::int64_t from, std::int64_t to) {
  const std::int64_t first = from - base();
  const std::int64_t last =
      std::min(model_.length(), to - base() + static_cast<std::int64_t>(pattern_.size()) - 1);
  buffer_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, last - first)));
  model_.read(first, last - first, reinterpret_cast<std::uint8_t *>(buffer_.data()), nullptr);
  return buffer_;
}

void PaneFinder::find(std::int64_t from, bool forward) {
  follow();
  if (pattern_.empty()) {
    searching_ = false;
    state_ = Result::None;
    return;
  }
  origin_ = std::clamp<std::int64_t>(from, 0, model_.length()) + base();
  next_ = origin_;
  forward_ = forward;
  wrapped_ = false;
  searching_ = true;
  state_ = Result::Searching;
}

void PaneFinder::searchStep(std::int64_t budget) {
  const auto m = static_cast<std::int64_t>(pattern_.size());
  // A lap ends at the text's end (forward) or start; the second lap ends
  // where the first began.
  std::int64_t found = -1;
  if (forward_) {
    const std::int64_t end = wrapped_ ? std::min(origin_, lastStart()) : lastStart();
    next_ = std::max(next_, base());
    if (next_ >= end)
      return lapDone(base());
    const std::int64_t to = std::min(end, next_ + budget);
    const std::string_view chars = window(next_, to);
    const auto hit = std::search(chars.begin(), chars.end(), *ahead_);
    if (hit != chars.end())
      found = next_ + (hit - chars.begin());
    next_ = to;
  } else {
    const std::int64_t low = wrapped_ ? origin_ : base();
    next_ = std::min(next_, lastStart());
    if (next_ <= low)
      return lapDone(lastStart());
    const std::int64_t from = std::max(low, next_ - budget);
    const std::string_view chars = window(from, next_);
    const auto hit = std::search(chars.rbegin(), chars.rend(), *back_);
    if (hit != chars.rend())
      found = from + (chars.rend() - hit) - m;
    next_ = from;
  }
  if (found >= 0) {
    match_ = found;
    searching_ = false;
    state_ = Result::Found;
    restartCount();
  }
}

void PaneFinder::lapDone(std::int64_t restart) {
  if (!wrapped_) {
    wrapped_ = true;
    next_ = restart;
    return;
  }
  searching_ = false;
  match_ = -1;
  state_ = Result::NotFound;
}

void PaneFinder::countStep(std::int64_t budget) {
  countNext_ = std::max(countNext_, base());
  const std::int64_t to = std::min(lastStart(), countNext_ + budget);
  const std::string_view chars = window(countNext_, to);
  for (auto at = chars.begin(); (at = std::search(at, chars.end(), *ahead_)) != chars.end(); ++at) {
    ++count_;
    if (countNext_ + (at - chars.begin()) < match_)
      ++before_;
  }
  countNext_ = to;
  if (match_ >= 0 && ordinal_ < 0 && countNext_ > match_)
    ordinal_ = before_ + 1;
}

bool PaneFinder::step(std::int64_t budget) {
  follow();
  if (pattern_.empty())
    return false;
  budget = std::max<std::int64_t>(budget, 1);
  if (searching_)
    searchStep(budget);
  else if (countNext_ < lastStart())
    countStep(budget);
  return searching_ || countNext_ < lastStart();
}

std::int64_t PaneFinder::matchStart() const {
  return state_ == Result::Found && match_ >= base() ? match_ - base() : -1;
}

std::int64_t PaneFinder::matchEnd() const {
  const std::int64_t start = matchStart();
  return start < 0 ? -1 : start + static_cast<std::int64_t>(pattern_.size());
}
