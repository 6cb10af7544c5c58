#include "ui/qt/MemoryGiveBack.h"

#include <QPixmapCache>

#include <malloc.h>

#include <cstdio>
#include <string>

#include "foundation/Log.h"
#include "foundation/RunLoop.h"

namespace orvel::ui {

void returnLargeBlocksWhenFreed() {
    mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
    mallopt(M_TRIM_THRESHOLD, kLargeBlockBytes);
}

void giveBackMemory() {
    static const Logger log("Memory");
    const double started = RunLoop::main().uptime();
    QPixmapCache::clear();
    // Last, so that what the cache freed goes back too.
    malloc_trim(0);
    if (log.isEnabled(LogLevel::Debug)) {
        char took[32];
        std::snprintf(took, sizeof took, "%.1f", (RunLoop::main().uptime() - started) * 1000);
        log.debug(std::string("gave back the allocator's free pages in ") + took + " ms");
    }
}

void giveBackMemorySoon() {
    // One give-back for closings in a row, once what they queued (deleting widgets, a last
    // paint) has run and freed what it held.
    static Timer pending;
    pending = RunLoop::main().after(kGiveBackDelaySeconds, [] { giveBackMemory(); });
}

}  // namespace orvel::ui
