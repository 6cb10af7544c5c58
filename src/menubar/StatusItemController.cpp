#include "menubar/StatusItemController.h"

namespace orvel {

namespace {
StatusItemController*& currentItem() {
    static StatusItemController* item = nullptr;
    return item;
}
}  // namespace

StatusItemController::StatusItemController() {
    currentItem() = this;
}

StatusItemController::~StatusItemController() {
    if (currentItem() == this) {
        currentItem() = nullptr;
    }
}

StatusItemController* StatusItemController::current() {
    return currentItem();
}

void StatusItemController::refresh() {
    ++refreshCount_;
    refreshed.send();
}

}  // namespace orvel
