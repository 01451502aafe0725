// The sound output and its Lisp primitives: sounds from `snd ` resources
// and handles, turned into WAV images in their own blocks the first time
// they are played, and sound files, played synchronously or in the
// background on the frame's one audio output.
//
// Between calls: the output is open exactly while a background sound was
// started and not yet stopped; `Sound-Queue` lists the resources started in
// the background since the output was last stopped, and every one of them
// is released when it stops. A block that begins with "RIFF" is a WAV image
// and is never converted again; a block whose conversion fails is left as
// it was. Without a frame there is no output: playing answers -1.
#pragma once
#include "core/module.hpp"

namespace media {

extern const core::Module kSoundModule;

// For the event loop, once per pass: when the background sound has
// played to its end, stops the output (the sound-done notice of the
// frame) and answers true.
bool poll_sound();

// Stops the output: what `stop-sounds` does, and what the frame does when
// it is destroyed.
void stop_sound_output();

}  // namespace media
