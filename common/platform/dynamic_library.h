// A loaded shared library (dlopen), unloaded when the object goes.
#pragma once

#include <string>

#include "common/platform/result.h"

namespace corvane::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    // Loads with immediate binding and local symbols.
    static Result<DynamicLibrary> open(const std::string& path);
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    ~DynamicLibrary();

    bool loaded() const { return m_handle != nullptr; }
    const std::string& path() const { return m_path; }
    // The address of an exported symbol, or nullptr.
    void* symbol(const char* name) const;
    template <typename F>
    F function(const char* name) const
    {
        return reinterpret_cast<F>(symbol(name));
    }
    void close();
    // Keeps the library in the process for good, even after close(), for a
    // library whose process-wide state and exit handlers make unloading
    // unsafe; a later open() of the same file finds the copy that stayed.
    void keep_loaded() const;

private:
    void* m_handle = nullptr;
    std::string m_path;
};

// The path of the shared object or program that contains address (dladdr),
// or "" when unknown. Used to find the files that lie beside a library.
std::string module_path_of(const void* address);
// The path of the running program (/proc/self/exe), or "".
std::string program_path();

}  // namespace corvane::platform
