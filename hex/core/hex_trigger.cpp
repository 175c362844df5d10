// The trigger matcher: every pattern of a side compiled into one automaton
// over bytes (Thompson's construction), whose deterministic states are made
// the first time a byte leads into them, and the loop guard of a rule.
#include "hex/core/hexcore.h"

#include <algorithm>
#include <bitset>
#include <map>
#include <memory>

namespace {

using ByteSet = std::bitset<256>;

constexpr int kNodesMax = 1 << 16;      // automaton nodes of all patterns of a side
constexpr int kPatternNodesMax = 8192;  // of one pattern: {m,n} copies its part
constexpr int kRepeatMax = 1000;        // m and n of {m,n}
constexpr int kDepthMax = 200;          // nested groups
constexpr size_t kStatesMax = 4096;     // deterministic states kept (4 MB of table)
constexpr size_t kSpill = 1;            // the state a scan by node sets leaves
constexpr uint64_t kNever = ~uint64_t(0) >> 1;
constexpr uint64_t kBySetsAfter = 1 << 20;  // the table full twice within: by node sets
constexpr uint64_t kBySetsFor = 4 << 20;    // bytes by node sets before states are tried again

// --- The expression's tree -----------------------------------------------------------

struct Tree {
  enum Kind { Set, Concat, Alt, Repeat, Empty } kind = Empty;
  ByteSet set;
  std::vector<Tree> parts;
  int min = 0, max = 0;  // Repeat; max -1: no bound
};

class RegexParser {
public:
  explicit RegexParser(std::string_view text) : text_(text) {}

  bool parse(Tree &tree, std::string *why) {
    if (!alternation(tree, 0))
      return fail_out(why);
    if (at_ < text_.size()) {
      error_ = "unmatched ')'";
      return fail_out(why);
    }
    return true;
  }

private:
  bool fail_out(std::string *why) {
    if (why)
      *why = error_ + " at character " + std::to_string(at_ + 1);
    return false;
  }
  bool fail(const char *what) {
    error_ = what;
    return false;
  }
  bool more() const { return at_ < text_.size(); }
  uint8_t peek() const { return uint8_t(text_[at_]); }

  bool alternation(Tree &tree, int depth) {
    if (depth > kDepthMax)
      return fail("groups nested too deep");
    Tree first;
    if (!sequence(first, depth))
      return false;
    if (!more() || peek() != '|') {
      tree = std::move(first);
      return true;
    }
    tree = Tree{Tree::Alt, {}, {std::move(first)}, 0, 0};
    while (more() && peek() == '|') {
      ++at_;
      Tree next;
      if (!sequence(next, depth))
        return false;
      tree.parts.push_back(std::move(next));
    }
    return true;
  }

  bool sequence(Tree &tree, int depth) {
    tree = Tree{Tree::Concat, {}, {}, 0, 0};
    while (more() && peek() != '|' && peek() != ')') {
      Tree atom;
      if (!this->atom(atom, depth) || !repeats(atom))
        return false;
      tree.parts.push_back(std::move(atom));
    }
    return true;
  }

  bool atom(Tree &tree, int depth) {
    const uint8_t c = peek();
    ++at_;
    tree = Tree{Tree::Set, {}, {}, 0, 0};
    switch (c) {
    case '(':
      if (!alternation(tree, depth + 1))
        return false;
      if (!more() || peek() != ')')
        return fail("unmatched '('");
      ++at_;
      return true;
    case '.':
      tree.set.set();
      return true;
    case '[':
      return byte_class(tree.set);
    case '\\':
      return escape(tree.set);
    case '*':
    case '+':
    case '?':
    case '{':
      return fail("nothing to repeat");
    default:
      tree.set.set(c);
      return true;
    }
  }

  // An escape after its backslash, as a set of bytes.
  bool escape(ByteSet &set) {
    if (!more())
      return fail("'\\' at the end");
    const uint8_t c = peek();
    ++at_;
    switch (c) {
    case 'r':
      set.set('\r');
      return true;
    case 'n':
      set.set('\n');
      return true;
    case 't':
      set.set('\t');
      return true;
    case '0':
      set.set(0);
      return true;
    case 'd':
      for (int b = '0'; b <= '9'; ++b)
        set.set(size_t(b));
      return true;
    case 's':
      for (int b : {' ', '\t', '\r', '\n', '\v', '\f'})
        set.set(size_t(b));
      return true;
    case 'w':
      for (int b = 0; b < 256; ++b)
        if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || b == '_')
          set.set(size_t(b));
      return true;
    case 'x': {
      int value = 0;
      for (int i = 0; i < 2; ++i) {
        const int digit = more() ? hex_digit_value(char(peek())) : -1;
        if (digit < 0)
          return fail("'\\x' needs two hex digits");
        value = value * 16 + digit;
        ++at_;
      }
      set.set(size_t(value));
      return true;
    }
    default:
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return fail("unknown escape");
      set.set(c);
      return true;
    }
  }

  // One member of a class: a byte, or an escape (a set of its own).
  bool class_member(ByteSet &set, int *single) {
    *single = -1;
    if (peek() == '\\') {
      ++at_;
      ByteSet escaped;
      if (!escape(escaped))
        return false;
      if (escaped.count() == 1)
        for (int b = 0; b < 256; ++b)
          if (escaped.test(size_t(b)))
            *single = b;
      set |= escaped;
      return true;
    }
    *single = peek();
    ++at_;
    set.set(size_t(*single));
    return true;
  }

  bool byte_class(ByteSet &set) {
    const bool negated = more() && peek() == '^';
    if (negated)
      ++at_;
    bool first = true;
    while (more() && (peek() != ']' || first)) {
      first = false;
      int low = -1;
      if (!class_member(set, &low))
        return false;
      if (low >= 0 && at_ + 1 < text_.size() && peek() == '-' && text_[at_ + 1] != ']') {
        ++at_;
        ByteSet upper;
        int high = -1;
        if (!class_member(upper, &high))
          return false;
        if (high < 0)
          return fail("a range ends in a class");
        if (high < low)
          return fail("range out of order");
        for (int b = low; b <= high; ++b)
          set.set(size_t(b));
      }
    }
    if (!more())
      return fail("unmatched '['");
    ++at_;
    if (negated)
      set.flip();
    return true;
  }

  bool number(int *value) {
    if (!more() || peek() < '0' || peek() > '9')
      return fail("'{' needs a number");
    long n = 0;
    while (more() && peek() >= '0' && peek() <= '9') {
      n = n * 10 + (peek() - '0');
      if (n > kRepeatMax)
        return fail("count above 1000");
      ++at_;
    }
    *value = int(n);
    return true;
  }

  bool repeats(Tree &tree) {
    while (more()) {
      int min = 0, max = 0;
      const uint8_t c = peek();
      if (c == '*' || c == '+' || c == '?') {
        ++at_;
        min = c == '+' ? 1 : 0;
        max = c == '?' ? 1 : -1;
      } else if (c == '{') {
        ++at_;
        if (!number(&min))
          return false;
        max = min;
        if (more() && peek() == ',') {
          ++at_;
          max = -1;
          if (more() && peek() != '}' && !number(&max))
            return false;
        }
        if (!more() || peek() != '}')
          return fail("unclosed '{'");
        ++at_;
        if (max >= 0 && max < min)
          return fail("{m,n} with n below m");
      } else {
        return true;
      }
      Tree repeated{Tree::Repeat, {}, {std::move(tree)}, min, max};
      tree = std::move(repeated);
    }
    return true;
  }

  std::string_view text_;
  size_t at_ = 0;
  std::string error_;
};

// --- The nondeterministic automaton -------------------------------------------------------

struct Node {
  enum Op : uint8_t { Byte, Split, Match } op;
  int out = -1, out1 = -1;  // Split: both; Byte: out
  int set = -1;             // Byte: index into the sets
  int pattern = -1;         // Match
};

// A piece of automaton: its entry and the links left to point onwards.
struct Piece {
  int start;
  std::vector<std::pair<int, int>> outs;  // (node, 0: out, 1: out1)
};

}  // namespace

struct HexMatcher::Impl {
  std::vector<Node> nodes;
  std::vector<ByteSet> sets;
  std::vector<int> starts;  // each pattern's entry
  uint32_t generation = 1;

  // Deterministic states: the nodes each stands for (Byte and Match nodes
  // of its closure), its transitions (-1: not made yet), the patterns it
  // ends.
  std::vector<std::vector<int>> dsets;
  std::map<std::vector<int>, int> dindex;
  std::vector<int32_t> dnext;  // 256 per state
  std::vector<std::vector<int>> daccept;
  std::vector<uint8_t> dends;  // 1: the state ends a pattern
  std::vector<int> mark;       // closure's visit marks
  int mark_round = 0;
  std::vector<int> scratch;
  // Bytes scanned, where the table was last full, where going by node sets
  // began (kNever: it does not).
  uint64_t scanned = 0;
  uint64_t resets_since = kNever;
  uint64_t by_sets_since = kNever;

  int node(Node n) {
    nodes.push_back(n);
    return int(nodes.size()) - 1;
  }
  void patch(const Piece &piece, int to) {
    for (auto [n, which] : piece.outs)
      (which == 0 ? nodes[size_t(n)].out : nodes[size_t(n)].out1) = to;
  }
  int split(int a, int b) { return node({Node::Split, a, b, -1, -1}); }

  Piece emit(const Tree &tree) {
    switch (tree.kind) {
    case Tree::Set: {
      sets.push_back(tree.set);
      const int n = node({Node::Byte, -1, -1, int(sets.size()) - 1, -1});
      return {n, {{n, 0}}};
    }
    case Tree::Concat: {
      if (tree.parts.empty())
        return emit(Tree{});
      Piece whole = emit(tree.parts[0]);
      for (size_t i = 1; i < tree.parts.size(); ++i) {
        Piece next = emit(tree.parts[i]);
        patch(whole, next.start);
        whole.outs = std::move(next.outs);
      }
      return whole;
    }
    case Tree::Alt: {
      Piece whole = emit(tree.parts[0]);
      for (size_t i = 1; i < tree.parts.size(); ++i) {
        Piece next = emit(tree.parts[i]);
        whole.start = split(whole.start, next.start);
        whole.outs.insert(whole.outs.end(), next.outs.begin(), next.outs.end());
      }
      return whole;
    }
    case Tree::Repeat:
      return emit_repeat(tree.parts[0], tree.min, tree.max);
    case Tree::Empty:
      break;
    }
    const int n = split(-1, -1);
    return {n, {{n, 0}, {n, 1}}};
  }

  // {min,max}: min copies, then max - min optional ones (or a loop).
  Piece emit_repeat(const Tree &part, int min, int max) {
    std::vector<Piece> pieces;
    for (int i = 0; i < min; ++i)
      pieces.push_back(emit(part));
    if (max < 0) {
      Piece loop = emit(part);
      const int s = split(loop.start, -1);
      patch(loop, s);
      pieces.push_back({s, {{s, 1}}});
    } else {
      for (int i = min; i < max; ++i) {
        Piece optional = emit(part);
        const int s = split(optional.start, -1);
        optional.outs.push_back({s, 1});
        pieces.push_back({s, std::move(optional.outs)});
      }
    }
    if (pieces.empty())
      return emit(Tree{});
    for (size_t i = 1; i < pieces.size(); ++i)
      patch(pieces[i - 1], pieces[i].start);
    return {pieces.front().start, std::move(pieces.back().outs)};
  }

  // The Byte and Match nodes reached from `from` without a byte, sorted.
  void closure(std::vector<int> &from, std::vector<int> &out) {
    if (mark.size() < nodes.size())
      mark.resize(nodes.size(), 0);
    if (++mark_round == 0) {
      std::fill(mark.begin(), mark.end(), 0);
      mark_round = 1;
    }
    out.clear();
    while (!from.empty()) {
      const int n = from.back();
      from.pop_back();
      if (n < 0 || mark[size_t(n)] == mark_round)
        continue;
      mark[size_t(n)] = mark_round;
      const Node &x = nodes[size_t(n)];
      if (x.op == Node::Split) {
        from.push_back(x.out1);
        from.push_back(x.out);
      } else {
        out.push_back(n);
      }
    }
    std::sort(out.begin(), out.end());
  }

  int state_of(std::vector<int> &&set) {
    auto found = dindex.find(set);
    if (found != dindex.end())
      return found->second;
    const int id = int(dsets.size());
    std::vector<int> ends;
    for (int n : set)
      if (nodes[size_t(n)].op == Node::Match)
        ends.push_back(nodes[size_t(n)].pattern);
    std::sort(ends.begin(), ends.end());
    ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
    dends.push_back(ends.empty() ? 0 : 1);
    daccept.push_back(std::move(ends));
    dnext.resize(dnext.size() + 256, -1);
    dindex.emplace(set, id);
    dsets.push_back(std::move(set));
    return id;
  }

  void reset_states() {
    dsets.clear();
    dindex.clear();
    dnext.clear();
    daccept.clear();
    dends.clear();
    std::vector<int> from = starts, set;
    closure(from, set);
    state_of(std::move(set));  // state 0: nothing begun
    // State 1: where a scan without states stopped; never found by its set.
    dsets.emplace_back();
    dends.push_back(0);
    daccept.emplace_back();
    dnext.resize(dnext.size() + 256, -1);
  }

  // State 1 holds `set` from now on.
  int spill(std::vector<int> &&set) {
    dsets[kSpill] = std::move(set);
    std::fill(dnext.begin() + kSpill * 256, dnext.begin() + kSpill * 256 + 256, -1);
    return kSpill;
  }

  // The nodes a byte leads to from the nodes `set`, a new match may begin
  // with it too.
  void advance(const std::vector<int> &set, uint8_t byte, std::vector<int> &next) {
    scratch.assign(starts.begin(), starts.end());
    for (int n : set) {
      const Node &x = nodes[size_t(n)];
      if (x.op == Node::Byte && sets[size_t(x.set)].test(byte))
        scratch.push_back(x.out);
    }
    closure(scratch, next);
  }

  // The state a byte leads to from `state`, made now if need be. A full
  // table starts again from the start state and the one being left.
  int step(int &state, uint8_t byte) {
    if (dsets.size() >= kStatesMax) {
      std::vector<int> keep = dsets[size_t(state)];
      reset_states();
      // Full twice within a while: states come faster than they are used
      // again, and bytes go node set by node set for a while.
      if (scanned - resets_since < kBySetsAfter)
        by_sets_since = scanned;
      resets_since = scanned;
      state = state_of(std::move(keep));
    }
    std::vector<int> set;
    advance(dsets[size_t(state)], byte, set);
    const int next = state_of(std::move(set));
    dnext[size_t(state) * 256 + byte] = next;
    return next;
  }

  // Bytes `from` to `count` taken node set by node set, no state kept
  // (patterns such as \x02.{12}\x03 over binary traffic make a new state
  // nearly every byte); returns the state the last set is.
  int scan_sets(int state, const uint8_t *bytes, int from, int count, HexMatchSink &sink) {
    std::vector<int> set = dsets[size_t(state)], next;
    for (int i = from; i < count; ++i) {
      advance(set, bytes[i], next);
      set.swap(next);
      // Match nodes follow their pattern's nodes: in node order, the
      // patterns come in the order the table gives them.
      for (int n : set)
        if (nodes[size_t(n)].op == Node::Match)
          sink.matched(nodes[size_t(n)].pattern, i);
    }
    return spill(std::move(set));
  }

  int add(const Tree &tree, std::string *why) {
    const size_t nodes_before = nodes.size(), sets_before = sets.size();
    auto undo = [&](const char *what) {
      nodes.resize(nodes_before);
      sets.resize(sets_before);
      if (why)
        *why = what;
      return -1;
    };
    Piece piece = emit(tree);
    if (nodes.size() - nodes_before > size_t(kPatternNodesMax) || nodes.size() > size_t(kNodesMax))
      return undo("pattern too large");
    const int pattern = int(starts.size());
    patch(piece, node({Node::Match, -1, -1, -1, pattern}));
    // A pattern that matches without a byte would fire on every byte.
    std::vector<int> from{piece.start}, set;
    closure(from, set);
    for (int n : set)
      if (nodes[size_t(n)].op == Node::Match)
        return undo("the pattern matches no bytes at all");
    starts.push_back(piece.start);
    ++generation;
    reset_states();
    return pattern;
  }
};

HexMatcher::HexMatcher() : impl_(new Impl) { impl_->reset_states(); }

HexMatcher::~HexMatcher() { delete impl_; }

void HexMatcher::clear() {
  const uint32_t generation = impl_->generation + 1;
  delete impl_;
  impl_ = new Impl;
  impl_->generation = generation;
  impl_->reset_states();
}

int HexMatcher::patterns() const { return int(impl_->starts.size()); }

int HexMatcher::add_bytes(std::string_view bytes, std::string *why) {
  Tree tree{Tree::Concat, {}, {}, 0, 0};
  for (char c : bytes) {
    Tree one{Tree::Set, {}, {}, 0, 0};
    one.set.set(uint8_t(c));
    tree.parts.push_back(std::move(one));
  }
  if (bytes.size() > size_t(HEX_AUTO_BYTES_MAX)) {
    if (why)
      *why = "pattern too large";
    return -1;
  }
  return impl_->add(tree, why);
}

int HexMatcher::add_regex(std::string_view expression, std::string *why) {
  Tree tree;
  if (!RegexParser(expression).parse(tree, why))
    return -1;
  return impl_->add(tree, why);
}

bool hex_regex_check(std::string_view expression, std::string *why) {
  HexMatcher alone;
  return alone.add_regex(expression, why) >= 0;
}

void HexMatcher::scan(HexMatchState &state, const uint8_t *bytes, int count, HexMatchSink &sink) {
  Impl &m = *impl_;
  int at =
      state.generation == m.generation && size_t(state.state) < m.dsets.size() ? state.state : 0;
  if (m.starts.empty())
    count = 0;
  if (m.by_sets_since != kNever && m.scanned - m.by_sets_since >= kBySetsFor)
    m.by_sets_since = m.resets_since = kNever;
  for (int i = 0; i < count; ++i) {
    if (m.by_sets_since != kNever) {
      at = m.scan_sets(at, bytes, i, count, sink);
      break;
    }
    int next = m.dnext[size_t(at) * 256 + bytes[i]];
    if (next < 0)
      next = m.step(at, bytes[i]);
    at = next;
    if (m.dends[size_t(at)])
      for (int pattern : m.daccept[size_t(at)])
        sink.matched(pattern, i);
  }
  m.scanned += uint64_t(count);
  state.generation = m.generation;
  state.state = at;
}

bool hex_fire_allow(HexFireGuard &guard, uint32_t ms) {
  constexpr uint32_t kWindowMs = 1000;
  if (guard.count == HEX_TRIGGER_RATE_MAX && ms - guard.times[guard.next] < kWindowMs) {
    guard.held = true;
    guard.refused_ms = ms;
    return false;
  }
  guard.times[guard.next] = ms;
  guard.next = (guard.next + 1) % HEX_TRIGGER_RATE_MAX;
  if (guard.count < HEX_TRIGGER_RATE_MAX)
    ++guard.count;
  if (guard.held && ms - guard.refused_ms >= kWindowMs)
    guard.held = false;
  return true;
}
