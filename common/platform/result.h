// Result<T>: a value or an error (errno-style code plus a short text).
//
// Used where a caller must decide what a failure means. Operations whose
// outcome the product fixes as a boolean or a small code keep that form.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace corvane {

struct Error {
    int code = 0;      // errno value, or another small code named by the module
    std::string text;  // short, for a log line: "open /x/y: No such file or directory"
};

// An Error from the current errno, e.g. os_error("open", path).
Error os_error(std::string_view what, std::string_view subject = {});
Error os_error_code(int code, std::string_view what, std::string_view subject = {});

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}      // NOLINT(google-explicit-constructor)
    Result(Error error) : m_error(std::move(error)) {}  // NOLINT(google-explicit-constructor)

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }

    T& value() & { return *m_value; }
    const T& value() const& { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }

    const Error& error() const { return m_error; }

private:
    std::optional<T> m_value;
    Error m_error;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_failed(true), m_error(std::move(error)) {}  // NOLINT

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return m_error; }

private:
    bool m_failed = false;
    Error m_error;
};

}  // namespace corvane
