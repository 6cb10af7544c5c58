#pragma once

#include "support/OrvelTest.h"
#include "ui/HeadlessHost.h"

namespace orvel::test {

// A simulated machine with the headless view host installed.
class UiTest : public OrvelTest {
  protected:
    void SetUp() override {
        OrvelTest::SetUp();
        auto host = std::make_unique<ui::HeadlessHost>(ui::HostCapabilities::of(sim()));
        host_ = host.get();
        ui::UiHost::install(std::move(host));
    }
    void TearDown() override {
        OrvelTest::TearDown();
        ui::UiHost::install(nullptr);
        host_ = nullptr;
    }

    ui::HeadlessHost& host() { return *host_; }

  private:
    ui::HeadlessHost* host_ = nullptr;
};

}  // namespace orvel::test
