#pragma once

#include <cstdint>
#include <memory>

#include "foundation/Signal.h"
#include "ui/ViewHost.h"

class QWidget;

namespace orvel::ui {

// Draws a ViewHost's tree as Qt widgets inside a container, and after every evaluation updates
// those widgets in place: nodes are matched by their place, kind and id, so focus, carets,
// scroll positions and open menus survive, and keyed rows move instead of being rebuilt.
// Main thread only; the view host must outlive the renderer.
class QtRenderer {
  public:
    QtRenderer(ViewHost& host, QWidget& container);
    ~QtRenderer();
    QtRenderer(const QtRenderer&) = delete;
    QtRenderer& operator=(const QtRenderer&) = delete;

    // Brings the widgets up to date with the host's last evaluation.
    void render();

    // For tests and benchmarks: how many widgets of nodes were ever made, and renders done.
    std::uint64_t widgetsCreated() const;
    std::uint64_t renderCount() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvel::ui
