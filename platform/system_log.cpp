#include "platform/system_log.h"

#include <syslog.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace lumbrix {

namespace {

bool debugFromEnvironment() {
    const char* value = std::getenv("LUMBRIX_LOG_DEBUG");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

std::atomic<bool>& debugFlag() {
    static std::atomic<bool> flag{debugFromEnvironment()};
    return flag;
}

// Guards the sink: imports may log from worker threads.
std::mutex& sinkMutex() {
    static std::mutex mutex;
    return mutex;
}

SystemLog::Sink& sink() {
    static SystemLog::Sink value;
    return value;
}

void openOnce() {
    static std::once_flag once;
    std::call_once(once, [] { openlog("Lumbrix", LOG_PID, LOG_USER); });
}

}  // namespace

bool SystemLog::debugEnabled() { return debugFlag().load(std::memory_order_relaxed); }

void SystemLog::setDebugEnabled(bool enabled) { debugFlag().store(enabled, std::memory_order_relaxed); }

void SystemLog::setSink(Sink newSink) {
    std::lock_guard<std::mutex> lock(sinkMutex());
    sink() = std::move(newSink);
}

void SystemLog::info(const char* format, ...) {
    va_list args;
    va_start(args, format);
    write(LogPriority::info, format, args);
    va_end(args);
}

void SystemLog::debug(const char* format, ...) {
    if (!debugEnabled()) return;
    va_list args;
    va_start(args, format);
    write(LogPriority::debug, format, args);
    va_end(args);
}

void SystemLog::write(LogPriority priority, const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return;
    std::string text;
    if (static_cast<size_t>(needed) < sizeof small) {
        text.assign(small, static_cast<size_t>(needed));
    } else {
        text.resize(static_cast<size_t>(needed));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    {
        std::lock_guard<std::mutex> lock(sinkMutex());
        if (sink()) {
            sink()(priority, text);
            return;
        }
    }
    openOnce();
    syslog(priority == LogPriority::debug ? LOG_DEBUG : LOG_INFO, "%s", text.c_str());
}

}  // namespace lumbrix
