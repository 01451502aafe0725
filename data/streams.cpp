// Input sources, output sinks and the stream primitives.
#include "data/streams.hpp"

#include <unistd.h>

#include <cstring>

#include "core/args.hpp"
#include "core/collector.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/console.hpp"
#include "data/handles.hpp"
#include "text/codec.hpp"

namespace data {
using namespace core;

namespace {

inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }

// The layout of a handle stream and of a buffer stream, in a pointer block.
struct HandleStream {
  uint32_t pos, capacity;
  Addr data;
  uint32_t handle;
};
struct BufferStream {
  uint32_t pos, end;
  Addr data;
};

constexpr uint32_t kStreamGrowth = 1024;

HandleStream* handle_stream(Value box) {
  Addr p = pointer_arg(box);
  if (pointer_handle(p) == 0 || handle_size(pointer_handle(p)) < 4 + sizeof(HandleStream)) error(Err::WrongType, box);
  return reinterpret_cast<HandleStream*>(rt().region.ptr(p));
}
BufferStream* buffer_stream(Value box) {
  Addr p = pointer_arg(box);
  if (handle_size(pointer_handle(p)) < 4 + sizeof(BufferStream)) error(Err::WrongType, box);
  return reinterpret_cast<BufferStream*>(rt().region.ptr(p));
}

Value symbol(const char* name) { return intern_static(name); }

}  // namespace

// ---- State ------------------------------------------------------------------

static std::unique_ptr<ModuleState> make_data_state(Runtime& r) {
  auto d = std::make_unique<DataState>();  // every root starts as nil
  d->term_line_flush = isatty(STDOUT_FILENO) != 0;
  r.write_error_line = [](const std::string& text) {
    std::fflush(stdout);
    console_write(stderr, text + '\r');
    std::fflush(stderr);
  };
  return d;
}

static void mark_data_roots(Runtime&) {
  DataState& d = data_state();
  for (Value v : d.roots) mark_value(v);
  for (int i = 0; i < 256; ++i) {
    mark_value(d.reader_macros[i]);
    mark_value(d.reader_dispatch[i]);
  }
  if (d.sort_work != nullptr)
    for (uint32_t i = 0; i < d.sort_work_words; ++i) mark_value(d.sort_work[i]);
  for (auto [words, count] : d.sort_outer)
    for (uint32_t i = 0; i < count; ++i) mark_value(words[i]);
}

extern const Module kDataModule{"data", make_data_state, nullptr, mark_data_roots, nullptr};

Value call_method(Value object, Value name, std::initializer_list<Value> args) {
  Runtime& r = rt();
  if (!object.is_nil() && r.hooks.send != nullptr) {
    Value vec[10];
    size_t n = 0;
    for (Value a : args)
      if (n < 9) vec[n++] = a;
    vec[n] = kEndArgs;
    return r.hooks.send(object, name, vec);
  }
  return call_by_name(name, args);
}

// ---- Input ------------------------------------------------------------------

static int handle_getc(Value box);
static int buffer_getc(Value box);
static int edit_getc();

static int terminal_getc() {
  DataState& d = data_state();
  if (d.term_pos >= d.term_line.size()) {
    if (d.term_eof) return kEndOfInput;
    flush_terminal();
    std::string line;
    bool ok;
    if (d.term_read_line != nullptr) {
      ok = d.term_read_line(line, d.term_continuation);
    } else {
      ok = console_read_line(stdin, line);
    }
    if (!ok) {
      d.term_eof = true;
      return kEndOfInput;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A typed line ends with the carriage return that the reader expects.
    d.term_line = line + '\r';
    d.term_pos = 0;
    d.term_continuation = true;
  }
  return uint8_t(d.term_line[d.term_pos++]);
}

int fetch() {
  DataState& d = data_state();
  int c;
  switch (d.in.kind) {
    case InputKind::Memory:
      c = d.in.pos < d.in.end ? rt().region.ptr(d.in.base)[d.in.pos++] : kEndOfInput;
      break;
    case InputKind::String: {
      // The string may move at a collection: index it afresh each time.
      c = d.in.pos < d.in.end ? uint8_t(string_text(io_root(kInState))[d.in.pos++]) : kEndOfInput;
      break;
    }
    case InputKind::Terminal: c = terminal_getc(); break;
    case InputKind::Handle: c = handle_getc(io_root(kInState)); break;
    case InputKind::Buffer: c = buffer_getc(io_root(kInState)); break;
    case InputKind::Edit: c = edit_getc(); break;
    case InputKind::Native: {
      Value args[3] = {io_root(kInState), kNil, kEndArgs};
      Value r = native_function(io_root(kInFunction))(args);
      c = is_integer(r) ? int(read_integer(r) & 0xFFFF) : kEndOfInput;
      break;
    }
    default: c = kEndOfInput; break;
  }
  d.lookahead = c;
  return c;
}

InputGuard::InputGuard()
    : saved_(data_state().in),
      lookahead_(data_state().lookahead),
      state_(io_root(kInState)),
      object_(io_root(kInObject)),
      function_(io_root(kInFunction)) {}

InputGuard::~InputGuard() {
  DataState& d = data_state();
  if (d.in.serial == saved_.serial)
    saved_.pos = d.in.pos;
  else
    d.lookahead = lookahead_;
  d.in = saved_;
  io_root(kInState) = state_;
  io_root(kInObject) = object_;
  io_root(kInFunction) = function_;
}

void set_memory_input(Addr base, uint32_t length) {
  DataState& d = data_state();
  if (length > 0) checked_bytes(kNil, base, length);
  d.in = InputSource{InputKind::Memory, base, 0, length, ++data_state().input_serial};
  io_root(kInState) = kNil;
  io_root(kInObject) = kNil;
  io_root(kInFunction) = kNil;
}

void set_string_input(Value s) {
  data_state().in = InputSource{InputKind::String, 0, 0, uint32_t(arg_text(s).size()), ++data_state().input_serial};
  io_root(kInState) = s;
  io_root(kInObject) = kNil;
  io_root(kInFunction) = kNil;
}

void set_terminal_input() {
  data_state().in = InputSource{InputKind::Terminal, 0, 0, 0, ++data_state().input_serial};
  io_root(kInState) = kNil;
  io_root(kInObject) = kNil;
  io_root(kInFunction) = kNil;
}

bool input_is_terminal() { return data_state().in.kind == InputKind::Terminal; }

uint32_t input_position() {
  DataState& d = data_state();
  switch (d.in.kind) {
    case InputKind::Memory:
    case InputKind::String: return d.in.pos;
    case InputKind::Handle: return handle_stream(io_root(kInState))->pos;
    case InputKind::Buffer: return buffer_stream(io_root(kInState))->pos;
    default: return 0;
  }
}

// Prototypes of the character primitives, so that a stream pair holding
// one of them is read natively.
static Value prim_handle_getc(Value);
static Value prim_buffer_getc(Value);
static Value prim_editgetc();
static Value prim_handle_putc(Value, Value);
static Value prim_editputc(Value);

namespace {

bool is_object(Value v) { return (v.is(Tag::Class) && v != kNoObject) || v.is(Tag::Instance); }

// Steps common to input and output: nil is the terminal variable's value,
// t keeps the current stream, an object gives its stream pair by message.
// Answers false when the current stream stays.
bool resolve_stream(Value& stream, Value terminal_var, Value proc, Value& object) {
  object = kNil;
  if (stream.is_nil()) {
    stream = symbol_value(terminal_var);
    if (stream.is_nil() || stream.is_no_value()) return false;
  }
  if (stream == rt().sym.t) return false;
  if (is_object(stream)) {
    object = stream;
    stream = call_method(object, proc, {});
  }
  if (!stream.is_pair() || !car(stream).is(Tag::Primitive)) error(Err::WrongType, object.is_nil() ? stream : object);
  return true;
}

}  // namespace

void select_input(Value stream) {
  Value object;
  if (!resolve_stream(stream, symbol("terminal-in"), symbol("read-proc"), object)) return;
  Value fn = car(stream), state = cdr(stream);
  NativeFn f = native_function(fn);
  InputKind kind = InputKind::Native;
  if (f == &native_entry<prim_handle_getc>) {
    handle_stream(state);
    kind = InputKind::Handle;
  } else if (f == &native_entry<prim_buffer_getc>) {
    buffer_stream(state);
    kind = InputKind::Buffer;
  } else if (f == &native_entry<prim_editgetc>) {
    kind = InputKind::Edit;
  }
  data_state().in = InputSource{kind, 0, 0, 0, ++data_state().input_serial};
  io_root(kInState) = state;
  io_root(kInObject) = object;
  io_root(kInFunction) = fn;
}

// ---- Output -----------------------------------------------------------------

static void handle_putc(int c, Value box);
static void edit_putc(int c);

// Standard output passes the console boundary: code page 1252 to UTF-8, a
// carriage return (or a carriage return and line feed) to one line feed.
static void terminal_putc(int c) {
  DataState& d = data_state();
  c &= 0xFF;
  if (d.term_raw) {
    std::fputc(c, d.term_out);
    return;
  }
  bool after_cr = d.term_after_cr;
  d.term_after_cr = c == 13;
  d.term_line_open = c != 13 && c != 10;
  if (c == 10 && after_cr) return;
  if (c == 13) {
    std::fputc('\n', d.term_out);
    return;
  }
  char bytes[4];
  std::fwrite(bytes, 1, text::encode_utf8(text::cp1252_to_unicode(uint8_t(c)), bytes), d.term_out);
}

void put_char(int c) {
  DataState& d = data_state();
  implicit_poll();
  switch (d.out.kind) {
    case OutputKind::Terminal: terminal_putc(c); break;
    case OutputKind::Text:
      if (d.out.text->size() < d.out.text_limit)
        d.out.text->push_back(char(c));
      else
        d.out.text_full = true;
      break;
    case OutputKind::Handle: handle_putc(c, io_root(kOutState)); break;
    case OutputKind::Edit: edit_putc(c); break;
    case OutputKind::Native: {
      Value args[4] = {make_fixnum(c & 0xFF), io_root(kOutState), kNil, kEndArgs};
      native_function(io_root(kOutFunction))(args);
      break;
    }
  }
}

void put_text(const char* text) {
  while (*text) put_char(uint8_t(*text++));
}

bool output_full() { return data_state().out.kind == OutputKind::Text && data_state().out.text_full; }

OutputGuard::OutputGuard()
    : saved_(data_state().out),
      state_(io_root(kOutState)),
      object_(io_root(kOutObject)),
      function_(io_root(kOutFunction)) {}

OutputGuard::~OutputGuard() {
  data_state().out = saved_;
  io_root(kOutState) = state_;
  io_root(kOutObject) = object_;
  io_root(kOutFunction) = function_;
}

void set_text_output(std::string* text, size_t limit) {
  data_state().out = OutputSink{OutputKind::Text, text, limit, false};
  io_root(kOutState) = kNil;
  io_root(kOutObject) = kNil;
  io_root(kOutFunction) = kNil;
}

void set_terminal_output() {
  data_state().out = OutputSink{};
  io_root(kOutState) = kNil;
  io_root(kOutObject) = kNil;
  io_root(kOutFunction) = kNil;
}

void select_output(Value stream) {
  Value object;
  if (!resolve_stream(stream, symbol("terminal-out"), symbol("write-proc"), object)) return;
  Value fn = car(stream), state = cdr(stream);
  NativeFn f = native_function(fn);
  OutputKind kind = OutputKind::Native;
  if (f == &native_entry<prim_handle_putc>) {
    handle_stream(state);
    kind = OutputKind::Handle;
  } else if (f == &native_entry<prim_editputc>) {
    kind = OutputKind::Edit;
  }
  data_state().out = OutputSink{kind, nullptr, 0, false};
  io_root(kOutState) = state;
  io_root(kOutObject) = object;
  io_root(kOutFunction) = fn;
}

void flush_terminal() {
  if (data_state().out.kind == OutputKind::Terminal) std::fflush(data_state().term_out);
}

void flush_edit_output() {
  DataState& d = data_state();
  if (d.edit_out_fill == 0) return;
  Value text = make_string(d.edit_out, d.edit_out_fill);
  d.edit_out_fill = 0;
  Value var = symbol("print-string");
  Value method = symbol_value(var);
  if (method.is_no_value()) error(Err::Unbound, var);
  call_method(io_root(kOutObject), method, {text});
}

// ---- Handle streams ------------------------------------------------------------

static int handle_getc(Value box) {
  HandleStream* s = handle_stream(box);
  if (s->pos >= s->capacity) return kEndOfInput;
  return *readable_bytes(box, s->data + s->pos++, 1);
}

// Makes room for n more bytes: a new handle of capacity + n + 1024 bytes
// takes the contents; the old handle is unlocked and disposed.
static void grow_handle_stream(Value box, uint32_t n) {
  HandleStream* s = handle_stream(box);
  if (uint64_t(s->pos) + n <= s->capacity) return;
  uint64_t want = uint64_t(s->capacity) + (n > 1 ? n : 0) + kStreamGrowth;
  if (want > 0x7FFFFFFF) error(Err::NativeMemory, kNil);
  uint32_t h = new_handle(uint32_t(want));
  if (h == 0) error(Err::NativeMemory, kNil);
  s = handle_stream(box);
  Addr a = lock_handle(h);
  if (s->capacity > 0 && s->data != 0)
    std::memcpy(rt().region.ptr(a), readable_bytes(box, s->data, s->capacity), s->capacity);
  if (s->handle != 0) {
    unlock_handle(s->handle);
    dispose_handle(s->handle);
  }
  s->handle = h;
  s->data = a;
  s->capacity = uint32_t(want);
}

static void handle_putc(int c, Value box) {
  grow_handle_stream(box, 1);
  HandleStream* s = handle_stream(box);
  *writable_bytes(box, s->data + s->pos, 1) = uint8_t(c);
  ++s->pos;
}

static Value prim_new_handle_struct(Value pos, Value capacity, Value pointer, Value handle) {
  uint32_t h = 0;
  Addr data = 0;
  if (handle.is_nil()) {
    h = new_handle(0);
    if (h == 0) error(Err::NativeMemory, kNil);
  } else {
    h = handle_arg(handle);
  }
  if (!pointer.is_nil()) data = address_arg(pointer);
  else if (handle_memory(h) != 0) data = lock_handle(h);
  HandleStream s{uint32_t(read_integer(pos)), uint32_t(read_integer(capacity)), data, h};
  // A stream that claims bytes it does not have would read outside them.
  if (s.capacity > 0 && (data == 0 || rt().region.block_containing(data, s.capacity) == 0)) {
    s.capacity = data == 0 ? 0 : handle_size(h);
  }
  if (s.pos > s.capacity) s.pos = s.capacity;
  Addr p = new_pointer(sizeof s);
  std::memcpy(rt().region.ptr(p), &s, sizeof s);
  return box_pointer(p);
}

static Value prim_adjust_handle_struct(Value box) {
  HandleStream* s = handle_stream(box);
  uint32_t h = s->handle, pos = s->pos;
  if (!handle_live(h)) error(Err::WrongType, box);
  unlock_handle(h);
  if (!set_handle_size(h, pos)) error(Err::NativeMemory, kNil);
  // The stream now owns nothing: its bytes belong to the handle answered.
  s = handle_stream(box);
  s->handle = 0;
  s->data = 0;
  s->capacity = 0;
  s->pos = 0;
  return box_handle(h);
}

static Value prim_handle_putc(Value c, Value box) {
  handle_putc(int(read_integer(c)), box);
  return kNoValue;
}
static Value prim_handle_getc(Value box) { return make_fixnum(handle_getc(box)); }
static Value prim_handle_get_pos(Value box) { return make_integer(int32_t(handle_stream(box)->pos)); }
static Value prim_handle_set_pos(Value box, Value pos) {
  HandleStream* s = handle_stream(box);
  uint32_t p = uint32_t(read_integer(pos));
  if (p > s->capacity) error(Err::WrongType, pos);
  s->pos = p;
  return pos;
}
static Value prim_handle_write_block(Value box, Value pointer, Value count) {
  int32_t n = read_integer(count);
  if (n < 0) error(Err::WrongType, count);
  if (n == 0) return kNoValue;
  Addr from = address_arg(pointer);
  readable_bytes(pointer, from, uint32_t(n));
  grow_handle_stream(box, uint32_t(n));
  HandleStream* s = handle_stream(box);
  std::memmove(writable_bytes(box, s->data + s->pos, uint32_t(n)), rt().region.ptr(from), uint32_t(n));
  s->pos += uint32_t(n);
  return kNoValue;
}
static Value prim_handle_eof_p(Value box) {
  HandleStream* s = handle_stream(box);
  return boolean(s->pos >= s->capacity);
}

// ---- Buffer streams --------------------------------------------------------------

static int buffer_getc(Value box) {
  BufferStream* s = buffer_stream(box);
  if (s->pos >= s->end) return kEndOfInput;
  return *readable_bytes(box, s->data + s->pos++, 1);
}

static Value prim_new_buffer_struct(Value pos, Value end, Value pointer) {
  BufferStream s{uint32_t(read_integer(pos)), uint32_t(read_integer(end)), address_arg(pointer)};
  if (s.end > 0) readable_bytes(pointer, s.data, s.end);
  Addr p = new_pointer(sizeof s);
  std::memcpy(rt().region.ptr(p), &s, sizeof s);
  return box_pointer(p);
}
static Value prim_buffer_getc(Value box) { return make_fixnum(buffer_getc(box)); }
static Value prim_buffer_set_pos(Value box, Value pos) {
  BufferStream* s = buffer_stream(box);
  s->pos = uint32_t(read_integer(pos));
  return pos;
}

// ---- Edit streams -------------------------------------------------------------------

static int edit_getc() {
  DataState& d = data_state();
  if (d.edit_in == 0 || d.edit_in_pos >= d.edit_in_length) return kEndOfInput;
  int c = rt().region.ptr(d.edit_in)[d.edit_in_pos++];
  if (d.edit_in_pos >= d.edit_in_length) {
    dispose_pointer(d.edit_in);
    d.edit_in = 0;
    d.edit_in_length = 0;
    d.edit_in_pos = 0;
  }
  return c;
}

static void edit_putc(int c) {
  DataState& d = data_state();
  if (d.edit_out_fill >= sizeof d.edit_out) flush_edit_output();
  d.edit_out[d.edit_out_fill++] = char(c);
}

static Value prim_editgetc() { return make_fixnum(edit_getc()); }
static Value prim_editputc(Value c) {
  edit_putc(int(read_integer(c)));
  return kNoValue;
}

static Value prim_set_lecture(Value box, Value length) {
  Addr p = pointer_arg(box);
  int32_t n = read_integer(length);
  uint32_t h = pointer_handle(p);
  if (n < 0 || uint32_t(n) > handle_size(h) - 4) error(Err::WrongType, length);
  DataState& d = data_state();
  if (d.edit_in != 0 && d.edit_in != p) dispose_pointer(d.edit_in);
  node_of(box).cdr = 0;
  d.edit_in = p;
  d.edit_in_length = uint32_t(n);
  d.edit_in_pos = 0;
  if (n == 0) {
    dispose_pointer(p);
    d.edit_in = 0;
  }
  return kNoValue;
}

static Value prim_eof_lecture_p() {
  DataState& d = data_state();
  return boolean(d.edit_in == 0 || d.edit_in_pos >= d.edit_in_length);
}

// Without a window system there are no events that could bring input:
// waiting would never end, so the wait returns at once.
static Value prim_edit_wait() { return kNoValue; }

// ---- General streams ------------------------------------------------------------------

static Value stream_object() {
  Value in = io_root(kInObject);
  return in.is_nil() ? io_root(kOutObject) : in;
}

static Value prim_general_putc(Value c, Value method) {
  Value ch = is_integer(c) ? make_fixnum(read_integer(c) & 0xFF) : c;
  call_method(io_root(kOutObject), method, {ch});
  return kNoValue;
}

static Value prim_general_getc(Value method) {
  Value r = call_method(stream_object(), method, {});
  if (!is_integer(r)) return make_fixnum(kEndOfInput);
  return r;
}

static const NativeRow kStreamNatives[] = {
    TV_PRIM2("handle-putc", prim_handle_putc, "(handle-putc CODE STREAM) appends one byte to a handle stream, growing it by 1024 bytes when full; no value"),
    TV_PRIM2("handle-getc", prim_handle_getc, "(handle-getc STREAM) the next byte of a handle stream; 65535 at its capacity"),
    TV_PRIM2("buffer-getc", prim_buffer_getc, "(buffer-getc STREAM) the next byte of a buffer stream; 65535 at its end"),
    TV_PRIM2("editgetc", prim_editgetc, "(editgetc) the next byte of the edit input; 65535 when none is left"),
    TV_PRIM2("editputc", prim_editputc, "(editputc CODE) adds a byte to the edit output, sent in batches to the stream object's print-string method; no value"),
    TV_PRIM2("edit-wait", prim_edit_wait, "(edit-wait) waits for edit input; without a window system it returns at once; no value"),
    TV_PRIM("general-putc", prim_general_putc, "(general-putc CODE METHOD) sends METHOD with the character to the current output stream object; no value"),
    TV_PRIM("general-getc", prim_general_getc, "(general-getc METHOD) the character METHOD of the input stream object (else the output one) gives; 65535 for a non-integer"),
    TV_PRIM("new-handle-struct", prim_new_handle_struct, "(new-handle-struct POSITION CAPACITY [POINTER] [HANDLE]) a handle stream over HANDLE (a new empty one without) with its bytes at POINTER (the locked handle without)"),
    TV_PRIM("adjust-handle-struct", prim_adjust_handle_struct, "(adjust-handle-struct STREAM) unlocks the stream's handle, cuts it to the position and returns it as a handle"),
    TV_PRIM("handle-get-pos", prim_handle_get_pos, "(handle-get-pos STREAM) the position of a handle stream"),
    TV_PRIM("handle-set-pos", prim_handle_set_pos, "(handle-set-pos STREAM POSITION) sets the position of a handle stream; returns POSITION"),
    TV_PRIM("handle-write-block", prim_handle_write_block, "(handle-write-block STREAM POINTER COUNT) appends the COUNT bytes at POINTER to a handle stream; no value"),
    TV_PRIM("handle-eof?", prim_handle_eof_p, "(handle-eof? STREAM) t when the handle stream's position has reached its capacity"),
    TV_PRIM("new-buffer-struct", prim_new_buffer_struct, "(new-buffer-struct POSITION END POINTER) a buffer stream reading the bytes at POINTER from POSITION up to END"),
    TV_PRIM("buffer-set-pos", prim_buffer_set_pos, "(buffer-set-pos STREAM POSITION) sets the position of a buffer stream; returns POSITION"),
    TV_PRIM("set-lecture", prim_set_lecture, "(set-lecture POINTER LENGTH) makes the first LENGTH bytes of the memory pointer the edit input (the box is emptied); no value"),
    TV_PRIM("eof-lecture?", prim_eof_lecture_p, "(eof-lecture?) t when the edit input is used up"),
};

static void install_module(core::Runtime&) {
  intern_static("print-string");
  intern_static("terminal-in", kNil);
  intern_static("terminal-out", kNil);
  register_natives(kStreamNatives);
  // An error report first writes out what the terminal still holds.
  rt().error_cleanups.push_back([](Runtime&) { std::fflush(stdout); });
}

extern const core::Module kStreamsModule{"streams", nullptr, install_module};

}  // namespace data
