#include "common/platform/clock.h"

namespace corvane::platform {

namespace {
const SystemClock system_clock_instance;
std::atomic<const Clock*> current_clock{&system_clock_instance};
}  // namespace

std::time_t SystemClock::now() const
{
    return std::time(nullptr);
}

const Clock& clock()
{
    return *current_clock.load(std::memory_order_acquire);
}

void set_clock(const Clock* c)
{
    current_clock.store(c ? c : &system_clock_instance, std::memory_order_release);
}

}  // namespace corvane::platform
