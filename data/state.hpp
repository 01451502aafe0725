// The mutable state of the data and text I/O modules: the reader's tables
// and lookahead, the current input source and output sink, the terminal,
// the handle table, the edit streams, the sort's work arrays and the random
// generator.
//
// One DataState per runtime is the state of the module kDataModule, which
// stands first among the data modules in the module list. Its roots (the
// current input and output stream objects and states, the reader's two
// character tables, the work arrays of running sorts) are marked through
// that module; saved copies of the stream roots live on the native stack
// in guards.
#pragma once
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/memory.hpp"
#include "core/native_table.hpp"

namespace data {

// Slots of DataState::roots.
enum IoRoot : int {
  kInState = 0,    // the input source's state (string, stream box, method name)
  kInObject = 1,   // the object whose read-proc gave the input stream, or nil
  kInFunction = 2, // the getc primitive of a Lisp stream pair
  kOutState = 3,
  kOutObject = 4,
  kOutFunction = 5,
  kIoRootCount = 8,
};

// Where the reader takes its characters.
enum class InputKind : uint8_t {
  None,      // nothing to read: the end of input at once
  Memory,    // bytes at a region address (loads, transcripts)
  String,    // a Lisp string (parse, read-from-string)
  Terminal,  // standard input, line by line
  Handle,    // a handle stream box
  Buffer,    // a buffer stream box
  Edit,      // the edit input installed by set-lecture
  Native,    // any other getc primitive, called through the native table
};

// Where the printer puts its characters.
enum class OutputKind : uint8_t {
  Terminal,  // standard output
  Text,      // a private text buffer (value text, print to string)
  Handle,    // a handle stream box
  Edit,      // the edit output, flushed to the stream object
  Native,    // any other putc primitive
};

// The non-Value half of an input source; the Values are DataState::roots.
struct InputSource {
  InputKind kind = InputKind::Terminal;
  core::Addr base = 0;  // Memory: the first byte
  uint32_t pos = 0;     // Memory, String: the next position
  uint32_t end = 0;     // Memory, String: the length
  // Each selection of a source gets a new serial: a guard that finds the
  // same selection still current keeps its position, since reading with
  // `t` goes on in the text being read.
  uint32_t serial = 0;
};

struct OutputSink {
  OutputKind kind = OutputKind::Terminal;
  std::string* text = nullptr;  // Text: the buffer
  size_t text_limit = 0;        // Text: characters beyond this are dropped
  bool text_full = false;       // Text: characters have been dropped
};

enum class EscapeMode : uint8_t { None, String, Symbol };

// One entry of the handle table.
struct HandleEntry {
  uint32_t size = 0;      // bytes; 0 when empty or purged
  core::Addr memory = 0;  // the block, 0 when empty
  uint32_t purgeable = 0;
  uint32_t locks = 0;
};

struct DataState : core::ModuleState {
  // The current streams' Values (IoRoot).
  core::Value roots[kIoRootCount];
  // The reader's tables of Lisp functions: the macro characters and the
  // characters after '#'.
  core::Value reader_macros[256];
  core::Value reader_dispatch[256];
  // The sort routine's work array while a sort runs, and those of the
  // sorts the running one is nested in (a sort called from another sort's
  // predicate).
  core::Value* sort_work = nullptr;
  uint32_t sort_work_words = 0;
  std::vector<std::pair<core::Value*, uint32_t>> sort_outer;

  // Reader.
  int lookahead = ' ';
  InputSource in;
  uint8_t decimal_mark = '.';
  uint8_t classes[256] = {};
  // The symbols table of encoded code (symbols are never collected): the
  // one installed by set-symbols-table, and the one the reader decodes
  // with, which a running load keeps for its own text even when one of its
  // forms installs another. Null: no table.
  std::shared_ptr<const std::vector<core::Value>> symbols_installed;
  std::shared_ptr<const std::vector<core::Value>> symbols_table;
  int load_depth = 0;  // loads under way
  uint32_t input_serial = 0;
  // The lists being read, and how many were open when a non-local exit
  // last left the reader (0 when none), so that a toplevel can drop the
  // rest of a form it could not finish reading.
  uint32_t open_lists = 0;
  uint32_t broken_lists = 0;
  // Source positions: while a file or code resource is read from memory,
  // each list read from that selection (position_serial) is recorded with
  // its line in core::SourcePositions under file number position_file (0:
  // none). Lines are counted forward from counted_pos, up to the list.
  uint16_t position_file = 0;
  uint32_t position_serial = 0;
  uint32_t counted_pos = 0;
  uint32_t counted_line = 1;

  // Printer.
  OutputSink out;
  EscapeMode escape = EscapeMode::None;
  bool print_self = false;

  // Terminal: standard input read a line at a time, through a line editor
  // when the application installs one.
  std::string term_line;
  size_t term_pos = 0;
  bool term_eof = false;
  bool term_continuation = false;  // a form is under way: prompt for more
  bool (*term_read_line)(std::string& line, bool continuation) = nullptr;
  // Standard output is a terminal: each line is flushed as it ends.
  bool term_line_flush = false;
  // Write the machine's bytes to standard output as they are, instead of
  // through the console boundary (data/console.hpp).
  bool term_raw = false;
  bool term_after_cr = false;  // the last character written was a carriage return
  bool term_line_open = false;  // characters have been written since the last line end
  FILE* term_out = stdout;

  // Handles.
  core::NativeTable<HandleEntry> handles;
  uint64_t handle_bytes = 0;
  uint32_t last_block_handle = 0;  // the handle raw access found last

  // Edit streams.
  core::Addr edit_in = 0;  // a pointer block taken over by set-lecture
  uint32_t edit_in_length = 0, edit_in_pos = 0;
  char edit_out[98] = {};
  uint32_t edit_out_fill = 0;

  uint32_t random_seed = 1;

  // The seam for the object system's class names: the name of a class and
  // whether it is a mixin. Null until the object system installs it.
  core::Value (*class_name)(core::Value cls, bool& mixin) = nullptr;
};

// The state of the data modules; made before any module installs.
extern const core::Module kDataModule;

inline DataState& data_state() { return core::state_of<DataState>(kDataModule); }
inline core::Value& io_root(IoRoot slot) { return data_state().roots[slot]; }

}  // namespace data
