#include "storage/paths.hpp"

#include <fcntl.h>

#include <algorithm>

#include <filesystem>
#include <fstream>

#include "core/symbols.hpp"
#include "data/charsets.hpp"
#include "tests/storage/file_fixture.hpp"

namespace core::testing {
namespace {

using storage::pathname_text;
using storage::split_path_text;

class Paths : public FileTest {
 protected:
  std::string joined(Value v) { return pathname_text(v); }
  std::string split(std::string_view text) {
    std::string out;
    for (const std::string& c : split_path_text(text)) out += "[" + c + "]";
    return out;
  }
};

TEST_F(Paths, JoiningComponents) {
  Value app = sym("app-folder");
  set_symbol_value(app, list({str("C:"), str("app")}));
  struct Case {
    Value pathname;
    const char* text;
  } cases[] = {
      {list({str("C:"), str("dir"), str("f.txt")}), "C:\\dir\\f.txt"},
      {list({str("C:"), str("")}), "C:\\"},
      {list({str(""), str("dir"), str("f")}), "\\dir\\f"},
      {list({str("")}), "\\"},
      {list({str("C:"), list({str("a"), list({str("b")})}), str("c")}), "C:\\a\\b\\c"},
      {list({app, str("f.lsp")}), "C:\\app\\f.lsp"},
      {list({str("a"), kNil, str("b")}), "a\\b"},
      {list({str("a"), str(""), str("b")}), "a\\b"},
      {list({str("C:\\"), str("x")}), "C:\\x"},
      {str("dir\\"), "dir"},
      {str("C:\\"), "C:\\"},
      {str("/tmp/x"), "/tmp/x"},
      {kNil, ""},
      {app, "C:\\app"},
  };
  for (const Case& c : cases) EXPECT_EQ(joined(c.pathname), c.text) << text(c.pathname);
}

TEST_F(Paths, WhatIsNotAPathname) {
  Value self = sym("self-bound");
  set_symbol_value(self, self);
  Value cycle = list({str("a"), str("b")});
  set_cdr(cdr(cycle), cycle);
  EXPECT_EQ(error_of([&] { joined(sym("never-bound")); }), 6);
  EXPECT_EQ(error_of([&] { joined(fix(3)); }), 2);
  EXPECT_EQ(error_of([&] { joined(cons(str("a"), str("b"))); }), 2);
  EXPECT_EQ(error_of([&] { joined(self); }), 2);
  EXPECT_EQ(error_of([&] { joined(cycle); }), 2);
  // 255 characters convert, 256 do not, a trailing backslash aside.
  std::string long_name(252, 'x');
  EXPECT_EQ(joined(list({str("C:"), str(long_name.c_str())})).size(), 255u);
  EXPECT_EQ(error_of([&] { joined(list({str("C:"), str((long_name + "y").c_str())})); }), 2);
  EXPECT_EQ(joined(list({str("C:"), str(long_name.c_str()), str("")})).size(), 255u);
}

TEST_F(Paths, SplittingTexts) {
  struct Case {
    const char* text;
    const char* parts;
  } cases[] = {
      {"C:\\", "[C:]"},
      {"C:", "[C:]"},
      {"C:\\dir\\f.txt", "[C:][dir][f.txt]"},
      {"C:dir\\f", "[C:][dir][f]"},
      {"\\dir\\f", "[][dir][f]"},
      {"\\", "[]"},
      {"dir\\\\f", "[dir][][f]"},
      {"dir\\", "[dir]"},
      {"a/b", "[a][b]"},
      {"", ""},
      {"/opt/app/x", "[Z:][opt][app][x]"},
      {"/", "[Z:]"},
  };
  for (const Case& c : cases) EXPECT_EQ(split(c.text), c.parts) << c.text;
}

TEST_F(Paths, TextsRoundTripThroughTheirLists) {
  for (const char* t : {"C:\\dir\\f.txt", "\\dir\\f", "\\", "dir\\f", "Z:\\opt\\app\\x"}) {
    Value l = storage::path_text_list(t);
    EXPECT_EQ(joined(l), t);
  }
  EXPECT_EQ(joined(storage::path_text_list("/opt/app/x")), "Z:\\opt\\app\\x");
}

TEST_F(Paths, DrivesMapBothWays) {
  std::string home = root_ + "/home";
  EXPECT_EQ(storage::posix_path_as_written("C:\\docs\\a.txt"), home + "/docs/a.txt");
  EXPECT_EQ(storage::posix_path_as_written("C:"), home);
  EXPECT_EQ(storage::posix_path_as_written("Z:\\opt\\x"), "/opt/x");
  EXPECT_EQ(storage::posix_path_as_written("z:/opt//x/"), "/opt/x");
  EXPECT_EQ(storage::posix_path_as_written("\\etc\\passwd"), "/etc/passwd");
  EXPECT_EQ(storage::posix_path_as_written("rel\\x"), "rel/x");
  EXPECT_EQ(storage::posix_path_as_written("Q:\\x"), "");  // no such drive
  EXPECT_EQ(storage::text_of_posix(home + "/docs"), "C:\\docs");
  EXPECT_EQ(storage::text_of_posix(home), "C:\\");
  // A folder that only starts with the home's letters is not on C:.
  std::string beside = "Z:" + root_ + "/homex";
  std::replace(beside.begin(), beside.end(), '/', '\\');
  EXPECT_EQ(storage::text_of_posix(home + "x"), beside);
  EXPECT_EQ(storage::text_of_posix("/opt/app/x"), "Z:\\opt\\app\\x");
  EXPECT_EQ(storage::text_of_posix("/"), "Z:\\");
  EXPECT_EQ(storage::text_of_posix("rel/x"), "rel\\x");
}

TEST_F(Paths, TheSettingsFileRemapsDrives) {
  std::filesystem::create_directories(root_ + "/config/talven");
  std::ofstream(root_ + "/config/talven/TALVEN.INI") << "[drives]\nd=" << root_ << "/work\nC=\n";
  storage::load_drive_table();
  EXPECT_EQ(storage::posix_path_as_written("D:\\x"), root_ + "/work/x");
  EXPECT_EQ(storage::posix_path_as_written("C:\\x"), "");
  EXPECT_EQ(storage::text_of_posix(root_ + "/work/x"), "D:\\x");
}

TEST_F(Paths, MissesResolveWithoutRegardToCase) {
  std::filesystem::create_directories(root_ + "/home/Docs/Sub");
  std::ofstream(root_ + "/home/Docs/ReadMe.TXT") << "x";
  std::string home = root_ + "/home";
  EXPECT_EQ(storage::posix_path("C:\\DOCS\\readme.txt"), home + "/Docs/ReadMe.TXT");
  EXPECT_EQ(storage::posix_path("c:\\docs\\sub"), home + "/Docs/Sub");
  // What is missing keeps the case it was given.
  EXPECT_EQ(storage::posix_path("C:\\docs\\New File.txt"), home + "/Docs/New File.txt");
  EXPECT_EQ(storage::posix_path("C:\\nowhere\\docs"), home + "/nowhere/docs");
  // An exact match wins over a match in another case.
  std::ofstream(root_ + "/home/Docs/readme.txt") << "y";
  EXPECT_EQ(storage::posix_path("C:\\Docs\\readme.txt"), home + "/Docs/readme.txt");
  EXPECT_EQ(storage::posix_path("C:\\Docs\\README.TXT"), home + "/Docs/ReadMe.TXT");
}

TEST_F(Paths, NamesAreCodePage1252InsideAndUtf8OnDisk) {
  std::string home = root_ + "/home";
  std::ofstream(home + "/caf\xC3\xA9.txt") << "x";
  EXPECT_EQ(storage::posix_path("C:\\caf\xE9.txt"), home + "/caf\xC3\xA9.txt");
  EXPECT_EQ(storage::posix_path("C:\\CAF\xC9.TXT"), home + "/caf\xC3\xA9.txt");
  EXPECT_EQ(storage::text_of_posix(home + "/caf\xC3\xA9.txt"), "C:\\caf\xE9.txt");
  // The euro sign is 0x80 inside and three bytes outside.
  EXPECT_EQ(storage::name_to_utf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(storage::name_from_utf8("\xE2\x82\xAC"), "\x80");
  // A name that is not UTF-8 keeps its bytes, and still resolves.
  std::ofstream(home + "/\xE9t\xE9") << "latin";
  EXPECT_EQ(storage::text_of_posix(home + "/\xE9t\xE9"), "C:\\\xE9t\xE9");
  EXPECT_EQ(storage::posix_path("C:\\\xE9t\xE9"), home + "/\xE9t\xE9");
  // So does one with a character the code page lacks.
  std::string kana = "\xE3\x81\x82";
  std::ofstream(home + "/" + kana) << "kana";
  EXPECT_EQ(storage::name_from_utf8(kana), kana);
  EXPECT_EQ(storage::posix_path("C:\\" + kana), home + "/" + kana);
}

TEST_F(Paths, PathnameFunctions) {
  Value p = list({str("C:"), str("dir"), str("sub"), str("f.txt")});
  EXPECT_EQ(text(callv("make-pathname", {p})), "(C: (dir sub) f.txt)");
  EXPECT_EQ(text(callv("make-pathname", {str("f.txt")})), "( () f.txt)");
  EXPECT_EQ(text(callv("pathname-name", {p})), "f.txt");
  EXPECT_EQ(text(callv("pathname-directory", {p})), "(C: dir sub)");
  EXPECT_EQ(text(callv("pathname-volume", {list({list({str("C:"), str("x")}), str("y")})})), "C:");
  EXPECT_TRUE(callv("pathname=?", {p, str("c:\\DIR\\sub\\F.TXT")}).truthy());
  EXPECT_FALSE(callv("pathname=?", {p, str("c:\\dir\\f.txt")}).truthy());
  EXPECT_TRUE(callv("pathname-inclusion", {list({str("c:"), str("DIR")}), p}).truthy());
  EXPECT_FALSE(callv("pathname-inclusion", {p, list({str("c:"), str("DIR")})}).truthy());
  EXPECT_TRUE(callv("resource-pathname?", {fix(3)}).truthy());
  EXPECT_FALSE(callv("resource-pathname?", {p}).truthy());
  // The runtime's folders: the executable's, as it is spelled on disk.
  Value dir = symbol_value(find_symbol("talven-dir"));
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string posix(exe, size_t(n));
  EXPECT_EQ(storage::posix_path(joined(dir)), posix.substr(0, posix.rfind('/')));
  EXPECT_EQ(storage::posix_path(joined(symbol_value(find_symbol("system-dir")))), root_ + "/config/talven");
}

}  // namespace
}  // namespace core::testing
