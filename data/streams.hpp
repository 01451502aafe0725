// Character streams: the current input source of the reader and the current
// output sink of the printer, the stream pairs that Lisp code hands to them,
// the terminal, the handle and buffer streams, the edit streams and the
// streams implemented by a Lisp object.
//
// A stream pair is (getc-or-putc primitive . state). The built-in character
// primitives are recognised when a pair is selected and read natively; any
// other primitive is called through the native table once per character.
// Every primitive that selects a stream saves the previous source or sink in
// a guard and restores it on every exit, normal or not.
#pragma once
#include <initializer_list>
#include <string>

#include "data/state.hpp"

namespace data {

constexpr int kEndOfInput = 0xFFFF;

// ---- Input ------------------------------------------------------------------

// Fetches the next character of the current input source into the
// lookahead and answers it (kEndOfInput at the end).
int fetch();

// Saves the current input source and restores it when it goes out of scope.
// When another source was selected meanwhile, the lookahead of the outer
// source comes back too, so that a nested read of another text (a macro
// function that parses a string) does not end the outer one; when the same
// source stayed current (reading with t), its position and lookahead are
// where the nested read left them.
class InputGuard {
 public:
  InputGuard();
  ~InputGuard();
  InputGuard(const InputGuard&) = delete;
  InputGuard& operator=(const InputGuard&) = delete;

 private:
  InputSource saved_;
  int lookahead_;
  core::Value state_, object_, function_;
};

// Selects the input stream of a reading primitive: nil stands for the value
// of terminal-in, t keeps the current source, an object is asked for its
// read-proc, anything else must be a stream pair.
void select_input(core::Value stream);
// Reads the bytes [base, base + length) of the region (code loading).
void set_memory_input(core::Addr base, uint32_t length);
// Reads the characters of a Lisp string.
void set_string_input(core::Value string);
void set_terminal_input();
// The position of the next character in the current source (the first word
// of a handle or buffer stream), 0 when the source has none.
uint32_t input_position();
// Whether the current source is the terminal.
bool input_is_terminal();

// ---- Output -----------------------------------------------------------------

// Puts one character to the current output sink.
void put_char(int c);
void put_text(const char* text);
inline void put_text(const std::string& text) { put_text(text.c_str()); }

class OutputGuard {
 public:
  OutputGuard();
  ~OutputGuard();
  OutputGuard(const OutputGuard&) = delete;
  OutputGuard& operator=(const OutputGuard&) = delete;

 private:
  OutputSink saved_;
  core::Value state_, object_, function_;
};

// Selects the output stream of a printing primitive, as select_input does.
void select_output(core::Value stream);
// Prints into a text buffer; characters beyond `limit` are dropped.
void set_text_output(std::string* text, size_t limit);
void set_terminal_output();
// Whether a text sink has dropped characters (the printer then stops).
bool output_full();
// Sends what the edit output still holds to the current stream object.
void flush_edit_output();
// Flushes standard output when the terminal is the sink.
void flush_terminal();

// ---- Objects ------------------------------------------------------------------

// Calls the method `name` with the object current: the object system's
// send (core::EvalHooks::send) when there is an object and the hook is
// installed, else the name's global function.
core::Value call_method(core::Value object, core::Value name, std::initializer_list<core::Value> args);

extern const core::Module kStreamsModule;

}  // namespace data
