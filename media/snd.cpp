// The headers of `snd ` resources and sound files, and the WAV images made
// from them.
#include "media/snd.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/bytes.hpp"
#include "storage/fork.hpp"

namespace media {

using core::ByteReader;

namespace {

constexpr uint32_t code4(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint8_t(s[3]);
}

std::string hex(unsigned v, int digits) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%0*X", digits, v);
  return b;
}

std::string code_text(uint32_t c) {
  std::string s;
  for (int i = 3; i >= 0; --i) {
    char ch = char(c >> (8 * i));
    s += (ch >= 0x20 && ch < 0x7F) ? ch : '?';
  }
  return s;
}

bool fail(std::string& why, std::string text) {
  why = std::move(text);
  return false;
}

// The integer part of an 80-bit extended number; 0 for anything below 1,
// negative, or too large for 32 bits.
uint32_t extended_integer(std::span<const uint8_t> b) {
  if (b.size() < 10 || (b[0] & 0x80)) return 0;
  int exponent = ((b[0] & 0x7F) << 8 | b[1]) - 16383;
  uint64_t mantissa = 0;
  for (int i = 2; i < 10; ++i) mantissa = mantissa << 8 | b[size_t(i)];
  if (exponent < 0 || exponent > 31) return 0;
  return uint32_t(mantissa >> (63 - exponent));
}

// The packet shape of each coding: bytes a channel, frames a packet.
void set_packets(SoundInfo& info) {
  uint32_t bytes = 1, frames = 1;
  switch (info.coding) {
    case SoundCoding::Ima4: bytes = 34, frames = 64; break;
    case SoundCoding::Mace3: bytes = 2, frames = 6; break;
    case SoundCoding::Mace6: bytes = 1, frames = 6; break;
    case SoundCoding::Big16:
    case SoundCoding::Little16: bytes = 2; break;
    case SoundCoding::Big24:
    case SoundCoding::Little24: bytes = 3; break;
    default: break;
  }
  info.packet_bytes = bytes * info.channels;
  info.packet_frames = frames;
}

// The coding named by a four-character code (AIFF-C, compressed `snd `);
// for the uncompressed names the sample size decides.
bool coding_of(uint32_t format, uint16_t bits, SoundCoding& c, std::string& why) {
  switch (format) {
    case code4("NONE"):
    case code4("twos"):
      if (bits == 8) c = SoundCoding::Signed8;
      else if (bits == 16) c = SoundCoding::Big16;
      else if (bits == 24) c = SoundCoding::Big24;
      else return fail(why, "a sample size of " + std::to_string(bits) + " bits is not supported");
      return true;
    case code4("sowt"):
      if (bits == 8) c = SoundCoding::Signed8;
      else if (bits == 16) c = SoundCoding::Little16;
      else if (bits == 24) c = SoundCoding::Little24;
      else return fail(why, "a sample size of " + std::to_string(bits) + " bits is not supported");
      return true;
    case code4("raw "): c = SoundCoding::Unsigned8; return true;
    case code4("ima4"): c = SoundCoding::Ima4; return true;
    case code4("MAC3"): c = SoundCoding::Mace3; return true;
    case code4("MAC6"): c = SoundCoding::Mace6; return true;
    case code4("ulaw"):
    case code4("ULAW"): c = SoundCoding::Ulaw; return true;
    case code4("alaw"):
    case code4("ALAW"): c = SoundCoding::Alaw; return true;
    default: return fail(why, "unknown sample coding '" + code_text(format) + "'");
  }
}

// The checks every header shares: channels, rate, and data that lies
// inside the block.
bool check_shape(SoundInfo& info, uint64_t available, std::string& why) {
  if (info.channels == 0) return fail(why, "zero channels");
  if (info.channels > 2) return fail(why, std::to_string(info.channels) + " channels (1 or 2 are played)");
  if (info.rate == 0) return fail(why, "a sample rate of 0");
  set_packets(info);
  uint64_t need = info.packets * info.packet_bytes;
  if (info.data_offset > available || need > available - info.data_offset)
    return fail(why, "the sample data (" + std::to_string(info.packets) + " packets of " +
                         std::to_string(info.packet_bytes) + " bytes at offset " + std::to_string(info.data_offset) +
                         ") runs past the end of the " + std::to_string(available) + " bytes");
  info.data_bytes = need;
  return true;
}

}  // namespace

const char* coding_name(SoundCoding c) {
  switch (c) {
    case SoundCoding::Unsigned8: return "pcm-u8";
    case SoundCoding::Signed8: return "pcm-s8";
    case SoundCoding::Big16: return "pcm-s16be";
    case SoundCoding::Little16: return "pcm-s16le";
    case SoundCoding::Big24: return "pcm-s24be";
    case SoundCoding::Little24: return "pcm-s24le";
    case SoundCoding::Ima4: return "ima4";
    case SoundCoding::ImaWav: return "ima-adpcm";
    case SoundCoding::Mace3: return "mace3";
    case SoundCoding::Mace6: return "mace6";
    case SoundCoding::Ulaw: return "ulaw";
    case SoundCoding::Alaw: return "alaw";
  }
  return "?";
}

uint16_t SoundInfo::decoded_bits() const {
  return coding == SoundCoding::Unsigned8 || coding == SoundCoding::Signed8 ? 8 : 16;
}

// ---- `snd ` resources ------------------------------------------------------------

bool parse_snd(std::span<const uint8_t> block, SoundInfo& info, std::string& why) {
  info = SoundInfo{};
  ByteReader r(block);
  uint16_t format = r.be16();
  if (!r.ok()) return fail(why, "truncated header: " + std::to_string(block.size()) + " bytes");
  if (format == 1) {
    uint16_t kinds = r.be16();
    for (uint16_t i = 0; i < kinds && r.ok(); ++i) {
      uint16_t kind = r.be16();
      r.skip(4);
      if (r.ok() && kind != 5) return fail(why, "data format " + std::to_string(kind) + " is not a sampled sound");
    }
  } else if (format == 2) {
    r.skip(2);  // the reference count
  } else {
    return fail(why, "format " + std::to_string(format) + " (a sound resource has format 1 or 2)");
  }
  info.container = format == 1 ? "snd 1" : "snd 2";
  uint16_t commands = r.be16();
  bool found = false;
  for (uint16_t i = 0; i < commands && r.ok() && !found; ++i) {
    uint16_t cmd = r.be16();
    r.skip(2);
    uint32_t param = r.be32();
    // The buffer and sound commands with the flag that makes their second
    // parameter an offset into this resource.
    if (r.ok() && (cmd == 0x8051 || cmd == 0x8050)) found = true, info.header_offset = param;
  }
  if (!r.ok()) return fail(why, "truncated header: the command list runs past " + std::to_string(block.size()) + " bytes");
  if (!found) return fail(why, "no sound command with a data offset");

  ByteReader h = r.at(0, block.size());
  uint64_t at = info.header_offset;
  uint32_t sample_pointer = h.be32_at(at);
  uint32_t length_or_channels = h.be32_at(at + 4);
  info.rate_fixed = h.be32_at(at + 8);
  info.rate = info.rate_fixed >> 16;
  info.loop_start = h.be32_at(at + 12);
  info.loop_end = h.be32_at(at + 16);
  info.encode = h.u8_at(at + 20);
  info.base_frequency = h.u8_at(at + 21);
  if (!h.ok()) return fail(why, "truncated sound header at offset " + std::to_string(at));
  if (sample_pointer != 0) return fail(why, "the samples are not in the resource (sample pointer " + hex(sample_pointer, 8) + ")");
  if (info.encode == 0x00) {
    info.channels = 1;
    info.bits = 8;
    info.frames = length_or_channels;
    info.coding = SoundCoding::Unsigned8;
    info.packets = info.frames;
    info.data_offset = at + 22;
  } else if (info.encode == 0xFF || info.encode == 0xFE) {
    info.channels = uint16_t(length_or_channels > 0xFFFF ? 0xFFFF : length_or_channels);
    info.frames = h.be32_at(at + 22);
    info.data_offset = at + 64;
    if (info.encode == 0xFF) {
      info.bits = h.be16_at(at + 48);
      if (!h.ok()) return fail(why, "truncated extended sound header at offset " + std::to_string(at));
      if (info.bits == 8) info.coding = SoundCoding::Unsigned8;
      else if (info.bits == 16) info.coding = SoundCoding::Big16;
      else return fail(why, "a sample size of " + std::to_string(info.bits) + " bits is not supported");
    } else {
      info.format = h.be32_at(at + 40);
      info.compression_id = int16_t(h.be16_at(at + 56));
      info.bits = h.be16_at(at + 62);
      if (!h.ok()) return fail(why, "truncated compressed sound header at offset " + std::to_string(at));
      if (info.format != 0) {
        if (!coding_of(info.format, info.bits, info.coding, why)) return false;
      } else if (info.compression_id == 3) {
        info.coding = SoundCoding::Mace3;
      } else if (info.compression_id == 4) {
        info.coding = SoundCoding::Mace6;
      } else if (info.compression_id == 0) {
        if (!coding_of(code4("twos"), info.bits, info.coding, why)) return false;
        if (info.coding == SoundCoding::Signed8) info.coding = SoundCoding::Unsigned8;
      } else {
        return fail(why, "unknown compression " + std::to_string(info.compression_id));
      }
    }
    info.packets = info.frames;
  } else {
    return fail(why, "unknown encoding " + hex(info.encode, 2));
  }
  return check_shape(info, block.size(), why);
}

// ---- Sound files -------------------------------------------------------------------

namespace {

bool parse_wave(std::span<const uint8_t> file, SoundInfo& info, std::string& why) {
  info.container = "WAVE";
  ByteReader r(file);
  r.skip(12);
  bool have_format = false, have_data = false;
  uint16_t tag = 0, block_align = 0;
  while (r.has(8) && !(have_format && have_data)) {
    uint32_t id = r.be32(), length = r.le32();
    uint64_t start = r.pos();
    if (id == code4("fmt ")) {
      ByteReader f = r.at(r.pos(), std::min<uint64_t>(length, r.remaining()));
      tag = f.le16();
      info.channels = f.le16();
      info.rate = f.le32();
      f.skip(4);
      block_align = f.le16();
      info.bits = f.le16();
      if (!f.ok()) return fail(why, "truncated format chunk");
      if (tag == 0xFFFE) {  // the extensible form: the coding is the first word of its GUID
        f.skip(8);
        tag = f.le16();
        if (!f.ok()) return fail(why, "truncated extensible format chunk");
      }
      have_format = true;
    } else if (id == code4("data")) {
      info.data_offset = start;
      info.data_bytes = length;
      have_data = true;
    }
    r.seek(size_t(std::min<uint64_t>(file.size(), start + uint64_t(length) + (length & 1))));
  }
  if (!have_format) return fail(why, "no format chunk");
  if (!have_data) return fail(why, "no data chunk");
  info.rate_fixed = info.rate > 0xFFFF ? 0 : info.rate << 16;
  if (tag == 1) {
    if (info.bits == 8) info.coding = SoundCoding::Unsigned8;
    else if (info.bits == 16) info.coding = SoundCoding::Little16;
    else if (info.bits == 24) info.coding = SoundCoding::Little24;
    else return fail(why, "a sample size of " + std::to_string(info.bits) + " bits is not supported");
    set_packets(info);
    if (info.packet_bytes == 0) return fail(why, "zero channels");
    info.packets = info.data_bytes / info.packet_bytes;
  } else if (tag == 0x11) {
    info.coding = SoundCoding::ImaWav;
    if (info.channels == 0) return fail(why, "zero channels");
    if (info.bits != 4 || block_align < 4u * info.channels + 4u * info.channels || block_align % (4 * info.channels))
      return fail(why, "an IMA ADPCM block of " + std::to_string(block_align) + " bytes cannot be decoded");
    info.packet_bytes = block_align;
    info.packet_frames = (block_align - 4u * info.channels) * 2u / info.channels + 1u;
    info.packets = info.data_bytes / block_align;
  } else {
    return fail(why, "WAV format tag " + hex(tag, 4) + " is not supported");
  }
  info.frames = uint32_t(std::min<uint64_t>(info.decoded_frames(), UINT32_MAX));
  uint64_t packets = info.packets;
  if (info.coding == SoundCoding::ImaWav) {
    if (info.channels > 2) return fail(why, std::to_string(info.channels) + " channels (1 or 2 are played)");
    if (info.rate == 0) return fail(why, "a sample rate of 0");
    if (info.data_offset > file.size() || packets * info.packet_bytes > file.size() - info.data_offset)
      return fail(why, "the data chunk runs past the end of the file");
    info.data_bytes = packets * info.packet_bytes;
    return true;
  }
  return check_shape(info, file.size(), why);
}

bool parse_aiff(std::span<const uint8_t> file, SoundInfo& info, std::string& why) {
  ByteReader r(file);
  r.skip(8);
  bool compressed = r.be32() == code4("AIFC");
  info.container = compressed ? "AIFC" : "AIFF";
  bool have_comm = false, have_ssnd = false;
  while (r.has(8) && !(have_comm && have_ssnd)) {
    uint32_t id = r.be32(), length = r.be32();
    uint64_t start = r.pos();
    if (id == code4("COMM")) {
      ByteReader c = r.at(r.pos(), std::min<uint64_t>(length, r.remaining()));
      info.channels = c.be16();
      info.frames = c.be32();
      info.bits = c.be16();
      info.rate = extended_integer(c.bytes(10));
      info.format = compressed ? c.be32() : code4("NONE");
      if (!c.ok()) return fail(why, "truncated COMM chunk");
      have_comm = true;
    } else if (id == code4("SSND")) {
      uint32_t offset = r.be32();
      r.skip(4);
      if (!r.ok()) return fail(why, "truncated SSND chunk");
      info.data_offset = start + 8 + uint64_t(offset);
      info.data_bytes = length < 8 ? 0 : length - 8 - std::min<uint64_t>(offset, length - 8);
      have_ssnd = true;
    }
    r.seek(size_t(std::min<uint64_t>(file.size(), start + uint64_t(length) + (length & 1))));
  }
  if (!have_comm) return fail(why, "no COMM chunk");
  if (!have_ssnd) return fail(why, "no SSND chunk");
  info.rate_fixed = info.rate > 0xFFFF ? 0 : info.rate << 16;
  if (!coding_of(info.format, info.bits, info.coding, why)) return false;
  // The packet codings count packets as their frames.
  info.packets = info.frames;
  uint64_t chunk = info.data_bytes;
  if (!check_shape(info, file.size(), why)) return false;
  if (info.data_bytes > chunk) return fail(why, "the sample frames run past the SSND chunk");
  return true;
}

}  // namespace

bool parse_sound_file(std::span<const uint8_t> file, SoundInfo& info, std::string& why) {
  info = SoundInfo{};
  if (file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 && std::memcmp(file.data() + 8, "WAVE", 4) == 0)
    return parse_wave(file, info, why);
  if (file.size() >= 12 && std::memcmp(file.data(), "FORM", 4) == 0 &&
      (std::memcmp(file.data() + 8, "AIFF", 4) == 0 || std::memcmp(file.data() + 8, "AIFC", 4) == 0))
    return parse_aiff(file, info, why);
  return fail(why, "not a WAV, AIFF or AIFF-C file");
}

bool parse_sound(std::span<const uint8_t> bytes, SoundInfo& info, std::string& why) {
  if (bytes.size() >= 4 && (std::memcmp(bytes.data(), "RIFF", 4) == 0 || std::memcmp(bytes.data(), "FORM", 4) == 0))
    return parse_sound_file(bytes, info, why);
  return parse_snd(bytes, info, why);
}

bool fork_sounds(std::span<const uint8_t> file, std::vector<SndResource>& out) {
  out.clear();
  std::span<const uint8_t> fork = file;
  storage::ForkPlace place;
  if (storage::find_wrapped_fork(file, file.size(), place)) {
    if (place.offset > file.size() || place.length > file.size() - place.offset) return false;
    fork = file.subspan(size_t(place.offset), size_t(place.length));
  }
  storage::ForkMap map;
  if (storage::parse_fork(fork, storage::kResourceFork, map) != 0) return false;
  if (storage::ForkType* type = storage::find_type(map, code4("snd "))) {
    for (const storage::ForkRef& r : type->refs) {
      SndResource s;
      s.id = r.id;
      s.name = r.name;
      if (storage::fork_data(fork, map, r, s.data) != 0) return false;
      out.push_back(s);
    }
  }
  return true;
}

// ---- WAV images ----------------------------------------------------------------------

namespace {

void put_header(uint8_t* p, uint32_t data_length, uint16_t channels, uint32_t rate, uint16_t block_align,
                uint16_t bits) {
  std::memcpy(p, "RIFF", 4);
  core::store_le32(p + 4, data_length + 36);
  std::memcpy(p + 8, "WAVEfmt ", 8);
  core::store_le32(p + 16, 16);
  core::store_le16(p + 20, 1);
  core::store_le16(p + 22, channels);
  core::store_le32(p + 24, rate);
  core::store_le32(p + 28, rate * block_align);
  core::store_le16(p + 32, block_align);
  core::store_le16(p + 34, bits);
  std::memcpy(p + 36, "data", 4);
  core::store_le32(p + 40, data_length);
}

}  // namespace

std::vector<uint8_t> wav_file(const Pcm& pcm) {
  std::vector<uint8_t> out(44 + pcm.bytes.size());
  uint16_t align = uint16_t(pcm.channels * (pcm.bits / 8));
  put_header(out.data(), uint32_t(pcm.bytes.size()), pcm.channels, pcm.rate, align, pcm.bits);
  if (!pcm.bytes.empty()) std::memcpy(out.data() + 44, pcm.bytes.data(), pcm.bytes.size());
  return out;
}

bool snd_to_wav(std::span<const uint8_t> block, std::vector<uint8_t>& image, std::string& why) {
  image.clear();
  SoundInfo info;
  if (!parse_snd(block, info, why)) return false;
  if (info.container == "snd 1" && info.encode == 0 && info.header_offset == 20) {
    // The classic layout: the header ends two bytes into the samples.
    ByteReader r(block);
    uint16_t channels = r.be16_at(2);
    if (channels == 0 || channels > 2) return fail(why, std::to_string(channels) + " data formats taken as channels");
    if (info.frames < 2) return fail(why, "a sample length of " + std::to_string(info.frames) + " bytes");
    uint32_t length = info.frames - 2;
    length -= length % channels;
    image.assign(block.begin(), block.end());
    put_header(image.data(), length, channels, info.rate, channels, 8);
    return true;
  }
  Pcm pcm;
  if (!decode_sound(block, info, pcm, why)) return false;
  if (pcm.bytes.size() > 0xFFFFFFFFu - 44 - 36) return fail(why, "the decoded sound is too long for a WAV image");
  image = wav_file(pcm);
  return true;
}

bool wav_view(std::span<const uint8_t> image, WavView& view) {
  if (image.size() < 45) return false;
  const uint8_t* p = image.data();
  if (std::memcmp(p, "RIFF", 4) || std::memcmp(p + 8, "WAVE", 4) || std::memcmp(p + 12, "fmt ", 4) ||
      core::load_le32(p + 16) != 16 || core::load_le16(p + 20) != 1 || std::memcmp(p + 36, "data", 4))
    return false;
  view.channels = core::load_le16(p + 22);
  view.rate = core::load_le32(p + 24);
  view.bits = core::load_le16(p + 34);
  view.data_offset = 44;
  view.data_bytes = core::load_le32(p + 40);
  if ((view.channels != 1 && view.channels != 2) || (view.bits != 8 && view.bits != 16)) return false;
  if (view.data_bytes > image.size() - 44) return false;
  view.data_bytes -= view.data_bytes % (uint64_t(view.channels) * view.bits / 8);
  return true;
}

// ---- The header queries ---------------------------------------------------------------

std::optional<std::array<uint32_t, 4>> aiff_header(std::span<const uint8_t> head) {
  if (head.size() > 1024) head = head.first(1024);
  ByteReader r(head);
  if (r.be32() != code4("FORM")) return std::nullopt;
  uint32_t form_length = r.be32();
  if (r.be32() != code4("AIFF") || !r.ok()) return std::nullopt;
  std::optional<std::array<uint32_t, 4>> comm;
  bool sound = false;
  while (r.pos() < form_length && r.pos() < 1024 && r.has(8)) {
    uint32_t id = r.be32(), length = r.be32();
    size_t start = r.pos();
    if (id == code4("COMM")) {
      uint16_t channels = r.be16();
      uint32_t frames = r.be32();
      uint16_t bits = r.be16();
      uint32_t rate_word = r.be32();
      if (!r.ok()) return std::nullopt;
      uint32_t rate = 0;
      switch (rate_word) {
        case 0x400BE7D1: rate = 7418; break;
        case 0x400CAC44: rate = 11025; break;
        case 0x400DAC44: rate = 22050; break;
        case 0x400DADDC:
        case 0x400DADDD: rate = 22255; break;
        case 0x400EAC44: rate = 44100; break;
        case 0x400EBB80: rate = 48000; break;
        default: return std::nullopt;
      }
      if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return std::nullopt;
      comm = std::array<uint32_t, 4>{channels, frames, bits, rate};
    } else if (id == code4("SSND")) {
      sound = true;
    }
    uint64_t next = uint64_t(start) + length + (length & 1);
    if (next > head.size()) break;
    r.seek(size_t(next));
  }
  if (!comm || !sound) return std::nullopt;
  return comm;
}

std::optional<std::array<uint32_t, 4>> resource_header(std::span<const uint8_t> block) {
  SoundInfo info;
  std::string why;
  if (!parse_snd(block, info, why)) return std::nullopt;
  if (info.encode == 0) return std::array<uint32_t, 4>{1, info.frames, 8, info.rate};
  if (info.encode == 0xFF) return std::array<uint32_t, 4>{info.channels, info.frames, info.bits, info.rate};
  uint64_t frames = std::min<uint64_t>(info.decoded_frames(), UINT32_MAX);
  return std::array<uint32_t, 4>{info.channels, uint32_t(frames), info.decoded_bits(), info.rate};
}

}  // namespace media
