#pragma once

#include <optional>
#include <string>

#include "ui/Host.h"

namespace orvel::ui {

// The desktop's clipboard.
class QtPasteboard final : public Pasteboard {
  public:
    void setString(const std::string& text) override;
    std::optional<std::string> string() const override;
};

}  // namespace orvel::ui
