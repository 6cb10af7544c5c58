#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>

namespace orvel::ui {

// Button releases on an X11 tray icon's own window, taken from the X events before Qt turns
// them into its press-time tray reasons: core events, and the X Input 2 events Qt asks the
// server for where the extension is there. A click is a press and a release on the tray
// window; the click that closes an open panel (Qt closes it on the press) does nothing else.
// Every event goes on to Qt, except repeated reports of a tray event it already had.
class TrayButtonFilter final : public QAbstractNativeEventFilter {
  public:
    // X's button numbers.
    static constexpr int kLeft = 1;
    static constexpr int kMiddle = 2;
    static constexpr int kRight = 3;

    ~TrayButtonFilter() override;

    // Starts filtering the application's X events and learns X Input's event code.
    void install();

    // Whether an X window is the tray icon's.
    std::function<bool(std::uint32_t window)> isTrayWindow;
    // A button released on the tray icon, with Orvel's modifier bits held at the time.
    std::function<void(int button, unsigned modifiers)> onRelease;
    // The X Input extension's major code on this server; -1 where it has none.
    int xinputOpcode = -1;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    struct Seen {
        bool press = false;
        std::uint32_t time = 0;
        int button = 0;
        bool operator==(const Seen&) const = default;
    };
    void pressed(int button);
    void released(int button, unsigned modifiers);

    bool installed_ = false;
    std::optional<Seen> latest_[2];  // the latest press and release on the tray window
    std::set<int> pressed_;          // buttons pressed on the tray window and not yet released
};

}  // namespace orvel::ui
