#pragma once

#include <memory>
#include <string>

#include "platform/ScreenLock.h"
#include "platform/linux/DBusConnection.h"

namespace orvel {

// Locks Orvel's own login session through logind (Session.Lock, which the desktop's screen
// locker carries out) and tells the unlock from the session's LockedHint going false, or from
// logind's Unlock. Without a system bus nothing can be locked, which lockNow() says.
class LinuxScreenLock final : public ScreenLock {
  public:
    // `sessionID` empty: $XDG_SESSION_ID, else whichever session logind finds for this process
    // (whose unlock cannot then be followed).
    LinuxScreenLock(std::shared_ptr<DBusConnection> systemBus, std::string sessionID = "");

    Result<void> lockNow() override;

    const std::string& sessionPath() const { return path_; }

  private:
    void follow();

    std::shared_ptr<DBusConnection> bus_;
    std::string path_;
    bool followed_ = false;
    DBusSlot changes_;
    DBusSlot unlockSignal_;
    DBusSlot lockCall_;
};

}  // namespace orvel
