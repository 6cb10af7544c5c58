#pragma once

#include <functional>

#include "foundation/Result.h"

// The wake helper's registration as a system service. Threading: main thread only; completions
// on the main thread, on a later turn.

namespace orvel {

// status() values, numbered as the platform's service-management status numbers them.
namespace helper_service_status {
inline constexpr int kNotRegistered = 0;
inline constexpr int kEnabled = 1;
// The last registration was refused for want of authorisation.
inline constexpr int kRequiresApproval = 2;
// This build carries no helper to register.
inline constexpr int kNotFound = 3;
}  // namespace helper_service_status

class HelperService {
  public:
    using Completion = std::function<void(Result<void>)>;

    virtual ~HelperService() = default;

    virtual int status() = 0;
    // Enables and starts the helper; the error says in words why it could not.
    virtual void registerService(Completion done) = 0;
    // Disables and stops the helper.
    virtual void unregisterService(Completion done) = 0;
};

}  // namespace orvel
