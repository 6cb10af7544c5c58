#include "ui/qt/TrayButtonFilter.h"

#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "ui/Host.h"

namespace orvel::ui {

namespace {

constexpr const char* kXInput = "XInputExtension";
constexpr std::uint16_t kXIButtonPress = 4;
constexpr std::uint16_t kXIButtonRelease = 5;

// An X Input 2 device event as xcb hands it over (the fields up to the modifiers).
struct XIDeviceEvent {
    std::uint8_t responseType;
    std::uint8_t extension;
    std::uint16_t sequence;
    std::uint32_t length;
    std::uint16_t eventType;
    std::uint16_t deviceId;
    std::uint32_t time;
    std::uint32_t detail;
    std::uint32_t root;
    std::uint32_t event;
    std::uint32_t child;
    std::uint32_t fullSequence;
    std::int32_t rootX, rootY, eventX, eventY;
    std::uint16_t buttonsLength;
    std::uint16_t valuatorsLength;
    std::uint16_t sourceId;
    std::uint8_t pad[2];
    std::uint32_t flags;
    std::uint32_t baseMods, latchedMods, lockedMods, effectiveMods;
};
static_assert(offsetof(XIDeviceEvent, event) == 24 && offsetof(XIDeviceEvent, fullSequence) == 32 &&
              offsetof(XIDeviceEvent, effectiveMods) == 76);

unsigned modifiersOf(std::uint32_t state) {
    unsigned out = 0;
    if (state & XCB_MOD_MASK_CONTROL)
        out |= kModifierControl;
    if (state & XCB_MOD_MASK_SHIFT)
        out |= kModifierShift;
    if (state & XCB_MOD_MASK_1)
        out |= kModifierOption;
    if (state & XCB_MOD_MASK_4)
        out |= kModifierCommand;
    return out;
}

xcb_connection_t* connection() {
    auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                                   : nullptr;
    return x11 != nullptr ? x11->connection() : nullptr;
}

}  // namespace

TrayButtonFilter::~TrayButtonFilter() {
    if (installed_ && QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
    }
}

void TrayButtonFilter::install() {
    if (installed_ || QCoreApplication::instance() == nullptr) {
        return;
    }
    if (xcb_connection_t* c = connection()) {
        // Answered from xcb's cache: Qt asked the same when it connected.
        auto cookie = xcb_query_extension(c, std::strlen(kXInput), kXInput);
        if (auto* reply = xcb_query_extension_reply(c, cookie, nullptr)) {
            if (reply->present) {
                xinputOpcode = reply->major_opcode;
            }
            std::free(reply);
        }
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
    installed_ = true;
}

bool TrayButtonFilter::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != QByteArrayLiteral("xcb_generic_event_t") || message == nullptr) {
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const int type = event->response_type & ~0x80;
    std::uint32_t window = 0;
    Seen seen{};
    unsigned modifiers = 0;
    if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE) {
        // Presses and releases share one layout.
        const auto* button = static_cast<const xcb_button_press_event_t*>(message);
        window = button->event;
        seen = Seen{type == XCB_BUTTON_PRESS, button->time, button->detail};
        modifiers = modifiersOf(button->state);
    } else if (type == XCB_GE_GENERIC && xinputOpcode >= 0) {
        const auto* device = static_cast<const XIDeviceEvent*>(message);
        if (device->extension != xinputOpcode ||
            (device->eventType != kXIButtonPress && device->eventType != kXIButtonRelease)) {
            return false;
        }
        window = device->event;
        seen = Seen{device->eventType == kXIButtonPress, device->time,
                    static_cast<int>(device->detail)};
        modifiers = modifiersOf(device->effectiveMods);
    } else {
        return false;
    }
    if (!isTrayWindow || !isTrayWindow(window)) {
        return false;
    }
    // The server reports one press or release once per device that saw it, and in both
    // protocols, all stamped alike. Qt gets the first report only: a second press would close
    // the panel the click just opened, as a press outside it.
    std::optional<Seen>& latest = latest_[seen.press ? 0 : 1];
    if (latest == seen) {
        return true;
    }
    latest = seen;
    if (seen.press) {
        pressed(seen.button);
    } else {
        released(seen.button, modifiers);
    }
    return false;
}

void TrayButtonFilter::released(int button, unsigned modifiers) {
    // A release whose press went elsewhere (to an open panel, which closed) is no click.
    if (pressed_.erase(button) == 0 || !onRelease) {
        return;
    }
    auto handler = onRelease;
    handler(button, modifiers);
}

void TrayButtonFilter::pressed(int button) {
    // Qt closes an open panel on this press and keeps it from the icon; so does Orvel.
    if (QApplication::activePopupWidget() == nullptr) {
        pressed_.insert(button);
    }
}

}  // namespace orvel::ui
