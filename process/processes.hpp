// Cooperative processes: Lisp functions run again and again from the event
// loop, one run per `give-time`.
//
// A plain process calls its function every quantum milliseconds; a clock
// process calls a start function, then its tick function with the elapsed
// time every quantum until its duration has passed, then an end function.
// Nothing preempts anything: a run happens only inside `give-time`, and a
// step runs at most the head of the queue, once.
//
// The queue is a doubly linked list of records ordered by wake-up time
// (equal times in order of insertion). Only the head is ever considered: a
// head that is not ready (suspended, or not yet due) holds back every
// process behind it.
//
// Lisp code knows a process by its handle, a pointer box of sub-kind 14
// whose address word is the record's table id (index and generation). Destroying
// a record clears that word, so a dead handle is recognisably dead and is
// never followed. A queued process is a collector root; a process that was
// never queued lives as long as its handle is reachable.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/module.hpp"
#include "core/memory.hpp"
#include "core/native_table.hpp"
#include "core/runtime.hpp"

namespace process {

enum class Kind : uint8_t { Plain, Clock };

struct Process {
  Kind kind = Kind::Plain;
  core::Value name, function, context;  // function: the tick function of a clock process
  core::Value handle;
  int32_t quantum = 0;
  uint32_t wake = 0;   // clock reading at which it is next due
  uint32_t start = 0;  // clock reading when a clock process was armed
  bool once = false, delayed = false;
  bool running = false, suspended = false, killed = false;
  bool queued = false;
  Process* next = nullptr;
  Process* prev = nullptr;
  // Clock processes only.
  core::Value start_fn, end_fn;
  int32_t delay = 0;
  int32_t duration = -1;  // -1: none given
  int32_t last_elapsed = 0;
  uint16_t phase = 0;  // 0 not started, 1 started, 2 ended
  uint32_t id = 0;     // in the scheduler's table; the handle's address word
};

// One per machine: the queue, the in-step flag and the table of live
// records, which a handle names by index and generation.
struct Scheduler : core::ModuleState {
  Process* head = nullptr;
  bool in_step = false;
  core::NativeTable<std::unique_ptr<Process>> table;
};

Scheduler& scheduler();

// The sub-kind of process handles.
constexpr uint32_t kProcessBox = core::kBoxProcess;

// The live process a handle names, or the first queued process named by a
// symbol; nullptr otherwise.
Process* resolve(core::Value handle_or_name);

// One scheduler step (`give-time`).
void give_time();
// Destroys every queued process with the killed flag, unless a step runs.
void cleanup_processes();
// Shutdown: every queued process is unlinked and destroyed (a process whose
// run is in progress is killed instead and goes when its run returns).
void destroy_scheduler();

// Checks the queue's links, order and flags; answers an empty string when
// they hold, else what is wrong. For tests.
std::string check_queue();

// The module: its natives, the queue as collector roots, and at shutdown
// every queued process destroyed.
extern const core::Module kProcessModule;

}  // namespace process
