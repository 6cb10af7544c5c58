#pragma once

#include <cstdint>
#include <string>

struct wl_display;
struct zwlr_virtual_pointer_manager_v1;
struct zwlr_virtual_pointer_v1;

namespace orvel::test {

// A pointer of the test's own on a wlroots compositor (its virtual pointer protocol), for a
// headless seat, which has none: the compositor adds it to its seat as long as this lives.
// Every exchange waits for the compositor's answer, 5 s at most.
class VirtualPointer {
  public:
    explicit VirtualPointer(const std::string& display);
    ~VirtualPointer();
    VirtualPointer(const VirtualPointer&) = delete;
    VirtualPointer& operator=(const VirtualPointer&) = delete;

    // Empty once the pointer is there, else why not.
    const std::string& whyNot() const { return why_; }
    // Moves to (x, y) of a layout `width` × `height`; true once the compositor has taken it.
    bool move(int x, int y, int width, int height);
    // Moves there and presses and releases `button` (a Linux button code, BTN_LEFT by default).
    bool click(int x, int y, int width, int height, std::uint32_t button = 0x110);

  private:
    bool goTo(int x, int y, int width, int height);
    bool roundTrip();

    wl_display* display_ = nullptr;
    zwlr_virtual_pointer_manager_v1* manager_ = nullptr;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    std::string why_;
};

}  // namespace orvel::test
