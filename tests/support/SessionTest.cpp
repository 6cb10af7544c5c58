#include "support/SessionTest.h"

#include "app/compose/Services.h"

namespace orvel::test {

void SessionTest::SetUp() {
    UiTest::SetUp();
    statusItem_ = StatusItemController::make(services().statusItemServices());
}

void SessionTest::TearDown() {
    statusItem_.reset();
    UiTest::TearDown();
}

void SessionTest::restartProcess() {
    statusItem_.reset();
    releaseServices();
    statusItem_ = StatusItemController::make(services().statusItemServices());
}

std::vector<std::string> SessionTest::notificationTitles() {
    std::vector<std::string> titles;
    for (const auto& request : sim().notifications().posted()) {
        titles.push_back(request.title);
    }
    return titles;
}

}  // namespace orvel::test
