// libFuzzer target: arbitrary bytes as a `snd ` resource, a sound file and
// a resource file of sounds: parsed, decoded, converted to a WAV image and
// read back as the output reads it, and asked for the header queries.
// Never a crash or a read outside the input. Seeds: the sound corpus.
#include <cstdint>

#include "media/snd.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  media::SoundInfo info;
  media::Pcm pcm;
  std::string why;
  if (media::parse_sound(in, info, why)) media::decode_sound(in, info, pcm, why);
  std::vector<uint8_t> image;
  if (media::snd_to_wav(in, image, why)) {
    media::WavView view;
    // Every image made with samples in it is one the output can read.
    if (image.size() > 44 && !media::wav_view(image, view)) __builtin_trap();
  }
  media::WavView view;
  media::wav_view(in, view);
  media::aiff_header(in);
  media::resource_header(in);
  std::vector<media::SndResource> sounds;
  if (media::fork_sounds(in, sounds))
    for (const media::SndResource& s : sounds) media::snd_to_wav(s.data, image, why);
  return 0;
}
