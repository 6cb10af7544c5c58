#include "menubar/AppWindows.h"

namespace orvel {

AppWindows*& AppWindows::current() {
    static AppWindows* windows = nullptr;
    return windows;
}

}  // namespace orvel
