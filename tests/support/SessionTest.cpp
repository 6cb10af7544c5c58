#include "support/SessionTest.h"

namespace orvel::test {

void SessionTest::SetUp() {
    UiTest::SetUp();
    statusItem_ = StatusItemController::make();
}

void SessionTest::TearDown() {
    statusItem_.reset();
    UiTest::TearDown();
}

std::vector<std::string> SessionTest::notificationTitles() {
    std::vector<std::string> titles;
    for (const auto& request : sim().notifications().posted()) {
        titles.push_back(request.title);
    }
    return titles;
}

}  // namespace orvel::test
