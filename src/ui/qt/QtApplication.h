#pragma once

#include "ui/Host.h"

namespace orvel::ui {

class QtHost;

// The application object: a regular application shows its windows with a menu bar and a task-bar
// entry; an accessory one lives in the tray. Terminating tells willTerminate, then ends the loop.
class QtApplication final : public Application {
  public:
    explicit QtApplication(QtHost& host) : host_(host) {}
    void setActivationPolicy(ActivationPolicy policy) override;
    ActivationPolicy activationPolicy() const override { return policy_; }
    void activate(bool ignoringOtherApps) override;
    void terminate() override;

  private:
    QtHost& host_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    bool terminating_ = false;
};

}  // namespace orvel::ui
