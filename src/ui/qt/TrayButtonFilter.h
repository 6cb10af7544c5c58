#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>
#include <optional>

namespace orvel::ui {

// Button releases on an X11 tray icon's own window, taken from the X events before Qt turns
// them into its press-time tray reasons: core events, and the X Input 2 events Qt asks the
// server for where the extension is there (one release may come both ways; it counts once).
// Every event goes on to Qt unchanged.
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
    struct Release {
        std::uint32_t time;
        std::uint32_t window;
        int button;
        bool operator==(const Release&) const = default;
    };
    void released(std::uint32_t time, std::uint32_t window, int button, unsigned modifiers);

    bool installed_ = false;
    std::optional<Release> last_;
};

}  // namespace orvel::ui
