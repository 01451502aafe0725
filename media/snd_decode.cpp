// The sample decoders: PCM of every width and order, IMA 4:1 (the packets
// of classic sounds and the blocks of WAV files), mu-law and A-law, and
// MACE 3:1 and 6:1 through the host's codec library, loaded at the first
// MACE sound.
#include <algorithm>
#include <cstring>

#include "core/bytes.hpp"
#include "media/snd.hpp"

#if TALVEN_HAVE_AVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}
#include "platform/host_library.hpp"
#endif

namespace media {

namespace {

constexpr int16_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int8_t kImaIndexShift[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

// One channel's IMA state: the last sample and the step index.
struct Ima {
  int32_t predictor = 0;
  int32_t index = 0;
  int16_t next(unsigned nibble) {
    int32_t step = kImaSteps[index];
    int32_t diff = step >> 3;
    if (nibble & 4) diff += step;
    if (nibble & 2) diff += step >> 1;
    if (nibble & 1) diff += step >> 2;
    predictor += (nibble & 8) ? -diff : diff;
    predictor = std::clamp(predictor, -32768, 32767);
    index = std::clamp(index + kImaIndexShift[nibble & 15], 0, 88);
    return int16_t(predictor);
  }
};

void put16(uint8_t* p, int32_t v) { core::store_le16(p, uint16_t(int16_t(v))); }

// Classic IMA packets: per channel a big-endian word (the top nine bits
// of the predictor, the step index in the low seven), then 32 bytes of
// nibbles, low nibble first. A channel's state carries on from its last
// packet unless the header moves it away.
bool decode_ima4(std::span<const uint8_t> data, const SoundInfo& info, uint8_t* out, std::string& why) {
  Ima state[2];
  size_t channels = info.channels;
  core::ByteReader r(data);
  for (uint64_t p = 0; p < info.packets; ++p) {
    for (size_t c = 0; c < channels; ++c) {
      uint16_t head = r.be16();
      int32_t predictor = int16_t(head & 0xFF80);
      int32_t index = head & 0x7F;
      if (index > 88) {
        why = "IMA packet " + std::to_string(p) + " has step index " + std::to_string(index);
        return false;
      }
      Ima& s = state[c];
      if (s.index != index || std::abs(predictor - s.predictor) > 0x7F) s.predictor = predictor, s.index = index;
      std::span<const uint8_t> nibbles = r.bytes(32);
      if (nibbles.empty()) {
        why = "IMA packet " + std::to_string(p) + " is cut short";
        return false;
      }
      uint8_t* o = out + (p * 64 * channels + c) * 2;
      for (size_t i = 0; i < 32; ++i) {
        put16(o + (2 * i) * channels * 2, s.next(nibbles[i] & 15));
        put16(o + (2 * i + 1) * channels * 2, s.next(nibbles[i] >> 4));
      }
    }
  }
  return true;
}

// WAV IMA blocks: per channel a little-endian predictor (the block's first
// sample), a step index and a spare byte; then words of eight nibbles
// taken in turn from each channel.
bool decode_ima_wav(std::span<const uint8_t> data, const SoundInfo& info, uint8_t* out, std::string& why) {
  size_t channels = info.channels, frames = info.packet_frames;
  core::ByteReader r(data);
  for (uint64_t p = 0; p < info.packets; ++p) {
    core::ByteReader b = r.part(info.packet_bytes);
    Ima state[2];
    uint8_t* o = out + p * frames * channels * 2;
    for (size_t c = 0; c < channels; ++c) {
      state[c].predictor = b.le16s();
      state[c].index = b.u8();
      b.skip(1);
      if (state[c].index > 88) {
        why = "IMA block " + std::to_string(p) + " has step index " + std::to_string(state[c].index);
        return false;
      }
      put16(o + c * 2, state[c].predictor);
    }
    for (size_t f = 1; f < frames; f += 8) {
      for (size_t c = 0; c < channels; ++c) {
        for (size_t k = 0; k < 4; ++k) {
          uint8_t byte = b.u8();
          put16(o + ((f + 2 * k) * channels + c) * 2, state[c].next(byte & 15));
          put16(o + ((f + 2 * k + 1) * channels + c) * 2, state[c].next(byte >> 4));
        }
      }
    }
    if (!b.ok()) {
      why = "IMA block " + std::to_string(p) + " is cut short";
      return false;
    }
  }
  return true;
}

#if TALVEN_HAVE_AVCODEC
#define TV_STR2(x) #x
#define TV_STR(x) TV_STR2(x)

// The few functions of the codec library the MACE decoder calls.
struct Codec {
  const AVCodec* (*find_decoder)(enum AVCodecID) = nullptr;
  AVCodecContext* (*alloc_context)(const AVCodec*) = nullptr;
  int (*open)(AVCodecContext*, const AVCodec*, AVDictionary**) = nullptr;
  void (*free_context)(AVCodecContext**) = nullptr;
  AVPacket* (*packet_alloc)() = nullptr;
  int (*new_packet)(AVPacket*, int) = nullptr;
  void (*packet_free)(AVPacket**) = nullptr;
  int (*send_packet)(AVCodecContext*, const AVPacket*) = nullptr;
  int (*receive_frame)(AVCodecContext*, AVFrame*) = nullptr;
  AVFrame* (*frame_alloc)() = nullptr;
  void (*frame_free)(AVFrame**) = nullptr;
  void (*default_layout)(AVChannelLayout*, int) = nullptr;
  bool tried = false, loaded = false;
  std::string why;
};

// Loaded once per process, like every host library.
Codec& codec() {
  static Codec c;
  if (c.tried) return c;
  c.tried = true;
  std::string why;
  const platform::HostSymbol util[] = {
      platform::host_symbol("av_frame_alloc", c.frame_alloc),
      platform::host_symbol("av_frame_free", c.frame_free),
      platform::host_symbol("av_channel_layout_default", c.default_layout),
  };
  const platform::HostSymbol avcodec[] = {
      platform::host_symbol("avcodec_find_decoder", c.find_decoder),
      platform::host_symbol("avcodec_alloc_context3", c.alloc_context),
      platform::host_symbol("avcodec_open2", c.open),
      platform::host_symbol("avcodec_free_context", c.free_context),
      platform::host_symbol("av_packet_alloc", c.packet_alloc),
      platform::host_symbol("av_new_packet", c.new_packet),
      platform::host_symbol("av_packet_free", c.packet_free),
      platform::host_symbol("avcodec_send_packet", c.send_packet),
      platform::host_symbol("avcodec_receive_frame", c.receive_frame),
  };
  c.loaded = platform::load_host_library("libavutil.so." TV_STR(LIBAVUTIL_VERSION_MAJOR), util, &why) &&
             platform::load_host_library("libavcodec.so." TV_STR(LIBAVCODEC_VERSION_MAJOR), avcodec, &why);
  if (!c.loaded) c.why = "MACE needs the codec library: " + why;
  return c;
}

bool decode_mace(std::span<const uint8_t> data, const SoundInfo& info, uint8_t* out, std::string& why) {
  Codec& c = codec();
  if (!c.loaded) {
    why = c.why;
    return false;
  }
  const AVCodec* decoder = c.find_decoder(info.coding == SoundCoding::Mace3 ? AV_CODEC_ID_MACE3 : AV_CODEC_ID_MACE6);
  AVCodecContext* ctx = decoder ? c.alloc_context(decoder) : nullptr;
  AVPacket* packet = c.packet_alloc();
  AVFrame* frame = c.frame_alloc();
  size_t channels = info.channels, total = size_t(info.decoded_frames()), done = 0;
  bool ok = ctx && packet && frame && data.size() <= INT32_MAX;
  if (ok) {
    ctx->sample_rate = int(std::max<uint32_t>(info.rate, 1));
    c.default_layout(&ctx->ch_layout, int(channels));
    ok = c.open(ctx, decoder, nullptr) == 0 && c.new_packet(packet, int(data.size())) == 0;
  }
  if (ok) {
    if (!data.empty()) std::memcpy(packet->data, data.data(), data.size());
    ok = c.send_packet(ctx, packet) == 0 && c.send_packet(ctx, nullptr) == 0;
  }
  while (ok && c.receive_frame(ctx, frame) == 0) {
    bool planar = frame->format == AV_SAMPLE_FMT_S16P;
    if (!planar && frame->format != AV_SAMPLE_FMT_S16) {
      ok = false;
      break;
    }
    size_t n = std::min<size_t>(size_t(frame->nb_samples), total - done);
    for (size_t i = 0; i < n; ++i)
      for (size_t ch = 0; ch < channels; ++ch) {
        const int16_t* src = reinterpret_cast<const int16_t*>(frame->extended_data[planar ? ch : 0]);
        put16(out + ((done + i) * channels + ch) * 2, src[planar ? i : i * channels + ch]);
      }
    done += n;
  }
  c.frame_free(&frame);
  c.packet_free(&packet);
  c.free_context(&ctx);
  if (!ok || done != total) {
    why = "the MACE data could not be decoded (" + std::to_string(done) + " of " + std::to_string(total) + " frames)";
    return false;
  }
  return true;
}
#else
bool decode_mace(std::span<const uint8_t>, const SoundInfo&, uint8_t*, std::string& why) {
  why = "MACE is not supported by this build (no codec library)";
  return false;
}
#endif

}  // namespace

bool mace_available(std::string* why) {
#if TALVEN_HAVE_AVCODEC
  Codec& c = codec();
  if (!c.loaded && why) *why = c.why;
  return c.loaded;
#else
  if (why) *why = "MACE is not supported by this build (no codec library)";
  return false;
#endif
}

int16_t ulaw_sample(uint8_t code) {
  uint8_t u = uint8_t(~code);
  int32_t t = ((u & 0x0F) << 3) + 0x84;
  t <<= (u & 0x70) >> 4;
  return int16_t((u & 0x80) ? 0x84 - t : t - 0x84);
}

int16_t alaw_sample(uint8_t code) {
  uint8_t a = code ^ 0x55;
  int32_t t = (a & 0x0F) << 4;
  int seg = (a & 0x70) >> 4;
  if (seg == 0) t += 8;
  else t = (t + 0x108) << (seg - 1);
  return int16_t((a & 0x80) ? t : -t);
}

bool decode_sound(std::span<const uint8_t> block, const SoundInfo& info, Pcm& out, std::string& why) {
  out = Pcm{};
  if (info.data_offset > block.size() || info.data_bytes > block.size() - info.data_offset ||
      info.packets * info.packet_bytes > info.data_bytes) {
    why = "the sample data runs past the end of the block";
    return false;
  }
  std::span<const uint8_t> data = block.subspan(size_t(info.data_offset), size_t(info.data_bytes));
  out.rate = info.rate;
  out.channels = info.channels;
  out.bits = info.decoded_bits();
  uint64_t samples = info.decoded_frames() * info.channels;
  // Every coding gives at most 12 samples a byte, and the data lies inside
  // the block: the size is bounded before anything is allocated.
  out.bytes.resize(size_t(samples * (out.bits / 8)));
  uint8_t* o = out.bytes.data();
  const uint8_t* d = data.data();
  switch (info.coding) {
    case SoundCoding::Unsigned8: std::copy_n(d, samples, o); break;
    case SoundCoding::Signed8:
      for (uint64_t i = 0; i < samples; ++i) o[i] = uint8_t(d[i] ^ 0x80);
      break;
    case SoundCoding::Big16:
      for (uint64_t i = 0; i < samples; ++i) o[2 * i] = d[2 * i + 1], o[2 * i + 1] = d[2 * i];
      break;
    case SoundCoding::Little16: std::copy_n(d, samples * 2, o); break;
    case SoundCoding::Big24:
      for (uint64_t i = 0; i < samples; ++i) o[2 * i] = d[3 * i + 1], o[2 * i + 1] = d[3 * i];
      break;
    case SoundCoding::Little24:
      for (uint64_t i = 0; i < samples; ++i) o[2 * i] = d[3 * i + 1], o[2 * i + 1] = d[3 * i + 2];
      break;
    case SoundCoding::Ulaw:
      for (uint64_t i = 0; i < samples; ++i) put16(o + 2 * i, ulaw_sample(d[i]));
      break;
    case SoundCoding::Alaw:
      for (uint64_t i = 0; i < samples; ++i) put16(o + 2 * i, alaw_sample(d[i]));
      break;
    case SoundCoding::Ima4:
      if (!decode_ima4(data, info, o, why)) return false;
      break;
    case SoundCoding::ImaWav:
      if (!decode_ima_wav(data, info, o, why)) return false;
      break;
    case SoundCoding::Mace3:
    case SoundCoding::Mace6:
      if (!decode_mace(data, info, o, why)) return false;
      break;
  }
  return true;
}

}  // namespace media
