#include "process/processes.hpp"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "core/args.hpp"
#include "core/clock.hpp"
#include "core/collector.hpp"
#include "core/eval.hpp"
#include "core/frames.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace process {
using namespace core;

namespace {

// ---- Handles ------------------------------------------------------------------------

bool is_node(Value v) {
  const Zones& z = rt().zones;
  uint32_t off = v.payload();
  return off >= 8 && (off & 7) == 0 && off <= 8 * z.node_count;
}

// The record a handle box names, or nullptr when the box is dead, is not a
// process handle, or its id is stale.
Process* record_of_box(Value box) {
  if (!box.is(Tag::Pointer) || !is_node(box)) return nullptr;
  const Node& n = node_of(box);
  if (word_tag(n.car) != uint8_t(Header::Pointer) || word_payload(n.car) != kProcessBox || n.cdr == 0)
    return nullptr;
  // No state: the runtime is being taken apart.
  auto* state = static_cast<Scheduler*>(module_state(kProcessModule));
  if (state == nullptr) return nullptr;
  auto* entry = state->table.find(n.cdr);
  if (entry == nullptr || *entry == nullptr || (*entry)->handle != box) return nullptr;
  return entry->get();
}

// ---- The queue ----------------------------------------------------------------------

// Whether wake-up a comes strictly before b (wrap-safe).
inline bool before(uint32_t a, uint32_t b) { return clock_diff(a, b) < 0; }

void unlink(Process* p) {
  if (!p->queued) return;
  Scheduler& s = scheduler();
  if (p->prev != nullptr)
    p->prev->next = p->next;
  else
    s.head = p->next;
  if (p->next != nullptr) p->next->prev = p->prev;
  p->next = p->prev = nullptr;
  p->queued = false;
}

// Links an unqueued process before the first process due strictly later
// than it: after every process due at the same time or earlier.
void insert(Process* p) {
  Scheduler& s = scheduler();
  p->queued = true;
  if (s.head == nullptr || before(p->wake, s.head->wake)) {
    p->prev = nullptr;
    p->next = s.head;
    if (s.head != nullptr) s.head->prev = p;
    s.head = p;
    return;
  }
  Process* q = s.head;
  while (q->next != nullptr && !before(p->wake, q->next->wake)) q = q->next;
  p->prev = q;
  p->next = q->next;
  if (q->next != nullptr) q->next->prev = p;
  q->next = p;
}

// Moves a queued process to the place its wake-up time gives it.
void reposition(Process* p) {
  if (!p->queued) return;
  unlink(p);
  insert(p);
}

// Destroys an unqueued record: its handle goes dead and its table entry is
// freed.
void destroy(Process* p) {
  if (p->handle.is(Tag::Pointer) && is_node(p->handle)) node_of(p->handle).cdr = 0;
  scheduler().table.remove(p->id);
}

void remove_and_destroy(Process* p) {
  unlink(p);
  destroy(p);
}

// ---- Runs ---------------------------------------------------------------------------

// Calls a process's function with the given arguments: sent to the context
// when there is one, else called in whatever object is current. A nil
// function stands for none and is not called.
void call(Value fn, Value context, std::initializer_list<Value> args) {
  if (fn.is_nil()) return;
  Runtime& r = rt();
  if (context.is_nil() || r.hooks.send == nullptr) {
    call_by_name(fn, args);
    return;
  }
  StackMark mark;
  Value* base = r.zones.sp;
  for (Value v : args) push(v);
  push(kEndArgs);
  r.hooks.send(context, fn, base);
}

// Clears the running flag however the run ends.
struct Running {
  Process* p;
  explicit Running(Process* q) : p(q) { p->running = true; }
  ~Running() { p->running = false; }
};

void run_plain(Process* p) {
  p->wake = clock_ms() + uint32_t(p->quantum);
  call(p->function, p->context, {});
  if (p->once) p->killed = true;
}

void run_clock(Process* p, uint32_t now) {
  int32_t elapsed = clock_diff(now, p->start);
  if (p->phase != 1) {
    call(p->start_fn, p->context, {});
    p->phase = 1;
  }
  if (p->duration > elapsed) {
    call(p->function, p->context, {make_integer(elapsed)});
    p->last_elapsed = elapsed;
    p->wake = clock_ms() + uint32_t(p->quantum);
  } else {
    call(p->end_fn, p->context, {});
    p->phase = 2;
    p->killed = true;
  }
}

// One run. A non-local exit that leaves the process's functions (a throw,
// or an error after its report) ends here and kills the process.
void run(Process* p, uint32_t now) {
  Runtime& r = rt();
  Running running(p);
  int depth = r.dispatch_depth;
  try {
    if (p->kind == Kind::Plain)
      run_plain(p);
    else
      run_clock(p, now);
  } catch (const Thrower&) {
    r.dispatch_depth = depth;
    p->killed = true;
  }
}

void arm(Process* p) {
  uint32_t now = clock_ms();
  if (p->kind == Kind::Plain) {
    p->wake = p->delayed ? now + uint32_t(p->quantum) : now;
  } else {
    p->start = now;
    p->wake = now + uint32_t(p->delay);
  }
}

// ---- Records --------------------------------------------------------------------------

// A new record with its handle; not queued.
Process* make_process(Kind kind) {
  Scheduler& s = scheduler();
  // The box first: a collection it causes sees no half-made record.
  Value box = alloc_node(Tag::Pointer, make_header(Header::Pointer, kProcessBox), 0);
  uint32_t id = s.table.add(std::make_unique<Process>());
  if (id == 0) error(Err::NativeMemory, kNil);  // every index taken
  Process* p = s.table.find(id)->get();
  p->kind = kind;
  p->id = id;
  p->handle = box;
  node_of(box).cdr = id;
  return p;
}

inline bool flag(Value v) { return !v.is_nil() && !v.is_no_value(); }

void mark_process(const Process& p) {
  mark_value(p.handle);
  mark_value(p.name);
  mark_value(p.function);
  mark_value(p.context);
  mark_value(p.start_fn);
  mark_value(p.end_fn);
}

// ---- Box kind operations ------------------------------------------------------------------

void mark_box(Value box) {
  if (Process* p = record_of_box(box)) mark_process(*p);
}

// An unreachable handle: its process was never queued (a queued process
// keeps its handle), so nothing can reach it any more.
void release_box(Value box) {
  Process* p = record_of_box(box);
  if (p != nullptr && !p->queued && !p->running) destroy(p);
}

void print_box(Value box, std::string& out) {
  Process* p = record_of_box(box);
  char word[16];
  std::snprintf(word, sizeof word, "%" PRIx32, node_of(box).cdr);
  out = "<process ";
  if (p != nullptr && p->name.is_symbol()) {
    out += symbol_text(p->name);
    out += ' ';
  }
  out += word;
  out += '>';
}

void mark_roots(Runtime&) {
  for (Process* p = scheduler().head; p != nullptr; p = p->next) mark_process(*p);
}

// ---- Primitives ---------------------------------------------------------------------------

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

// Lisp integers as native ones; nil where the argument is optional.
int32_t read_time(Value v, int32_t absent) { return v.is_nil() ? absent : arg_int(v); }

Value prim_new_process(Value fn, Value name, Value quantum, Value delayed, Value once, Value context) {
  int32_t q = arg_int(quantum);
  Process* p = make_process(Kind::Plain);
  p->function = fn;
  p->name = name.is_nil() && fn.is_symbol() ? fn : name;
  p->quantum = q;
  p->delayed = flag(delayed);
  p->once = flag(once);
  p->context = context;
  return p->handle;
}

Value prim_new_clock_process(Value start_fn, Value tick_fn, Value end_fn, Value name, Value delay,
                             Value duration, Value quantum, Value context) {
  int32_t d = arg_int(delay);
  int32_t length = read_time(duration, -1);
  int32_t q = arg_int(quantum);
  Process* p = make_process(Kind::Clock);
  p->start_fn = start_fn;
  p->function = tick_fn;
  p->end_fn = end_fn;
  p->name = name.is_nil() && tick_fn.is_symbol() ? tick_fn : name;
  p->delay = d;
  p->duration = length;
  p->quantum = q;
  p->context = context;
  return p->handle;
}

Value prim_run_process(Value v) {
  Process* p = resolve(v);
  if (p == nullptr) return kNoValue;
  // Already queued: re-armed and moved, never linked twice.
  unlink(p);
  arm(p);
  insert(p);
  return p->handle;
}

Value prim_kill_process(Value v) {
  Process* p = resolve(v);
  if (p == nullptr) return kNoValue;
  if (p->running)
    p->killed = true;  // the step removes it when the run returns
  else
    remove_and_destroy(p);
  return kNoValue;
}

Value prim_get_processes() {
  cleanup_processes();
  Value list = kNil;
  // Queued processes are roots, so consing cannot take one away.
  for (Process* p = scheduler().head; p != nullptr; p = p->next) list = cons(p->handle, list);
  return list;
}

Value prim_find_process(Value name) {
  for (Process* p = scheduler().head; p != nullptr; p = p->next)
    if (p->name == name) return p->handle;
  return kNil;
}

// Unlike the first version of this operation, the process moves to its new
// place: a head reset into the future must not hold back processes due now.
Value prim_reset_process(Value v) {
  if (Process* p = resolve(v)) {
    p->wake = clock_ms() + uint32_t(p->quantum);
    reposition(p);
  }
  return kNoValue;
}

Value prim_wake_up_process(Value v) {
  if (Process* p = resolve(v)) {
    p->wake = clock_ms();
    reposition(p);
  }
  return kNoValue;
}

Value prim_suspend_process(Value v) {
  if (Process* p = resolve(v)) p->suspended = true;
  return kNoValue;
}

Value prim_resume_process(Value v) {
  if (Process* p = resolve(v)) p->suspended = false;
  return kNoValue;
}

Value prim_process_suspended_p(Value v) {
  Process* p = resolve(v);
  return boolean(p != nullptr && p->suspended);
}

Value prim_process_running_p(Value v) {
  Process* p = resolve(v);
  return boolean(p != nullptr && p->running);
}

Value prim_process_name(Value v) {
  Process* p = resolve(v);
  return p != nullptr ? p->name : kNil;
}

Value prim_process_function(Value v) {
  Process* p = resolve(v);
  return p != nullptr ? p->function : kNil;
}

Value prim_process_context(Value v) {
  Process* p = resolve(v);
  return p != nullptr ? p->context : kNil;
}

Value prim_process_quantum(Value v) {
  Process* p = resolve(v);
  return p != nullptr ? make_integer(p->quantum) : kNil;
}

Value prim_process_wake_up(Value v) {
  Process* p = resolve(v);
  return p != nullptr ? make_fixnum(int32_t(p->wake & kPayloadMask)) : kNil;
}

// The next wake-up stays one quantum after the last arming or run: the old
// quantum is taken off before the new one is added.
Value prim_set_process_quantum(Value v, Value quantum) {
  Process* p = resolve(v);
  if (p == nullptr) return kNoValue;
  int32_t q = arg_int(quantum);
  p->wake = p->wake - uint32_t(p->quantum) + uint32_t(q);
  p->quantum = q;
  reposition(p);
  return kNoValue;
}

Value prim_give_time() {
  give_time();
  return kNoValue;
}

Value prim_cleanup_processes() {
  cleanup_processes();
  return kNoValue;
}

// (test-clock ms) puts the machine on the stepped clock, reading ms (an
// integer taken as its unsigned 32-bit pattern) until the next call;
// (test-clock) goes back to the steady clock. Answers the clock's reading.
Value prim_test_clock(Value ms) {
  if (ms.is_nil())
    set_clock(steady_clock_ms);
  else
    set_stepped_clock(uint32_t(arg_int(ms)));
  return make_integer(int32_t(clock_ms()));
}

const NativeRow kProcessNatives[] = {
    TV_PRIM("new-process", prim_new_process, "(new-process F NAME QUANTUM [DELAYED] [ONCE] [CONTEXT]) a new unqueued process calling F every QUANTUM ms (sent to CONTEXT when given; first run a quantum late when DELAYED; only once when ONCE); its handle (NAME nil: F's symbol)"),
    TV_PRIM("new-clock-process", prim_new_clock_process, "(new-clock-process START TICK END NAME DELAY DURATION QUANTUM [CONTEXT]) a new unqueued process calling START after DELAY ms, TICK with the elapsed ms every QUANTUM until DURATION (nil: none) has passed, then END; its handle"),
    TV_PRIM("run-process", prim_run_process, "(run-process PROCESS) arms PROCESS and queues it; returns its handle"),
    TV_PRIM("kill-process", prim_kill_process, "(kill-process PROCESS) ends PROCESS (a handle, or the name of a queued one); no value"),
    TV_PRIM("get-processes", prim_get_processes, "(get-processes) a new list of the handles of the queued processes, the latest due first"),
    TV_PRIM("find-process", prim_find_process, "(find-process NAME) the handle of the first queued process named NAME (eq?); nil when none"),
    TV_PRIM("reset-process", prim_reset_process, "(reset-process PROCESS) makes PROCESS due one quantum from now; no value"),
    TV_PRIM("wake-up-process", prim_wake_up_process, "(wake-up-process PROCESS) makes PROCESS due now; no value"),
    TV_PRIM("suspend-process", prim_suspend_process, "(suspend-process PROCESS) keeps PROCESS from running until resumed; no value"),
    TV_PRIM("resume-process", prim_resume_process, "(resume-process PROCESS) lets a suspended PROCESS run again; no value"),
    TV_PRIM("process-suspended?", prim_process_suspended_p, "(process-suspended? PROCESS) t when PROCESS is suspended"),
    TV_PRIM("get-process-suspended?", prim_process_suspended_p, "(get-process-suspended? PROCESS) the same as process-suspended?"),
    TV_PRIM("get-process-running?", prim_process_running_p, "(get-process-running? PROCESS) t while PROCESS's run is in progress"),
    TV_PRIM("get-process-name", prim_process_name, "(get-process-name PROCESS) the name of PROCESS; nil for an unknown process"),
    TV_PRIM("get-process-function", prim_process_function, "(get-process-function PROCESS) the function of PROCESS (the tick function of a clock process); nil for an unknown one"),
    TV_PRIM("get-process-context", prim_process_context, "(get-process-context PROCESS) the object PROCESS's functions are sent to, or nil"),
    TV_PRIM("get-process-quantum", prim_process_quantum, "(get-process-quantum PROCESS) the quantum of PROCESS in ms; nil for an unknown one"),
    TV_PRIM("get-process-wake-up", prim_process_wake_up, "(get-process-wake-up PROCESS) the low 24 bits of the tick count at which PROCESS is next due"),
    TV_PRIM("set-process-quantum", prim_set_process_quantum, "(set-process-quantum PROCESS QUANTUM) changes the quantum of PROCESS, moving its next wake-up by the difference; no value"),
    TV_PRIM("give-time", prim_give_time, "(give-time) runs the first queued process once when it is due; no value"),
    TV_PRIM("cleanup-processes", prim_cleanup_processes, "(cleanup-processes) destroys the killed processes still queued (not during a scheduler step); no value"),
    TV_PRIM("test-clock", prim_test_clock, "(test-clock [MS]) sets the scheduler's clock to read MS until the next call, or back to real time without MS; the clock's reading"),
};

}  // namespace

// ---- Entry points ---------------------------------------------------------------------------

Process* resolve(Value v) {
  if (v.is_symbol()) {
    for (Process* p = scheduler().head; p != nullptr; p = p->next)
      if (p->name == v) return p;
    return nullptr;
  }
  return record_of_box(v);
}

void give_time() {
  Scheduler& s = scheduler();
  if (s.in_step) return;
  struct InStep {
    Scheduler& s;
    explicit InStep(Scheduler& t) : s(t) { s.in_step = true; }
    ~InStep() { s.in_step = false; }
  } in_step(s);
  while (s.head != nullptr && s.head->killed) remove_and_destroy(s.head);
  Process* p = s.head;
  if (p == nullptr) return;
  uint32_t now = clock_ms();
  if (p->running || p->suspended || before(now, p->wake)) return;
  run(p, now);
  // The run cannot have destroyed p: a running process is only ever marked
  // killed, and it stays queued (so a collection keeps it).
  if (p->killed)
    remove_and_destroy(p);
  else
    reposition(p);
}

void cleanup_processes() {
  Scheduler& s = scheduler();
  if (s.in_step) return;
  for (Process* p = s.head; p != nullptr;) {
    Process* next = p->next;
    if (p->killed) remove_and_destroy(p);
    p = next;
  }
}

void destroy_scheduler() {
  Scheduler& s = scheduler();
  for (Process* p = s.head; p != nullptr;) {
    Process* next = p->next;
    if (p->running)
      p->killed = true;
    else
      remove_and_destroy(p);
    p = next;
  }
}

std::string check_queue() {
  Scheduler& s = scheduler();
  size_t queued = 0;
  s.table.for_each([&](uint32_t, std::unique_ptr<Process>& p) { queued += p->queued; });
  size_t seen = 0;
  const Process* prev = nullptr;
  for (const Process* p = s.head; p != nullptr; prev = p, p = p->next) {
    if (++seen > queued) return "more links than queued records (a cycle or a record linked twice)";
    if (!p->queued) return "a linked record is not flagged queued";
    if (p->prev != prev) return "a back link does not match";
    auto* entry = s.table.find(p->id);
    if (entry == nullptr || entry->get() != p) return "a linked record is not in the table";
    if (record_of_box(p->handle) != p) return "a linked record's handle does not name it";
    if (prev != nullptr && before(p->wake, prev->wake) && !prev->running && !p->running)
      return "wake-up times out of order";
  }
  if (seen != queued) return "a record flagged queued is not linked";
  return "";
}

Scheduler& scheduler() { return state_of<Scheduler>(kProcessModule); }

const Module kProcessModule{
    "processes",
    [](Runtime&) -> std::unique_ptr<ModuleState> { return std::make_unique<Scheduler>(); },
    [](Runtime& r) {
      r.box_ops[kProcessBox] = BoxKindOps{mark_box, release_box, print_box};
      register_natives(kProcessNatives);
    },
    mark_roots,
    [](Runtime&) { destroy_scheduler(); },
};

}  // namespace process
