// The sound primitives on the frame's audio output.
#include "media/sound.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/bytes.hpp"
#include "core/clock.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/runtime.hpp"
#include "core/symbols.hpp"
#include "data/handles.hpp"
#include "media/frame.hpp"
#include "media/snd.hpp"
#include "storage/map_handles.hpp"
#include "storage/outputs.hpp"
#include "storage/paths.hpp"
#include "storage/resources.hpp"

namespace media {
using namespace core;

namespace {

// Result codes of the sound primitives.
constexpr int32_t kSoundOk = 0, kCannotPlay = -1, kSoundMissing = -204;
constexpr uint32_t kSndType = 0x736E6420;  // 'snd '

struct SoundState : ModuleState {
  bool open = false;                 // a background sound was started and not stopped
  platform::WaveFormat format;       // the format the output was opened in
  std::vector<uint8_t> file_block;   // the image of the sound file playing, if one is
  uint16_t left = 0xFFFF, right = 0xFFFF;  // the output's volume
  Value queue = kNil;                // the symbol Sound-Queue
};

SoundState& sound_state() { return state_of<SoundState>(kSoundModule); }

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

// The back-end of the open frame: the runtime's one audio output.
platform::Backend* output() {
  if (!module_installed(kFrameModule) || !frame_state().ws) return nullptr;
  return frame_state().backend.get();
}

void release_queue() {
  SoundState& s = sound_state();
  Value list = symbol_value(s.queue);
  set_symbol_value(s.queue, kNil);
  for (; list.is_pair(); list = cdr(list))
    if (storage::is_box(car(list), storage::kResourceBox)) storage::release_resource(car(list));
}

// Queues samples at the output's volume: as they are at full volume, so
// that the audio log holds exactly the sound's samples.
bool queue_samples(platform::Backend& b, std::span<const uint8_t> pcm) {
  SoundState& s = sound_state();
  if (s.left == 0xFFFF && s.right == 0xFFFF) return b.audio_queue(pcm);
  std::vector<uint8_t> scaled(pcm.begin(), pcm.end());
  uint32_t gains[2] = {s.left, s.format.channels == 2 ? s.right : s.left};
  size_t channels = s.format.channels;
  if (s.format.bits == 8) {
    for (size_t i = 0; i < scaled.size(); ++i)
      scaled[i] = uint8_t(128 + (int32_t(scaled[i]) - 128) * int32_t(gains[i % channels]) / 65535);
  } else {
    for (size_t i = 0; i + 1 < scaled.size(); i += 2) {
      int32_t v = int16_t(load_le16(scaled.data() + i));
      store_le16(scaled.data() + i, uint16_t(int16_t(v * int32_t(gains[(i / 2) % channels]) / 65535)));
    }
  }
  return b.audio_queue(scaled);
}

// Starts samples on the output: one after another while the format stays
// the same, the output opened again in the new format otherwise.
bool start_samples(const platform::WaveFormat& f, std::span<const uint8_t> pcm) {
  SoundState& s = sound_state();
  platform::Backend* b = output();
  if (b == nullptr || !f.valid()) return false;
  bool same = s.open && s.format.rate == f.rate && s.format.channels == f.channels && s.format.bits == f.bits;
  if (!same) {
    if (s.open) b->audio_close();
    s.open = false;
    if (!b->audio_open(f)) return false;
    s.format = f;
  }
  s.open = true;
  return queue_samples(*b, pcm);
}

// The bytes of a live handle, empty when it has none.
std::span<uint8_t> handle_bytes(uint32_t h) {
  Addr a = data::handle_memory(h);
  uint32_t n = data::handle_size(h);
  if (a == 0 || n == 0) return {};
  return {rt().region.ptr(a), n};
}

// Makes the block of `h` a WAV image, the first time: the image replaces
// the block's bytes, and the block takes the image's size. A sound that
// cannot be converted leaves the block as it was.
bool convert_block(uint32_t h) {
  std::span<uint8_t> block = handle_bytes(h);
  if (block.size() >= 4 && std::memcmp(block.data(), "RIFF", 4) == 0) return true;
  std::vector<uint8_t> image;
  std::string why;
  if (!snd_to_wav(block, image, why)) return false;
  if (image.size() != block.size() && !data::set_handle_size(h, uint32_t(image.size()))) return false;
  std::memcpy(handle_bytes(h).data(), image.data(), image.size());
  return true;
}

// Waits on the runtime's clock until the output has played what it holds.
void wait_played(platform::Backend& b) {
  const SoundState& s = sound_state();
  uint64_t rate = std::max<uint64_t>(s.format.bytes_per_second(), 1);
  while (size_t pending = b.audio_pending())
    clock_wait(uint32_t(std::min<uint64_t>((pending * 1000 + rate - 1) / rate, 1000)));
}

// Plays the sound block of handle `h`, converting it first when it is a
// `snd ` resource.
int32_t play_block(uint32_t h, bool background) {
  if (!convert_block(h)) return kCannotPlay;
  WavView view;
  std::span<uint8_t> image = handle_bytes(h);
  if (!wav_view(image, view)) return kCannotPlay;
  platform::WaveFormat f{view.rate, view.channels, view.bits};
  if (!start_samples(f, image.subspan(size_t(view.data_offset), size_t(view.data_bytes)))) {
    stop_sound_output();
    return kCannotPlay;
  }
  if (!background) {
    wait_played(*output());
    stop_sound_output();
  }
  return kSoundOk;
}

// The handle a sound argument names: a handle or resource box, or the
// `snd ` resource of a fixnum ID (0 and *missing when there is none).
uint32_t sound_handle(Value v, bool* missing, Value* resource = nullptr) {
  if (v.is_fixnum()) {
    Value res = storage::find_resource(kSndType, v.fixnum());
    if (resource) *resource = res;
    uint32_t h = box_addr(res);
    if (h == 0 || !data::handle_live(h)) *missing = true;
    return *missing ? 0 : h;
  }
  if ((storage::is_box(v, data::kHandleBox) || storage::is_box(v, storage::kResourceBox)) && data::handle_live(box_addr(v)))
    return box_addr(v);
  return 0;
}

Value list_of(std::initializer_list<uint32_t> items) {
  Value out = kNil;
  for (auto it = items.end(); it != items.begin();) out = cons(make_integer(int32_t(*--it)), out);
  return out;
}

uint16_t volume_arg(Value v) {
  int64_t n = is_integer(v) ? read_integer(v) : v.is(Tag::Real) ? int64_t(real_value(v)) : 0;
  return uint16_t(std::clamp<int64_t>(n, 0, 65535));
}

// ---- Primitives ----------------------------------------------------------------------

// A short tone of our own: 100 ms of 880 Hz, softly, on a free output.
Value prim_sysbeep() {
  if (output() == nullptr || sound_state().open) return kNoValue;
  platform::WaveFormat f{22050, 1, 8};
  std::vector<uint8_t> tone(2205);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = uint8_t(128 + 40 * std::sin(2 * 3.14159265358979 * 880 * double(i) / 22050));
  start_samples(f, tone);
  return kNoValue;
}

Value prim_play_sound(Value sound) {
  stop_sound_output();
  bool missing = false;
  uint32_t h = sound_handle(sound, &missing);
  if (missing) return make_integer(kSoundMissing);
  if (h == 0) return make_integer(kCannotPlay);
  return make_integer(play_block(h, false));
}

Value prim_play_sound_background(Value ids) {
  stop_sound_output();
  SoundState& s = sound_state();
  Value list = ids.is_pair() || ids == kNil ? ids : cons(ids, kNil);
  for (; list.is_pair(); list = cdr(list)) {
    Value id = car(list);
    bool missing = false;
    Value res = kNil;
    uint32_t h = id.is_fixnum() ? sound_handle(id, &missing, &res) : 0;
    if (missing || h == 0) {
      stop_sound_output();
      return make_integer(kSoundMissing);
    }
    set_symbol_value(s.queue, cons(res, symbol_value(s.queue)));
    data::lock_handle(h);
    if (int32_t code = play_block(h, true)) {
      stop_sound_output();
      return make_integer(code);
    }
  }
  return make_integer(kSoundOk);
}

Value prim_play_sound_file(Value path) {
  stop_sound_output();
  SoundState& s = sound_state();
  std::vector<uint8_t> file;
  std::string why;
  SoundInfo info;
  Pcm pcm;
  if (!storage::read_input(storage::posix_of(path), file, why) || !parse_sound_file(file, info, why) ||
      !decode_sound(file, info, pcm, why))
    return make_integer(kCannotPlay);
  s.file_block = wav_file(pcm);
  platform::WaveFormat f{pcm.rate, pcm.channels, pcm.bits};
  if (!start_samples(f, std::span<const uint8_t>(s.file_block).subspan(44))) {
    stop_sound_output();
    return make_integer(kCannotPlay);
  }
  return make_integer(kSoundOk);
}

Value prim_stop_sounds() {
  stop_sound_output();
  return kNoValue;
}

Value prim_can_play_sound_p() { return boolean(output() != nullptr); }

Value prim_sound_playing_p() {
  poll_sound();
  return boolean(sound_state().open);
}

Value prim_get_sound_volume() {
  if (output() == nullptr) return kNil;
  return list_of({sound_state().left, sound_state().right});
}

Value prim_set_sound_volume(Value v) {
  if (output() == nullptr) return kNil;
  SoundState& s = sound_state();
  if (v.is_pair()) {
    Value second = cdr(v);
    s.left = volume_arg(car(v));
    s.right = second.is_pair() && car(second).is_fixnum() ? volume_arg(car(second))
                                                                          : s.left;
  } else {
    s.left = s.right = volume_arg(v);
  }
  return rt().sym.t;
}

// Only the head of the file is read: a header names its chunks there.
Value prim_aiff_header(Value path) {
  std::FILE* f = std::fopen(storage::posix_of(path).c_str(), "rb");
  if (f == nullptr) return kNil;
  uint8_t head[1024];
  size_t n = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  auto h = aiff_header(std::span<const uint8_t>(head, n));
  return h ? list_of({(*h)[0], (*h)[1], (*h)[2], (*h)[3]}) : kNil;
}

Value prim_resource_header(Value handle) {
  bool missing = false;
  uint32_t h = handle.is_fixnum() ? 0 : sound_handle(handle, &missing);
  if (h == 0) return kNil;
  auto r = resource_header(handle_bytes(h));
  return r ? list_of({(*r)[0], (*r)[1], (*r)[2], (*r)[3]}) : kNil;
}

const NativeRow kSoundNatives[] = {
    TV_PRIM("sysbeep", prim_sysbeep, "(sysbeep) a short beep, unless there is no sound output or a sound is playing; no value"),
    TV_PRIM("play-sound", prim_play_sound, "(play-sound SOUND) stops the output, then plays the snd resource of id SOUND (or the sound handle SOUND) to its end; 0, -204 when the resource is missing, -1 when it cannot be played"),
    TV_PRIM("play-sound-background", prim_play_sound_background, "(play-sound-background IDS) stops the output, then starts the snd resources of IDS (an id or a list of ids) in the background; 0, -204 when one is missing, or the failing sound's code"),
    TV_PRIM("play-sound-file", prim_play_sound_file, "(play-sound-file PATHNAME) stops the output, then starts the sound file (WAV or AIFF) in the background; 0, or -1 when it cannot be read or played"),
    TV_PRIM("stop-sounds", prim_stop_sounds, "(stop-sounds) stops the sound output and releases what it plays; no value"),
    TV_PRIM("can-play-sound?", prim_can_play_sound_p, "(can-play-sound?) t when there is a sound output, otherwise nil"),
    TV_PRIM("sound-playing?", prim_sound_playing_p, "(sound-playing?) t while a sound is playing, otherwise nil"),
    TV_PRIM("get-sound-volume", prim_get_sound_volume, "(get-sound-volume) the list (LEFT RIGHT) of the output's volumes, 0 to 65535; nil without a sound output"),
    TV_PRIM("set-sound-volume", prim_set_sound_volume, "(set-sound-volume VOLUME) sets both volumes to VOLUME, or with a list (LEFT [RIGHT]) each, clamped to 0 to 65535; t, or nil without a sound output"),
    TV_PRIM("aiff-header", prim_aiff_header, "(aiff-header PATHNAME) the list (CHANNELS FRAMES BITS RATE) of an AIFF file, nil when it is none or cannot be read"),
    TV_PRIM("resource-header", prim_resource_header, "(resource-header HANDLE) the list (CHANNELS FRAMES BITS RATE) of a sampled-sound resource's handle, otherwise nil"),
};

}  // namespace

void stop_sound_output() {
  if (!module_installed(kSoundModule)) return;
  SoundState& s = sound_state();
  if (s.open) {
    if (platform::Backend* b = output()) b->audio_close();
    s.open = false;
    s.file_block.clear();
    s.file_block.shrink_to_fit();
  }
  release_queue();
}

bool poll_sound() {
  if (!module_installed(kSoundModule)) return false;
  SoundState& s = sound_state();
  platform::Backend* b = output();
  if (!s.open || (b != nullptr && b->audio_pending() != 0)) return false;
  stop_sound_output();
  return true;
}

const Module kSoundModule{
    "sound",
    [](Runtime&) -> std::unique_ptr<ModuleState> { return std::make_unique<SoundState>(); },
    [](Runtime&) {
      register_natives(kSoundNatives);
      sound_state().queue = intern_static("Sound-Queue", kNil);
      if (symbol_value(sound_state().queue).is_no_value()) set_symbol_value(sound_state().queue, kNil);
    },
    nullptr,
    [](Runtime&) { stop_sound_output(); },
};

}  // namespace media
