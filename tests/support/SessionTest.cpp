#include "support/SessionTest.h"

namespace orvel::test {

void SessionTest::SetUp() {
    OrvelTest::SetUp();
    statusItem_ = std::make_unique<StatusItemController>();
}

void SessionTest::TearDown() {
    statusItem_.reset();
    OrvelTest::TearDown();
}

std::vector<std::string> SessionTest::notificationTitles() {
    std::vector<std::string> titles;
    for (const auto& request : sim().notifications().posted()) {
        titles.push_back(request.title);
    }
    return titles;
}

}  // namespace orvel::test
