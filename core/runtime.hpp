// The runtime: the one owner of all mutable state of a Lisp machine.
//
// Everything a machine holds (the address region, the zones and their
// allocators, the symbol table, the native table, the evaluator's frame
// chain, the reader's tables...) hangs off one Runtime object, reached through
// rt(). A test can build a fresh Runtime, make it current, and throw it away.
// Modules keep no mutable file-level statics of their own.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/module.hpp"
#include "core/native_table.hpp"
#include "core/region.hpp"
#include "core/value.hpp"

namespace core {

// A native function: takes its arguments from a vector of Values (fixed
// arguments first, nil when missing; with a rest code, the rest values
// follow, ended by the end-of-arguments marker) and answers a Value.
using NativeFn = Value (*)(Value* args);

// The nine words of a memory description, in the order the sizing resource
// holds them.
struct MemoryPrefs {
  uint32_t symbol_slots;     // slots of 16 bytes
  uint32_t lisp_words;       // Lisp stack, 4-byte words
  uint32_t prolog_words;     // Prolog stack, 4-byte words
  uint32_t nodes;            // nodes of 8 bytes
  uint32_t heap;             // bytes
  uint32_t reserve;          // bytes left outside the block for the native side
  uint32_t stack_allowance;  // native stack bytes
  uint32_t node_percent;     // share of spare memory given to nodes
  uint32_t reserve_percent;  // share of spare memory added to the reserve
};

// Every word of a memory description: its field, the name a manifest gives
// it, the bytes of one unit, and the least and most a machine is built
// with. The least covers what building the machine and installing its
// modules takes, with room for a small application; the most is what a
// symbol can address (16 times its slot in 24 bits) or, for the shares, a
// percentage. Nodes past what 24-bit offsets reach go to the heap.
#define TALVEN_MEMORY_WORDS(X)                                      \
  X(symbol_slots, "symbols", 16, 2048, 1u << 20)                    \
  X(lisp_words, "lisp-stack", 4, 4096, 0xFFFFFFFFu)                 \
  X(prolog_words, "prolog-stack", 4, 256, 0xFFFFFFFFu)              \
  X(nodes, "nodes", 8, 16384, 0xFFFFFFFFu)                          \
  X(heap, "heap", 1, 65536, 0xFFFFFFFFu)                            \
  X(reserve, "reserve", 1, 0, 0xFFFFFFFFu)                          \
  X(stack_allowance, "native-stack", 1, 65536, 0xFFFFFFFFu)         \
  X(node_percent, "node-percent", 0, 0, 100)                        \
  X(reserve_percent, "reserve-percent", 0, 0, 100)

struct MemoryWord {
  uint32_t MemoryPrefs::*field;
  const char* name;
  uint32_t unit;  // bytes of one unit; 0 for a share
  uint32_t least, most;
};
// The nine words in the order the sizing resource holds them.
std::span<const MemoryWord> memory_words();
// The first word of `p` outside its bounds, or null when a machine can be
// built from every word.
const MemoryWord* memory_word_out_of_bounds(const MemoryPrefs& p);

// The five zones and the allocators' state.
struct Zones {
  Addr block = 0;  // the one native block
  uint32_t block_size = 0;

  uint8_t* symbols = nullptr;  // the symbol records
  uint32_t symbol_slots = 0;
  uint32_t free_symbols = 0;
  // The slots that hold a symbol, in the order they were filled: a symbol is
  // never removed, so the collector visits these instead of every slot.
  std::vector<uint32_t> used_symbols;

  Value* lisp_stack = nullptr;  // grows upward from here
  Value* lisp_stack_end = nullptr;
  Value* lisp_limit = nullptr;  // 2,000 bytes below the end
  Value* sp = nullptr;

  Value* prolog_stack = nullptr;  // grows downward from its last word
  Value* prolog_stack_end = nullptr;
  Value* prolog_sp = nullptr;

  uint8_t* node_base = nullptr;  // the nil node; node offsets count from here
  uint32_t node_count = 0;
  // Free nodes: those on the free list (list_count of them, from free_head)
  // and the never-used nodes from offset `fresh` to the end of the zone
  // (fresh is 0 when there are none). Never-used nodes are linked onto the
  // list a chunk at a time when it runs short, and all at once by the
  // collector's sweep, so that a short run never touches most of the zone.
  // free_count counts both.
  uint32_t free_head = 0;
  uint32_t free_count = 0;
  uint32_t list_count = 0;
  uint32_t fresh = 0;

  Addr heap_start = 0, heap_top = 0, heap_end = 0;
  // The heap a collection is due at, counted from heap_start: the collector
  // runs when the heap grows past it, long before the zone is full, so the
  // pages the heap touches stay close to what it holds. Set again after
  // every collection from what survived.
  uint32_t heap_budget = 0;
  // The same for nodes: never-used nodes are taken only while the nodes in
  // use stay below this; past it the collector runs first.
  uint32_t node_budget = 0;
  uint32_t chain_head = 0, chain_tail = 0;

  uint32_t reserve = 0;
  uint32_t stack_allowance = 0;
  uintptr_t native_stack_base = 0;   // native stack address at start-up
  uintptr_t native_stack_limit = 0;  // deepest address recursion may reach
  // The native stack that the collector scans, from the current position
  // up to native_scan_top: the top of the thread's stack, so that Values
  // held by the frames of whoever built the machine (a test body, the
  // command line) are seen as well. Code that runs Lisp on a native stack
  // of its own sets both bounds to that stack while it runs; a collection
  // from outside the bounds scans nothing rather than read unmapped memory.
  uintptr_t native_scan_low = 0;
  uintptr_t native_scan_top = 0;
  bool growable = false;
  uint32_t stress_pause = 0;  // see StressPause (core/memory.hpp)
  // In the collect-always build, where every allocation passes through the
  // allocators' slow paths: the number of allocations to let through
  // before one fails as if memory were exhausted (0: none fails). Tests
  // walk it over programs to check that every failure ends as an alert and
  // a throw to `toplevel`, never a crash.
  uint64_t fail_after = 0;

  // Counters for tests and diagnostics.
  uint64_t collections = 0;
  uint64_t compaction_faults = 0;  // chain objects of unknown size met
  uint64_t collect_ns = 0;         // time spent collecting
};

// Symbols that the runtime itself names, interned before any registration.
#define TALVEN_WELL_KNOWN(X)                                                   \
  X(t, "t") X(address, "address") X(list, "list") X(integer, "integer")       \
  X(long_, "long") X(pointer, "pointer") X(real, "real") X(variable, "variable") \
  X(keyword, "keyword") X(vector, "vector") X(string, "string")               \
  X(symbol, "symbol") X(object, "object") X(class_, "class")                   \
  X(instance, "instance") X(function, "function") X(gamma, "gamma")           \
  X(hash_table, "hash-table") X(lexical, "lexical") X(closed, "closed")       \
  X(closed_syntax, "closed-syntax") X(syntax, "syntax")                        \
  X(syntax_gamma, "syntax-gamma") X(primitive, "primitive")                   \
  X(special, "special") X(predicate, "predicate") X(no_value, "no-value")     \
  X(toplevel, "toplevel") X(cancel, "cancel") X(resume, "resume")             \
  X(break_, "break") X(load_module, "load-module") X(error_trap, "error-trap") \
  X(message_kw, ":message") X(Error_Module, "Error-Module")                   \
  X(Error_Handler, "Error-Handler") X(else_, "else") X(arrow, "=>")         \
  X(unquote, "unquote") X(unquote_splicing, "unquote-splicing")               \
  X(destroy, "destroy") X(name, "name") X(stop, "stop") X(System_p, "System?") \
  X(update_classes, "update-classes") X(define_, "define") X(lambda, "lambda")

struct WellKnown {
#define TALVEN_X(field, text) Value field;
  TALVEN_WELL_KNOWN(TALVEN_X)
#undef TALVEN_X
};

// The most recent error, kept for the report and for tests.
struct LastError {
  int kind = 0;
  int number = -1;
  Value culprit;
  // The printed culprit and current object of the report, or the message of
  // an error raised with a text; empty when the report was unprintable.
  std::string culprit_text;
  std::string object_text;
  bool at_top_level = true;  // no object was current
  bool text_only = false;    // raised with a message rather than a number
  // Where it happened, when the code came from a file: the innermost file
  // and line, the primitive that signalled it, and one line per active Lisp
  // function, innermost first (core/positions.hpp).
  std::string file;
  uint32_t line = 0;
  std::string primitive;
  std::vector<std::string> backtrace;
  // A sentence that explains the error to a newcomer, or empty; when
  // `hint_replaces`, it says more than the number and culprit and the
  // readable report shows it in their place.
  std::string hint;
  bool hint_replaces = false;
};

// What an error site knows that the report cannot work out: set just before
// it signals, taken (and cleared) by the report. A line other than 0 is
// the place of the error, in place of the one worked out from the code.
struct ErrorHint {
  std::string text;
  bool replaces = false;
  std::string file;
  uint32_t line = 0;
};

struct Frame;     // the evaluator's frame records (core/frames.hpp)
class AnalysisTable;  // analysed function bodies (core/analysis.hpp)
class SourcePositions;  // where loaded lists were read (core/positions.hpp)
struct NativeDoc;  // a registered native's reference entry (core/natives.hpp)
struct EnvFrame;  // an environment frame: a function call's slots

// Seams through which the evaluator reaches the object system and the logic
// engine. Each is null until its module installs it.
struct EvalHooks {
  // A symbol's value and assignment as seen from an object (the current
  // object is not the no-object word). A symbol with no object-system table
  // number and no owner reads and assigns its global value from every
  // object, except that an object's override may shadow it: the evaluator
  // calls lookup for such a symbol only once `overrides_used` is set, and
  // never calls assign for it.
  Value (*lookup)(Value object, Value symbol) = nullptr;
  void (*assign)(Value object, Value symbol, Value value) = nullptr;
  bool overrides_used = false;  // set when any object is first given an override
  // Definition in a class or instance by `define`.
  void (*define)(Value object, Value symbol, Value value) = nullptr;
  // Applying an instance or class; the arguments as for any handler.
  Value (*apply_object)(Value object, Value list, const Value* vec, int mode, Value origin) = nullptr;
  // Sending a message from native code; arguments end with the marker.
  Value (*send)(Value receiver, Value message, const Value* args) = nullptr;
  // Calling a predicate with the call form.
  Value (*apply_predicate)(Value predicate, Value form) = nullptr;
  // Reading a slot that holds an indirect variable cell.
  Value (*deref_cell)(Value cell) = nullptr;
  // Compiling a `new-clause` form, and `defslot` in the current object.
  Value (*new_clause)(Value forms) = nullptr;
  Value (*defslot)(Value forms) = nullptr;
  // The `send` syntax with its argument forms (mode as in core::Mode: 1
  // forms to evaluate, 0 a list of values, 2 values from a vector), and an
  // object's property by name for `bind-properties`.
  Value (*send_syntax)(Value forms, int mode) = nullptr;
  Value (*property)(Value object, Value symbol) = nullptr;
  // Releasing a pointer box of sub-kind 1 or 2 when `with` disposes it.
  void (*release_box)(Value box) = nullptr;
  // Processing pending events from the implicit poll.
  void (*poll)() = nullptr;
  // Told as a collection begins and as it ends (the shell shows the watch
  // meanwhile); it must not allocate.
  void (*collecting)(bool starting) = nullptr;
  // The printed text of a value, for error reports and `find-symbol`
  // (installed by the printer; core::describe falls back to a plain form).
  std::string (*describe)(Value v) = nullptr;
  // The class of a class or instance, and whether one inherits from the
  // class named by `type` (a class name, or a class): the type predicates'
  // object branches.
  Value (*class_of)(Value object) = nullptr;
  bool (*inherits)(Value object, Value type) = nullptr;
  // The debugging handler of a host program (the command line): told of
  // each error that no application Error-Handler takes, in place of the
  // application alert. The report is in last_error.
  void (*debug_report)() = nullptr;
};

// A native object owned by a pointer box of sub-kind 4 (core/collector.hpp):
// the collector asks it to mark the Values it holds, and deletes it when
// its box becomes unreachable. Its destructor releases memory only; closing
// or disposing what the object stands for is its module's business.
class OwnedObject {
 public:
  virtual ~OwnedObject() = default;
  // Marks every Value the object holds, with core::mark_value.
  virtual void mark_values() {}
};

// A sub-kind of pointer box that a module owns (other than 4, which the
// collector handles itself). `mark` runs when the collector enters a
// reachable box of the kind and marks, with core::mark_value, the Values
// the box stands for; `release` runs when the sweep frees an unreachable box
// whose address word is not 0 (it must neither allocate nor signal); `print`
// writes the printed form of a box whose address word is not 0.
struct BoxKindOps {
  void (*mark)(Value box) = nullptr;
  void (*release)(Value box) = nullptr;
  void (*print)(Value box, std::string& out) = nullptr;
};

class Runtime {
 public:
  // Builds a machine whose zones follow `prefs` within `preferred` bytes.
  // Throws std::runtime_error with the alert text when memory is short.
  Runtime(const MemoryPrefs& prefs, uint32_t preferred);
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  Region region;
  Zones zones;
  WellKnown sym;
  std::vector<NativeFn> natives;  // a native node's cdr indexes this table
  std::vector<uint8_t> native_ops;  // per native: its FixnumOp (core/natives.hpp)
  std::vector<uint8_t> native_inline;  // per native: its InlineOp (core/natives.hpp)
  std::vector<uint8_t> native_scoped;  // per native: a special whose forms are its own scope
  Value current_object = kNoObject;
  Value empty_string;  // the shared empty string
  LastError last_error;
  // The message buffer of the last error report ("Error: 2, foo, ...") and a
  // counter bumped by every report, so that a toplevel loop can tell an
  // error's throw to `toplevel` from a plain one and print the message.
  std::string error_message;
  uint64_t error_serial = 0;
  // Reports of errors whose exit an unwind-protect clean-up replaced by an
  // exit of its own, oldest first; the toplevel prints and clears them.
  std::vector<std::string> replaced_reports;
  uint32_t duplicate_registrations = 0;
  // The reference entries of the registered natives, in registration order
  // (core/natives.hpp), and the module whose installation is running.
  std::vector<NativeDoc> native_docs;
  const char* installing_module = "";

  // Evaluator: the current frame, the current environment, the start-up
  // sentinel frame (top level: an environment without slots) and the table
  // of live environment frames by depth, through which closures and
  // environment references find their frame or learn that it is gone.
  Frame* current_frame = nullptr;
  EnvFrame* env = nullptr;
  EnvFrame* sentinel = nullptr;
  std::vector<EnvFrame*> env_table;
  uint32_t env_depth = 0;
  uint32_t env_serial = 0;
  // The analysed bodies of functions, beside their function nodes.
  std::unique_ptr<AnalysisTable> analyses;
  // Where loaded lists were read; the call form of the last native called
  // from a form (not a root: only compared, never followed, until it is
  // found in the code that is running) and the top-level form under way.
  std::unique_ptr<SourcePositions> positions;
  Value native_form = kNil;
  Value top_form = kNil;
  ErrorHint error_hint;
  EvalHooks hooks;
  int dispatch_depth = 0;     // event-dispatch depth; polls only below 1
  uint32_t poll_countdown = 0;
  uint32_t last_poll_ms = 0;  // a reading of the clock (core/clock.hpp)
  bool profiler = false;
  // Errors: set while a message is formatted, and while the debugging
  // module loads; the exit stopped by a protected send.
  bool error_formatting = false;
  bool error_loading_module = false;
  bool error_in_handler = false;
  bool stack_relieved = false;  // an error report runs below the stack limit
  Value pending_tag = kNoValue, pending_value = kNil;
  // Run first by every error (free work arrays, flush output...).
  std::vector<void (*)(Runtime&)> error_cleanups;

  // The structure description table of `defstruct` and its kin; a root.
  Value structure_table = kNil;
  // Pointer-box sub-kinds owned by modules, by sub-kind.
  BoxKindOps box_ops[16];
  // The collector's hooks for the record nodes of the object system: the
  // contents of a class, instance or internal record node (header 0x37,
  // 0x38, 0x39), and the byte size of an instance record, which the
  // instance records itself (objects/objects.hpp).
  void (*mark_object_record)(Value node) = nullptr;
  uint32_t (*instance_size)(Value instance) = nullptr;


  // The native objects owned by pointer boxes of sub-kind 4; a box's cdr
  // is its object's id here (0 when the table was full).
  NativeTable<std::unique_ptr<OwnedObject>> owned_objects;

  // The collector's work list and its re-entry guard.
  std::vector<Value> mark_stack;
  bool collecting = false;

  // The user-interface language (0 English, 1 French, 2 Spanish).
  int ui_language = 0;
  // The clock (core/clock.hpp): the steady clock at start-up in
  // milliseconds, the function every reading goes through, and the reading
  // of the stepped clock that tests move by hand.
  int64_t clock_origin_ms = 0;
  uint32_t (*clock)(Runtime&) = nullptr;
  void (*clock_wait)(Runtime&, uint32_t ms) = nullptr;  // lets ms pass on that clock
  uint32_t clock_stepped = 0;
  // The string resources that `format`'s ~i reads, installed by the
  // resource manager: index 0 asks for the "STR " resource of that id,
  // index n >= 1 for the n-th string of the "STR#" list of that id. False
  // when there is no such resource.
  bool (*string_resource)(int32_t id, int32_t index, std::string& out) = nullptr;

  // Writes a line of machine text on standard error through the console
  // boundary (installed by the data modules); alerts shown as text use it.
  void (*write_error_line)(const std::string& text) = nullptr;

  // A bump arena inside the region for permanent texts of static names.
  Addr text_arena = 0;
  uint32_t text_arena_left = 0;

  // The installed modules in start-up order with their states
  // (core/module.hpp), and whether their shutdowns have run.
  std::vector<InstalledModule> modules;
  bool modules_shut_down = false;

  // The runtime that was current before this one was made current.
  Runtime* previous = nullptr;
};

// The current runtime. Set by RuntimeScope; everything reaches state here.
extern Runtime* g_runtime;
inline Runtime& rt() { return *g_runtime; }

// Makes a runtime current for its lifetime and restores the previous one.
class RuntimeScope {
 public:
  explicit RuntimeScope(Runtime& r) : saved_(g_runtime) { g_runtime = &r; }
  ~RuntimeScope() { g_runtime = saved_; }
  RuntimeScope(const RuntimeScope&) = delete;
  RuntimeScope& operator=(const RuntimeScope&) = delete;

 private:
  Runtime* saved_;
};

// Default memory description of the command line, when no application
// resource file supplies one.
MemoryPrefs default_prefs();
constexpr uint32_t kDefaultPreferred = 32u << 20;

// Makes a runtime current and installs the modules in order.
std::unique_ptr<Runtime> make_runtime(const MemoryPrefs& prefs, uint32_t preferred,
                                      std::span<const Module* const> modules);
// The same with the program's modules, default_modules(). Defined with
// that list by the program (app/modules.cpp), since the core does not know
// the modules above it.
std::unique_ptr<Runtime> make_runtime(const MemoryPrefs& prefs = default_prefs(),
                                      uint32_t preferred = kDefaultPreferred);

}  // namespace core
