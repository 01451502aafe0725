// The transition effects of obj-window: the effect constructors, advancing,
// running and finishing an effect, the dissolves and the plain copies from
// an offscreen image, and showing a top-level window through its effect.
//
// An effect lives in this module's table and reaches Lisp as a pointer
// value holding its generation-checked id: a finished effect's pointer no
// longer names anything, and using it again is error 2. An effect draws on
// the window that runs it (`self`), from that window's offscreen image;
// it processes no events while it runs and reads the runtime's one clock,
// so a headless run, whose clock is virtual, repeats exactly.
#pragma once
#include <cstdint>

#include "core/module.hpp"
#include "core/value.hpp"

namespace shell {

extern const core::Module kEffectsModule;

// Registers the effect methods in obj-window.
void register_effect_methods(core::Value cls);

// Brings a top-level window that has just been shown to the screen through
// the effect its `effect` property names, when it has one and an
// offscreen image of its own to take the picture from. The property is a
// message (`dissolve`) or a message with its arguments (`(wipe-sides 4)`,
// the rectangle left out meaning the whole window), sent to the window
// once its image is brought up to date; an effect it answers is run in
// steps of 16 every 20 ms and finished.
void show_through_effect(uint32_t id);

}  // namespace shell
