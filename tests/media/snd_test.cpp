// Sound resources and sound files against the corpus references, the
// containers each coding can come in, and damaged headers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "core/bytes.hpp"
#include "media/snd.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

std::string corpus_dir(const std::string& sub) {
  for (const char* up : {"/../shared/corpus/", "/../../shared/corpus/"}) {
    std::string dir = std::string(TALVEN_SOURCE_DIR) + up + sub + "/";
    if (std::filesystem::exists(dir)) return dir;
  }
  return {};
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> read_info(const std::string& path) {
  std::map<std::string, std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (size_t eq = line.find('='); eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  return out;
}

std::vector<double> samples16(std::span<const uint8_t> b) {
  std::vector<double> out(b.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) out[i] = int16_t(core::load_le16(b.data() + 2 * i));
  return out;
}

// The README's measure for compressed decodes: same length, correlation
// above 0.999, RMS level within 5 %.
void expect_close(std::span<const uint8_t> got, std::span<const uint8_t> want, const std::string& name) {
  ASSERT_EQ(got.size(), want.size()) << name;
  std::vector<double> a = samples16(got), b = samples16(want);
  double sa = 0, sb = 0, sab = 0, ma = 0, mb = 0;
  for (size_t i = 0; i < a.size(); ++i) ma += a[i], mb += b[i];
  ma /= double(a.size()), mb /= double(b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    sa += (a[i] - ma) * (a[i] - ma), sb += (b[i] - mb) * (b[i] - mb), sab += (a[i] - ma) * (b[i] - mb);
  }
  double correlation = sab / std::sqrt(sa * sb);
  double rms_a = 0, rms_b = 0;
  for (size_t i = 0; i < a.size(); ++i) rms_a += a[i] * a[i], rms_b += b[i] * b[i];
  EXPECT_GT(correlation, 0.999) << name;
  EXPECT_NEAR(std::sqrt(rms_a / rms_b), 1.0, 0.05) << name;
}

uint32_t le32(const Bytes& b, size_t at) { return core::load_le32(b.data() + at); }
uint16_t le16(const Bytes& b, size_t at) { return core::load_le16(b.data() + at); }

// The image's header says what the sound is and where its samples end.
void expect_wav_header(const Bytes& image, uint16_t channels, uint32_t rate, uint16_t bits) {
  ASSERT_GE(image.size(), 44u);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(image.begin() + 8, image.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le32(image, 16), 16u);
  EXPECT_EQ(le16(image, 20), 1u);
  EXPECT_EQ(le16(image, 22), channels);
  EXPECT_EQ(le32(image, 24), rate);
  EXPECT_EQ(le16(image, 34), bits);
  EXPECT_EQ(le16(image, 32), channels * bits / 8);
  EXPECT_EQ(le32(image, 28), rate * channels * bits / 8);
  EXPECT_EQ(std::string(image.begin() + 36, image.begin() + 40), "data");
  EXPECT_EQ(le32(image, 4), le32(image, 40) + 36);
  EXPECT_LE(44 + uint64_t(le32(image, 40)), image.size());
}

TEST(SndCorpus, SingleResourcesConvertToTheirReferences) {
  std::string dir = corpus_dir("snd");
  if (dir.empty()) GTEST_SKIP() << "corpus/snd not found";
  int seen = 0;
  for (auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".snd") continue;
    std::string stem = entry.path().stem().string();
    SCOPED_TRACE(stem);
    ++seen;
    Bytes block = read_file(entry.path().string());
    auto info = read_info(dir + stem + ".info.txt");
    Bytes ref = read_file(dir + stem + ".pcm.wav");
    ASSERT_GT(ref.size(), 44u);

    media::SoundInfo s;
    std::string why;
    ASSERT_TRUE(media::parse_snd(block, s, why)) << why;
    EXPECT_EQ(s.header_offset, std::stoul(info["header_offset"]));
    EXPECT_EQ(s.data_offset, std::stoul(info["sample_data_offset"]));
    EXPECT_EQ(s.data_bytes, std::stoul(info["sample_bytes"]));
    EXPECT_EQ(s.channels, std::stoul(info["channels"]));
    EXPECT_EQ(s.rate_fixed, std::stoul(info["sample_rate_fixed"], nullptr, 16));
    std::string frames = info.count("decoded_frames") ? info["decoded_frames"] : info["frames"];
    EXPECT_EQ(s.decoded_frames(), std::stoul(frames));

    Bytes image;
    if (s.coding == media::SoundCoding::Mace3 && !media::mace_available(&why)) {
      EXPECT_FALSE(media::snd_to_wav(block, image, why));
      std::printf("[  SKIPPED ] %s: %s\n", stem.c_str(), why.c_str());
      continue;
    }
    ASSERT_TRUE(media::snd_to_wav(block, image, why)) << why;
    expect_wav_header(image, le16(ref, 22), le32(ref, 24), le16(ref, 34));
    std::span<const uint8_t> got(image.data() + 44, le32(image, 40)), want(ref.data() + 44, ref.size() - 44);
    if (s.coding == media::SoundCoding::Unsigned8) {
      // The classic layout gives up two samples; any other keeps them all.
      if (s.container == "snd 1" && s.encode == 0) {
        EXPECT_EQ(image.size(), block.size());
        want = want.subspan(2);
      }
      EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end()));
    } else if (s.coding == media::SoundCoding::Ima4) {
      // Our own decoder follows the reference decoder to the sample.
      EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end()));
    } else {
      expect_close(got, want, stem);
    }
  }
  EXPECT_EQ(seen, 3);
}

// Every sound of the two forks converts; the image holds the stored
// samples where they are PCM, and a standard sound keeps its block.
TEST(SndCorpus, EverySoundOfTheForksConverts) {
  std::string dir = corpus_dir("rsrc");
  if (dir.empty()) GTEST_SKIP() << "corpus/rsrc not found";
  std::string mace_why;
  bool mace = media::mace_available(&mace_why);
  size_t converted = 0;
  for (const char* name : {"Maelstrom_Sounds.rsrc", "mm_Candy.sounds.rsrc", "mm_Candy.sounds.appledouble"}) {
    Bytes file = read_file(dir + name);
    std::vector<media::SndResource> sounds;
    ASSERT_TRUE(media::fork_sounds(file, sounds)) << name;
    ASSERT_FALSE(sounds.empty()) << name;
    for (const media::SndResource& r : sounds) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(r.id));
      media::SoundInfo s;
      std::string why;
      ASSERT_TRUE(media::parse_snd(r.data, s, why)) << why;
      Bytes image;
      bool is_mace = s.coding == media::SoundCoding::Mace3 || s.coding == media::SoundCoding::Mace6;
      if (is_mace && !mace) continue;
      ASSERT_TRUE(media::snd_to_wav(r.data, image, why)) << why;
      expect_wav_header(image, s.channels, s.rate, s.decoded_bits());
      uint32_t length = le32(image, 40);
      if (s.container == "snd 1" && s.encode == 0) {
        EXPECT_EQ(image.size(), r.data.size());
        EXPECT_EQ(length, s.frames - 2);
        EXPECT_TRUE(std::equal(image.begin() + 44, image.end(), r.data.begin() + 44));
      } else {
        EXPECT_EQ(length, s.decoded_frames() * s.channels * s.decoded_bits() / 8);
        if (s.coding == media::SoundCoding::Unsigned8) {
          EXPECT_TRUE(std::equal(image.begin() + 44, image.end(), r.data.begin() + long(s.data_offset)));
        }
      }
      ++converted;
    }
  }
  std::printf("converted %zu sounds%s\n", converted, mace ? "" : (" (MACE skipped: " + mace_why + ")").c_str());
  EXPECT_GE(converted, 35u);
}

// A compressed `snd ` header around given packets.
Bytes compressed_snd(uint16_t channels, uint32_t rate, uint32_t packets, const char* format, int16_t id,
                     std::span<const uint8_t> data) {
  Bytes b(20 + 64);
  core::store_be16(&b[0], 1);
  core::store_be16(&b[2], 1);
  core::store_be16(&b[4], 5);
  core::store_be16(&b[10], 1);
  core::store_be16(&b[12], 0x8051);
  core::store_be32(&b[16], 20);
  core::store_be32(&b[24], channels);
  core::store_be32(&b[28], rate << 16);
  b[40] = 0xFE;
  core::store_be32(&b[42], packets);
  std::memcpy(&b[60], format, 4);
  core::store_be16(&b[76], uint16_t(id));
  core::store_be16(&b[82], 16);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// An AIFF or AIFF-C file around given sample data.
Bytes aiff(bool compressed, uint16_t channels, uint32_t frames, uint16_t bits, const uint8_t rate80[10],
           const char* coding, std::span<const uint8_t> data) {
  Bytes comm(18);
  core::store_be16(&comm[0], channels);
  core::store_be32(&comm[2], frames);
  core::store_be16(&comm[6], bits);
  std::memcpy(&comm[8], rate80, 10);
  if (compressed) comm.insert(comm.end(), {uint8_t(coding[0]), uint8_t(coding[1]), uint8_t(coding[2]), uint8_t(coding[3]), 0, 0});
  Bytes out = {'F', 'O', 'R', 'M', 0, 0, 0, 0};
  for (char c : std::string(compressed ? "AIFC" : "AIFF")) out.push_back(uint8_t(c));
  auto chunk = [&](const char* id, const Bytes& body) {
    out.insert(out.end(), id, id + 4);
    size_t at = out.size();
    out.resize(at + 4);
    core::store_be32(&out[at], uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1) out.push_back(0);
  };
  chunk("COMM", comm);
  Bytes ssnd(8);
  ssnd.insert(ssnd.end(), data.begin(), data.end());
  chunk("SSND", ssnd);
  core::store_be32(&out[4], uint32_t(out.size() - 8));
  return out;
}

constexpr uint8_t k44100[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};

// The same samples in every container a coding comes in decode alike.
TEST(SoundFiles, EachContainerDecodesLikeTheResource) {
  std::string dir = corpus_dir("snd");
  if (dir.empty()) GTEST_SKIP() << "corpus/snd not found";
  Bytes rocket = read_file(dir + "nano_Main_10000_Rocket.snd");
  Bytes ref = read_file(dir + "nano_Main_10000_Rocket.pcm.wav");
  std::span<const uint8_t> packets(rocket.data() + 84, rocket.size() - 84);
  std::span<const uint8_t> pcm(ref.data() + 44, ref.size() - 44);
  auto decode = [](std::span<const uint8_t> bytes, media::Pcm& out) {
    media::SoundInfo s;
    std::string why;
    bool ok = media::parse_sound(bytes, s, why) && media::decode_sound(bytes, s, out, why);
    EXPECT_TRUE(ok) << why;
    return ok;
  };
  media::Pcm from_snd, p;
  ASSERT_TRUE(decode(rocket, from_snd));

  // IMA 4:1 in an AIFF-C file: the packets count as its frames.
  ASSERT_TRUE(decode(aiff(true, 2, 376, 16, k44100, "ima4", packets), p));
  EXPECT_EQ(p.bytes, from_snd.bytes);

  // 16-bit PCM: big-endian (AIFF, AIFF-C 'twos'), little-endian ('sowt', WAV).
  Bytes big(pcm.size()), wav(ref);
  // A WAV file may name its data before its format.
  Bytes data_first(ref.begin(), ref.begin() + 12);
  data_first.insert(data_first.end(), ref.begin() + 36, ref.end());
  data_first.insert(data_first.end(), ref.begin() + 12, ref.begin() + 36);
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) big[i] = pcm[i + 1], big[i + 1] = pcm[i];
  uint32_t frames = uint32_t(pcm.size() / 4);
  for (const Bytes& file : {aiff(false, 2, frames, 16, k44100, "", big), aiff(true, 2, frames, 16, k44100, "twos", big),
                            aiff(true, 2, frames, 16, k44100, "sowt", pcm), wav, data_first}) {
    ASSERT_TRUE(decode(file, p));
    EXPECT_EQ(p.rate, 44100u);
    EXPECT_EQ(p.channels, 2u);
    EXPECT_TRUE(std::equal(p.bytes.begin(), p.bytes.end(), pcm.begin(), pcm.end()));
  }
  // The same compressed packets as a `snd ` resource with an AIFF-C coding name.
  ASSERT_TRUE(decode(compressed_snd(2, 44100, 376, "ima4", -1, packets), p));
  EXPECT_EQ(p.bytes, from_snd.bytes);

  // The header query the Part names for AIFF files.
  auto head = media::aiff_header(aiff(false, 2, frames, 16, k44100, "", big));
  ASSERT_TRUE(head.has_value());
  EXPECT_EQ(*head, (std::array<uint32_t, 4>{2, frames, 16, 44100}));
  uint8_t odd_rate[10] = {0x40, 0x0E, 0xAC, 0x45, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(media::aiff_header(aiff(false, 2, frames, 16, odd_rate, "", big)).has_value());
  EXPECT_FALSE(media::aiff_header(rocket).has_value());
}

// The WAV file's IMA blocks and the classic packets share their nibbles:
// a block whose first sample is the packet's predictor decodes alike.
TEST(SoundFiles, ImaBlocksAndPacketsAgree) {
  Bytes nibbles(32);
  for (size_t i = 0; i < nibbles.size(); ++i) nibbles[i] = uint8_t(i * 37 + 11);
  Bytes packet = {0x05, 0x10};  // predictor 0x0500, step index 16
  packet.insert(packet.end(), nibbles.begin(), nibbles.end());
  Bytes wav;
  auto put = [&](std::initializer_list<uint32_t> words, int bytes) {
    for (uint32_t w : words)
      for (int i = 0; i < bytes; ++i) wav.push_back(uint8_t(w >> (8 * i)));
  };
  for (char c : std::string("RIFF....WAVEfmt ")) wav.push_back(uint8_t(c));
  put({20}, 4);
  put({0x11, 1}, 2);
  put({8000, 4000}, 4);
  put({36, 4, 2, 65}, 2);  // block align, bits, extra size, frames a block
  for (char c : std::string("data")) wav.push_back(uint8_t(c));
  put({36}, 4);
  put({0x0500, 16}, 2);  // the first sample, the step index and a spare byte
  wav.insert(wav.end(), nibbles.begin(), nibbles.end());

  media::SoundInfo s;
  media::Pcm from_wav, from_snd;
  std::string why;
  ASSERT_TRUE(media::parse_sound(wav, s, why)) << why;
  EXPECT_EQ(s.decoded_frames(), 65u);
  ASSERT_TRUE(media::decode_sound(wav, s, from_wav, why)) << why;
  Bytes snd = compressed_snd(1, 8000, 1, "ima4", -1, packet);
  ASSERT_TRUE(media::parse_sound(snd, s, why)) << why;
  ASSERT_TRUE(media::decode_sound(snd, s, from_snd, why)) << why;
  ASSERT_EQ(from_wav.bytes.size(), from_snd.bytes.size() + 2);
  EXPECT_EQ(core::load_le16(from_wav.bytes.data()), 0x0500);
  EXPECT_TRUE(std::equal(from_snd.bytes.begin(), from_snd.bytes.end(), from_wav.bytes.begin() + 2));
}

// G.711: silence, the extremes, and a sign-symmetric, monotonic scale.
TEST(SoundFiles, CompandedCodesDecodeToTheirScale) {
  EXPECT_EQ(media::ulaw_sample(0xFF), 0);
  EXPECT_EQ(media::ulaw_sample(0x80), 32124);
  EXPECT_EQ(media::ulaw_sample(0x00), -32124);
  EXPECT_EQ(media::alaw_sample(0xD5), 8);
  EXPECT_EQ(media::alaw_sample(0x55), -8);
  EXPECT_EQ(media::alaw_sample(0xAA), 32256);
  for (int c = 0; c < 128; ++c) {
    EXPECT_EQ(media::ulaw_sample(uint8_t(c)), -media::ulaw_sample(uint8_t(c | 0x80)));
    EXPECT_EQ(media::alaw_sample(uint8_t(c)), -media::alaw_sample(uint8_t(c | 0x80)));
    if (c > 0) {
      EXPECT_LT(media::ulaw_sample(uint8_t(0x80 | c)), media::ulaw_sample(uint8_t(0x80 | (c - 1))));
    }
  }
}

// A damaged header is refused with its reason; a refused block is never
// converted in part.
TEST(SndBadInput, DamagedHeadersAreRefusedWithTheirReason) {
  Bytes samples(100, 0x80);
  Bytes good = compressed_snd(1, 22050, 100, "ulaw", -1, samples);
  media::SoundInfo s;
  Bytes image;
  std::string why;
  ASSERT_TRUE(media::snd_to_wav(good, image, why)) << why;

  struct Case {
    const char* name;
    size_t at;
    std::vector<uint8_t> bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"format 3", 0, {0, 3}, "format 3"},
      {"zero channels", 24, {0, 0, 0, 0}, "zero channels"},
      {"three channels", 24, {0, 0, 0, 3}, "3 channels"},
      {"rate 0", 28, {0, 0, 0x80, 0}, "rate of 0"},
      {"unknown encoding", 40, {0x7E}, "unknown encoding 0x7E"},
      {"unknown coding", 60, {'x', 'y', 'z', 'w'}, "unknown sample coding 'xyzw'"},
      {"packets past the end", 42, {0, 0, 0, 101}, "runs past the end"},
      {"packets that overflow", 42, {0xFF, 0xFF, 0xFF, 0xFF}, "runs past the end"},
      {"header past the end", 16, {0, 0, 0x10, 0}, "truncated sound header"},
      {"no sound command", 12, {0x00, 0x51}, "no sound command"},
      {"not a sampled sound", 4, {0, 1}, "data format 1"},
      {"samples elsewhere", 20, {0, 0, 0, 1}, "sample pointer"},
  };
  for (const Case& c : cases) {
    Bytes b = good;
    std::copy(c.bytes.begin(), c.bytes.end(), b.begin() + long(c.at));
    EXPECT_FALSE(media::snd_to_wav(b, image, why)) << c.name;
    EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
    EXPECT_TRUE(image.empty()) << c.name;
  }
  // A standard header that says more samples than there are.
  Bytes standard = {0, 1, 0, 1, 0, 5, 0, 0, 0, 0, 0, 1, 0x80, 0x51, 0, 0, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 9,
                    0x2B, 0x77, 0x45, 0xD0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_FALSE(media::snd_to_wav(standard, image, why));
  EXPECT_NE(why.find("runs past the end"), std::string::npos) << why;
  standard[27] = 8;
  ASSERT_TRUE(media::snd_to_wav(standard, image, why)) << why;
  EXPECT_EQ(le32(image, 40), 6u);
  EXPECT_EQ(image.size(), standard.size());

  // Every prefix of a good resource is refused or read within its bytes.
  for (size_t n = 0; n < good.size(); ++n) {
    Bytes cut(good.begin(), good.begin() + long(n));
    EXPECT_FALSE(media::parse_snd(cut, s, why)) << n;
  }
}

}  // namespace
