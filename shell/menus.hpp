// Menus: the class obj-menu, whose instances form one tree (the root
// menu, the menu bar, its menus, their items and submenus) from which the
// frame's native menu bar and pop-ups are built. Items are numbered with
// command ids from 10000, never reused; a chosen command becomes `select`
// sent to its item (or `set-text-font` to the focus, for a font menu).
#pragma once
#include "core/module.hpp"
#include "core/value.hpp"
#include "platform/window.hpp"

namespace shell {

extern const core::Module kMenusModule;

// A command chosen from a menu: true when a menu object took it.
bool menu_command(uint32_t command);
// A native menu is about to open: its menu object hears `update`.
void menu_opening(platform::Handle native);
// Pops up a menu object's menu at a point of the system window and answers
// the instance of the item chosen, nil for none.
core::Value popup_select(core::Value menu, gfx::Pt at_system);

}  // namespace shell
