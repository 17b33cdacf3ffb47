// printf formatting in the classic "C" locale, whatever locale the process
// has chosen: generated markup always has "." as the decimal point and no
// thousands separator. Throws std::bad_alloc.
#pragma once

#include <string>

std::string FormatClassic(const char* format, ...) __attribute__((format(printf, 1, 2)));
