#include "common/platform/dynamic_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <utility>

namespace corvane::platform {

Result<DynamicLibrary> DynamicLibrary::open(const std::string& path)
{
    ::dlerror();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        return Error{ENOENT, why ? why : ("dlopen " + path)};
    }
    DynamicLibrary library;
    library.m_handle = handle;
    library.m_path = path;
    return library;
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_path(std::move(other.m_path))
{
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept
{
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_path = std::move(other.m_path);
    }
    return *this;
}

DynamicLibrary::~DynamicLibrary()
{
    close();
}

void* DynamicLibrary::symbol(const char* name) const
{
    return m_handle ? ::dlsym(m_handle, name) : nullptr;
}

void DynamicLibrary::close()
{
    if (m_handle)
        ::dlclose(std::exchange(m_handle, nullptr));
}

void DynamicLibrary::keep_loaded() const
{
    if (!m_handle)
        return;
    if (void* resident = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE))
        ::dlclose(resident);
}

std::string module_path_of(const void* address)
{
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved))
        return resolved;
    return info.dli_fname;
}

std::string program_path()
{
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace corvane::platform
