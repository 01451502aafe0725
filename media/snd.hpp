// Sampled sounds as outside data: `snd ` resources (formats 1 and 2, with
// standard, extended and compressed sound headers), sound files (WAV,
// AIFF, AIFF-C), their decoding into plain PCM, and the WAV images the
// output plays.
//
// Nothing here touches the Lisp machine: every function takes the bytes of
// a block and answers new bytes or a reason, so the callers decide what
// happens to the block. Every byte is read through core::ByteReader, and
// every count taken from the data is checked against the bytes that are
// really there before anything is decoded, so a lying header is refused
// whole instead of decoded in part.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace media {

// How the stored samples are coded.
enum class SoundCoding : uint8_t {
  Unsigned8,  // offset binary, 128 is silence
  Signed8,
  Big16,
  Little16,
  Big24,
  Little24,
  Ima4,    // packets of 34 bytes a channel: a 2-byte header and 64 samples
  ImaWav,  // the WAV file's IMA blocks
  Mace3,   // 2 bytes a channel, 6 samples
  Mace6,   // 1 byte a channel, 6 samples
  Ulaw,
  Alaw,
};
const char* coding_name(SoundCoding c);

// What a header says about a sound, and where its sample data lies in the
// block it was read from.
struct SoundInfo {
  std::string container;       // "snd 1", "snd 2", "WAVE", "AIFF" or "AIFC"
  uint8_t encode = 0;          // `snd `: 0 standard, 0xFF extended, 0xFE compressed header
  uint32_t header_offset = 0;  // `snd `: where the sound header begins
  uint32_t rate_fixed = 0;     // 16.16 fixed point (`snd `), or the integer rate shifted
  uint32_t rate = 0;           // the integer part, in Hz
  uint16_t channels = 0;
  uint16_t bits = 0;            // the stored sample-size field
  uint32_t frames = 0;          // as the header counts them (packets for the packet codings)
  uint32_t loop_start = 0, loop_end = 0;
  uint8_t base_frequency = 0;
  int16_t compression_id = 0;   // compressed `snd ` header
  uint32_t format = 0;          // compressed `snd ` and AIFF-C: the four-character coding
  SoundCoding coding = SoundCoding::Unsigned8;
  uint32_t packet_bytes = 0;    // bytes of one packet, all channels
  uint32_t packet_frames = 1;   // frames one packet decodes to
  uint64_t packets = 0;         // packets of the data
  uint64_t data_offset = 0, data_bytes = 0;
  uint64_t decoded_frames() const { return packets * packet_frames; }
  // The bits of the decoded samples: 8 (unsigned) or 16 (signed little-endian).
  uint16_t decoded_bits() const;
};

// Samples as a WAV file holds them: unsigned 8-bit or signed 16-bit
// little-endian, channels interleaved.
struct Pcm {
  uint32_t rate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;
  std::vector<uint8_t> bytes;
};

// Reads the header of a `snd ` resource. False with the reason when the
// block is not one this reader can decode.
bool parse_snd(std::span<const uint8_t> block, SoundInfo& info, std::string& why);
// Reads the header of a WAV, AIFF or AIFF-C file.
bool parse_sound_file(std::span<const uint8_t> file, SoundInfo& info, std::string& why);
// Either of the two, told apart by the first bytes.
bool parse_sound(std::span<const uint8_t> bytes, SoundInfo& info, std::string& why);

// The `snd ` resources of a resource file (plain, AppleDouble or
// MacBinary), in map order, as spans of `file`. False when the file is not
// a resource file.
struct SndResource {
  int32_t id = 0;
  std::string name;
  std::span<const uint8_t> data;
};
bool fork_sounds(std::span<const uint8_t> file, std::vector<SndResource>& out);

// Decodes the sample data that `info` describes (read from `block`).
bool decode_sound(std::span<const uint8_t> block, const SoundInfo& info, Pcm& out, std::string& why);

// The 44-byte WAV header and the samples.
std::vector<uint8_t> wav_file(const Pcm& pcm);

// The conversion of a `snd ` block into the WAV image it is played as.
// A format-1 sound with a standard header keeps its block: the 44-byte
// header is written over the start of the block and the samples stay where
// they are, so the first two of them are given up. Every other sound is
// decoded and its image is the header followed by all its samples (so the
// block changes size). Answers false with the reason, and leaves `image`
// empty, when the block cannot be converted. A block that is already a WAV
// image (it begins with "RIFF") is not a `snd ` resource: the caller checks.
bool snd_to_wav(std::span<const uint8_t> block, std::vector<uint8_t>& image, std::string& why);

// A WAV image the output can play: PCM (format tag 1), 1 or 2 channels of
// 8 or 16 bits, with its samples inside the block.
struct WavView {
  uint32_t rate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;
  uint64_t data_offset = 0, data_bytes = 0;
};
// The image as the output reads it: "RIFF", "WAVE", "fmt " with length 16
// and format tag 1, "data" at 36, at least 45 bytes. False when any of it
// is not so, or the data length runs past the block.
bool wav_view(std::span<const uint8_t> image, WavView& view);

// (channels frames bits rate) of an AIFF file from its first 1024 bytes,
// for the rates a classic file names exactly; nothing otherwise.
std::optional<std::array<uint32_t, 4>> aiff_header(std::span<const uint8_t> head);
// (channels frames bits rate) of a `snd ` resource: a standard header
// answers one channel of 8-bit samples; a compressed one answers the
// decoded frames of 16-bit samples.
std::optional<std::array<uint32_t, 4>> resource_header(std::span<const uint8_t> block);

// One G.711 code as a 16-bit sample.
int16_t ulaw_sample(uint8_t code);
int16_t alaw_sample(uint8_t code);
// Whether the MACE decoder (the host's codec library) can be had; the
// reason when not.
bool mace_available(std::string* why = nullptr);

}  // namespace media
