// The talven command line: options that apply to every form of the
// command, then a subcommand chosen from the table below; anything else is
// a list of source files to load.
#include <algorithm>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/db_tool.hpp"
#include "app/pack.hpp"
#include "app/reference.hpp"
#include "app/rsrc_tool.hpp"
#include "app/snd_tool.hpp"
#include "app/run.hpp"
#include "app/toplevel.hpp"
#include "core/alert.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/console.hpp"
#include "data/state.hpp"
#include "media/pict.hpp"
#include "shell/appfile.hpp"
#include "shell/start.hpp"
#include "platform/gfx/png.hpp"
#include "platform/gfx/region.hpp"
#include "storage/fork.hpp"
#include "storage/outputs.hpp"

namespace {

using Args = std::vector<std::string>;

// A subcommand: its name as typed, its synopsis (one line of `talven
// --help`), its own help text, and what runs it with the arguments that
// follow its name.
struct Subcommand {
  const char* name;
  const char* synopsis;
  const char* help;
  int (*run)(const Args& args);
};

int run_repl(const Args& args);
int run_eval(const Args& args);
int run_transcript(const Args& args);
int run_doc(const Args& args);
int run_smoke(const Args& args);
int run_pict(const Args& args);
int run_pack(const Args& args) { return app::pack_command(args); }
int run_unpack(const Args& args) { return app::unpack_command(args); }
int run_rsrc(const Args& args) { return app::rsrc_command(args); }
int run_db(const Args& args) { return app::db_command(args); }
int run_snd(const Args& args) { return app::snd_command(args); }
bool g_raw_output = false;  // --raw-output was given

int run_app(const Args& args) {
  app::RunOptions o;
  o.raw_output = g_raw_output;
  if (int status = app::parse_run_args(args, o)) {
    std::fputs(app::kRunHelp, stderr);
    return status;
  }
  // A script with a bad line says where; the options were right.
  if (int status = app::read_input_script(o)) return status;
  return app::run_application_file(o);
}

const Subcommand kSubcommands[] = {
    {"run", "run an application file (also: talven APP.RI, or an executable named APP)", app::kRunHelp, run_app},
    {"repl", "interactive read-eval-print loop (also: talven with no argument)",
     "usage: talven [repl]\n"
     "Reads forms at the prompt, evaluates them and prints their values.\n"
     "Typed text is UTF-8 and is converted to the machine's code page 1252.\n"
     "Tab completes symbol names; Ctrl-C abandons the form being typed or\n"
     "interrupts the running one; Ctrl-D quits. History is kept in\n"
     "$XDG_STATE_HOME/talven/history. Prompt commands: ,help ,load FILE ,time FORM\n",
     run_repl},
    {"-e", "evaluate the forms of EXPR and print their values",
     "usage: talven -e EXPR [-e EXPR]...\n"
     "Evaluates each form of each EXPR in turn and prints each value. EXPR is\n"
     "UTF-8 text, converted to the machine's code page 1252. An error is\n"
     "reported on one line and ends the command with status 1.\n",
     run_eval},
    {"--transcript", "evaluate FILE form by form, printing each value and each error report",
     "usage: talven --transcript [--encoded] FILE\n"
     "Prints the value of every form of FILE and the machine's own report line\n"
     "(\"Error: N, culprit, object, (), ()\") of every error, then carries on.\n"
     "The exit status is 0 unless FILE cannot be read. The golden tests use it.\n"
     "--encoded first encodes FILE as the packer does (symbols as table tokens,\n"
     "small integers as byte tokens), installs its symbols table and runs the\n"
     "encoded text instead: the transcript must not change.\n",
     run_transcript},
    {"doc", "show the reference entries of a name (talven doc NAME)",
     "usage: talven doc NAME | --markdown | --undocumented\n"
     "Shows the argument list, kind, module and description of the syntax word,\n"
     "primitive, special form and native classes' methods named NAME (the\n"
     "prompt's ,doc NAME does the same). --markdown writes\n"
     "the whole reference (docs/reference.md); --undocumented lists the names\n"
     "whose entry has no description, then the natives bound without an entry\n"
     "(docs/undocumented.txt, which may only shrink).\n",
     run_doc},
    {"pack", "build an application resource file from a manifest (talven pack MANIFEST)", app::kPackHelp,
     run_pack},
    {"unpack", "write a packed application back out as sources and resources", app::kUnpackHelp, run_unpack},
    {"rsrc", "list the resources of a resource file, or extract one (rsrc list|extract)", app::kRsrcHelp,
     run_rsrc},
    {"db", "list the records of a database (db list FILE)", app::kDbHelp, run_db},
    {"snd", "show a sound's header, or write it as a WAV file (snd info|wav)", app::kSndHelp, run_snd},
    {"--smoke", "run the built-in self check of the machine",
     "usage: talven --smoke\nBuilds a machine, calls a primitive and prints the zone sizes.\n", run_smoke},
    {"pict", "render a picture file into a PNG (pict render FILE.pict OUT.png [WxH])",
     "usage: talven pict render FILE.pict OUT.png [WxH] [--id N] [--max-pixels N]\n"
     "Draws the picture of FILE (a picture file with its 512-byte header, a\n"
     "picture resource without it, or a device-independent bitmap) on a white\n"
     "surface at its frame size, or scaled to W by H pixels, and writes OUT.png.\n"
     "FILE may also be a resource file: its PICT resource N is drawn, or the\n"
     "one with the lowest id when --id is not given.\n"
     "A picture larger than 16777216 pixels (4096x4096) is refused unless\n"
     "--max-pixels allows it.\n"
     "A picture that ends early or holds an opcode outside the supported set\n"
     "is drawn up to that point, written, and reported on standard error with\n"
     "the byte where it stopped; the status is then 1.\n",
     run_pict},
};

void usage(FILE* out) {
  std::fprintf(out,
               "usage: talven [--raw-output] [COMMAND [ARGS]] | [FILE.lsp ...]\n"
               "  APP.RI ...      run the application in APP.RI (see talven run --help)\n"
               "  FILE.lsp ...    load each source file in order, form by form; the first error\n"
               "                  is reported as FILE:LINE: error N (meaning): culprit, status 1\n");
  for (const Subcommand& c : kSubcommands) {
    std::string name = c.name;
    std::fprintf(out, "  %-15s %s\n", name.c_str(), c.synopsis);
  }
  std::fprintf(out,
               "  --help, help    show this text; COMMAND --help or help COMMAND shows the command's own\n"
               "  --version       show the version\n"
               "options:\n"
               "  --raw-output    write the machine's bytes to standard output as they are\n"
               "                  (no UTF-8 conversion, carriage returns kept)\n");
}

// A native self check: builds a machine, makes values, interns symbols and
// calls registered primitives.
int run_smoke(const Args&) {
  using namespace core;
  Value list = kNil;
  for (int i = 10; i > 0; --i) list = cons(make_integer(i * 1000000), list);
  Value eq = symbol_value(find_symbol("equal?"));
  Value args[3] = {list, list, kEndArgs};
  Value same = native_function(eq)(args);
  std::printf("talven %s: %u symbol slots, %u nodes, %u heap bytes; equal? answers %s\n", TALVEN_VERSION,
              rt().zones.symbol_slots, rt().zones.node_count, rt().zones.heap_end - rt().zones.heap_start,
              symbol_text(same));
  return same == rt().sym.t ? 0 : 1;
}

// The picture of a resource file (plain, AppleDouble or MacBinary): its
// PICT resource `id`, or the one with the lowest id when none is asked.
// Empty when the file is not a resource file or has no such picture.
std::span<const uint8_t> resource_picture(std::span<const uint8_t> file, const int32_t* id) {
  std::span<const uint8_t> fork = file;
  storage::ForkPlace place;
  if (storage::find_wrapped_fork(file, file.size(), place)) {
    if (place.offset > file.size() || place.length > file.size() - place.offset) return {};
    fork = file.subspan(size_t(place.offset), size_t(place.length));
  }
  storage::ForkMap map;
  if (storage::parse_fork(fork, storage::kResourceFork, map) != 0) return {};
  uint32_t code = storage::fourcc("PICT");
  storage::ForkType* type = storage::find_type(map, code);
  if (type == nullptr || type->refs.empty()) return {};
  const storage::ForkRef* ref = nullptr;
  if (id != nullptr) {
    ref = storage::find_ref(map, code, *id);
  } else {
    ref = &*std::min_element(type->refs.begin(), type->refs.end(),
                             [](const storage::ForkRef& a, const storage::ForkRef& b) { return a.id < b.id; });
  }
  std::span<const uint8_t> data;
  if (ref == nullptr || storage::fork_data(fork, map, *ref, data) != 0) return {};
  return data;
}

int run_pict(const Args& all) {
  Args args;
  // A small file may name a huge frame: what is drawn is bounded before
  // anything is allocated.
  uint64_t max_pixels = uint64_t(4096) * 4096;
  int32_t id = 0;
  bool has_id = false;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i] == "--max-pixels" && i + 1 < all.size()) {
      char* end = nullptr;
      unsigned long long n = std::strtoull(all[i + 1].c_str(), &end, 10);
      if (end == all[i + 1].c_str() || *end != 0 || n == 0) {
        std::fprintf(stderr, "talven: --max-pixels %s: not a positive whole number\n", all[i + 1].c_str());
        return 2;
      }
      max_pixels = uint64_t(n), ++i;
    } else if (all[i] == "--id" && i + 1 < all.size()) {
      char* end = nullptr;
      long n = std::strtol(all[i + 1].c_str(), &end, 10);
      if (end == all[i + 1].c_str() || *end != 0 || n < -32768 || n > 32767) {
        std::fprintf(stderr, "talven: --id %s: not a resource id\n", all[i + 1].c_str());
        return 2;
      }
      id = int32_t(n), has_id = true, ++i;
    } else {
      args.push_back(all[i]);
    }
  }
  if (args.size() < 3 || args.size() > 4 || args[0] != "render") return 2;
  const std::string& in = args[1];
  const std::string& out = args[2];
  std::vector<uint8_t> bytes;
  std::string why;
  if (!storage::read_input(in, bytes, why)) {
    std::fprintf(stderr, "talven: %s: %s\n", in.c_str(), why.c_str());
    return 1;
  }
  std::span<const uint8_t> pic = media::strip_file_header(bytes);
  if (std::span<const uint8_t> res = resource_picture(bytes, has_id ? &id : nullptr); !res.empty()) {
    pic = res;
  } else if (has_id) {
    std::fprintf(stderr, "talven: %s: no PICT resource %d\n", in.c_str(), id);
    return 1;
  }
  std::optional<gfx::Rect> frame = media::picture_frame(pic);
  if (!frame) {
    std::fprintf(stderr, "talven: %s: not a picture\n", in.c_str());
    return 1;
  }
  int32_t width = frame->width(), height = frame->height();
  if (args.size() == 4) {
    unsigned w = 0, h = 0;
    char extra;
    if (std::sscanf(args[3].c_str(), "%ux%u%c", &w, &h, &extra) != 2 || w == 0 || h == 0) {
      std::fprintf(stderr, "talven: %s: not a size WxH\n", args[3].c_str());
      return 2;
    }
    width = int32_t(std::min(w, 100000u)), height = int32_t(std::min(h, 100000u));
  }
  if (width <= 0 || height <= 0 || width > gfx::Surface::kMaxSide || height > gfx::Surface::kMaxSide) {
    std::fprintf(stderr, "talven: %s: size %dx%d is outside 1..%d\n", in.c_str(), width, height,
                 gfx::Surface::kMaxSide);
    return 1;
  }
  if (uint64_t(width) * uint64_t(height) > max_pixels) {
    std::fprintf(stderr,
                 "talven: %s: %dx%d is %llu pixels, more than %llu (--max-pixels N draws larger pictures)\n",
                 in.c_str(), width, height, (unsigned long long)(uint64_t(width) * uint64_t(height)),
                 (unsigned long long)max_pixels);
    return 1;
  }
  std::string error;
  if (!gfx::load_regions(&error)) {
    std::fprintf(stderr, "talven: cannot load the region library: %s\n", error.c_str());
    return 1;
  }
  gfx::Surface surface(width, height);
  surface.fill(0xFFFFFF);
  gfx::DC dc(surface);
  media::PictStop stop;
  media::PictOptions options;
  options.stop = &stop;
  media::PictStatus status = media::draw_picture(dc, pic, {0, 0, width, height}, options);
  if (status == media::PictStatus::NotAPicture) {
    std::fprintf(stderr, "talven: %s: not a picture\n", in.c_str());
    return 1;
  }
  // A damaged picture is drawn up to the damage, written, and reported.
  size_t offset = size_t(pic.data() - bytes.data()) + stop.offset;
  if (status == media::PictStatus::BitmapFailed)
    std::fprintf(stderr, "talven: %s: a bitmap of the picture is damaged; drawn up to it\n", in.c_str());
  else if (stop.why == media::PictStop::Why::CutShort)
    std::fprintf(stderr, "talven: %s: the picture is cut short in the opcode at byte %zu; drawn up to it\n", in.c_str(),
                 offset);
  else if (stop.why == media::PictStop::Why::UnknownOpcode)
    std::fprintf(stderr, "talven: %s: opcode 0x%04X at byte %zu is not drawn; drawn up to it\n", in.c_str(),
                 stop.opcode, offset);
  std::vector<uint8_t> png = gfx::encode_png(surface, &error);
  if (png.empty() || !storage::write_output(out, png, {&in, 1}, error)) {
    std::fprintf(stderr, "talven: %s: %s\n", out.c_str(), error.c_str());
    return 1;
  }
  return status == media::PictStatus::BitmapFailed || stop.why != media::PictStop::Why::None ? 1 : 0;
}

int run_repl(const Args& args) {
  if (!args.empty()) return 2;
  app::install_console_handlers();
  return app::interactive();
}

// talven -e EXPR [-e EXPR]...: each in turn, until one fails. The text is
// UTF-8 from the shell, converted as piped input is.
int run_eval(const Args& args) {
  std::vector<std::string> texts;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i > 0) {
      if (args[i] != "-e" || i + 1 >= args.size()) return 2;
      ++i;
    }
    texts.push_back(args[i]);
  }
  if (texts.empty()) return 2;
  app::install_console_handlers();
  app::LoopOptions o;
  o.print_values = true;
  for (const std::string& text : texts) {
    int unmapped = 0;
    std::string machine = data::console_decode(text, &unmapped);
    if (unmapped > 0)
      std::fprintf(stderr, "talven: warning: %d character%s without a code page 1252 counterpart read as '?'\n",
                   unmapped, unmapped == 1 ? "" : "s");
    if (int status = app::run_text(machine, o)) return status;
  }
  return 0;
}

// talven doc NAME | --markdown | --undocumented: the reference.
int run_doc(const Args& args) {
  if (args.size() != 1) return 2;
  if (args[0] == "--markdown") {
    std::fputs(app::reference_markdown().c_str(), stdout);
    return 0;
  }
  if (args[0] == "--undocumented") {
    for (const std::string& n : app::undocumented()) std::printf("%s\n", data::console_encode(n).c_str());
    for (const std::string& f : app::reference_faults()) std::printf("%s\n", data::console_encode(f).c_str());
    return 0;
  }
  std::string entry;
  bool found = app::reference_entry(data::console_decode(args[0]), entry);
  std::fputs(entry.c_str(), found ? stdout : stderr);
  return found ? 0 : 1;
}

int run_transcript(const Args& args) {
  bool encoded = !args.empty() && args[0] == "--encoded";
  if (args.size() != (encoded ? 2u : 1u)) return 2;
  app::LoopOptions o;
  o.print_values = true;
  o.stop_on_error = false;
  o.errors_to_stdout = true;
  o.readable_errors = false;
  o.encode = encoded;
  int status = app::run_file(args.back(), o);
  return status == 2 ? 2 : 0;
}

int run_files(const Args& args) {
  app::install_console_handlers();
  for (const std::string& path : args) {
    int status = app::run_file(path, app::LoopOptions{});
    if (status != 0) return status;
  }
  return 0;
}

int run(int argc, char** argv) {
  // A write past the file-size limit fails with EFBIG (a full disk to the
  // machine, error 46) instead of killing the process mid-write.
  signal(SIGXFSZ, SIG_IGN);
  Args args(argv + 1, argv + argc);
  bool raw = false;
  while (!args.empty() && args[0] == "--raw-output") {
    raw = true;
    args.erase(args.begin());
  }
  g_raw_output = raw;
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    usage(stdout);
    return 0;
  }
  // talven help [COMMAND]: the list, or one command's own text.
  if (!args.empty() && args[0] == "help") {
    if (args.size() == 1) return usage(stdout), 0;
    for (const Subcommand& c : kSubcommands)
      if (args[1] == c.name) return std::fputs(c.help, stdout), 0;
    std::fprintf(stderr, "talven help: unknown command %s (talven help lists the commands)\n", args[1].c_str());
    return 2;
  }
  if (!args.empty() && args[0] == "--version") {
    std::printf("talven %s\n", TALVEN_VERSION);
    return 0;
  }
  // An application: named on the command line, or by the executable's own
  // name (NAME runs NAME.RI beside it).
  bool wants_help =
      std::find_if(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; }) !=
      args.end();
  if (!args.empty() && app::names_application(args[0])) {
    if (wants_help) return std::fputs(app::kRunHelp, stdout), 0;
    return run_app(args);
  }
  std::string beside = shell::application_path_for(app::executable_path(argc > 0 ? argv[0] : nullptr));
  struct stat st;
  if (stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    if (wants_help) return std::fputs(app::kRunHelp, stdout), 0;
    Args all{beside};
    all.insert(all.end(), args.begin(), args.end());
    return run_app(all);
  }
  if (!args.empty() && app::is_run_option(args[0])) {
    if (wants_help) return std::fputs(app::kRunHelp, stdout), 0;
    return run_app(args);
  }
  const Subcommand* command = nullptr;
  if (args.empty()) {
    command = &kSubcommands[1];
  } else {
    for (const Subcommand& c : kSubcommands)
      if (args[0] == c.name) command = &c;
    if (command != nullptr) args.erase(args.begin());
  }
  if (command != nullptr && !args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(command->help, stdout);
    return 0;
  }
  if (command == nullptr) {
    for (const std::string& a : args) {
      if (!a.empty() && a[0] == '-') {
        std::fprintf(stderr, "talven: unknown option %s (talven --help lists the commands)\n", a.c_str());
        return 2;
      }
    }
  }
  // An application builds its own machine from its file.
  if (command != nullptr && command->run == run_app) return run_app(args);
  // The packer, the unpacker and the inspectors work on files alone: they
  // need no machine.
  if (command != nullptr && (command->run == run_pack || command->run == run_unpack || command->run == run_rsrc ||
                          command->run == run_db || command->run == run_snd)) {
    int status = command->run(args);
    if (status == 2) std::fputs(command->help, stderr);
    return status;
  }
  auto machine = core::make_runtime();
  data::data_state().term_raw = raw;
  // Quit in the out-of-memory alert ends the session as `quit` does.
  core::set_process_end(shell::orderly_shutdown);
  app::install_startup_globals();
  if (command == nullptr) return run_files(args);
  int status = command->run(args);
  if (status == 2 && command->run != run_transcript) {
    std::fprintf(stderr, "%s", command->help);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "talven: %s\n", e.what());
    return 1;
  }
}
