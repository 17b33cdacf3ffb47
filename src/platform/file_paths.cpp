#include "platform/file_paths.h"

#include "platform/stringapiset.h"

std::filesystem::path NativePath(std::u16string_view path)
{
    std::string utf8 = WideToUtf8(path);
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    return std::filesystem::path(utf8);
}

std::u16string CallerPath(const std::filesystem::path& path) { return Utf8ToWide(path.string()); }
