#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "foundation/Date.h"
#include "foundation/Result.h"

// Handing wake dates to the wake helper. Threading: main thread only; replies on the main
// thread, on a later turn (never inside send).

namespace orvel {

// One request in flight; dropping it abandons the request (its reply is never delivered).
class HelperRequest {
  public:
    virtual ~HelperRequest() = default;
};

class HelperConnection {
  public:
    // The helper's status (0, a negative errno of its alarm, or a positive protocol code), or
    // why no answer came, in words.
    using Reply = std::function<void(Result<std::int32_t>)>;

    virtual ~HelperConnection() = default;

    // Sends the whole list on a connection of its own; `reply` is called once.
    virtual std::unique_ptr<HelperRequest> send(const std::vector<Date>& dates, Reply reply) = 0;
};

}  // namespace orvel
