// The environment block Main receives: any bytes (made into a block that
// ends with an empty string, as every host must hand over) parse without
// harm, and every variable found can be looked up again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/core/lifecycle/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string block(reinterpret_cast<const char*>(data), size);
    block.append(2, '\0');
    corvane::lifecycle::Environment environment(block.c_str());
    for (const auto& [name, value] : environment.variables()) {
        if (name.empty() || !environment.has(name))
            __builtin_trap();
        (void)value;
    }
    (void)environment.get("QUERY_STRING");
    return 0;
}
