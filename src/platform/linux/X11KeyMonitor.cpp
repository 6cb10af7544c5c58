#include "platform/linux/X11KeyMonitor.h"

#include <unistd.h>

#include <map>
#include <set>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

// Last: Xlib defines names (KeyPress, None, Status) that would clash with ours above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

namespace orvel {

namespace {

constexpr std::uint16_t kOtherKey = 0xFFFF;

// Each modifier key's monitor flag: caps lock 0x10000, shift 0x20000, control 0x40000,
// option (Alt) 0x80000, command (Super) 0x100000.
const std::pair<KeySym, std::uint64_t> kModifierKeys[] = {
    {XK_Caps_Lock, 0x10000}, {XK_Shift_L, 0x20000},   {XK_Shift_R, 0x20000},
    {XK_Control_L, 0x40000}, {XK_Control_R, 0x40000}, {XK_Alt_L, 0x80000},
    {XK_Alt_R, 0x80000},     {XK_Meta_L, 0x80000},    {XK_Meta_R, 0x80000},
    {XK_Super_L, 0x100000},  {XK_Super_R, 0x100000},
};

}  // namespace

struct X11KeyMonitor::Impl {
    ::Display* display = nullptr;
    int opcode = 0;
    OnPress onPress;
    FdWatch watch;
    std::map<unsigned, std::uint64_t> modifierFlags;  // by X key code
    std::set<unsigned> held;
    unsigned cKey = 0;
    Atom pidAtom = 0;

    ~Impl() {
        watch.cancel();
        if (display != nullptr) {
            XCloseDisplay(display);
        }
    }

    std::uint64_t flags() const {
        std::uint64_t all = 0;
        for (unsigned key : held) {
            all |= modifierFlags.at(key);
        }
        return all;
    }

    // Whether the focused window is one of this process's (its _NET_WM_PID).
    bool focusIsOurs() {
        ::Window focus = 0;
        int revert = 0;
        XGetInputFocus(display, &focus, &revert);
        if (focus == 0 || focus == PointerRoot) {
            return false;
        }
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        bool ours = false;
        if (XGetWindowProperty(display, focus, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data != nullptr) {
            ours =
                format == 32 && count == 1 &&
                *reinterpret_cast<unsigned long*>(data) == static_cast<unsigned long>(::getpid());
        }
        if (data != nullptr) {
            XFree(data);
        }
        return ours;
    }

    void readEvents() {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            XGenericEventCookie* cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != opcode ||
                !XGetEventData(display, cookie)) {
                continue;
            }
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const unsigned key = static_cast<unsigned>(raw->detail);
            const bool down = cookie->evtype == XI_RawKeyPress;
            XFreeEventData(display, cookie);
            if (modifierFlags.contains(key)) {
                if (down) {
                    held.insert(key);
                } else {
                    held.erase(key);
                }
            } else if (down && !focusIsOurs()) {
                onPress(key == cKey ? 8 : kOtherKey, flags());
            }
        }
    }
};

X11KeyMonitor::X11KeyMonitor(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

X11KeyMonitor::~X11KeyMonitor() = default;

std::unique_ptr<X11KeyMonitor> X11KeyMonitor::open(const std::optional<std::string>& display,
                                                   OnPress onPress) {
    auto impl = std::make_unique<Impl>();
    impl->display = XOpenDisplay(display ? display->c_str() : nullptr);
    if (impl->display == nullptr) {
        return nullptr;
    }
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 1;  // raw events reach every client from 2.1 on, grabs or not
    if (!XQueryExtension(impl->display, "XInputExtension", &impl->opcode, &event, &error) ||
        XIQueryVersion(impl->display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 1)) {
        Logger("hotkey").notice("The X server has no XInput 2.1; keys cannot be watched.");
        return nullptr;
    }
    for (const auto& [sym, flag] : kModifierKeys) {
        if (const KeyCode code = XKeysymToKeycode(impl->display, sym); code != 0) {
            impl->modifierFlags[code] |= flag;
        }
    }
    impl->cKey = XKeysymToKeycode(impl->display, XK_c);
    impl->pidAtom = XInternAtom(impl->display, "_NET_WM_PID", False);
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XIEventMask mask{XIAllMasterDevices, sizeof(bits), bits};
    XISelectEvents(impl->display, DefaultRootWindow(impl->display), &mask, 1);
    XSync(impl->display, False);
    impl->onPress = std::move(onPress);
    Impl* raw = impl.get();
    impl->watch = RunLoop::main().watchFd(ConnectionNumber(impl->display), kFdReadable,
                                          [raw](unsigned) { raw->readEvents(); });
    return std::unique_ptr<X11KeyMonitor>(new X11KeyMonitor(std::move(impl)));
}

}  // namespace orvel
