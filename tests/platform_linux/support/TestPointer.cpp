// A pointer for the end-to-end tests of a headless wlroots compositor, whose seat has none. On
// $WAYLAND_DISPLAY it says "ready" (or "failed: why"), then does what each line of its input
// asks: "click X Y WIDTH HEIGHT" (the point in a layout of that size, the left button) or
// "move X Y WIDTH HEIGHT", saying "clicked" or "moved" once the compositor has taken it. It ends
// with its input.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "support/VirtualPointer.h"

int main() {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    orvel::test::VirtualPointer pointer(display != nullptr ? display : "");
    if (!pointer.whyNot().empty()) {
        std::cout << "failed: " << pointer.whyNot() << std::endl;
        return 1;
    }
    std::cout << "ready" << std::endl;
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string verb;
        int x = 0, y = 0, width = 0, height = 0;
        if (!(words >> verb >> x >> y >> width >> height) || (verb != "click" && verb != "move")) {
            std::cout << "failed: not understood: " << line << std::endl;
        } else if (!(verb == "click" ? pointer.click(x, y, width, height)
                                     : pointer.move(x, y, width, height))) {
            std::cout << "failed: the compositor did not take it" << std::endl;
        } else {
            std::cout << (verb == "click" ? "clicked" : "moved") << std::endl;
        }
    }
    return 0;
}
