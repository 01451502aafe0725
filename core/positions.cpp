// Source positions and the place of an error.
//
// The place of an error is worked out when it is reported, not while code
// runs: the evaluator only notes the call form of each native it calls
// from a form (one store). The report looks for that form in the code that
// is running, the innermost function's body or the top-level form; when it
// is not there (the error came from evaluating a variable or a head, say),
// the form that mentions the culprit is taken instead. Its place is the
// place of the innermost recorded list around it.
#include "core/positions.hpp"

#include <algorithm>

#include "core/collector.hpp"
#include "core/frames.hpp"
#include "core/symbols.hpp"

namespace core {

uint16_t SourcePositions::file_number(const std::string& name) {
  for (size_t i = 0; i < files_.size(); ++i)
    if (files_[i] == name) return uint16_t(i + 1);
  // The numbers are bounded; beyond them new names share the last one.
  if (files_.size() >= 0xFFFE) return uint16_t(files_.size());
  files_.push_back(name);
  return uint16_t(files_.size());
}

void SourcePositions::rebuild(size_t capacity) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot{0, 0, 0});
  mask_ = uint32_t(capacity - 1);
  count_ = used_ = 0;
  for (const Slot& s : old)
    if (s.key != 0 && s.key != kTombstone) record(Value::make(Tag::Pair, s.key), s.file, s.line);
}

void SourcePositions::record(Value list, uint16_t file, uint32_t line) {
  uint32_t key = list.payload();
  if (key == 0 || key == kTombstone) return;
  if ((used_ + 1) * 4 >= slots_.size() * 3) rebuild(slots_.empty() ? 1024 : count_ * 4 >= slots_.size() ? slots_.size() * 2 : slots_.size());
  uint32_t i = hash(key);
  uint32_t reuse = kTombstone;
  for (;; i = (i + 1) & mask_) {
    Slot& s = slots_[i];
    if (s.key == key) {
      s.line = line;
      s.file = file;
      return;
    }
    if (s.key == kTombstone && reuse == kTombstone) reuse = i;
    if (s.key == 0) break;
  }
  if (reuse != kTombstone) {
    i = reuse;
  } else {
    ++used_;
  }
  slots_[i] = Slot{key, line, file};
  ++count_;
}

bool SourcePositions::place_of(Value list, SourcePlace& place) const {
  if (count_ == 0 || !list.is_pair()) return false;
  uint32_t key = list.payload();
  for (uint32_t i = hash(key);; i = (i + 1) & mask_) {
    const Slot& s = slots_[i];
    if (s.key == 0) return false;
    if (s.key == key) {
      place.file = s.file >= 1 && s.file <= files_.size() ? files_[s.file - 1] : "";
      place.line = s.line;
      return true;
    }
  }
}

void SourcePositions::forget_dead() {
  if (count_ == 0) return;
  for (Slot& s : slots_) {
    if (s.key == 0 || s.key == kTombstone) continue;
    if (node_marked(Value::make(Tag::Pair, s.key))) continue;
    s.key = kTombstone;
    --count_;
  }
  // Many removals: the probe chains are rebuilt without their tombstones.
  if (used_ > 2 * count_ + 1024) rebuild(slots_.size());
}

// ---- The place of an error ------------------------------------------------------

namespace {

// The most list cells one search visits, and its deepest nesting: a
// circular or huge body is searched in part.
constexpr uint32_t kMostSteps = 200000;
constexpr uint32_t kMostDepth = 200;

bool function_tag(Value x) {
  return x.is(Tag::Lambda) || x.is(Tag::Gamma) || x.is(Tag::Syntax) || x.is(Tag::SyntaxGamma);
}

// A search of a body for a form: the form itself (`target`), or, when
// `culprit` is given instead, the innermost call form that holds the culprit
// as an element. The place is that of the innermost recorded list around it.
struct Search {
  explicit Search(const SourcePositions& p) : positions(p) {}
  const SourcePositions& positions;
  Value target = kNoValue;
  Value culprit = kNoValue;
  uint32_t steps = 0;
  Value found = kNoValue;
  SourcePlace place;

  bool walk(Value x, const SourcePlace& around, uint32_t depth) {
    if (function_tag(x)) x = Value(node_of(x).cdr);
    if (!x.is_pair() || depth > kMostDepth) return false;
    SourcePlace here = around;
    positions.place_of(x, here);
    if (x == target || (culprit.is_pair() && x == culprit)) return hit(x, here);
    for (Value l = x; l.is_pair(); l = cdr(l)) {
      if (++steps > kMostSteps) return false;
      Value e = car(l);
      if (e.is_pair() || function_tag(e)) {
        if (walk(e, here, depth + 1)) return true;
      } else if (!culprit.is_no_value() && e == culprit && !culprit.is_nil() && !culprit.is_fixnum()) {
        return hit(x, here);
      }
    }
    return false;
  }
  bool hit(Value x, const SourcePlace& p) {
    found = x;
    place = p;
    return true;
  }
};

// The first place recorded in a body.
bool first_place(const SourcePositions& positions, Value body, SourcePlace& place) {
  uint32_t steps = 0;
  std::vector<Value> todo{body};
  while (!todo.empty() && ++steps < kMostSteps) {
    Value x = todo.back();
    todo.pop_back();
    if (function_tag(x)) x = Value(node_of(x).cdr);
    if (!x.is_pair()) continue;
    if (positions.place_of(x, place)) return true;
    std::vector<Value> elements;
    for (Value l = x; l.is_pair() && elements.size() < 10000; l = cdr(l)) elements.push_back(car(l));
    for (size_t i = elements.size(); i > 0; --i) todo.push_back(elements[i - 1]);
  }
  return false;
}

// A function's body, for the search: what follows its head and
// parameters (and captures) in its source.
Value body_of(Value fn) {
  if (!function_tag(fn)) return kNil;
  Value source = Value(node_of(fn).cdr);
  if (!source.is_pair()) return kNil;
  Value body = cdr(source);
  if ((fn.is(Tag::Gamma) || fn.is(Tag::SyntaxGamma)) && body.is_pair()) body = cdr(body);
  return body;
}

// The global name of a function: a symbol whose value it is, or empty.
std::string name_of(Value fn) {
  Zones& z = rt().zones;
  for (uint32_t i = 0; i < z.symbol_slots; ++i) {
    const auto& rec = *reinterpret_cast<const SymbolRecord*>(z.symbols + 16ull * i);
    if (rec.name != 0 && rec.value == fn.bits) return string_text(Value(rec.name));
  }
  return "";
}

std::string where(const SourcePlace& p) {
  if (p.file.empty()) return "";
  return " (" + p.file + ":" + std::to_string(p.line) + ")";
}

// Edit distance with transpositions (optimal string alignment).
size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// Whether `params` is the parameter list of a function form in `x`: the
// cdr of the name-and-parameters list of a `define`, or the second element
// of a `lambda`, `syntax` or gamma form.
bool parameters_in(Value x, Value params, uint32_t depth, uint32_t& steps) {
  if (function_tag(x)) x = Value(node_of(x).cdr);
  if (!x.is_pair() || depth > kMostDepth) return false;
  Value head = car(x);
  if (head.is_symbol() && cdr(x).is_pair()) {
    std::string h = symbol_text(head);
    Value second = car(cdr(x));
    if ((h == "lambda" || h == "syntax" || h == "gamma" || h == "syntax-gamma") && second == params) return true;
    if (h == "define" && second.is_pair() && cdr(second) == params) return true;
  }
  for (Value l = x; l.is_pair(); l = cdr(l)) {
    if (++steps > kMostSteps) return false;
    if (parameters_in(car(l), params, depth + 1, steps)) return true;
  }
  return false;
}

// The first parameter of a list written without the underscore.
Value plain_parameter(Value params) {
  uint32_t n = 0;
  for (Value p = params; ++n < 1000; p = cdr(p)) {
    Value e = p.is_pair() ? car(p) : p;
    if (e.is_symbol() && !is_keyword(e)) return e;
    if (!p.is_pair()) break;
  }
  return kNil;
}

}  // namespace

std::string near_name(const std::string& name) {
  size_t most = name.size() <= 4 ? 1 : 2;
  std::string best;
  size_t best_distance = most + 1;
  Zones& z = rt().zones;
  for (uint32_t i = 0; i < z.symbol_slots; ++i) {
    const auto& rec = *reinterpret_cast<const SymbolRecord*>(z.symbols + 16ull * i);
    if (rec.name == 0 || Value(rec.value).is_no_value()) continue;
    std::string candidate = string_text(Value(rec.name));
    if (candidate == name || candidate.empty() || candidate[0] == ':') continue;
    size_t length_gap = candidate.size() > name.size() ? candidate.size() - name.size() : name.size() - candidate.size();
    if (length_gap > most) continue;
    size_t d = distance(name, candidate);
    if (d < best_distance || (d == best_distance && candidate < best)) {
      best = candidate;
      best_distance = d;
    }
  }
  return best;
}

void error_context(int number, Value culprit, ErrorContext& out) {
  Runtime& r = rt();
  out = ErrorContext{};
  EnvFrame* running = r.env != r.sentinel ? r.env : nullptr;
  Value code = running ? body_of(running->function) : r.top_form;
  if (number == 6 && culprit.is_symbol()) {
    std::string near = near_name(symbol_text(culprit));
    if (!near.empty()) out.hint = "did you mean " + near + "?";
  } else if (number == 2 && culprit.is_pair()) {
    uint32_t steps = 0;
    Value plain = plain_parameter(culprit);
    if (!plain.is_nil() && parameters_in(code, culprit, 0, steps)) {
      std::string name = symbol_text(plain);
      out.hint = "parameters are lexical variables, written with a leading underscore: _" + name + ", not " + name;
    }
  }
  if (!r.positions) return;
  const SourcePositions& positions = *r.positions;
  // The code running where the error happened.
  EnvFrame* inner = running;
  Value scope = code;
  Search by_form{positions};
  by_form.target = r.native_form;
  // The last native call may be over: an unbound name that its form does
  // not hold was met after it returned, so the name itself says where.
  bool stale = false;
  if (culprit.is_symbol() && !culprit.is_nil() && r.native_form.is_pair()) {
    Search in_form{positions};
    in_form.culprit = culprit;
    stale = !in_form.walk(r.native_form, SourcePlace{}, 0);
  }
  if (!stale && r.native_form.is_pair() && by_form.walk(scope, SourcePlace{}, 0)) {
    out.place = by_form.place;
    Value head = car(by_form.found);
    if (head.is_symbol()) out.primitive = symbol_text(head);
  } else {
    Search by_culprit{positions};
    by_culprit.culprit = culprit;
    if (!culprit.is_nil() && by_culprit.walk(scope, SourcePlace{}, 0)) {
      out.place = by_culprit.place;
    } else if (!first_place(positions, scope, out.place)) {
      out.place = SourcePlace{};
    }
  }
  // The Lisp functions active, innermost first; each caller's line is that
  // of its call of the function inside it.
  constexpr int kMostLines = 8;
  int lines = 0, more = 0;
  std::string callee;
  for (EnvFrame* e = inner; e && e != r.sentinel; e = e->saved_env) {
    if (!function_tag(e->function)) continue;
    // The function made for a top-level form is not a function of the
    // program's own.
    Value body = body_of(e->function);
    if (body.is_pair() && car(body) == r.top_form && cdr(body).is_nil()) continue;
    std::string name = name_of(e->function);
    if (lines >= kMostLines) {
      ++more;
      continue;
    }
    SourcePlace p;
    if (e == inner && !out.place.file.empty()) {
      p = out.place;
    } else {
      bool found = false;
      if (!callee.empty()) {
        Search call{positions};
        call.culprit = find_symbol(callee);
        found = call.culprit.is_symbol() && call.walk(body, SourcePlace{}, 0);
        if (found) p = call.place;
      }
      if (!found) first_place(positions, body, p);
    }
    std::string label = name.empty() ? "a function" : name;
    out.backtrace.push_back((lines == 0 ? "in " : "called from ") + label + where(p));
    ++lines;
    callee = name;
  }
  if (more > 0) out.backtrace.push_back("... and " + std::to_string(more) + " more");
}

}  // namespace core
