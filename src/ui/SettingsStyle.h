#pragma once

#include <string>

#include "ui/View.h"

// The looks the Settings pages share.

namespace orvel::settings_style {

// An explanation under a control: caption font, secondary colour.
inline ui::View caption(std::string text, bool verbatim = false) {
    return (verbatim ? ui::TextVerbatim(std::move(text)) : ui::Text(std::move(text)))
        .font(ui::Font::style(ui::TextStyle::caption))
        .foregroundStyle(ui::Hierarchy::secondary)
        .fixedSize(false, true);
}

// A warning: caption font, orange.
inline ui::View warning(std::string text, bool verbatim = false) {
    return (verbatim ? ui::TextVerbatim(std::move(text)) : ui::Text(std::move(text)))
        .font(ui::Font::style(ui::TextStyle::caption))
        .foregroundStyle(ui::Color::orange())
        .fixedSize(false, true);
}

}  // namespace orvel::settings_style
