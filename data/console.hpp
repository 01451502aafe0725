// The console boundary: the one place where text crosses between the Lisp
// machine and a Linux terminal, pipe or file. Inside, text is code page 1252
// with carriage-return line ends; outside it is UTF-8 with line feeds.
// Standard output, standard error and the terminal input all pass here.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace data {

// Machine text to console text: each character to UTF-8, each carriage
// return to a line feed (a carriage return followed by a line feed gives one
// line feed). With `raw`, the bytes pass unchanged.
std::string console_encode(std::string_view text, bool raw = false);

// Console text to machine text: UTF-8 to code page 1252. A character the
// page lacks becomes '?', counted in `unmapped`; a byte that is not part of
// valid UTF-8 is kept as it is (it is taken to be code page 1252 already).
std::string console_decode(std::string_view text, int* unmapped = nullptr);

// Writes machine text to a console stream through the boundary, honouring
// the runtime's raw-output setting when a runtime is current.
void console_write(FILE* out, std::string_view text);

// Reads one line of console input (without its line end) into machine text,
// warning on standard error about characters without a counterpart. False
// at the end of input.
bool console_read_line(FILE* in, std::string& line);

}  // namespace data
