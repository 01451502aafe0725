// The sound primitives on a headless frame: the audio log holds what was
// played, in the sound's own format, and the virtual clock measures it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/bytes.hpp"
#include "data/handles.hpp"
#include "media/frame.hpp"
#include "media/snd.hpp"
#include "media/sound.hpp"
#include "tests/objects/fixture.hpp"

namespace core::testing {
namespace {

using Bytes = std::vector<uint8_t>;

std::string corpus_dir(const std::string& sub) {
  for (const char* up : {"/../shared/corpus/", "/../../shared/corpus/"}) {
    std::string dir = std::string(TALVEN_SOURCE_DIR) + up + sub + "/";
    if (std::filesystem::exists(dir)) return std::filesystem::canonical(dir).string() + "/";
  }
  return {};
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class SoundTest : public ObjectTest {
 protected:
  void SetUp() override {
    ObjectTest::SetUp();
    // The clock starts just short of its wrap, so that waits cross it.
    auto backend = std::make_unique<platform::HeadlessBackend>(gfx::Pt{320, 200}, 0xFFFFFF00u);
    backend_ = backend.get();
    media::open_frame(std::move(backend), "sound test", {320, 200}, {320, 200});
  }

  // A handle holding `bytes`, boxed.
  Value handle_with(const Bytes& bytes) {
    uint32_t h = data::new_handle(uint32_t(bytes.size()));
    std::memcpy(rt().region.ptr(data::handle_memory(h)), bytes.data(), bytes.size());
    return data::box_handle(h);
  }
  // The fixture's reader has no strings: a path is given as a global.
  void define_path(const char* name, const std::string& path) { set_symbol_value(sym(name), make_string(path.c_str())); }
  Bytes block_of(Value box) {
    uint32_t h = box_addr(box);
    const uint8_t* p = rt().region.ptr(data::handle_memory(h));
    return Bytes(p, p + data::handle_size(h));
  }

  platform::HeadlessBackend* backend_ = nullptr;
};

TEST_F(SoundTest, ResourcesPlayFromTheirWavImages) {
  std::string dir = corpus_dir("rsrc"), snd = corpus_dir("snd");
  if (dir.empty() || snd.empty()) GTEST_SKIP() << "corpus not found";
  define_path("Snd", "snd ");
  define_path("Sounds", dir + "Maelstrom_Sounds.rsrc");
  run("(define F (openresfile Sounds))");
  ASSERT_GT(num("F"), 0);
  Bytes ref = read_file(snd + "mael_105_Boom1.pcm.wav");
  Bytes samples(ref.begin() + 44, ref.end());

  // Synchronous: the call returns when the sound has played, on the clock.
  uint32_t before = backend_->now();
  EXPECT_EQ(num("(play-sound 105)"), 0);
  EXPECT_EQ(backend_->now() - before, (samples.size() * 1000 + 11126) / 11127);
  EXPECT_EQ(backend_->audio_log(), samples);
  EXPECT_EQ(backend_->audio_format().rate, 11127u);
  EXPECT_EQ(show(run("(sound-playing?)")), "()");

  // The script's `audio` line writes the log as it is: the reference file.
  std::string out = ::testing::TempDir() + "talven_sound_test.wav";
  platform::InputScript script;
  std::string error;
  EXPECT_FALSE(platform::parse_input_script("audio\n", "s", script, error));
  ASSERT_TRUE(platform::parse_input_script("audio " + out + "\n", "s", script, error)) << error;
  backend_->run_script(script, *media::window_system());
  for (int i = 0; i < 3 && !std::filesystem::exists(out); ++i) backend_->wait_input(10);
  EXPECT_EQ(read_file(out), ref);
  std::filesystem::remove(out);

  // The block is a WAV image from now on, and is not converted again.
  Value res = run("(getresource Snd 105)");
  Bytes image = block_of(res);
  ASSERT_EQ(image.size(), 44 + samples.size());
  EXPECT_EQ(std::memcmp(image.data(), "RIFF", 4), 0);
  EXPECT_EQ(num("(play-sound (getresource Snd 105))"), 0);
  EXPECT_EQ(block_of(res), image);
  EXPECT_EQ(backend_->audio_log().size(), 2 * samples.size());
  EXPECT_EQ(show(run("(resource-header (getresource Snd 105))")), "()");
  EXPECT_EQ(show(run("(resource-header (getresource Snd 107))")), "(1 9760 8 11127)");
}

TEST_F(SoundTest, BackgroundSoundsAndTheQueue) {
  std::string dir = corpus_dir("rsrc");
  if (dir.empty()) GTEST_SKIP() << "corpus not found";
  define_path("Sounds", dir + "Maelstrom_Sounds.rsrc");
  run("(define F (openresfile Sounds))");
  EXPECT_EQ(num("(play-sound-background '(105 107))"), 0);
  EXPECT_EQ(num("(length Sound-Queue)"), 2);
  EXPECT_EQ(show(run("(sound-playing?)")), "t");
  // The done notice: nothing until the samples have played, then the
  // output stops and lets the resources go.
  EXPECT_FALSE(media::poll_sound());
  backend_->advance(100);
  EXPECT_FALSE(media::poll_sound());
  backend_->advance(10000);
  EXPECT_TRUE(media::poll_sound());
  EXPECT_EQ(show(run("Sound-Queue")), "()");
  EXPECT_FALSE(backend_->audio_is_open());

  EXPECT_EQ(num("(play-sound-background 105)"), 0);
  run("(stop-sounds)");
  EXPECT_EQ(show(run("(list Sound-Queue (sound-playing?))")), "(() ())");

  EXPECT_EQ(num("(play-sound-background '())"), 0);
  EXPECT_EQ(show(run("(sound-playing?)")), "()");
  EXPECT_EQ(num("(play-sound-background '(105 9999))"), -204);
  EXPECT_EQ(show(run("(list Sound-Queue (sound-playing?))")), "(() ())");
  EXPECT_EQ(num("(play-sound 9999)"), -204);
}

// Sounds beyond the classic layout play in their own format; a block that
// cannot be converted answers -1 and stays as it was.
TEST_F(SoundTest, ConversionKeepsFormatsAndRefusesDamage) {
  // An extended header: two channels of 16-bit big-endian samples.
  Bytes ext(20 + 64, 0);
  const uint8_t head[] = {0, 1, 0, 1, 0, 5, 0, 0, 0, 0, 0, 1, 0x80, 0x51, 0, 0, 0, 0, 0, 20};
  std::memcpy(ext.data(), head, sizeof head);
  store_be32(&ext[24], 2);
  store_be32(&ext[28], 22050u << 16);
  ext[40] = 0xFF;
  store_be32(&ext[42], 3);
  store_be16(&ext[68], 16);
  for (int16_t v : {100, -100, 2000, -2000, 32767, -32768}) ext.push_back(uint8_t(uint16_t(v) >> 8)), ext.push_back(uint8_t(v));
  Value h = handle_with(ext);
  EXPECT_EQ(read_integer(call("play-sound", h)), 0);
  EXPECT_EQ(backend_->audio_format().channels, 2u);
  EXPECT_EQ(backend_->audio_format().bits, 16u);
  const Bytes want = {100, 0, 0x9C, 0xFF, 0xD0, 0x07, 0x30, 0xF8, 0xFF, 0x7F, 0x00, 0x80};
  EXPECT_EQ(backend_->audio_log(), want);
  EXPECT_EQ(block_of(h).size(), 44u + want.size());

  // Damaged: more frames than there are samples; an unknown encoding.
  for (auto damage : {std::pair<size_t, uint8_t>{45, 4}, {40, 0x7F}}) {
    Bytes bad = ext;
    bad[damage.first] = damage.second;
    Value b = handle_with(bad);
    EXPECT_EQ(read_integer(call("play-sound", b)), -1);
    EXPECT_EQ(block_of(b), bad);
  }
  EXPECT_EQ(read_integer(call("play-sound", sym("foo"))), -1);
}

TEST_F(SoundTest, VolumeFilesAndHeaders) {
  EXPECT_EQ(show(run("(can-play-sound?)")), "t");
  EXPECT_TRUE(run("(sysbeep)").is_no_value());
  EXPECT_EQ(backend_->audio_log().size(), 2205u) << "a tenth of a second";
  run("(stop-sounds)");
  EXPECT_EQ(show(run("(get-sound-volume)")), "(65535 65535)");
  EXPECT_EQ(show(run("(set-sound-volume 70000)")), "t");
  EXPECT_EQ(show(run("(get-sound-volume)")), "(65535 65535)");
  EXPECT_EQ(show(run("(set-sound-volume '(1000 x))")), "t");
  EXPECT_EQ(show(run("(get-sound-volume)")), "(1000 1000)");
  EXPECT_EQ(show(run("(set-sound-volume '(0 65535))")), "t");
  EXPECT_EQ(show(run("(get-sound-volume)")), "(0 65535)");
  run("(set-sound-volume 65535)");

  std::string snd = corpus_dir("snd");
  if (snd.empty()) GTEST_SKIP() << "corpus not found";
  std::string wav = snd + "nano_Main_10000_Rocket.pcm.wav";
  Bytes ref = read_file(wav);
  define_path("Wav", wav);
  define_path("Readme", snd + "README.md");
  EXPECT_EQ(num("(play-sound-file Wav)"), 0);
  EXPECT_EQ(show(run("(sound-playing?)")), "t");
  EXPECT_EQ(backend_->audio_log(), Bytes(ref.begin() + 44, ref.end()));
  backend_->advance(1000);
  EXPECT_EQ(show(run("(sound-playing?)")), "()");
  EXPECT_EQ(num("(play-sound-file Readme)"), -1);
  EXPECT_EQ(show(run("(aiff-header Wav)")), "()");
}

TEST(SoundWithoutFrame, NothingPlays) {
  auto machine = make_runtime(small_prefs(), 16u << 20);
  Value f = symbol_value(find_symbol("can-play-sound?"));
  EXPECT_EQ(call_by_name(f, {}), kNil);
  f = symbol_value(find_symbol("play-sound-background"));
  EXPECT_EQ(call_by_name(f, {kNil}), make_fixnum(0));
  f = symbol_value(find_symbol("get-sound-volume"));
  EXPECT_EQ(call_by_name(f, {}), kNil);
}

}  // namespace
}  // namespace core::testing
