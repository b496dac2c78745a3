#pragma once
// One error value for the whole project: a domain, a small code and one line of text.
#include <string>
#include <utility>

namespace lumbrix {

struct Error {
    std::string domain;
    int code = 0;
    std::string description;

    Error() = default;
    Error(std::string errorDomain, int errorCode, std::string text)
        : domain(std::move(errorDomain)), code(errorCode), description(std::move(text)) {}

    friend bool operator==(const Error&, const Error&) = default;
};

// The domain of errors that carry an errno value from the operating system.
inline constexpr const char* kPosixErrorDomain = "POSIX";

// An error for errno value `errnoValue` while doing `what` (for example "Cannot open /a/b.obj").
Error posixError(int errnoValue, const std::string& what);

}  // namespace lumbrix
