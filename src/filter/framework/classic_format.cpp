#include "filter/framework/classic_format.h"

#include <locale.h>

#include <cstdarg>
#include <cstdio>
#include <new>

namespace {

locale_t ClassicLocale()
{
    static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return classic;
}

// Switches the calling thread to the classic locale for its lifetime.
class ClassicScope {
public:
    ClassicScope() : previous_(ClassicLocale() ? uselocale(ClassicLocale()) : static_cast<locale_t>(nullptr)) {}
    ~ClassicScope()
    {
        if (previous_)
            uselocale(previous_);
    }
    ClassicScope(const ClassicScope&) = delete;
    ClassicScope& operator=(const ClassicScope&) = delete;

private:
    locale_t previous_;
};

} // namespace

std::string FormatClassic(const char* format, ...)
{
    ClassicScope scope;
    char small[128];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        throw std::bad_alloc();
    }
    std::string out;
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(n));
    } else {
        out.resize(static_cast<std::size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, format, again);
    }
    va_end(again);
    return out;
}
