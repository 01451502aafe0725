// The reference of the syntax words, primitives, special forms and native
// methods, made from the entries of the modules' registration tables
// (core/natives.hpp, objects/objects.hpp) and the table of syntax words here.
#include "app/reference.hpp"

#include <algorithm>
#include <iterator>
#include <map>
#include <string_view>

#include "core/natives.hpp"
#include "core/positions.hpp"
#include "core/specials.hpp"
#include "core/symbols.hpp"
#include "data/console.hpp"
#include "objects/objects.hpp"

namespace app {
using namespace core;

namespace {

// The built-in syntax words, which the evaluator interprets itself and no
// registration table lists: their entries, in the order they are interned.
struct SyntaxDoc {
  const char* name;
  const char* doc;
};
constexpr SyntaxDoc kSyntaxDocs[] = {
    {"quote", "(quote X) X itself, not evaluated; 'X reads as this form"},
    {"if", "(if TEST THEN ELSE...) THEN's value when TEST is true, otherwise the ELSE forms in order and the last one's value (no value when there are none)"},
    {"when", "(when TEST BODY...) nil when TEST is false, otherwise the BODY forms in order and the last one's value"},
    {"cond", "(cond (TEST FORM...)...) the first clause whose TEST is true (else counts as true): its FORMs' last value, TEST's value when it has none, or with (TEST => F) F called with TEST's value; no value when none is true; error 2 with a clause that is not a list"},
    {"set!", "(set! TARGET EXPR) stores EXPR's value in the variable TARGET, or assigns the symbol TARGET as seen from the current object; returns the value; error 2 with any other TARGET"},
    {"new-clause", "(new-clause PARAMS GOAL...) a clause (COUNT (new-clause . PARAMS) GOAL...) of the parameters and goals, COUNT the logic variables it needs; error 47 when logic is not installed"},
    {"case", "(case KEY (SELECTOR FORM...)...) KEY evaluated once; the first clause whose SELECTOR is eqv? to it, is a list holding an element eqv? to it, or is t or else: its FORMs' last value; no value when none matches"},
    {"repeat", "(repeat N BODY...) evaluates BODY N times (none when N <= 0); no value; error 2 when N is not an integer"},
    {"until", "(until TEST BODY...) evaluates BODY, then stops when TEST is true; BODY runs at least once and the loop can be interrupted; no value"},
    {"while", "(while TEST BODY...) evaluates BODY as long as TEST is true; the loop can be interrupted; no value"},
    {"begin", "(begin FORM...) evaluates the FORMs in order; the last one's value (no value when there are none)"},
    {"or", "(or FORM...) the first true value of the FORMs, evaluated in order; nil when none is"},
    {"and", "(and FORM...) nil at the first false FORM, otherwise the last one's value; t with no FORMs"},
    {"lambda", "(lambda PARAMS BODY...) a function of PARAMS (variables, a dotted last one taking the rest of the arguments as a list) that sees the variables of the functions around it"},
    {"send", "(send OBJECT MESSAGE ARG...) OBJECT and ARGs evaluated in the caller, then MESSAGE evaluated with OBJECT current and applied to the ARGs; error 6 with an unknown message"},
    {"gamma", "(gamma PARAMS CAPTURES BODY...) a closure: a function of PARAMS that sees only the CAPTURES, each a variable or (VARIABLE INIT), whose values it keeps from when it is made"},
    {"syntax", "(syntax PARAMS BODY...) a function whose first parameter receives the call's argument forms, unevaluated, as one list (a second one, the caller's environment); its body's value is the call's value, not evaluated again"},
    {"fluid-let", "(fluid-let ((SYMBOL INIT)...) BODY...) gives each SYMBOL INIT's value (no value without one) while BODY runs, and its old value back when the form is left, whichever way; error 2 with a binding that is not a symbol"},
    {"syntax-gamma", "(syntax-gamma PARAMS CAPTURES BODY...) a function called as a syntax one, closed over CAPTURES as a gamma is"},
    {"let", "(let ((VAR INIT)...) BODY...) gives each VAR, in order, INIT's value (no value without one), then evaluates BODY; the variables are locals of the enclosing function"},
    {"let*", "(let* ((VAR INIT)...) BODY...) as let: each INIT sees the variables already given"},
    {"letrec", "(letrec ((VAR INIT)...) BODY...) as let: each INIT sees the variables already given"},
};

// The syntax words still bound to themselves, with their entries.
std::vector<const SyntaxDoc*> bound_syntax() {
  struct Word {
    const char* name;
    unsigned tag;
  };
  static const Word words[] = {
#define TALVEN_X(name, tag, text) {text, tag},
      TALVEN_SYNTAX_WORDS(TALVEN_X)
#undef TALVEN_X
  };
  std::vector<const SyntaxDoc*> out;
  for (const Word& w : words) {
    Value sym = find_symbol(w.name);
    if (!sym.is_symbol() || !symbol_value(sym).is(Tag(w.tag))) continue;
    for (const SyntaxDoc& d : kSyntaxDocs)
      if (std::string_view(d.name) == w.name) out.push_back(&d);
  }
  return out;
}

// The native methods of the classes still bound to their names.
std::vector<const objects::MethodDoc*> bound_methods() {
  std::vector<const objects::MethodDoc*> out;
  for (const objects::MethodDoc& d : objects::native_method_docs()) {
    Value sym = find_symbol(d.cls.c_str());
    if (sym.is_symbol() && symbol_value(sym).is(Tag::Class)) out.push_back(&d);
  }
  return out;
}

// The entries of the natives still bound to their own registration, in
// registration order (a name rebound since keeps no entry).
std::vector<const NativeDoc*> bound_docs() {
  std::vector<const NativeDoc*> out;
  for (const NativeDoc& d : rt().native_docs) {
    Value sym = find_symbol(d.name);
    if (!sym.is_symbol()) continue;
    Value v = symbol_value(sym);
    if (!v.is(Tag::Primitive) && !v.is(Tag::Special)) continue;
    out.push_back(&d);
  }
  return out;
}

// The argument list and the description of an entry "(NAME ARGS...) text";
// false when it has none.
bool split_entry(const char* entry, std::string& args, std::string& text) {
  std::string_view doc = entry != nullptr ? entry : "";
  if (!doc.empty() && doc[0] == '(') {
    int depth = 0;
    size_t i = 0;
    for (; i < doc.size(); ++i) {
      if (doc[i] == '(') ++depth;
      if (doc[i] == ')' && --depth == 0) break;
    }
    args = std::string(doc.substr(0, i + 1));
    size_t rest = doc.find_first_not_of(' ', i + 1);
    text = rest == std::string_view::npos ? "" : std::string(doc.substr(rest));
    return true;
  }
  text = std::string(doc);
  return false;
}

void split(const NativeDoc& d, std::string& args, std::string& text) {
  if (split_entry(d.doc, args, text)) return;
  // Without an entry, the arguments its arity code says.
  uint32_t n = d.code & kArityCount;
  args = std::string("(") + d.name;
  if (d.kind == Tag::Special) {
    args += " FORM...";
  } else {
    for (uint32_t i = 1; i <= n && i <= 8; ++i) args += " A" + std::to_string(i);
    if (d.code & kArityRest) args += " REST...";
  }
  args += ")";
}

void split(const objects::MethodDoc& d, std::string& args, std::string& text) {
  if (split_entry(d.doc, args, text)) return;
  args = std::string("(") + d.name;
  for (uint32_t i = 1; i <= d.count; ++i) args += " A" + std::to_string(i);
  args += ")";
}

std::string kind_of(const NativeDoc& d) {
  std::string k = d.kind == Tag::Special ? "special form" : "primitive";
  if (d.code & kAritySecond) k += ", second family";
  return k;
}

// Markdown cells keep their bars as text.
std::string cell(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '|') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

std::string reference_markdown() {
  std::map<std::string, std::vector<const NativeDoc*>> by_module;
  std::vector<std::string> order;
  for (const NativeDoc* d : bound_docs()) {
    std::string m = d->module[0] ? d->module : "start-up";
    if (!by_module.count(m)) order.push_back(m);
    by_module[m].push_back(d);
  }
  std::string out =
      "# Reference of the primitives and special forms\n\n"
      "Generated by `talven doc --markdown` from the modules' registration tables; do not edit by hand\n"
      "(`ninja reference` writes it again). The syntax words first, then the primitives and special\n"
      "forms grouped by module, in the order the modules install, then the methods of the native\n"
      "classes; names in each group in the order of the alphabet. An entry without a description\n"
      "shows the arguments its arity says.\n";
  std::vector<const SyntaxDoc*> words = bound_syntax();
  std::sort(words.begin(), words.end(),
            [](const SyntaxDoc* a, const SyntaxDoc* b) { return std::string_view(a->name) < std::string_view(b->name); });
  out += "\n## syntax\n\n| name | arguments | kind | description |\n|---|---|---|---|\n";
  for (const SyntaxDoc* d : words) {
    std::string args, text;
    split_entry(d->doc, args, text);
    out += "| `" + cell(d->name) + "` | `" + cell(args) + "` | syntax word | " + cell(text) + " |\n";
  }
  for (const std::string& m : order) {
    auto& docs = by_module[m];
    std::sort(docs.begin(), docs.end(), [](const NativeDoc* a, const NativeDoc* b) {
      return std::string_view(a->name) < std::string_view(b->name);
    });
    out += "\n## " + m + "\n\n| name | arguments | kind | description |\n|---|---|---|---|\n";
    for (const NativeDoc* d : docs) {
      std::string args, text;
      split(*d, args, text);
      out += "| `" + cell(d->name) + "` | `" + cell(args) + "` | " + kind_of(*d) + " | " + cell(text) + " |\n";
    }
  }
  std::map<std::string, std::vector<const objects::MethodDoc*>> by_class;
  std::vector<std::string> classes;
  for (const objects::MethodDoc* d : bound_methods()) {
    if (!by_class.count(d->cls)) classes.push_back(d->cls);
    by_class[d->cls].push_back(d);
  }
  for (const std::string& c : classes) {
    auto& docs = by_class[c];
    std::sort(docs.begin(), docs.end(), [](const objects::MethodDoc* a, const objects::MethodDoc* b) {
      return std::string_view(a->name) < std::string_view(b->name);
    });
    std::vector<std::string> modules;
    for (const objects::MethodDoc* d : docs)
      if (std::find(modules.begin(), modules.end(), d->module) == modules.end()) modules.push_back(d->module);
    std::sort(modules.begin(), modules.end());
    std::string from;
    for (const std::string& m : modules) from += (from.empty() ? "" : ", ") + m;
    out += "\n## methods of " + c + "\n\nRegistered by " + (modules.size() == 1 ? "module " : "modules ") + from +
           "; sent to an instance of the class or of a subclass, as in (send OBJECT NAME ARG...).\n\n"
           "| name | arguments | description |\n|---|---|---|\n";
    for (const objects::MethodDoc* d : docs) {
      std::string args, text;
      split(*d, args, text);
      out += "| `" + cell(d->name) + "` | `" + cell(args) + "` | " + cell(text) + " |\n";
    }
  }
  return data::console_encode(out);
}

bool reference_entry(const std::string& name, std::string& out) {
  // A name may be a primitive and a method of several classes: all show.
  out.clear();
  auto add = [&out](const std::string& args, const std::string& kind, const std::string& text) {
    if (!out.empty()) out += "\n";
    out += args + "\n  " + kind + "\n";
    if (!text.empty()) out += "  " + text + "\n";
  };
  std::string args, text;
  for (const SyntaxDoc* d : bound_syntax()) {
    if (name != d->name) continue;
    split_entry(d->doc, args, text);
    add(args, "syntax word, interpreted by the evaluator", text);
  }
  for (const NativeDoc* d : bound_docs()) {
    if (name != d->name) continue;
    split(*d, args, text);
    add(args, kind_of(*d) + ", module " + (d->module[0] ? d->module : "start-up"), text);
  }
  for (const objects::MethodDoc* d : bound_methods()) {
    if (name != d->name) continue;
    split(*d, args, text);
    add(args, "method of " + d->cls + ", module " + d->module, text);
  }
  if (!out.empty()) {
    out = data::console_encode(out);
    return true;
  }
  std::string near = near_name(name);
  out = "no syntax word, primitive, special form or method named " + name +
        (near.empty() ? "" : "; did you mean " + near + "?") + "\n";
  return false;
}

std::vector<std::string> reference_faults() {
  std::vector<std::string> faults;
  std::vector<const NativeDoc*> docs = bound_docs();
  std::vector<const objects::MethodDoc*> methods = bound_methods();
  // Every native bound to a name has an entry under that name.
  Zones& z = rt().zones;
  for (uint32_t i = 0; i < z.symbol_slots; ++i) {
    const auto& rec = *reinterpret_cast<const SymbolRecord*>(z.symbols + 16ull * i);
    if (rec.name == 0) continue;
    Value v(rec.value);
    if (!v.is(Tag::Primitive) && !v.is(Tag::Special)) continue;
    std::string name = string_text(Value(rec.name));
    // A method defined by one class alone sits in its symbol's value cell.
    bool found = std::any_of(docs.begin(), docs.end(), [&](const NativeDoc* d) { return name == d->name; }) ||
                 std::any_of(methods.begin(), methods.end(), [&](const objects::MethodDoc* d) { return name == d->name; });
    if (!found) faults.push_back("bound without an entry: " + name);
  }
  // Every syntax word has one entry, and every entry is a syntax word's.
  size_t words = 0;
#define TALVEN_X(id, code, text)                                                                    \
  ++words;                                                                                           \
  if (std::count_if(std::begin(kSyntaxDocs), std::end(kSyntaxDocs),                                  \
                    [](const SyntaxDoc& d) { return std::string_view(d.name) == text; }) != 1)       \
    faults.push_back(std::string("syntax word without one entry: ") + text);
  TALVEN_SYNTAX_WORDS(TALVEN_X)
#undef TALVEN_X
  if (words != std::size(kSyntaxDocs)) faults.push_back("syntax entries for names that are no syntax word");
  return faults;
}

std::vector<std::string> undocumented() {
  std::vector<std::string> names;
  for (const NativeDoc* d : bound_docs())
    if (d->doc == nullptr) names.push_back(d->name);
  for (const objects::MethodDoc* d : bound_methods())
    if (d->doc == nullptr) names.push_back(std::string(d->name) + " (method of " + d->cls + ")");
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace app
