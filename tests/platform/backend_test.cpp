// The headless back-end's audio: queued sound drains in virtual time, the
// log is what was queued, and it is written as a wave file a player reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "platform/backend.hpp"

namespace platform {
namespace {

std::vector<uint8_t> bytes(size_t n, uint8_t v) { return std::vector<uint8_t>(n, v); }

TEST(HeadlessAudio, QueueDrainsWithTheClockAcrossTheWrap) {
  HeadlessBackend b({100, 100}, 0xFFFFFFF0u);  // the clock wraps 16 ms in
  EXPECT_FALSE(b.audio_queue(bytes(8, 0x80))) << "queue before open";
  EXPECT_FALSE(b.audio_open({8000, 3, 8})) << "three channels";
  EXPECT_FALSE(b.audio_open({8000, 1, 12})) << "twelve bits";
  ASSERT_TRUE(b.audio_open({8000, 1, 8}));  // 8 bytes a millisecond
  ASSERT_TRUE(b.audio_queue(bytes(800, 0x80)));
  EXPECT_EQ(b.audio_pending(), 800u);
  b.advance(50);
  EXPECT_EQ(b.audio_pending(), 400u);
  ASSERT_TRUE(b.audio_queue(bytes(80, 0x90)));  // appended behind what still plays
  EXPECT_EQ(b.audio_pending(), 480u);
  b.advance(1000);
  EXPECT_EQ(b.audio_pending(), 0u);
  // A queue that ran dry starts again from now, not from the first start.
  ASSERT_TRUE(b.audio_queue(bytes(16, 0x70)));
  EXPECT_EQ(b.audio_pending(), 16u);
  EXPECT_EQ(b.audio_log().size(), 896u);
  b.audio_close();
  EXPECT_EQ(b.audio_pending(), 0u);
  EXPECT_FALSE(b.audio_queue(bytes(8, 0x80)));
}

TEST(HeadlessAudio, PartialFramesAreRefusedAndANewFormatStartsANewLog) {
  HeadlessBackend b;
  ASSERT_TRUE(b.audio_open({22050, 2, 16}));
  EXPECT_FALSE(b.audio_queue(bytes(6, 0))) << "six bytes is a frame and a half";
  ASSERT_TRUE(b.audio_queue(bytes(8, 1)));
  ASSERT_TRUE(b.audio_open({22050, 2, 16}));
  EXPECT_EQ(b.audio_log().size(), 8u) << "reopening in the same format keeps the log";
  ASSERT_TRUE(b.audio_open({11025, 1, 8}));
  EXPECT_TRUE(b.audio_log().empty());
}

TEST(HeadlessAudio, WaveFileHoldsFormatAndSamples) {
  HeadlessBackend b;
  ASSERT_TRUE(b.audio_open({11025, 2, 16}));
  std::vector<uint8_t> pcm{1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(b.audio_queue(pcm));
  std::string path = ::testing::TempDir() + "talven_audio_test.wav";
  std::string error;
  ASSERT_TRUE(b.write_wav(path, &error)) << error;
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  ASSERT_EQ(f.size(), 44u + 8u);
  auto le = [&](size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | f[at + size_t(i)];
    return v;
  };
  EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "RIFF");
  EXPECT_EQ(le(4, 4), 44u);
  EXPECT_EQ(std::string(f.begin() + 8, f.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le(20, 2), 1u);         // PCM
  EXPECT_EQ(le(22, 2), 2u);         // channels
  EXPECT_EQ(le(24, 4), 11025u);     // rate
  EXPECT_EQ(le(28, 4), 11025u * 4);  // byte rate
  EXPECT_EQ(le(32, 2), 4u);         // frame
  EXPECT_EQ(le(34, 2), 16u);        // bits
  EXPECT_EQ(le(40, 4), 8u);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), f.begin() + 44));
  EXPECT_FALSE(b.write_wav("/nonexistent-dir/x.wav", &error));
  EXPECT_NE(error.find("/nonexistent-dir/x.wav"), std::string::npos);
}

}  // namespace
}  // namespace platform
