#include "ui/qt/QtRenderer.h"

#include "ui/qt/render/Families.h"
#include "ui/qt/render/RenderCore.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

#include <functional>
#include <utility>

namespace orvel::ui {

namespace {

using render::Family;

// Redraws when the desktop's palette changes (light to dark): colours are resolved when
// rendering, so a change of appearance needs one more pass.
class AppearanceWatcher final : public QObject {
  public:
    AppearanceWatcher(QObject* parent, std::function<void()> onChange)
        : QObject(parent), onChange_(std::move(onChange)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Only the container's own palette: the renderer sets its labels' palettes itself.
        const QEvent::Type type = event->type();
        if ((type == QEvent::ApplicationPaletteChange || type == QEvent::PaletteChange) &&
            watched == parent() && !posted_) {
            posted_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    posted_ = false;
                    onChange_();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

  private:
    std::function<void()> onChange_;
    bool posted_ = false;
};

const Family* familyOf(NodeKind kind) {
    switch (kind) {
        case NodeKind::text:
        case NodeKind::label:
        case NodeKind::image:
        case NodeKind::shape:
        case NodeKind::progress:
            return &render::kTextFamily;
        case NodeKind::button:
        case NodeKind::menu:
            return &render::kButtonFamily;
        case NodeKind::toggle:
        case NodeKind::picker:
        case NodeKind::stepper:
        case NodeKind::datePicker:
            return &render::kChoiceFamily;
        case NodeKind::textField:
        case NodeKind::labeledContent:
            return &render::kFieldFamily;
        case NodeKind::group:
        case NodeKind::component:
        case NodeKind::vstack:
        case NodeKind::hstack:
        case NodeKind::zstack:
        case NodeKind::padding:
        case NodeKind::frame:
        case NodeKind::fixedSize:
        case NodeKind::background:
        case NodeKind::overlay:
        case NodeKind::divider:
        case NodeKind::spacer:
            return &render::kStackFamily;
        case NodeKind::scroll:
        case NodeKind::form:
        case NodeKind::section:
        case NodeKind::list:
        case NodeKind::tabView:
            return &render::kContainerFamily;
        case NodeKind::splitView:
        case NodeKind::searchField:
            return &render::kNavigationFamily;
        case NodeKind::empty:
            return nullptr;
    }
    return nullptr;
}

}  // namespace

struct QtRenderer::Impl {
    ViewHost& host;
    render::RenderCore core;
    Subscription evaluated;
    QObject* watcher = nullptr;

    Impl(ViewHost& h, QWidget& container) : host(h), core(container, familyOf) {}
};

QtRenderer::QtRenderer(ViewHost& host, QWidget& container)
    : impl_(std::make_unique<Impl>(host, container)) {
    impl_->evaluated = host.evaluated.subscribe([this] { render(); });
    impl_->watcher = new AppearanceWatcher(&container, [this] { render(); });
    container.installEventFilter(impl_->watcher);
    render();
}

QtRenderer::~QtRenderer() {
    impl_->evaluated.cancel();
    delete impl_->watcher;
    // The core goes next and leaves the container as it found it.
}

void QtRenderer::render() {
    // A copy: the host may evaluate again while its widgets are being updated.
    const View tree = impl_->host.tree();
    impl_->core.render(tree);
}

std::uint64_t QtRenderer::widgetsCreated() const {
    return impl_->core.widgetsCreated();
}

std::uint64_t QtRenderer::renderCount() const {
    return impl_->core.renderCount();
}

}  // namespace orvel::ui
