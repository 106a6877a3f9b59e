// Cryptographically strong random bytes from the kernel (getrandom).
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::platform {

// Fills buffer completely; blocks only until the kernel's pool is ready at
// boot. Never fails on a working system: falls back to /dev/urandom and,
// should that fail too, aborts rather than hand out predictable bytes.
void random_bytes(void* buffer, std::size_t size);
std::uint32_t random_u32();
// A uniformly distributed number below bound (bound > 0), without modulo bias.
std::uint32_t random_below(std::uint32_t bound);

}  // namespace corvane::platform
