#pragma once
// The system log (syslog(3) under the ident "Lumbrix").
//
// Bulk dumps go at debug priority and are only formatted when debug logging is
// on (LUMBRIX_LOG_DEBUG=1 in the environment, or setDebugEnabled), so a large
// import costs nothing and floods nothing by default. Tests can capture lines
// with a sink instead of the system log.
#include <cstdarg>
#include <functional>
#include <string>

namespace lumbrix {

enum class LogPriority { info, debug };

class SystemLog {
public:
    using Sink = std::function<void(LogPriority, const std::string&)>;

    static void info(const char* format, ...) __attribute__((format(printf, 1, 2)));
    static void debug(const char* format, ...) __attribute__((format(printf, 1, 2)));

    static bool debugEnabled();
    static void setDebugEnabled(bool enabled);

    // Replaces the system log (nullptr restores it); for tests.
    static void setSink(Sink sink);

private:
    static void write(LogPriority priority, const char* format, va_list args);
};

}  // namespace lumbrix
