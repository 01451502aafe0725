// The start-up's own pieces from native code: the application file's name
// and preferences read from raw bytes (short and damaged ones included),
// the frame's layout on the screen, the one clock (the frame's, virtual
// when headless), the splash sequence on it (across the 32-bit wrap) with
// what it draws, and the orderly shutdown's order, re-entry and dropped
// exits.
#include <cstring>
#include <stdexcept>

#include "core/alert.hpp"
#include "core/clock.hpp"
#include "core/errors.hpp"
#include "media/frame.hpp"
#include "process/processes.hpp"
#include "shell/appfile.hpp"
#include "shell/start.hpp"
#include "storage/resources.hpp"
#include "tests/data/calls.hpp"
#include "tests/storage/rsrc_files.hpp"

namespace core::testing {
namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void put32(Bytes& b, uint32_t v) {
  put16(b, v >> 16);
  put16(b, v & 0xFFFF);
}

struct Res {
  const char* type;
  int16_t id;
  Bytes data;
};

// A resource file holding the resources, written the way the format lays
// them out: header, data blocks, map.
Bytes resource_file(const std::vector<Res>& resources) {
  Bytes data;
  std::vector<std::string> types;
  for (const Res& r : resources)
    if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
  Bytes type_list, refs;
  put16(type_list, uint32_t(types.size() - 1) & 0xFFFF);
  uint32_t first_ref = 2 + 8 * uint32_t(types.size());
  for (const std::string& t : types) {
    uint32_t count = 0, at = first_ref + uint32_t(refs.size());
    for (const Res& r : resources) {
      if (t != r.type) continue;
      ++count;
      put16(refs, uint16_t(r.id));
      put16(refs, 0xFFFF);
      refs.push_back(0);
      uint32_t offset = uint32_t(data.size());
      refs.push_back(uint8_t(offset >> 16)), refs.push_back(uint8_t(offset >> 8)), refs.push_back(uint8_t(offset));
      put32(refs, 0);
      put32(data, uint32_t(r.data.size()));
      data.insert(data.end(), r.data.begin(), r.data.end());
    }
    type_list.insert(type_list.end(), t.begin(), t.end());
    put16(type_list, count - 1);
    put16(type_list, at);
  }
  Bytes map(16 + 6, 0);
  put16(map, 0);
  put16(map, 28);
  put16(map, 28 + uint32_t(type_list.size() + refs.size()));
  map.insert(map.end(), type_list.begin(), type_list.end());
  map.insert(map.end(), refs.begin(), refs.end());
  Bytes header;
  put32(header, 256);
  put32(header, 256 + uint32_t(data.size()));
  put32(header, uint32_t(data.size()));
  put32(header, uint32_t(map.size()));
  std::memcpy(map.data(), header.data(), 16);
  Bytes file = header;
  file.resize(256, 0);
  file.insert(file.end(), data.begin(), data.end());
  file.insert(file.end(), map.begin(), map.end());
  return file;
}

// A picture of version 1 that draws nothing, with its frame.
Bytes picture(int16_t top, int16_t left, int16_t bottom, int16_t right) {
  Bytes b;
  put16(b, 14);
  for (int16_t v : {top, left, bottom, right}) put16(b, uint16_t(v));
  b.insert(b.end(), {0x11, 0x01, 0xFF, 0x00});
  return b;
}

Bytes be16(uint32_t v) {
  Bytes b;
  put16(b, v);
  return b;
}

// ---- The application file -------------------------------------------------------------

TEST(AppFile, TheNameReplacesTheExtensionOfTheLastComponentOnly) {
  EXPECT_EQ(shell::application_path_for("/opt/games/game"), "/opt/games/game.RI");
  EXPECT_EQ(shell::application_path_for("/opt/games/game.bin"), "/opt/games/game.RI");
  EXPECT_EQ(shell::application_path_for("/opt/v1.2/game"), "/opt/v1.2/game.RI");
  EXPECT_EQ(shell::application_path_for("./a.b.c"), "./a.b.RI");
  EXPECT_EQ(shell::application_path_for("/x/.hidden"), "/x/.hidden.RI");
  EXPECT_EQ(shell::application_path_for("game."), "game.RI");
  EXPECT_EQ(shell::application_path_for("game"), "game.RI");
}

TEST(AppFile, Pref257IsReadByItsLength) {
  struct Case {
    Bytes pref;
    uint8_t flags;
    int language, width, height;
  };
  const Case cases[] = {
      {{}, 0, 0, 640, 480},
      {{9, 9}, 0, 0, 640, 480},
      {{9, 9, 0x81}, 0x81, 0, 640, 480},
      {{9, 9, 0x81, 2}, 0x81, 2, 640, 480},
      {{9, 9, 0x81, 2, 1, 0}, 0x81, 2, 640, 480},
      {{9, 9, 0x81, 2, 1, 0, 0}, 0x81, 2, 640, 480},
      {{9, 9, 0x81, 1, 0x01, 0x40, 0x00, 0xC8}, 0x81, 1, 320, 200},
      {{9, 9, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 7, 7}, 0, 0, 65535, 65535},
  };
  for (const Case& c : cases) {
    shell::AppPrefs p;
    p.flags = 0x55, p.language = 9;  // whatever was there before
    shell::apply_pref257(c.pref, p);
    EXPECT_EQ(p.flags, c.flags) << c.pref.size() << " bytes";
    EXPECT_EQ(p.language, c.language) << c.pref.size() << " bytes";
    EXPECT_EQ(p.width, c.width) << c.pref.size() << " bytes";
    EXPECT_EQ(p.height, c.height) << c.pref.size() << " bytes";
  }
  EXPECT_EQ(shell::pref258_title(Bytes{5, 'H', 'e', 'l', 'l', 'o', '!'}), "Hello");
  EXPECT_EQ(shell::pref258_title(Bytes{200, 'H', 'i'}), "Hi") << "a length past the end is clipped";
  EXPECT_EQ(shell::pref258_title(Bytes{}), "");
}

TEST(AppFile, ThePreferencesComeFromTheFileAndDefaultsFillTheRest) {
  Bytes vprf;
  for (uint32_t w : {1000u, 2000u, 300u, 40000u, 500000u, 6u, 7u, 8u, 9u}) put32(vprf, w);
  Bytes size{0, 0};
  put32(size, 12345678);
  Bytes file = resource_file({{"PREF", 258, {3, 'A', 'p', 'p'}},
                              {"PREF", 257, {0, 0, 0x04, 1, 0x03, 0x20, 0x02, 0x58}},
                              {"VPRF", 256, vprf},
                              {"SIZE", -1, size}});
  shell::AppPrefs p;
  ASSERT_TRUE(shell::read_app_prefs(file, p));
  EXPECT_TRUE(p.has_title);
  EXPECT_EQ(p.title, "App");
  EXPECT_EQ(p.flags, 0x04);
  EXPECT_EQ(p.language, 1);
  EXPECT_EQ(p.width, 800);
  EXPECT_EQ(p.height, 600);
  EXPECT_EQ(p.memory.symbol_slots, 1000u);
  EXPECT_EQ(p.memory.nodes, 40000u);
  EXPECT_EQ(p.memory.reserve_percent, 9u);
  EXPECT_EQ(p.preferred, 12345678u);

  // Absent, or too short to hold their words: the defaults.
  Bytes bare = resource_file({{"VPRF", 256, Bytes(35, 1)}, {"SIZE", -1, Bytes(5, 1)}});
  shell::AppPrefs d;
  ASSERT_TRUE(shell::read_app_prefs(bare, d));
  EXPECT_FALSE(d.has_title);
  EXPECT_EQ(d.flags, 0);
  EXPECT_EQ(d.width, 640);
  EXPECT_EQ(d.memory.nodes, default_prefs().nodes);
  EXPECT_EQ(d.preferred, kDefaultPreferred);

  // Not resource files: refused, never read outside their bytes.
  shell::AppPrefs x;
  EXPECT_FALSE(shell::read_app_prefs(Bytes{}, x));
  EXPECT_FALSE(shell::read_app_prefs(Bytes(300, 0), x));
  Bytes cut = file;
  cut.resize(file.size() - 5);
  EXPECT_FALSE(shell::read_app_prefs(cut, x));
  Bytes wild = file;
  wild[4] = 0x7F;  // the map far past the end
  EXPECT_FALSE(shell::read_app_prefs(wild, x));
}

TEST(AppFile, TheFrameFitsOrIsMaximisedFramedOrNot) {
  shell::AppPrefs p;
  auto layout = [&](int32_t w, int32_t h, uint8_t flags, gfx::Pt screen) {
    p.width = w, p.height = h, p.flags = flags;
    return shell::layout_frame(p, screen);
  };
  // Exactly fitting with its border and caption.
  shell::FrameLayout f = layout(1022, 752, 0, {1024, 768});
  EXPECT_EQ(f.client, (gfx::Pt{1022, 752}));
  EXPECT_TRUE(f.framed);
  EXPECT_FALSE(f.maximized);
  // One pixel too tall: framed and maximised.
  f = layout(1022, 753, 0, {1024, 768});
  EXPECT_TRUE(f.framed);
  EXPECT_TRUE(f.maximized);
  EXPECT_EQ(f.client, (gfx::Pt{1022, 752}));
  // Too big with flag 0x02: no frame, the whole screen.
  f = layout(2000, 100, shell::kFlagFramelessIfTooBig, {1024, 768});
  EXPECT_FALSE(f.framed);
  EXPECT_EQ(f.client, (gfx::Pt{1024, 768}));
  // Flag 0x02 on a frame that fits changes nothing.
  f = layout(100, 100, shell::kFlagFramelessIfTooBig | shell::kFlagTopmost | shell::kFlagMenuBar, {1024, 768});
  EXPECT_TRUE(f.framed);
  EXPECT_TRUE(f.topmost);
  EXPECT_TRUE(f.menu_bar);
  EXPECT_EQ(f.client, (gfx::Pt{100, 100}));
  // A zero size is one pixel, never an empty frame.
  f = layout(0, 0, 0, {1024, 768});
  EXPECT_EQ(f.client, (gfx::Pt{1, 1}));
}

TEST(AppFile, SplashFramesAndWaits) {
  EXPECT_EQ(shell::splash_frame(picture(10, 20, 110, 220)), (gfx::Rect{20, 10, 220, 110}));
  EXPECT_EQ(shell::splash_frame(picture(-5, -5, -5, -5)), (gfx::Rect{-5, -5, -5, -5})) << "empty, not inverted";
  EXPECT_FALSE(shell::splash_frame(picture(10, 0, 9, 5)));
  EXPECT_FALSE(shell::splash_frame(picture(0, 10, 5, 9)));
  EXPECT_FALSE(shell::splash_frame(Bytes{0, 14, 0, 0, 0, 0, 0, 5, 0}));
  EXPECT_FALSE(shell::wait_duration(Bytes{7}));
  EXPECT_EQ(shell::wait_duration(Bytes{0xFF, 0xFE, 1}), 65534u);
}

// ---- The splash and the shutdown in a machine ----------------------------------------------

class StartTest : public NativeCallTest, public rsrc_testing::Scratch {
 protected:
  void SetUp() override {
    NativeCallTest::SetUp();
    shell::shell_state().exit_process = [](int status) { throw Exited{status}; };
  }

  // A frame on a headless screen, its virtual clock reading `clock` (the
  // machine's clock from now on), and the application file open as the
  // current resource file.
  platform::HeadlessBackend& open(const std::vector<Res>& resources, platform::Tick clock = 0) {
    rsrc_testing::spit(path("app.RI"), resource_file(resources));
    EXPECT_GT(storage::open_resource_file(path("app.RI")), 0);
    auto backend = std::make_unique<platform::HeadlessBackend>(gfx::Pt{400, 300}, clock);
    platform::HeadlessBackend& b = *backend;
    shell::AppPrefs prefs;
    prefs.width = 200, prefs.height = 100;
    shell::open_frame(std::move(backend), prefs, "test");
    return b;
  }

  struct Exited {
    int status;
  };
};

TEST_F(StartTest, TheSplashSequenceFollowsItsWaitsAcrossTheClockWrap) {
  platform::HeadlessBackend& b = open({{"PICT", 501, picture(0, 0, 20, 40)},
                                       {"wait", 501, be16(200)},
                                       {"PICT", 502, picture(0, 0, 20, 40)},
                                       {"wait", 502, be16(300)},
                                       {"PICT", 503, picture(0, 0, 20, 40)}},
                                      0xFFFFFF00u);
  shell::open_splash();
  shell::Splash& sp = shell::shell_state().splash;
  ASSERT_NE(sp.window, 0u);
  platform::WindowSystem& ws = *media::frame_state().ws;
  EXPECT_EQ(ws.window_rect(sp.window), (gfx::Rect{79, 39, 121, 61})) << "centred, the picture plus 2 each way";
  EXPECT_TRUE(sp.armed);
  EXPECT_EQ(sp.duration, 200u);

  // The border is drawn on the frame that was shown.
  EXPECT_EQ(b.shown().pixel(79, 39) & 0xFFFFFF, 0u);
  EXPECT_EQ(b.shown().pixel(80, 40) & 0xFFFFFF, 0xFFFFFFu);

  b.advance(199);
  callv("test-wait-dlg", {});
  EXPECT_EQ(sp.current, 501) << "not yet";
  b.advance(1);  // past the wrap
  callv("test-wait-dlg", {});
  EXPECT_EQ(sp.current, 502);
  EXPECT_EQ(sp.duration, 300u);
  EXPECT_TRUE(sp.armed);

  // wait-boot-time sleeps out 502 on the frame's clock and stops at 503,
  // which has no wait.
  platform::Tick before = b.now();
  callv("wait-boot-time", {});
  EXPECT_EQ(sp.current, 503);
  EXPECT_FALSE(sp.armed);
  EXPECT_EQ(b.now() - before, 300u);
  platform::Handle window = sp.window;
  shell::close_splash();
  EXPECT_FALSE(ws.alive(window));
}

TEST_F(StartTest, NoSplashWithoutItsPictureOrWithAnInvertedFrame) {
  platform::HeadlessBackend& b =
      open({{"PICT", 501, picture(30, 0, 20, 40)}, {"wait", 501, be16(5000)}, {"PICT", 502, picture(0, 0, 2, 2)}});
  shell::open_splash();
  EXPECT_EQ(shell::shell_state().splash.window, 0u);
  callv("wait-boot-time", {});
  EXPECT_EQ(b.now(), 0u) << "returns at once";
}

TEST_F(StartTest, TheShutdownRunsItsStepsInOrderAndEndsWithTheStatus) {
  static std::vector<std::string> log;
  log.clear();
  open({});
  shell::add_shutdown_step(shell::kStepDatabases, "databases", [](int s) { log.push_back("db " + std::to_string(s)); });
  shell::add_shutdown_step(shell::kStepMovies, "movies", [](int) { log.push_back("movies"); });
  // A clean-up that quits again, one that throws, one that leaves a
  // pending exit: each ends its own step only.
  shell::add_shutdown_step(shell::kStepStyledText, "again", [](int) {
    log.push_back("again");
    shell::orderly_shutdown(9);
  });
  shell::add_shutdown_step(shell::kStepPrinting, "throws", [](int) {
    log.push_back("throws");
    throw_toplevel();
  });
  shell::add_shutdown_step(shell::kStepPrinting + 1, "pending", [](int) {
    rt().pending_tag = rt().sym.toplevel;
    log.push_back("pending");
  });
  shell::add_shutdown_step(shell::kStepFinal + 1, "last", [](int) {
    log.push_back(rt().pending_tag.is_no_value() ? "last, no pending exit" : "last, pending exit");
  });
  // A queued process goes with the processes step.
  callv("run-process", {callv("new-process", {sym("list"), sym("p"), fix(10), kNil, kNil, kNil})});
  ASSERT_NE(process::scheduler().head, nullptr);
  platform::HeadlessBackend& b = static_cast<platform::HeadlessBackend&>(*media::frame_state().backend);
  int status = -1;
  try {
    shell::orderly_shutdown(42);
  } catch (const Exited& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 42);
  EXPECT_EQ(log, (std::vector<std::string>{"movies", "again", "throws", "pending", "db 42", "last, no pending exit"}));
  EXPECT_EQ(process::scheduler().head, nullptr);
  EXPECT_FALSE(b.frame_open());
  EXPECT_TRUE(rt().modules_shut_down);
}

TEST_F(StartTest, QuitFromLispAndTheFrameItLeavesAsAPicture) {
  open({});
  media::frame_state().screenshot = path("frame.png");
  int status = -1;
  try {
    callv("quit", {});
  } catch (const Exited& e) {
    status = e.status;
  }
  EXPECT_EQ(status, 0);
  Bytes png = rsrc_testing::slurp(path("frame.png"));
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png[19], 200) << "the frame's width";
  EXPECT_EQ(png[23], 100) << "the frame's height";
}

TEST_F(StartTest, PrimitivesOfTheStartUp) {
  EXPECT_EQ(text(callv("desktop-frame-width", {})), "0") << "no frame yet";
  open({});
  EXPECT_EQ(text(list({callv("screen-width", {}), callv("screen-height", {}), callv("desktop-frame-width", {}),
                       callv("desktop-frame-height", {})})),
            "(400 300 200 100)");
  EXPECT_EQ(text(callv("get-menubar?", {})), "()");
  EXPECT_EQ(error_in([&] { callv("get-appl-creator", {}); }), 47);
  EXPECT_EQ(text(callv("debugger", {fix(5)})), "5");
  callv("set-language", {fix(1)});
  EXPECT_EQ(rt().ui_language, 1);
  callv("set-language", {fix(2)});
  EXPECT_EQ(rt().ui_language, 0) << "2 selects English";
  EXPECT_EQ(error_in([&] { callv("set-language", {str("fr")}); }), 2);
  EXPECT_EQ(text(callv("launch-application", {str("/nonexistent/program"), kNil})), "-1");
  EXPECT_EQ(text(callv("launch-application", {str(""), kNil})), "-1");
}

// Once the frame is open its back-end's clock is the machine's: what
// measures reads it and what waits moves it.
TEST_F(StartTest, TheFramesClockIsTheMachinesClock) {
  platform::HeadlessBackend& b = open({}, 5000);
  EXPECT_EQ(text(callv("milliseconds", {})), "5000");
  callv("sleep", {fix(3)});
  EXPECT_EQ(b.now(), 5050u) << "3 ticks are 3 * 2 / 3 + 16 * 3 milliseconds, passed at once";
}

TEST_F(StartTest, AlertsGoThroughTheFrameAndItsScript) {
  platform::HeadlessBackend& b = open({});
  b.script_alert_answer(1);
  EXPECT_EQ(show_alert(kAlertOutOfMemory), 1) << "Quit, as the script answers";
  EXPECT_EQ(b.alert_texts(), (std::vector<std::string>{"Out of Memory"}));
  rt().ui_language = 1;
  show_alert(kAlertFileNotFound, {"C:\\x.RI"});
  ASSERT_EQ(b.alert_texts().size(), 2u);
  EXPECT_EQ(b.alert_texts()[1], "Le fichier C:\\x.RI n'est pas pr\xE9sent!");
}

}  // namespace
}  // namespace core::testing
