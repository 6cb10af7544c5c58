#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/Permissions.h"

namespace orvel {

// Permissions that tests grant or refuse, at once, when a request is made, or after a number of
// checks (each checks the way a user flips a switch in the settings while polls run).
class SimPermissions final : public Permissions {
  public:
    bool preflightListenEvent() override {
        noteCheck();
        return preflight_.value_or(listenEvent_ == ListenEventAccess::granted);
    }
    ListenEventAccess checkListenEventAccess() override { return listenEvent_; }
    void requestListenEventAccess() override {
        ++listenEventRequests_;
        if (listenEvent_ == ListenEventAccess::undecided && grantsOnRequest_) {
            listenEvent_ = ListenEventAccess::granted;
        }
    }
    bool isAccessibilityTrusted() override { return accessibility_; }
    bool requestAccessibility() override {
        ++accessibilityRequests_;
        if (!accessibility_ && grantsOnRequest_) {
            accessibility_ = true;
        }
        return accessibility_;
    }
    std::optional<std::string> settingsURL(bool accessibility) override {
        return std::string("orvel-sim:permissions/") +
               (accessibility ? "accessibility" : "input-monitoring");
    }

    std::optional<LaunchRequest> grantClearingCommand() override { return grantClearing_; }

    // What grantClearingCommand() answers; none at first (nothing installed).
    void setGrantClearingCommand(std::optional<LaunchRequest> command) {
        grantClearing_ = std::move(command);
    }
    void setListenEvent(ListenEventAccess access) { listenEvent_ = access; }
    // The preflight check's own answer; none follows the recorded decision.
    void setPreflight(std::optional<bool> answer) { preflight_ = answer; }
    void setAccessibility(bool trusted) { accessibility_ = trusted; }
    // A request grants what it asks for (as a user answering "Allow" would).
    void setGrantsOnRequest(bool grants) { grantsOnRequest_ = grants; }
    // After `checks` more preflight checks, the decision becomes `access`.
    void setListenEventAfterChecks(std::size_t checks, ListenEventAccess access) {
        listenEventFlip_ = ListenEventFlip{checks, access};
    }
    // After `checks` more preflight checks, Accessibility becomes `trusted`.
    void setAccessibilityAfterChecks(std::size_t checks, bool trusted) {
        accessibilityFlip_ = Flip{checks, trusted};
    }

    std::size_t listenEventRequests() const { return listenEventRequests_; }
    std::size_t accessibilityRequests() const { return accessibilityRequests_; }
    std::size_t checkCount() const { return checks_; }

  private:
    struct ListenEventFlip {
        std::size_t remaining = 0;
        ListenEventAccess value = ListenEventAccess::undecided;
    };
    struct Flip {
        std::size_t remaining = 0;
        bool value = false;
    };

    void noteCheck() {
        ++checks_;
        if (listenEventFlip_ && listenEventFlip_->remaining-- <= 1) {
            listenEvent_ = listenEventFlip_->value;
            listenEventFlip_.reset();
        }
        if (accessibilityFlip_ && accessibilityFlip_->remaining-- <= 1) {
            accessibility_ = accessibilityFlip_->value;
            accessibilityFlip_.reset();
        }
    }

    ListenEventAccess listenEvent_ = ListenEventAccess::undecided;
    std::optional<LaunchRequest> grantClearing_;
    std::optional<bool> preflight_;
    bool accessibility_ = false;
    bool grantsOnRequest_ = false;
    std::optional<ListenEventFlip> listenEventFlip_;
    std::optional<Flip> accessibilityFlip_;
    std::size_t listenEventRequests_ = 0;
    std::size_t accessibilityRequests_ = 0;
    std::size_t checks_ = 0;
};

}  // namespace orvel
