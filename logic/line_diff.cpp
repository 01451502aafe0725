// `compare-buffers`: Myers' greedy line difference.
//
// Diagonal k = y - x holds, in V[k], the furthest line x of the first text
// reached with d changes; each step d extends every diagonal of the
// window by one insertion (from k - 1) or one deletion (from k + 1), ties
// going to the deletion, then follows equal lines. A diagonal that has used
// up the first text raises the window's low end, one that has used up the
// second lowers its high end.
//
// The path is not kept as per-diagonal scripts: that costs memory
// quadratic in the number of changes. Instead every 64th step's V is saved,
// and the trace back from the end replays the 64 steps of a block from its
// checkpoint, keeping what each step's choices read, to recover each
// change: time twice the forward walk, memory linear in the line count
// times the number of changes over 64.
#include "logic/line_diff.hpp"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "core/args.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "logic/buffer_search.hpp"

namespace logic {
using namespace core;

namespace {

constexpr int kCheckpointSteps = 64;

// Line starts: entry 0 is 0, entry i the offset after the i-th carriage
// return; a text that does not end with one (the empty text included) gets
// one more line whose end entry is its length plus one.
std::vector<uint32_t> line_table(const uint8_t* p, uint32_t n) {
  std::vector<uint32_t> entry{0};
  for (uint32_t i = 0; i < n; ++i)
    if (p[i] == 13) entry.push_back(i + 1);
  if (n == 0 || p[n - 1] != 13) entry.push_back(n + 1);
  return entry;
}

uint32_t line_count(const uint8_t* p, uint32_t n) {
  uint32_t returns = 0;
  for (uint32_t i = 0; i < n; ++i) returns += p[i] == 13;
  return n > 0 && p[n - 1] == 13 ? returns : returns + 1;
}

// The choice at diagonal k of step d, from the previous step's furthest
// positions on the diagonals above and below: an insertion from below, or
// a deletion from above (ties go to the deletion).
inline bool insertion(int d, int k, int32_t above, int32_t below) {
  return k != -d && (k == d || above < below);
}

struct Change {
  int kind;  // LineChange::Kind
  int x, y;  // lines of A and B consumed after the change
};

class Walk {
 public:
  Walk(std::vector<uint32_t> a, std::vector<uint32_t> b, int n)
      : a_(std::move(a)), b_(std::move(b)), na_(int(a_.size())), nb_(int(b_.size())), off_(n + 1),
        width_(size_t(2 * n + 3)) {}

  size_t width() const { return width_; }
  int na() const { return na_; }
  int nb() const { return nb_; }

  // The first step's state: the common leading lines followed. False when
  // the texts are equal.
  bool begin(int32_t* v, int* lo, int* hi) const {
    int x = 0;
    while (x < na_ && x < nb_ && a_[size_t(x)] == b_[size_t(x)]) ++x;
    *lo = x == na_ ? 1 : -1;
    *hi = x == nb_ ? -1 : 1;
    v[off_] = x;
    return *lo <= *hi;
  }

  // Step d over the window [lo, hi]; true with the final diagonal when
  // both texts are used up.
  bool step(int d, int32_t* v, int* lo, int* hi, int* done) const {
    int low = *lo, high = *hi;
    for (int k = *lo; k <= high; k += 2) {
      int x = insertion(d, k, v[off_ + k + 1], v[off_ + k - 1]) ? v[off_ + k - 1] : v[off_ + k + 1] + 1;
      int y = x + k;
      while (x < na_ && y < nb_ && a_[size_t(x)] == b_[size_t(y)]) ++x, ++y;
      v[off_ + k] = x;
      if (x == na_ && y == nb_) {
        *done = k;
        return true;
      }
      if (x == na_) low = k + 2;
      if (y == nb_) high = k - 2;
    }
    *lo = low - 1;
    *hi = high + 1;
    return false;
  }

  const int32_t* place(const int32_t* v, int k) const { return v + off_ + k; }

 private:
  std::vector<uint32_t> a_, b_;  // line identities
  int na_, nb_;
  int off_;
  size_t width_;
};

struct Checkpoint {
  std::vector<int32_t> v;
  int lo, hi;
};

// The changes of the greedy path, newest first.
std::vector<Change> shortest_script(const Walk& w) {
  std::vector<Change> script;
  std::vector<int32_t> v(w.width(), 0);
  int lo, hi;
  if (!w.begin(v.data(), &lo, &hi)) return script;
  std::vector<Checkpoint> saved{{v, lo, hi}};
  int final_d = 0, final_k = 0;
  for (int d = 1;; ++d) {
    if (w.step(d, v.data(), &lo, &hi, &final_k)) {
      final_d = d;
      break;
    }
    if (lo > hi || d > w.na() + w.nb()) error(Err::WrongType, make_integer(d));  // never: the walk ends first
    if (d % kCheckpointSteps == 0) saved.push_back({v, lo, hi});
  }
  // Trace back, block by block from the last: replay the block's steps
  // from its checkpoint, keeping before each step the part of V that its
  // choices read (the window widened by one on each side).
  struct Snapshot {
    size_t at;   // first value in `kept`
    int first;   // the diagonal of that value
  };
  std::vector<int32_t> kept;
  std::vector<Snapshot> snaps(kCheckpointSteps);
  int k = final_k;
  for (int block = (final_d - 1) / kCheckpointSteps; block >= 0; --block) {
    int first = block * kCheckpointSteps;  // this block decides steps first + 1 .. last
    int last = std::min(first + kCheckpointSteps, final_d);
    const Checkpoint& c = saved[size_t(block)];
    std::copy(c.v.begin(), c.v.end(), v.begin());
    int rlo = c.lo, rhi = c.hi, unused;
    kept.clear();
    for (int d = first + 1; d <= last; ++d) {
      snaps[size_t(d - first - 1)] = Snapshot{kept.size(), rlo - 1};
      const int32_t* from = w.place(v.data(), rlo - 1);
      kept.insert(kept.end(), from, from + (rhi - rlo + 3));
      if (d < final_d) w.step(d, v.data(), &rlo, &rhi, &unused);
    }
    for (int d = last; d > first; --d) {
      const Snapshot& sn = snaps[size_t(d - first - 1)];
      // V before step d, at diagonal j.
      auto before = [&](int j) { return kept[sn.at + size_t(j - sn.first)]; };
      if (insertion(d, k, before(k + 1), before(k - 1))) {
        int x = before(k - 1);
        script.push_back({LineChange::Insertion, x, x + k});
        --k;
      } else {
        int x = before(k + 1) + 1;
        script.push_back({LineChange::Deletion, x, x + k});
        ++k;
      }
    }
  }
  return script;
}

}  // namespace

LineDiff compare_lines(const uint8_t* a, uint32_t na, const uint8_t* b, uint32_t nb) {
  uint32_t n = std::max(line_count(a, na), line_count(b, nb));
  if (n > kMaxCompareLines) error(Err::WrongType, make_integer(int32_t(2 * n + 1)));
  std::vector<uint32_t> ea = line_table(a, na), eb = line_table(b, nb);
  // Lines become small integers, equal for equal lines (same length
  // without the carriage return, same bytes).
  std::unordered_map<std::string_view, uint32_t> ids;
  auto identify = [&ids](const uint8_t* p, const std::vector<uint32_t>& e) {
    std::vector<uint32_t> out(e.size() - 1);
    for (size_t i = 0; i + 1 < e.size(); ++i) {
      std::string_view line(reinterpret_cast<const char*>(p) + e[i], e[i + 1] - e[i] - 1);
      out[i] = ids.emplace(line, uint32_t(ids.size())).first->second;
    }
    return out;
  };
  std::vector<uint32_t> la = identify(a, ea), lb = identify(b, eb);
  Walk walk(std::move(la), std::move(lb), int(n));
  std::vector<Change> script = shortest_script(walk);

  // A last line without a carriage return ends at the text's length.
  ea.back() = std::min(ea.back(), na);
  eb.back() = std::min(eb.back(), nb);
  LineDiff out;
  // Runs, read from the newest change: a deletion of line x - 1 joins the
  // deletion of line x after it; an insertion of line y - 1 at the same x
  // joins the insertion of line y.
  for (size_t i = 0; i < script.size();) {
    const Change& c = script[i];
    size_t j = i + 1;
    if (c.kind == LineChange::Deletion) {
      int x0 = c.x;
      while (j < script.size() && script[j].kind == LineChange::Deletion && script[j].x == x0 - 1) x0 = script[j++].x;
      out.changes.push_back({LineChange::Deletion, ea[size_t(c.x)], ea[size_t(x0 - 1)], ea[size_t(c.x)]});
    } else {
      int y0 = c.y;
      while (j < script.size() && script[j].kind == LineChange::Insertion && script[j].x == c.x &&
             script[j].y == y0 - 1)
        y0 = script[j++].y;
      out.changes.push_back({LineChange::Insertion, ea[size_t(c.x)], eb[size_t(y0 - 1)], eb[size_t(c.y)]});
    }
    i = j;
  }
  std::reverse(out.changes.begin(), out.changes.end());
  out.count = uint32_t(out.changes.size());
  for (size_t i = 0; i + 1 < out.changes.size(); ++i)
    if (out.changes[i].kind == LineChange::Deletion && out.changes[i + 1].kind == LineChange::Insertion &&
        out.changes[i + 1].position == out.changes[i].position)
      --out.count;
  return out;
}

// (compare-buffers pointer-a length-a pointer-b length-b): (count
// (kind position start end) ...), the changes that turn the first text
// into the second, in text order.
static Value prim_compare_buffers(Value pa, Value la, Value pb, Value lb) {
  uint32_t na = arg_count(la), nb = arg_count(lb);
  const uint8_t* a = buffer_bytes(pa, na);
  const uint8_t* b = buffer_bytes(pb, nb);
  LineDiff diff = compare_lines(a, na, b, nb);
  // The texts are no longer read: allocation may collect.
  Value out = kNil;
  for (size_t i = diff.changes.size(); i-- > 0;) {
    const LineChange& c = diff.changes[i];
    Value rec = cons(make_integer(int32_t(c.end)), kNil);
    rec = cons(make_integer(int32_t(c.start)), rec);
    rec = cons(make_integer(int32_t(c.position)), rec);
    rec = cons(make_fixnum(c.kind), rec);
    out = cons(rec, out);
  }
  return cons(make_integer(int32_t(diff.count)), out);
}

static const NativeRow kLineDiffNatives[] = {
    TV_PRIM2("compare-buffers", prim_compare_buffers, "(compare-buffers POINTER1 LENGTH1 POINTER2 LENGTH2) the line changes from the first text to the second: (COUNT (KIND POSITION START END)...), KIND 0 a deletion and 1 an insertion"),
};

void register_line_diff_natives() { register_natives(kLineDiffNatives); }

}  // namespace logic
