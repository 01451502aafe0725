// The resource manager through its primitives: the chain and search order,
// ownership of handles, the refusals that keep changed data, the error
// mapping, and the crash loop over writeresource, updateresfile and
// closeresfile.
#include "storage/resources.hpp"

#include <unistd.h>

#include <cstring>
#include <memory>

#include "core/errors.hpp"
#include "data/handles.hpp"
#include "core/bytes.hpp"
#include "storage/resfile.hpp"
#include "tests/data/calls.hpp"
#include "tests/storage/crash_loop.hpp"
#include "tests/storage/handle_data.hpp"
#include "tests/storage/rsrc_files.hpp"

namespace core::testing {
namespace {
using namespace storage;
using rsrc_testing::Scratch;
using rsrc_testing::slurp;
using rsrc_testing::spit;

class Resources : public NativeCallTest, public Scratch {
 protected:
  int err() { return call("reserror").fixnum(); }
  int32_t num(Value v) { return read_integer(v); }
  // A new resource file with (type, id, name, data) rows, closed.
  std::string make_file(const std::string& name, std::initializer_list<std::tuple<const char*, int, const char*, std::string>> rows) {
    std::string file = path(name);
    EXPECT_EQ(ResFile::create(file), 0);
    Value ref = call("openresfile", str(file.c_str()));
    for (auto& [type, id, nm, bytes] : rows) call("addresource", handle_with(bytes), str(type), fix(id), str(nm));
    call("closeresfile", ref);
    return file;
  }
};

TEST_F(Resources, GoldenFileThroughThePrimitives) {
  std::string file = make_file("golden.rsrc", {{"TEST", 128, "name1", "Hello"},
                                               {"TEST", 129, "name2", "World"},
                                               {"test", 130, "name3", "How are you?"}});
  std::vector<uint8_t> b = slurp(file);
  ASSERT_EQ(b.size(), 390u);
  EXPECT_EQ(load_be32(&b[4]), 0x122u);
  Value ref = call("openresfile", str(file.c_str()));
  EXPECT_EQ(err(), 0);
  EXPECT_EQ(num(call("curresfile")), num(ref));
  EXPECT_EQ(num(call("count1types")), 2);
  EXPECT_EQ(text(call("get1indtype", fix(2))), "test");
  EXPECT_EQ(num(call("count1resources", str("TEST"))), 2);
  Value r = call("get1resource", str("test"), fix(130));
  EXPECT_EQ(text(call("getresname", r)), "name3");
  EXPECT_EQ(num(call("sizeresource", r)), 12);
  EXPECT_EQ(bytes_of(r), "How are you?");
  EXPECT_EQ(num(call("get-handle-size", r)), 12);  // a resource is its data's handle
  EXPECT_EQ(num(call("getresid", call("getresource", str("TEST"), str("name2")))), 129);
  EXPECT_EQ(num(call("homeresfile", r)), num(ref));
  call("closeresfile", ref);
  EXPECT_EQ(num(call("curresfile")), 0);
  EXPECT_EQ(slurp(file), b);  // closing an unchanged file writes nothing
}

TEST_F(Resources, ChainSearchOrderAndCounts) {
  std::string older = make_file("older.rsrc", {{"STR ", 1, "", "old one"}, {"STR ", 2, "", "old two"}});
  std::string newer = make_file("newer.rsrc", {{"STR ", 1, "", "new one"}, {"PICT", 5, "", "pic"}});
  Value a = call("openresfile", str(older.c_str()));
  Value b = call("openresfile", str(newer.c_str()));
  EXPECT_EQ(bytes_of(call("getresource", str("STR "), fix(1))), "new one");
  EXPECT_EQ(bytes_of(call("getresource", str("STR "), fix(2))), "old two");
  EXPECT_EQ(num(call("countresources", str("STR "))), 3);
  // Indexes run over all files, newest first.
  EXPECT_EQ(bytes_of(call("getindresource", str("STR "), fix(1))), "new one");
  EXPECT_EQ(bytes_of(call("getindresource", str("STR "), fix(3))), "old two");
  call("getindresource", str("STR "), fix(4));
  EXPECT_EQ(err(), kResNotFound);
  call("getindresource", str("STR "), fix(0));
  EXPECT_EQ(err(), 0);
  // With the older file current the newer one is not searched.
  call("useresfile", a);
  EXPECT_EQ(bytes_of(call("getresource", str("STR "), fix(1))), "old one");
  EXPECT_EQ(box_addr(call("getpicture", fix(5))), 0u);
  EXPECT_EQ(err(), kResNotFound);
  call("useresfile", fix(0));
  EXPECT_EQ(box_addr(call("getresource", str("STR "), fix(1))), 0u);
  EXPECT_EQ(err(), kResNotFound);
  // The same file under another spelling or through a link is the same file.
  std::string link = path("link.rsrc");
  ASSERT_EQ(symlink(newer.c_str(), link.c_str()), 0);
  EXPECT_EQ(num(call("openresfile", str(link.c_str()))), num(b));
  EXPECT_EQ(num(call("openresfile", str((dir + "/./newer.rsrc").c_str()))), num(b));
  EXPECT_TRUE(call("openrf?", str(link.c_str())) == t());
  // Closing the current file makes the next older one current.
  call("useresfile", b);
  call("closeresfile", b);
  EXPECT_EQ(num(call("curresfile")), num(a));
  EXPECT_EQ(num(call("countresources", str("STR "))), 2);
  EXPECT_EQ(error_in([&] { call("closeresfile", b); }), 36);
  EXPECT_EQ(text(rt().last_error.culprit), "-193");
  call("closeresfile", a);
  EXPECT_TRUE(call("resource-fork-exists?", str(older.c_str())) == t());
  EXPECT_TRUE(call("resource-fork-exists?", str(path("nothing").c_str())) == kNil);
  EXPECT_EQ(num(call("openresfile", str(path("nothing").c_str()))), -1);
  EXPECT_EQ(err(), kResBadFile);
}

TEST_F(Resources, EditsAndUniqueIds) {
  std::string file = make_file("edit.rsrc", {{"TEST", 128, "first", "1"}, {"TEST", 129, "", "22"}});
  Value ref = call("openresfile", str(file.c_str()));
  EXPECT_EQ(num(call("uniqueid", str("TEST"))), 130);
  EXPECT_EQ(num(call("unique1id", str("TEST"))), 131);
  EXPECT_EQ(num(call("uniqueid", str("NONE"))), 128);
  Value r = call("getresource", str("TEST"), fix(129));
  call("setresinfo", r, fix(7), str("a much longer name than before"));
  Value gone = call("getresource", str("TEST"), fix(128));
  call("rmveresource", gone);
  EXPECT_EQ(box_kind(gone), kBoxHandle);
  EXPECT_EQ(bytes_of(gone), "1");  // the handle now belongs to the value
  call("addresource", handle_with("three"), str("NEW "), fix(3), kNil);
  call("updateresfile", ref);
  call("closeresfile", ref);
  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(file, f), 0);
  std::string listing;
  list_fork(*f, listing);
  EXPECT_NE(listing.find("\nTEST\t7\ta much longer name than before\t0x00\t2\t"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("first"), std::string::npos);
  EXPECT_EQ(f->map.types.size(), 2u);
  EXPECT_EQ(find_ref(f->map, fourcc("NEW "), 3)->named, false);

  // IDs never wrap into negative numbers.
  ref = call("openresfile", str(file.c_str()));
  call("addresource", handle_with("x"), str("WRAP"), fix(32767), kNil);
  call("uniqueid", str("WRAP"));
  for (int i = 0; i < 32767 - 128 - 1; ++i) call("uniqueid", str("WRAP"));
  int32_t last = num(call("uniqueid", str("WRAP")));
  EXPECT_EQ(last, 128);
  call("closeresfile", ref);
}

TEST_F(Resources, ChangedDataIsNeverLostOrShared) {
  std::string file = make_file("keep.rsrc", {{"TEST", 1, "", "one"}, {"PROT", 2, "", "two"}});
  Value ref = call("openresfile", str(file.c_str()));
  Value r = call("getresource", str("TEST"), fix(1));
  call("setresattrs", r, fix(kResPurgeable));
  call("changedresource", r);
  EXPECT_EQ(num(call("getresattrs", r)), kResChanged);  // purgeable cleared
  call("releaseresource", r);
  EXPECT_EQ(err(), kResAttrErr);
  call("detachresource", r);
  EXPECT_EQ(err(), kResAttrErr);
  EXPECT_EQ(box_kind(r), kResourceBox);
  EXPECT_EQ(bytes_of(r), "one");
  // A handle owned by a resource cannot be added again, under any type.
  EXPECT_EQ(error_in([&] { call("addresource", r, str("OTHR"), fix(9), kNil); }), 36);
  Value plain = handle_with("p");
  uint32_t h = box_addr(plain);
  call("addresource", plain, str("OTHR"), fix(9), kNil);
  Value copy = data::box_handle(h);
  EXPECT_EQ(error_in([&] { call("addresource", copy, str("MORE"), fix(9), kNil); }), 36);
  EXPECT_EQ(text(rt().last_error.culprit), "-194");
  // A protected resource keeps its ID and name.
  Value p = call("getresource", str("PROT"), fix(2));
  call("setresattrs", p, fix(kResProtected));
  call("setresinfo", p, fix(3), str("new"));
  EXPECT_EQ(err(), kResAttrErr);
  EXPECT_EQ(num(call("getresid", p)), 2);
  EXPECT_EQ(error_in([&] { call("rmveresource", p); }), 36);
  // Unchanged data can be released and comes back.
  call("setresattrs", p, fix(0));
  call("releaseresource", p);
  EXPECT_EQ(err(), 0);
  EXPECT_EQ(bytes_of(call("getresource", str("PROT"), fix(2))), "two");
  call("writeresource", r);
  call("closeresfile", ref);
  ref = call("openresfile", str(file.c_str()));
  EXPECT_EQ(bytes_of(call("getresource", str("OTHR"), fix(9))), "p");
  EXPECT_EQ(num(call("getresattrs", call("getresource", str("PROT"), fix(2)))), 0);
  call("closeresfile", ref);
}

TEST_F(Resources, UpdateKeepsOldDataOfAChangedResourceWithoutData) {
  std::string file = make_file("lost.rsrc", {{"TEST", 1, "", "precious"}, {"TEST", 2, "", "two"}});
  Value ref = call("openresfile", str(file.c_str()));
  Value r = call("getresource", str("TEST"), fix(1));
  call("changedresource", r);
  Value other = call("getresource", str("TEST"), fix(2));
  call("setresinfo", other, fix(3), str("renamed"));
  data::dispose_handle(box_addr(r));  // behind the manager's back
  EXPECT_EQ(error_in([&] { call("updateresfile", ref); }), 36);
  EXPECT_EQ(text(rt().last_error.culprit), "-36");
  EXPECT_EQ(error_in([&] { call("closeresfile", ref); }), 36);
  ref = call("openresfile", str(file.c_str()));
  EXPECT_EQ(bytes_of(call("getresource", str("TEST"), fix(1))), "precious");
  EXPECT_EQ(text(call("getresname", call("getresource", str("TEST"), fix(3)))), "renamed");
  call("closeresfile", ref);
}

TEST_F(Resources, TheFormatsLimitsRefuseAdditions) {
  std::string file = make_file("names.rsrc", {});
  Value ref = call("openresfile", str(file.c_str()));
  std::string name(300, 'n');
  int added = 0;
  while (added < 400 && error_in([&] { call("addresource", handle_with(""), str("NAME"), fix(added), str(name.c_str())); }) < 0)
    ++added;
  // Each name takes 256 bytes of a name list that offsets of 16 bits reach.
  EXPECT_EQ(added, 255);
  EXPECT_EQ(text(rt().last_error.culprit), "-194");
  EXPECT_EQ(text(call("getresname", call("getresource", str("NAME"), fix(0)))).size(), 255u);
  call("closeresfile", ref);
  EXPECT_EQ(err(), 0);
  std::unique_ptr<ResFile> f;
  ASSERT_EQ(ResFile::open(file, f), 0);
  EXPECT_EQ(f->map.types[0].refs.size(), 255u);
}

TEST_F(Resources, ReadOnlyWrappedFilesRefuseEdits) {
  std::string file = make_file("inner.rsrc", {{"TEST", 1, "", "one"}});
  std::vector<uint8_t> fork = slurp(file);
  // An AppleDouble file holding the fork as entry 2.
  std::vector<uint8_t> ad(26 + 12, 0);
  store_be32(&ad[0], 0x00051607);
  store_be32(&ad[4], 0x00020000);
  store_be16(&ad[24], 1);
  store_be32(&ad[26], 2);
  store_be32(&ad[30], 38);
  store_be32(&ad[34], uint32_t(fork.size()));
  ad.insert(ad.end(), fork.begin(), fork.end());
  std::string wrapped = path("._inner");
  spit(wrapped, ad);
  Value ref = call("openresfile", str(wrapped.c_str()));
  Value r = call("getresource", str("TEST"), fix(1));
  EXPECT_EQ(bytes_of(r), "one");
  call("changedresource", r);
  EXPECT_EQ(err(), kResReadOnly);
  call("setresinfo", r, fix(5), kNil);
  EXPECT_EQ(err(), kResReadOnly);
  EXPECT_EQ(error_in([&] { call("addresource", handle_with("x"), str("NEW "), fix(1), kNil); }), 36);
  EXPECT_EQ(error_in([&] { call("rmveresource", r); }), 36);
  call("closeresfile", ref);
  EXPECT_EQ(err(), 0);
  EXPECT_EQ(slurp(wrapped), ad);
}

TEST_F(Resources, DamagedDataAndStringHelpers) {
  // STR# 1 claims 3 strings and holds 2; STR# 2 is cut inside a string.
  std::string list1 = std::string("\0\3\3one\3two", 10), list2 = std::string("\0\2\5ab", 5);
  std::string pats = std::string("\0\2", 2) + "ABCDEFGH" + "IJKLMNOP";
  std::string file = make_file("str.rsrc", {{"STR#", 1, "", list1}, {"STR#", 2, "", list2}, {"STR ", 3, "", "\5hello"},
                                            {"PAT#", 4, "", pats}});
  Value ref = call("openresfile", str(file.c_str()));
  EXPECT_EQ(text(call("get-ind-string", fix(1), fix(2))), "two");
  EXPECT_EQ(text(call("get-ind-string", fix(1), fix(3))), "");
  EXPECT_EQ(text(call("get-ind-string", fix(1), fix(0))), "");
  EXPECT_EQ(text(call("get-ind-string", fix(2), fix(1))), "");
  EXPECT_EQ(text(call("get-ind-string", fix(9), fix(1))), "");
  EXPECT_EQ(num(call("get-nb-string", fix(1))), 3);
  EXPECT_EQ(num(call("get-nb-string", fix(9))), 0);
  EXPECT_EQ(num(call("get-strings-count", call("getresource", str("STR#"), fix(2)))), 2);
  std::string s;
  EXPECT_TRUE(string_resource(3, s));
  EXPECT_EQ(s, "hello");
  uint8_t pat[8] = {};
  EXPECT_TRUE(pattern(4, 2, pat));
  EXPECT_EQ(std::string(pat, pat + 8), "IJKLMNOP");
  EXPECT_FALSE(pattern(4, 3, pat));
  EXPECT_EQ(std::string(pat, pat + 8), "IJKLMNOP");
  EXPECT_TRUE(pattern(0, 4, pat));
  EXPECT_EQ(pat[0], 0xAA);
  EXPECT_EQ(pat[1], 0x55);
  EXPECT_FALSE(pattern(0, 2, pat));
  call("closeresfile", ref);

  // A data length running past the data area: -36 at load, file unchanged.
  std::vector<uint8_t> b = slurp(file);
  store_be32(&b[256], 0x10000);
  spit(file, b);
  ref = call("openresfile", str(file.c_str()));
  EXPECT_EQ(box_addr(call("getresource", str("STR#"), fix(1))), 0u);
  EXPECT_EQ(err(), kResReadErr);
  call("closeresfile", ref);
  EXPECT_EQ(slurp(file), b);

  // Help indexes: 4-byte field, length, name, padded to even.
  std::string help = std::string("\0\0\0\1\3abc", 8) + std::string("\0\0\0\2\2xy\0", 8) + std::string("\0\0\0\3\7cut", 8);
  Value h = handle_with(help);
  EXPECT_EQ(num(call("help-get-offset", h, fix(2))), 16);
  EXPECT_EQ(num(call("help-get-offset", h, fix(9))), 16);  // the cut entry ends the walk
  EXPECT_EQ(num(call("help-get-no", h, fix(9))), 2);
  EXPECT_EQ(num(call("help-get-no", h, fix(8))), 1);
  EXPECT_EQ(text(call("help-get-all-name", h)), "(abc xy)");
}

// The crash loop: a child process dies at the n-th write of a sequence of
// writeresource, updateresfile and closeresfile; a fresh open then finds
// one of the states between the calls, never a damaged file.
TEST_F(Resources, CrashLoopOverTheWritingPrimitives) {
  std::string pristine = make_file("base.rsrc", {{"TEST", 128, "a", "Hello"}, {"TEST", 129, "b", "World"}});
  std::string file = path("crash.rsrc");
  auto listing = [&](int& code) {
    std::unique_ptr<ResFile> f;
    code = ResFile::open(file, f);
    std::string l;
    if (code == 0) code = list_fork(*f, l);
    return l;
  };
  auto sequence = [&](std::vector<std::string>* states) {
    int code = 0;
    Value ref = call("openresfile", str(file.c_str()));
    Value r = call("getresource", str("TEST"), fix(129));
    data::set_handle_size(box_addr(r), 40);
    std::memcpy(rt().region.ptr(data::handle_memory(box_addr(r))), "World, and a good deal more of it, at 40", 40);
    call("changedresource", r);
    call("writeresource", r);
    if (states) states->push_back(listing(code));
    call("addresource", handle_with("added"), str("MORE"), fix(1), str("new"));
    call("updateresfile", ref);
    if (states) states->push_back(listing(code));
    Value s = call("getresource", str("TEST"), fix(128));
    data::set_handle_size(box_addr(s), 2);
    call("changedresource", s);
    call("setresinfo", s, fix(128), str("renamed"));
    call("closeresfile", ref);
    if (states) states->push_back(listing(code));
  };
  spit(file, slurp(pristine));
  int code = 0;
  std::vector<std::string> states{listing(code)};
  sequence(&states);
  rsrc_testing::kill_at_every_write({
      .restore = [&] { spit(file, slurp(pristine)); },
      .run =
          [&] {
            sequence(nullptr);
            return true;
          },
      .state = listing,
      .states = states,
      .distinct = 4,
  });
  if (HasFatalFailure()) return;

  // A failing write is reported as Lisp error 46 and the file stays whole.
  spit(file, slurp(pristine));
  Value ref = call("openresfile", str(file.c_str()));
  Value r = call("getresource", str("TEST"), fix(129));
  data::set_handle_size(box_addr(r), 30);
  call("changedresource", r);
  set_write_fault(1, FaultMode::Fail);
  EXPECT_EQ(error_in([&] { call("writeresource", r); }), 46);
  clear_write_fault();
  EXPECT_EQ(listing(code), states[0]);
  EXPECT_EQ(num(call("getresattrs", r)) & kResChanged, kResChanged);
  call("closeresfile", ref);
  EXPECT_EQ(err(), 0);
}

}  // namespace
}  // namespace core::testing
