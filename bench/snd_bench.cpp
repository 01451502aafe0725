// Sound conversion and decoding throughput: a 10-second sound of each
// coding (8-bit standard, 16-bit extended, IMA 4:1 stereo, MACE 3:1 and
// 6:1, mu-law) made here, converted into its WAV image again and again.
// Rates are in millions of decoded samples a second; the time of one
// conversion is what a first play of that sound costs the loop. Run:
// build/snd_bench [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "core/bytes.hpp"
#include "media/snd.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// A `snd ` resource of format 1 with a sound header of kind `encode` over
// `data`.
Bytes resource(uint8_t encode, uint16_t channels, uint32_t rate, uint32_t frames, const char* format, uint16_t bits,
               const Bytes& data) {
  Bytes b(encode == 0 ? 42 : 84, 0);
  const uint8_t head[] = {0, 1, 0, 1, 0, 5, 0, 0, 0, 0, 0, 1, 0x80, 0x51, 0, 0, 0, 0, 0, 20};
  std::memcpy(b.data(), head, sizeof head);
  core::store_be32(&b[24], encode == 0 ? frames : channels);
  core::store_be32(&b[28], rate << 16);
  b[40] = encode;
  if (encode != 0) {
    core::store_be32(&b[42], frames);
    if (encode == 0xFE) std::memcpy(&b[60], format, 4);
    core::store_be16(&b[encode == 0xFE ? 82 : 68], bits);
  }
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::mt19937 random(7);
  auto noise = [&](size_t n) {
    Bytes b(n);
    for (uint8_t& x : b) x = uint8_t(random());
    return b;
  };
  const uint32_t seconds = 10;
  struct Case {
    const char* name;
    Bytes block;
  };
  Bytes ima = noise(size_t(44100) * seconds / 64 * 68);
  for (size_t p = 0; p < ima.size(); p += 34) ima[p + 1] = uint8_t(ima[p + 1] % 89);  // valid step indexes
  Case cases[] = {
      {"8-bit standard 22050 Hz", resource(0, 1, 22050, 22050 * seconds, "", 8, noise(22050 * seconds))},
      {"16-bit extended stereo 44100 Hz", resource(0xFF, 2, 44100, 44100 * seconds, "", 16, noise(44100 * 4 * seconds))},
      {"IMA 4:1 stereo 44100 Hz", resource(0xFE, 2, 44100, uint32_t(ima.size() / 68), "ima4", 16, ima)},
      {"MACE 3:1 22050 Hz", resource(0xFE, 1, 22050, 22050 * seconds / 6, "MAC3", 8, noise(22050 * seconds / 3))},
      {"MACE 6:1 22050 Hz", resource(0xFE, 1, 22050, 22050 * seconds / 6, "MAC6", 8, noise(22050 * seconds / 6))},
      {"mu-law 22050 Hz", resource(0xFE, 1, 22050, 22050 * seconds, "ulaw", 16, noise(22050 * seconds))},
  };
  std::printf("%-34s %14s %16s\n", "sound (10 s)", "Msamples/s", "ms a conversion");
  for (const Case& c : cases) {
    media::SoundInfo info;
    std::string why;
    if (!media::parse_snd(c.block, info, why)) {
      std::printf("%-34s refused: %s\n", c.name, why.c_str());
      continue;
    }
    Bytes image;
    if (!media::snd_to_wav(c.block, image, why)) {
      std::printf("%-34s skipped: %s\n", c.name, why.c_str());
      continue;
    }
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) media::snd_to_wav(c.block, image, why);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double samples = double(info.decoded_frames()) * info.channels * rounds;
    std::printf("%-34s %14.1f %16.2f\n", c.name, samples / s / 1e6, s * 1000 / rounds);
  }
  return 0;
}
