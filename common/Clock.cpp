#include "common/Clock.h"

#include <mutex>

namespace zv {
namespace {

std::mutex g_mutex;
std::function<std::tm()> g_source;

std::string Format(const char* fmt, const std::tm& t) {
    char buf[128];
    const std::size_t n = std::strftime(buf, sizeof buf, fmt, &t);
    return std::string(buf, n);
}

}  // namespace

std::tm LocalNow() {
    {
        std::lock_guard lock(g_mutex);
        if (g_source) return g_source();
    }
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return t;
}

void SetLocalTimeSource(std::function<std::tm()> source) {
    std::lock_guard lock(g_mutex);
    g_source = std::move(source);
}

std::string ShortDate(const std::tm& t) { return Format("%x", t); }
std::string LongTime(const std::tm& t) { return Format("%X", t); }

}  // namespace zv
