#include "storage/files.hpp"

#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "core/eval.hpp"
#include "core/symbols.hpp"
#include "data/charsets.hpp"
#include "data/handles.hpp"
#include "storage/file_natives.hpp"
#include "storage/settings.hpp"
#include "tests/storage/file_fixture.hpp"

namespace core::testing {
namespace {

using storage::FileLock;
using storage::OpenMode;

class Files : public FileTest {
 protected:
  Value pointer(uint32_t n) { return data::box_pointer(data::new_pointer(n)); }
  Value path(const std::string& posix) { return str(posix.c_str()); }
  // The value of a Lisp form given as text.
  Value lisp(const char* source) { return eval(car(callv("parse", {str(source)}))); }
  Value lisp_call(const char* function, std::initializer_list<Value> args) {
    Value f = lisp(function);
    Value l = kNil;
    for (auto it = args.end(); it != args.begin();) l = cons(*--it, l);
    return apply_list(f, l);
  }
  // A file that passes the resource-header checks, with `kind` at 128 and
  // recognisable bytes at the codes' offsets.
  std::string header_file(const std::string& name, uint8_t kind) {
    std::string bytes(286, '\0');
    auto put32 = [&](int at, uint32_t v) {
      for (int i = 0; i < 4; ++i) bytes[size_t(at + i)] = char(v >> (24 - 8 * i));
    };
    put32(0, 256), put32(4, 256), put32(8, 0), put32(12, 30);
    bytes.replace(16, 4, "DBcr");
    bytes.replace(20, 4, "DBty");
    bytes.replace(82, 4, "RSty");
    bytes.replace(86, 4, "RScr");
    bytes[128] = char(kind);
    return make_file(name, bytes);
  }
};

TEST_F(Files, ReferenceNumbersRotateAndRunOut) {
  std::string p = make_file("a.txt", "abc");
  std::vector<int> taken;
  for (int i = 0; i < storage::kRefnumSlots; ++i) {
    int err = 0;
    storage::OpenFile f = storage::open_posix(p, OpenMode::Read, FileLock::Shared, err);
    ASSERT_TRUE(f.is_open()) << err;
    taken.push_back(storage::take_refnum(f, storage::FileUse::Resource));
    ASSERT_EQ(taken.back(), i + 1);
  }
  int err = 0;
  storage::OpenFile extra = storage::open_posix(p, OpenMode::Read, FileLock::Shared, err);
  EXPECT_EQ(storage::take_refnum(extra, storage::FileUse::Plain), -1);
  EXPECT_TRUE(extra.is_open());  // still the caller's
  // A freed slot is found again, and its generation has moved on.
  uint32_t generation = storage::refnum_generation(7);
  EXPECT_TRUE(storage::release_refnum(7));
  EXPECT_NE(storage::refnum_generation(7), generation);
  EXPECT_EQ(storage::refnum_file(7), nullptr);
  EXPECT_EQ(storage::take_refnum(extra, storage::FileUse::Plain), 7);
  EXPECT_EQ(storage::refnum_use(7), storage::FileUse::Plain);
  // file-open reports the full table as error 32.
  EXPECT_EQ(error_of([&] { callv("file-open", {path(p)}); }), 32);
  storage::release_all_refnums();
  // The cursor goes on past the last slot taken rather than back to 1.
  storage::OpenFile again = storage::open_posix(p, OpenMode::Read, FileLock::Shared, err);
  EXPECT_EQ(storage::take_refnum(again, storage::FileUse::Plain), 8);
}

TEST_F(Files, AStaleFileBoxNeverReachesTheNextFile) {
  std::string a = make_file("a.txt", "first"), b = make_file("b.txt", "second");
  Value box_a = callv("file-open", {path(a), fix(2)});
  callv("file-close", {box_a});
  Value box_b = callv("file-open", {path(b), fix(2)});
  EXPECT_EQ(error_of([&] { callv("file-write-ch", {fix('X'), box_a}); }), 2);
  EXPECT_EQ(error_of([&] { callv("file-close", {box_a}); }), 2);
  EXPECT_EQ(error_of([&] { callv("file-get-pos", {fix(5)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("file-length", {data::box_pointer(0)}); }), 2);
  EXPECT_EQ(callv("file-read-ch", {box_b}).fixnum(), 's');
  callv("file-close", {box_b});
  EXPECT_EQ(read_all(b), "second");
  EXPECT_EQ(read_all(a), "first");
}

TEST_F(Files, ReadingWritingAndPositions) {
  std::string p = make_file("data.bin", "hello");
  Value f = callv("file-open", {path(p), fix(2)});
  EXPECT_FALSE(callv("file-read-only?", {f}).truthy());
  EXPECT_EQ(callv("file-length", {f}).fixnum(), 5);
  EXPECT_EQ(callv("file-set-pos", {f, fix(5)}).fixnum(), 5);
  EXPECT_TRUE(callv("file-eof?", {f}).truthy());
  EXPECT_EQ(callv("file-read-ch", {f}).fixnum(), 65535);
  callv("file-write-ch", {fix('!'), f});
  Value buf = pointer(8);
  std::memcpy(data::writable_pointer_bytes(buf, 8), " world!!", 8);
  EXPECT_EQ(callv("file-write-block", {f, buf, fix(7)}).fixnum(), 7);
  EXPECT_EQ(callv("file-get-pos", {f}).fixnum(), 13);
  callv("file-set-pos", {f, fix(0)});
  Value in = pointer(16);
  EXPECT_EQ(callv("file-read-block", {f, in, fix(16)}).fixnum(), 13);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data::pointer_bytes(in, 13)), 13), "hello! world!");
  // A block larger than the pointer's memory is refused before any I/O.
  EXPECT_EQ(error_of([&] { callv("file-read-block", {f, buf, fix(9)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("file-write-block", {f, buf, fix(100000)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("file-set-pos", {f, fix(-1)}); }), 36);
  EXPECT_TRUE(callv("file-set-length", {f, fix(3)}).truthy());
  callv("file-close", {f});
  EXPECT_EQ(read_all(p), "hel");
  EXPECT_TRUE(callv("file-set-length", {path(p), fix(1)}).truthy());
  EXPECT_EQ(callv("file-length", {path(p)}).fixnum(), 1);
  // Read-only: writes fail with the file layer's errors.
  Value r = callv("file-open", {path(p)});
  EXPECT_TRUE(callv("file-read-only?", {r}).truthy());
  EXPECT_EQ(error_of([&] { callv("file-write-block", {r, buf, fix(1)}); }), 46);
  EXPECT_EQ(error_of([&] { callv("file-write-ch", {fix('x'), r}); }), 36);
  EXPECT_FALSE(callv("file-set-length", {r, fix(0)}).truthy());
  callv("file-close", {r});
}

TEST_F(Files, FileStreamsFeedTheReader) {
  std::string p = make_file("forms.lsp", "(a (b . c) 12)");
  Value f = callv("file-open", {path(p)});
  Value stream = cons(symbol_value(find_symbol("file-read-ch")), f);
  EXPECT_EQ(text(callv("read", {stream})), "(a (b . c) 12)");
  callv("file-close", {f});
}

TEST_F(Files, OpeningFailuresMapToFileErrors) {
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("file-open", {path(root_ + "/work/none.txt")}); }, &culprit), 31);
  EXPECT_EQ(culprit, root_ + "/work/none.txt");
  EXPECT_EQ(error_of([&] { callv("file-open", {path(root_ + "/work")}); }), 36);  // a folder
  std::string p = make_file("held.txt", "x");
  int err = 0;
  storage::OpenFile alone = storage::open_posix(p, OpenMode::ReadWrite, FileLock::Exclusive, err);
  ASSERT_TRUE(alone.is_open());
  EXPECT_EQ(error_of([&] { callv("file-open", {path(p)}); }), 38);
  EXPECT_FALSE(callv("erasable?", {path(p)}).truthy());
  storage::close_file(alone);
  EXPECT_TRUE(callv("erasable?", {path(p)}).truthy());
  Value f = callv("file-open", {path(p)});
  EXPECT_FALSE(callv("erasable?", {path(p)}).truthy());
  callv("file-close", {f});
  // Out of descriptors: error 32 with nil.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  int probe = dup(0);
  ASSERT_GE(probe, 0);
  close(probe);
  struct rlimit tight = saved;
  tight.rlim_cur = rlim_t(probe);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  int e = error_in([&] { callv("file-open", {path(p)}); }, &culprit);
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(e, 32);
  EXPECT_EQ(culprit, "()");
  EXPECT_EQ(error_of([&] { callv("open-rf", {fix(1)}); }), 47);
  EXPECT_EQ(error_of([&] { callv("online", {}); }), 47);
}

TEST_F(Files, TemporaryFilesAreNumberedAndLeftoversCleaned) {
  Value one = callv("talven-file-create", {kNil, str("ABCD"), str("TEXT"), kNil, t(), t()});
  Value two = callv("talven-file-create", {kNil, str("ABCD"), str("TEXT"), kNil, t(), t()});
  std::string dir = temp_folder();
  EXPECT_EQ(storage::posix_of(one), dir + "/talven1.tmp");
  EXPECT_EQ(storage::posix_of(two), dir + "/talven2.tmp");
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(text(callv("file-get-type", {one})), "TEXT");
  callv("file-remove", {one, kNil});
  Value again = callv("talven-file-create", {kNil, kNil, kNil, kNil, t(), t()});
  EXPECT_EQ(storage::posix_of(again), dir + "/talven1.tmp");
  // While this machine runs, a second one making a temporary file in the
  // same folder removes nothing; once this one is gone, the first
  // temporary file of a new machine comes after removing what nobody holds
  // (a start-up alone removes nothing).
  std::ofstream(dir + "/talven9.tmp") << "held";
  int held = open((dir + "/talven9.tmp").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_SH), 0);
  {
    auto second = make_runtime(prefs(), preferred());
    Value third = callv("talven-file-create", {kNil, kNil, kNil, kNil, t(), t()});
    EXPECT_EQ(storage::posix_of(third), dir + "/talven3.tmp");
    EXPECT_TRUE(exists(dir + "/talven2.tmp"));
  }
  RuntimeScope scope(*machine_);
  machine_.reset();
  machine_ = make_runtime(prefs(), preferred());
  EXPECT_TRUE(exists(dir + "/talven2.tmp"));
  Value fresh = callv("talven-file-create", {kNil, kNil, kNil, kNil, t(), t()});
  EXPECT_EQ(storage::posix_of(fresh), dir + "/talven1.tmp");
  EXPECT_FALSE(exists(dir + "/talven2.tmp"));
  EXPECT_FALSE(exists(dir + "/talven3.tmp"));
  EXPECT_TRUE(exists(dir + "/talven9.tmp"));
  close(held);
}

TEST_F(Files, ATemporaryFolderOfSomeoneElseIsRefused) {
  std::string dir = temp_folder();
  std::filesystem::remove_all(dir);
  ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
  chmod(dir.c_str(), 0777);
  EXPECT_TRUE(callv("talven-file-create", {kNil, kNil, kNil, kNil, t(), t()}).is_nil());
}

TEST_F(Files, RenameNeverReplacesAndSparesOpenFiles) {
  std::string a = make_file("a.txt", "A"), b = make_file("b.txt", "B");
  EXPECT_FALSE(callv("file-rename", {path(a), str("b.txt")}).truthy());
  EXPECT_FALSE(callv("file-rename", {path(a), str("B.TXT")}).truthy());  // b.txt, in another case
  EXPECT_EQ(read_all(b), "B");
  Value f = callv("file-open", {path(a)});
  EXPECT_FALSE(callv("file-rename", {path(a), str("c.txt")}).truthy());
  EXPECT_EQ(error_of([&] { callv("file-remove", {path(a), kNil}); }), 38);
  EXPECT_FALSE(callv("file-remove", {path(a), t()}).truthy());
  callv("file-close", {f});
  EXPECT_TRUE(callv("file-rename", {path(a), str("c.txt")}).truthy());
  EXPECT_EQ(read_all(root_ + "/work/c.txt"), "A");
  EXPECT_TRUE(callv("file-rename", {path(root_ + "/work/c.txt"), str("C.txt")}).truthy());  // case only
  EXPECT_EQ(read_all(root_ + "/work/C.txt"), "A");
  EXPECT_TRUE(callv("file-remove", {path(root_ + "/work/c.TXT"), kNil}).truthy());
  EXPECT_EQ(error_of([&] { callv("file-remove", {path(a), kNil}); }), 31);
  EXPECT_TRUE(callv("file-remove", {path(a), t()}).is_nil());
}

TEST_F(Files, CopyingKeepsDataTimesAndItsOwnSource) {
  std::string big(700000, 'x');
  for (size_t i = 0; i < big.size(); i += 997) big[i] = char(i);
  std::string src = make_file("src.bin", big);
  Value stamp = make_integer(int32_t(3029529600u));
  EXPECT_TRUE(callv("file-set-modification-time", {path(src), stamp}).truthy());
  std::string dst = root_ + "/work/dst.bin";
  set_symbol_value(sym("chunks"), kNil);
  Value progress = lisp("(lambda (_n) (set! chunks (cons _n chunks)))");
  EXPECT_TRUE(callv("copy-file", {path(src), path(dst), progress}).truthy());
  EXPECT_EQ(read_all(dst), big);
  EXPECT_EQ(text(symbol_value(sym("chunks"))), "(175712 524288)");
  EXPECT_EQ(read_integer(callv("file-modification-time", {path(dst)})), read_integer(stamp));
  // Onto itself, spelled in another case: nothing is lost.
  EXPECT_TRUE(callv("copy-file", {path(src), path(root_ + "/work/SRC.BIN"), kNil}).truthy());
  EXPECT_EQ(read_all(src), big);
  // A progress callback that throws leaves the destination as it was and
  // no temporary file behind.
  std::ofstream(dst, std::ios::binary | std::ios::trunc) << "old";
  Value thrower = lisp("(lambda (_n) (throw (quote stop) _n))");
  Value caught = lisp_call("(lambda (_f _s _d) (catch (quote stop) (copy-file _s _d _f)))", {thrower, path(src), path(dst)});
  EXPECT_EQ(caught.fixnum(), 524288);
  EXPECT_EQ(read_all(dst), "old");
  EXPECT_EQ(text(callv("dir-files", {path(root_ + "/work"), kNil})), "(dst.bin src.bin)");
  EXPECT_EQ(error_of([&] { callv("copy-file", {path(root_ + "/work/none"), path(dst), kNil}); }), 31);
}

TEST_F(Files, TypeAndCreatorComeFromTheHeaderOrTheExtension) {
  std::string res = header_file("res.rsc", 0), db = header_file("base.db", 2), odd = header_file("odd.x", 1);
  struct Case {
    std::string file;
    const char* type;
    const char* creator;
  } cases[] = {
      {res, "RSty", "RScr"},
      {db, "DBty", "DBcr"},
      {odd, "TEXT", "????"},
      {make_file("p.PICT", "x"), "PICT", "????"},
      {make_file("m.mov", "x"), "MooV", "????"},
      {make_file("m.mv", "x"), "MooV", "????"},
      {make_file("t.txt", "x"), "TEXT", "????"},
      {make_file("none", "x"), "TEXT", "????"},
      {root_ + "/work/missing.pic", "PICT", "????"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(text(callv("file-get-type", {path(c.file)})), c.type) << c.file;
    EXPECT_EQ(text(callv("file-get-creator", {path(c.file)})), c.creator) << c.file;
  }
  // Peeking takes no reference number.
  for (int r = 1; r <= storage::kRefnumSlots; ++r) EXPECT_EQ(storage::refnum_file(r), nullptr);
  // Stores happen in resource files and databases only.
  EXPECT_TRUE(callv("file-set-type", {path(res), str("NEWT")}).truthy());
  EXPECT_TRUE(callv("file-set-creator", {path(db), str("NEWC")}).truthy());
  EXPECT_EQ(text(callv("file-get-type", {path(res)})), "NEWT");
  EXPECT_EQ(text(callv("file-get-creator", {path(db)})), "NEWC");
  EXPECT_EQ(read_all(db).substr(16, 4), "NEWC");
  std::string plain = make_file("pic.pi", "plain");
  EXPECT_TRUE(callv("file-set-type", {path(plain), str("TEXT")}).is_nil());
  EXPECT_EQ(text(callv("file-get-type", {path(plain)})), "PICT");
  EXPECT_EQ(read_all(plain), "plain");
  // Finder information: 8 bytes at a pointer, both ways.
  Value info = pointer(8);
  callv("get-finder-info", {path(res), info});
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data::pointer_bytes(info, 8)), 8), "NEWTRScr");
  std::memcpy(data::writable_pointer_bytes(info, 8), "AAAABBBB", 8);
  EXPECT_TRUE(callv("set-finder-info", {path(res), info}).truthy());
  EXPECT_EQ(read_all(res).substr(82, 8), "AAAABBBB");
  // A new resource file: the empty map, its codes, hidden unless visible.
  std::string made = root_ + "/work/new.rsc";
  EXPECT_EQ(text(callv("talven-file-create", {path(made), str("CRea"), str("TYpe"), t(), t(), kNil})), made);
  std::string bytes = read_all(made);
  ASSERT_EQ(bytes.size(), 286u);
  EXPECT_EQ(bytes.substr(82, 8), "TYpeCRea");
  EXPECT_EQ(bytes.substr(48, 8), std::string("\x07new.rsc", 8));
  EXPECT_EQ(bytes.substr(256, 16), bytes.substr(0, 16));
  EXPECT_EQ(text(callv("file-get-creator", {path(made)})), "CRea");
}

TEST_F(Files, InformationBlocksAndTimes) {
  std::string p = header_file("info.rsc", 0);
  Value stamp = make_integer(int32_t(3029529600u));
  EXPECT_TRUE(callv("file-set-modification-time", {path(p), stamp}).truthy());
  Value read_back = callv("file-modification-time", {path(p)});
  EXPECT_EQ(read_integer(read_back), read_integer(stamp));
  EXPECT_TRUE(callv("file-set-modification-time", {path(p), read_back}).truthy());
  EXPECT_EQ(read_integer(callv("file-modification-time", {path(p)})), read_integer(stamp));
  EXPECT_TRUE(callv("file-modification-time", {path(root_ + "/work/none")}).is_nil());
  EXPECT_TRUE(callv("file-creation-time", {path(root_ + "/work")}).is_nil());
  Value block = callv("get-file-info", {path(p)});
  uint8_t* b = data::writable_pointer_bytes(block, 40);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 8), "RStyRScr");
  uint64_t write_time;
  std::memcpy(&write_time, b + 32, 8);
  // 5 in the morning, UTC: clock seconds count from 1904 05:00.
  EXPECT_EQ(write_time, uint64_t(946684800 + 5 * 3600 + 11644473600LL) * 10000000u);
  // The block goes onto another file: codes and times.
  std::string q = header_file("copy.rsc", 0);
  EXPECT_TRUE(callv("set-file-info", {path(q), block}).truthy());
  EXPECT_EQ(read_integer(callv("file-modification-time", {path(q)})), read_integer(stamp));
  callv("dispose-file-info", {block});
  EXPECT_TRUE(callv("null-ptr?", {block}).truthy());
  std::string r = make_file("plain.txt", "x");
  EXPECT_TRUE(callv("copy-file-info", {path(p), path(r)}).truthy());
  EXPECT_EQ(read_integer(callv("file-modification-time", {path(r)})), read_integer(stamp));
}

TEST_F(Files, DirectoriesAndListing) {
  std::string work = root_ + "/work";
  EXPECT_TRUE(callv("create-dir", {path(work + "/Sub")}).truthy());
  EXPECT_FALSE(callv("create-dir", {path(work + "/Sub")}).truthy());
  callv("create-dir", {path(work + "/another")});
  make_file("b.TXT", "");
  make_file("a.txt", "");
  make_file("c.lsp", "");
  make_file("\xC3\xA9t\xC3\xA9.txt", "");
  EXPECT_EQ(text(callv("dir-files", {path(work), str("*.txt")})), "(a.txt b.TXT \xE9t\xE9.txt)");
  EXPECT_EQ(text(callv("dir-files", {path(work), kNil})), "(a.txt b.TXT c.lsp \xE9t\xE9.txt)");
  EXPECT_EQ(text(callv("dir-files", {path(work), str("?.*")})), "(a.txt b.TXT c.lsp)");
  EXPECT_EQ(text(callv("dir-subdirs", {path(work)})), "(another Sub)");
  EXPECT_TRUE(callv("dir-files", {path(work + "/none"), kNil}).is_nil());
  EXPECT_TRUE(callv("file-exists?", {path(work + "/A.TXT")}).truthy());
  EXPECT_FALSE(callv("file-exists?", {path(work + "/sub")}).truthy());
  EXPECT_TRUE(callv("remove-empty-dir", {path(work + "/SUB")}).truthy());
  EXPECT_FALSE(callv("remove-empty-dir", {path(work)}).truthy());
  // Visibility: a dot name, or the attribute where the file system keeps one.
  std::string dot = make_file(".hidden", "");
  EXPECT_TRUE(callv("file-get-visible?", {path(dot)}).is_nil());
  EXPECT_TRUE(callv("file-set-visible?", {path(dot), t()}).is_nil());
  std::string a = work + "/a.txt";
  EXPECT_TRUE(callv("file-get-visible?", {path(a)}).truthy());
  if (callv("file-set-visible?", {path(a), kNil}).truthy()) {
    EXPECT_TRUE(callv("file-get-visible?", {path(a)}).is_nil());
    EXPECT_TRUE(callv("file-set-visible?", {path(a), t()}).truthy());
    EXPECT_TRUE(callv("file-get-visible?", {path(a)}).truthy());
  }
  Value space = callv("volume-space", {str("Z:")});
  EXPECT_TRUE(is_integer(space));
  EXPECT_GE(read_integer(space), 0);
  EXPECT_EQ(error_of([&] { callv("volume-space", {str("Q:")}); }), 2);
}

TEST_F(Files, SettingsAreReplacedAtomically) {
  EXPECT_TRUE(storage::settings_write("QZ", "LastDir", "C:\\one"));
  EXPECT_TRUE(storage::settings_write("Other", "Key", "v"));
  EXPECT_TRUE(storage::settings_write("qz", "lastdir", "C:\\two"));
  EXPECT_TRUE(storage::settings_write("QZ", "Extra", "3"));
  std::string value;
  ASSERT_TRUE(storage::settings_read("Qz", "LASTDIR", value));
  EXPECT_EQ(value, "C:\\two");
  EXPECT_FALSE(storage::settings_read("Other", "LastDir", value));
  std::string ini = root_ + "/config/talven/TALVEN.INI";
  EXPECT_EQ(read_all(ini), "[QZ]\nlastdir=C:\\two\nExtra=3\n\n[Other]\nKey=v\n");
  struct stat st;
  ASSERT_EQ(stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Nothing but the file itself is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root_ + "/config/talven"), {}), 1);
  // What would break the file's lines is refused.
  EXPECT_FALSE(storage::settings_write("QZ", "LastDir", "C:\\x\n[Drives]\nC=/"));
  EXPECT_FALSE(storage::settings_write("QZ", "Last=Dir", "x"));
  EXPECT_FALSE(storage::settings_write("Q]Z", "LastDir", "x"));
  EXPECT_FALSE(storage::settings_write("QZ", "", "x"));
  // A folder that cannot be written: the old file stays whole.
  chmod((root_ + "/config/talven").c_str(), 0500);
  if (access((root_ + "/config/talven").c_str(), W_OK) != 0) {
    EXPECT_FALSE(storage::settings_write("QZ", "LastDir", "C:\\three"));
    EXPECT_EQ(read_all(ini), "[QZ]\nlastdir=C:\\two\nExtra=3\n\n[Other]\nKey=v\n");
  }
  chmod((root_ + "/config/talven").c_str(), 0700);
}

TEST_F(Files, ScriptedDialogsAnswerAndCancel) {
  std::string chosen = make_file("Chosen.txt", "x");
  std::string script = root_ + "/answers";
  std::ofstream(script) << chosen << "\nCANCEL\n" << root_ << "/work\n" << make_file("pic.pict", "") << "\n";
  setenv("TALVEN_DIALOG_SCRIPT", script.c_str(), 1);
  set_symbol_value(sym("got"), kNil);
  Value callback = lisp("(lambda (_p) (set! got _p))");
  EXPECT_TRUE(callv("talven-choose-file", {callback, kNil, kNil, kNil, str("Open"), str("Texts"), str("*.txt")})
                  .is_no_value());
  EXPECT_EQ(storage::posix_of(symbol_value(sym("got"))), chosen);
  std::string last;
  ASSERT_TRUE(storage::settings_read("QZ", "LastDir", last));
  EXPECT_EQ(storage::posix_path(last), root_ + "/work");
  Value r = lisp_call("(lambda (_f) (catch (quote cancel) (talven-choose-new-file _f \"Save\" \"x.txt\" () ()) (quote no)))",
                      {callback});
  EXPECT_TRUE(r.is_nil());
  callv("talven-choose-directory", {callback});
  EXPECT_EQ(storage::posix_of(symbol_value(sym("got"))), root_ + "/work");
  // A file of another type: no call.
  set_symbol_value(sym("got"), kNil);
  callv("talven-choose-file", {callback, list({str("TEXT"), str("MooV")}), kNil, kNil, kNil, kNil, kNil});
  EXPECT_TRUE(symbol_value(sym("got")).is_nil());
  // Past the last answer every dialog is cancelled.
  EXPECT_EQ(error_of([&] { callv("talven-choose-directory", {callback}); }), 17);
}

TEST_F(Files, ZenityIsAskedWhenADisplayIsThere) {
  std::string bin = root_ + "/bin";
  std::filesystem::create_directory(bin);
  std::string args = root_ + "/args";
  std::ofstream(bin + "/zenity") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << args
                                 << "\n[ -f " << root_ << "/cancel ] && exit 1\necho /opt/caf\xC3\xA9/x.txt\n";
  chmod((bin + "/zenity").c_str(), 0755);
  std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin + ":" + saved_path).c_str(), 1);
  setenv("DISPLAY", ":99", 1);
  set_symbol_value(sym("got"), kNil);
  Value callback = lisp("(lambda (_p) (set! got _p))");
  callv("talven-choose-file",
        {callback, kNil, kNil, kNil, str("Open"), list({str("Texts"), str("All")}), list({str("*.txt;*.doc"), str("*.*")})});
  EXPECT_EQ(text(symbol_value(sym("got"))), "(Z: opt caf\xE9 x.txt)");
  EXPECT_EQ(read_all(args),
            "--file-selection\n--title=Open\n--filename=" + root_ + "/config/talven/\n"
            "--file-filter=Texts (*.txt;*.doc) | *.txt *.doc\n--file-filter=All (*.*) | *.*\n");
  // The next dialog opens where the last file was chosen.
  std::ofstream(root_ + "/cancel") << "";
  EXPECT_EQ(error_of([&] { callv("talven-choose-new-file", {callback, kNil, str("n\xE9.txt"), kNil, kNil}); }), 17);
  EXPECT_EQ(read_all(args), "--file-selection\n--save\n--confirm-overwrite\n--filename=/opt/caf\xC3\xA9/n\xC3\xA9.txt\n");
  setenv("PATH", saved_path.c_str(), 1);
  unsetenv("DISPLAY");
}

TEST_F(Files, ProgramItemsAreDesktopEntries) {
  EXPECT_TRUE(callv("add-program-group", {str("My Group")}).truthy());
  EXPECT_TRUE(callv("add-program-group", {str("../escape")}).is_nil());
  EXPECT_TRUE(callv("add-program-item", {path("/opt/app/run $x"), str("My Group"), str("Run")}).truthy());
  std::string entry = read_all(root_ + "/data/applications/My Group/Run.desktop");
  EXPECT_EQ(entry,
            "[Desktop Entry]\nType=Application\nName=Run\nExec=\"/opt/app/run \\\\$x\"\nPath=/opt/app\n");
}

}  // namespace
}  // namespace core::testing
