// The sound inspector: the header fields of a `snd ` resource or a sound
// file, and its samples written as a WAV file. It reads through the same
// parsers as the sound primitives and never writes the file it inspects.
#include "app/snd_tool.hpp"

#include <cstdio>
#include <cstdlib>

#include "media/snd.hpp"
#include "storage/outputs.hpp"

namespace app {

const char kSndHelp[] =
    "usage: talven snd info FILE [--id N]\n"
    "       talven snd wav FILE OUT.wav [--id N]\n"
    "  info  the header fields of the sound, one key=value a line\n"
    "  wav   every sample of the sound, decoded, as a PCM WAV file\n"
    "FILE is a resource file (plain, AppleDouble or MacBinary: its 'snd ' resource N,\n"
    "or the first in map order), a bare 'snd ' resource, or a WAV, AIFF or AIFF-C file.\n";

namespace {

int fail(const std::string& file, const std::string& why) {
  std::fprintf(stderr, "talven snd: %s: %s\n", file.c_str(), why.c_str());
  return 1;
}

std::string code_text(uint32_t c) {
  std::string s;
  for (int i = 3; i >= 0; --i) {
    unsigned ch = (c >> (8 * i)) & 0xFF;
    char b[8];
    if (ch >= 0x20 && ch < 0x7F && ch != '\\') b[0] = char(ch), b[1] = 0;
    else std::snprintf(b, sizeof b, "\\x%02X", ch);
    s += b;
  }
  return s;
}

void print_info(const media::SoundInfo& s) {
  bool snd = s.container.rfind("snd", 0) == 0;
  std::printf("container=%s\n", s.container.c_str());
  if (snd) {
    std::printf("header_offset=%u\n", s.header_offset);
    std::printf("encode=0x%02x\n", s.encode);
    std::printf("header=%s\n", s.encode == 0 ? "standard" : s.encode == 0xFF ? "extended" : "compressed");
    std::printf("sample_rate_fixed=0x%08x\n", s.rate_fixed);
    std::printf("sample_rate=%.4f\n", s.rate_fixed / 65536.0);
    std::printf("loop_start=%u\nloop_end=%u\nbase_frequency=%u\n", s.loop_start, s.loop_end, s.base_frequency);
  }
  std::printf("rate=%u\nchannels=%u\nsample_size=%u\nframes=%u\n", s.rate, s.channels, s.bits, s.frames);
  if (s.encode == 0xFE) std::printf("compression_id=%d\n", s.compression_id);
  if (s.format) std::printf("format=%s\n", code_text(s.format).c_str());
  std::printf("coding=%s\n", media::coding_name(s.coding));
  std::printf("packet_bytes=%u\npacket_frames=%u\n", s.packet_bytes, s.packet_frames);
  std::printf("decoded_frames=%llu\ndecoded_bits=%u\n", (unsigned long long)s.decoded_frames(), s.decoded_bits());
  std::printf("duration_ms=%llu\n", (unsigned long long)(s.rate ? s.decoded_frames() * 1000 / s.rate : 0));
  std::printf("data_offset=%llu\ndata_bytes=%llu\n", (unsigned long long)s.data_offset,
              (unsigned long long)s.data_bytes);
}

}  // namespace

int snd_command(const std::vector<std::string>& all) {
  if (!all.empty() && (all.back() == "--help" || all.back() == "-h")) {
    std::fputs(kSndHelp, stdout);
    return 0;
  }
  std::vector<std::string> args;
  int32_t id = 0;
  bool has_id = false;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i] == "--id" && i + 1 < all.size()) {
      char* end = nullptr;
      long n = std::strtol(all[i + 1].c_str(), &end, 10);
      if (end == all[i + 1].c_str() || *end != 0 || n < -32768 || n > 32767) {
        std::fprintf(stderr, "talven snd: --id %s: not a resource id\n", all[i + 1].c_str());
        return 2;
      }
      id = int32_t(n), has_id = true, ++i;
    } else {
      args.push_back(all[i]);
    }
  }
  if (args.empty() || !((args[0] == "info" && args.size() == 2) || (args[0] == "wav" && args.size() == 3))) return 2;
  const std::string& in = args[1];
  std::vector<uint8_t> bytes;
  std::string why;
  if (!storage::read_input(in, bytes, why)) return fail(in, why);

  // A resource file gives its sound; anything else is the sound itself.
  std::span<const uint8_t> sound = bytes;
  std::vector<media::SndResource> sounds;
  if (media::fork_sounds(bytes, sounds)) {
    const media::SndResource* pick = nullptr;
    for (const media::SndResource& r : sounds)
      if (!has_id || r.id == id) {
        pick = &r;
        break;
      }
    if (pick == nullptr)
      return fail(in, has_id ? "no 'snd ' resource " + std::to_string(id) : std::string("no 'snd ' resource"));
    sound = pick->data;
    id = pick->id;
  } else if (has_id) {
    return fail(in, "not a resource file, so --id names nothing");
  }
  media::SoundInfo info;
  if (!media::parse_sound(sound, info, why)) return fail(in, why);
  if (args[0] == "info") {
    if (!sounds.empty()) std::printf("id=%d\n", id);
    print_info(info);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  media::Pcm pcm;
  if (!media::decode_sound(sound, info, pcm, why)) return fail(in, why);
  std::vector<uint8_t> wav = media::wav_file(pcm);
  if (!storage::write_output(args[2], wav, {&args[1], 1}, why)) {
    std::fprintf(stderr, "talven snd: %s: cannot write: %s\n", args[2].c_str(), why.c_str());
    return 1;
  }
  return 0;
}

}  // namespace app
