#pragma once

#include "ui/qt/render/RenderCore.h"

// The families of node kinds, one source file each. Only the renderer's table of kinds includes
// this header; a family includes the core and never another family.
namespace orvel::ui::render {

// Texts, labels, symbol images, shapes, progress bars and spinners.
extern const Family kTextFamily;

// Buttons (with their keyboard shortcuts) and pull-down menus.
extern const Family kButtonFamily;

// Toggles in every style, pickers (menus, segments, radio groups), steppers and date pickers.
extern const Family kChoiceFamily;

// Text fields (plain, secure and whole numbers) and labelled values.
extern const Family kFieldFamily;

// Stacks, overlays, layout wrappers (padding, frames, fixed sizes, backgrounds, strokes),
// dividers and spacers.
extern const Family kStackFamily;

// Scroll views, forms and their sections, lists and tab views.
extern const Family kContainerFamily;

// Split views and search fields.
extern const Family kNavigationFamily;

}  // namespace orvel::ui::render
