// Paths as the system's callers write them, on this file system: callers join
// folders with "\" (and may mix in "/"), the file system wants "/". Internal
// to src/platform.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The UTF-16 path as a native path, every "\" turned into "/".
std::filesystem::path NativePath(std::u16string_view path);
// A native path as callers get it back (UTF-16, "/" kept).
std::u16string CallerPath(const std::filesystem::path& path);
