// The private-profile (INI) functions on files read whole and replaced whole.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_paths.h"
#include "platform/state_root.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"
#include "platform/winbase.h"

namespace fs = std::filesystem;

namespace {

// The file's lines, each with its own line end ("\r\n", "\n", or none for a
// last line without one), so that a rewrite gives back every line it does not
// change as it was. The parsing below trims the line ends with the blanks.
struct IniFile {
    bool utf16 = false;
    bool utf8Mark = false;  // EF BB BF, kept when the file is written again
    std::vector<std::u16string> lines;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameName(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return Fold(x) == Fold(y);
           });
}

fs::path FilePath(LPCWSTR name)
{
    const std::u16string_view text(name);
    if (text.find_first_of(u"\\/") == std::u16string_view::npos) {
        // As the platform looks in the Windows folder.
        std::error_code ec;
        fs::create_directories(StateRoot() / "Windows", ec);
        return StateRoot() / "Windows" / NativePath(text);
    }
    return NativePath(text);
}

// The character of the well-formed UTF-8 sequence at bytes[i] (shortest form,
// no surrogates, at most U+10FFFF) and its length; length 0 when there is none.
std::pair<char32_t, std::size_t> Utf8At(std::string_view bytes, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = byte(i);
    std::size_t length;
    char32_t cp, least;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07u, least = 0x10000;
    } else {
        return {0, 0};
    }
    if (i + length > bytes.size())
        return {0, 0};
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return {0, 0};
        cp = (cp << 6) | (byte(i + k) & 0x3Fu);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return {0, 0};
    return {cp, length};
}

// A file without the UTF-16 mark: UTF-8 where its bytes are UTF-8, every other
// byte as Latin-1 (files written by older tools in a Western code page).
std::u16string Decode8(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out += static_cast<char16_t>(c);
            ++i;
            continue;
        }
        const auto [cp, length] = Utf8At(bytes, i);
        if (length == 0) {
            out += static_cast<char16_t>(c);
            ++i;
        } else if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            i += length;
        } else {
            out += static_cast<char16_t>(cp);
            i += length;
        }
    }
    return out;
}

std::optional<IniFile> Load(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    IniFile file;
    std::u16string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        file.utf16 = true;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
    } else {
        std::string_view body(bytes);
        if (body.substr(0, 3) == "\xEF\xBB\xBF") {
            file.utf8Mark = true;
            body.remove_prefix(3);
        }
        text = Decode8(body);
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\n', start);
        end = end == std::u16string::npos ? text.size() : end + 1;
        file.lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return file;
}

// The section's name when the line is a section header.
std::optional<std::u16string_view> SectionOf(std::u16string_view line)
{
    line = Trim(line);
    if (line.empty() || line.front() != u'[')
        return std::nullopt;
    const std::size_t close = line.find(u']');
    return Trim(line.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1));
}

// A key line: its key and raw value; none for comments and lines without "=".
bool SplitKey(std::u16string_view line, std::u16string_view& key, std::u16string_view& value)
{
    const std::u16string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == u';')
        return false;
    const std::size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = Trim(line.substr(eq + 1));
    return true;
}

// [first, last): the lines of a section after its header; first == npos when absent.
struct Range {
    std::size_t header = std::u16string::npos;
    std::size_t end = 0;
};

Range FindSection(const IniFile& file, std::u16string_view section)
{
    Range r;
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        const auto name = SectionOf(file.lines[i]);
        if (!name)
            continue;
        if (r.header != std::u16string::npos) {
            r.end = i;
            return r;
        }
        if (SameName(*name, section))
            r.header = i;
    }
    r.end = file.lines.size();
    return r;
}

std::optional<std::u16string> FindValue(const IniFile& file, std::u16string_view section, std::u16string_view key)
{
    const Range r = FindSection(file, section);
    if (r.header == std::u16string::npos)
        return std::nullopt;
    for (std::size_t i = r.header + 1; i < r.end; ++i) {
        std::u16string_view k, v;
        if (SplitKey(file.lines[i], k, v) && SameName(k, key))
            return std::u16string(v);
    }
    return std::nullopt;
}

std::u16string Unquote(std::u16string value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Copies one value with its terminator, cut to fit.
DWORD CopyValue(const std::u16string& value, LPWSTR out, DWORD size)
{
    if (!out || size == 0)
        return 0;
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(value.size(), size - 1));
    std::copy_n(value.data(), n, out);
    out[n] = u'\0';
    return n;
}

// Copies a list of strings, each with its terminator and one more at the end.
DWORD CopyList(const std::vector<std::u16string>& items, LPWSTR out, DWORD size)
{
    if (!out || size == 0)
        return 0;
    if (size == 1) {
        out[0] = u'\0';
        return 0;
    }
    std::size_t used = 0;
    for (const std::u16string& item : items) {
        if (used + item.size() + 1 > size - 1) {
            // Cut short: as much as fits, and the two terminators.
            const std::size_t room = size - 2 - used;
            std::copy_n(item.data(), std::min(room, item.size()), out + used);
            out[size - 2] = u'\0';
            out[size - 1] = u'\0';
            return size - 2;
        }
        std::copy(item.begin(), item.end(), out + used);
        used += item.size();
        out[used++] = u'\0';
    }
    out[used] = u'\0';
    return static_cast<DWORD>(used);
}

std::vector<std::u16string> SectionNames(const IniFile& file)
{
    std::vector<std::u16string> names;
    for (const std::u16string& line : file.lines)
        if (const auto name = SectionOf(line))
            names.emplace_back(*name);
    return names;
}

std::vector<std::u16string> SectionLines(const IniFile& file, std::u16string_view section, bool keysOnly)
{
    std::vector<std::u16string> out;
    const Range r = FindSection(file, section);
    if (r.header == std::u16string::npos)
        return out;
    for (std::size_t i = r.header + 1; i < r.end; ++i) {
        std::u16string_view k, v;
        if (!SplitKey(file.lines[i], k, v))
            continue;
        out.push_back(keysOnly ? std::u16string(k) : std::u16string(k) + u"=" + std::u16string(v));
    }
    return out;
}

// The line end for lines a write adds: the file's first one, else CR LF.
std::u16string LineEnd(const IniFile& file)
{
    for (const std::u16string& line : file.lines)
        if (!line.empty() && line.back() == u'\n')
            return line.size() >= 2 && line[line.size() - 2] == u'\r' ? u"\r\n" : u"\n";
    return u"\r\n";
}

// Inserts a line before lines[at]; the line before it gets a line end if it
// was the file's last line and had none.
void InsertLine(IniFile& file, std::size_t at, std::u16string text)
{
    const std::u16string end = LineEnd(file);
    if (at > 0 && (file.lines[at - 1].empty() || file.lines[at - 1].back() != u'\n'))
        file.lines[at - 1] += end;
    file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(at), text + end);
}

// The line end a line has, for a line replaced in place.
std::u16string_view EndOf(std::u16string_view line)
{
    if (line.size() >= 2 && line.substr(line.size() - 2) == u"\r\n")
        return line.substr(line.size() - 2);
    if (!line.empty() && (line.back() == u'\n' || line.back() == u'\r'))
        return line.substr(line.size() - 1);
    return {};
}

std::string Encode(const IniFile& file)
{
    std::u16string text;
    for (const std::u16string& line : file.lines)
        text += line;
    if (!file.utf16)
        return (file.utf8Mark ? "\xEF\xBB\xBF" : "") + WideToUtf8(text);
    std::string bytes = "\xFF\xFE";
    for (const char16_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

// Holds an exclusive lock on "<file>.lock" for as long as it lives.
class WriteLock {
public:
    explicit WriteLock(const fs::path& file)
    {
        const fs::path lock = fs::path(file).concat(".lock");
        fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~WriteLock()
    {
        if (fd_ >= 0)
            ::close(fd_);  // releases the lock
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Writes the file anew beside the old one and renames it into place.
bool Replace(const fs::path& path, const IniFile& file)
{
    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    std::string temp = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    const std::string bytes = Encode(file);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool ok = done == bytes.size() && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself on disk as well.
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

template <class Body>
auto Guarded(Body&& body, decltype(body()) failed) noexcept -> decltype(body())
{
    try {
        return body();
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failed;
    }
}

} // namespace

DWORD GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault, LPWSTR lpReturnedString,
                               DWORD nSize, LPCWSTR lpFileName)
{
    return Guarded(
        [&]() -> DWORD {
            if (!lpFileName) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return CopyValue(u"", lpReturnedString, nSize);
            }
            const std::optional<IniFile> file = Load(FilePath(lpFileName));
            if (!file)
                SetLastError(ERROR_FILE_NOT_FOUND);
            const IniFile empty;
            const IniFile& ini = file ? *file : empty;
            if (!lpAppName)
                return CopyList(SectionNames(ini), lpReturnedString, nSize);
            if (!lpKeyName)
                return CopyList(SectionLines(ini, lpAppName, true), lpReturnedString, nSize);
            if (const auto value = FindValue(ini, lpAppName, lpKeyName))
                return CopyValue(Unquote(*value), lpReturnedString, nSize);
            std::u16string fallback(lpDefault ? lpDefault : u"");
            while (!fallback.empty() && fallback.back() == u' ')
                fallback.pop_back();
            return CopyValue(fallback, lpReturnedString, nSize);
        },
        DWORD{0});
}

UINT GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName)
{
    return Guarded(
        [&]() -> UINT {
            if (!lpFileName || !lpAppName || !lpKeyName)
                return static_cast<UINT>(nDefault);
            const std::optional<IniFile> file = Load(FilePath(lpFileName));
            if (!file)
                SetLastError(ERROR_FILE_NOT_FOUND);
            const auto value = file ? FindValue(*file, lpAppName, lpKeyName) : std::nullopt;
            if (!value)
                return static_cast<UINT>(nDefault);
            const std::u16string v = Unquote(*value);
            std::size_t i = 0;
            while (i < v.size() && IsBlank(v[i]))
                ++i;
            bool negative = false;
            if (i < v.size() && (v[i] == u'-' || v[i] == u'+'))
                negative = v[i++] == u'-';
            unsigned base = 10;
            if (i + 1 < v.size() && v[i] == u'0' && (v[i + 1] == u'x' || v[i + 1] == u'X')) {
                base = 16;
                i += 2;
            }
            std::uint32_t n = 0;
            bool digits = false;
            for (; i < v.size(); ++i) {
                const char16_t c = v[i];
                unsigned d;
                if (c >= u'0' && c <= u'9')
                    d = static_cast<unsigned>(c - u'0');
                else if (base == 16 && Fold(c) >= u'a' && Fold(c) <= u'f')
                    d = static_cast<unsigned>(Fold(c) - u'a' + 10);
                else
                    break;
                n = n * base + d;  // wraps as a 32-bit number would
                digits = true;
            }
            if (!digits)
                return base == 16 ? 0u : static_cast<UINT>(nDefault);
            return negative ? 0u - n : n;
        },
        static_cast<UINT>(nDefault));
}

BOOL WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString, LPCWSTR lpFileName)
{
    return Guarded(
        [&]() -> BOOL {
            if (!lpFileName || !lpAppName) {
                if (!lpAppName && !lpKeyName && !lpString)
                    return TRUE;  // asks to flush a cache there is not
                SetLastError(ERROR_INVALID_PARAMETER);
                return FALSE;
            }
            const fs::path path = FilePath(lpFileName);
            const WriteLock lock(path);
            if (!lock.Held()) {
                SetLastError(ERROR_PATH_NOT_FOUND);
                return FALSE;
            }
            IniFile ini = Load(path).value_or(IniFile{});
            const Range r = FindSection(ini, lpAppName);
            if (!lpKeyName) {
                if (r.header != std::u16string::npos)
                    ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(r.header),
                                    ini.lines.begin() + static_cast<std::ptrdiff_t>(r.end));
            } else if (r.header == std::u16string::npos) {
                if (!lpString)
                    return TRUE;
                InsertLine(ini, ini.lines.size(), u"[" + std::u16string(lpAppName) + u"]");
                InsertLine(ini, ini.lines.size(), std::u16string(lpKeyName) + u"=" + lpString);
            } else {
                std::size_t found = std::u16string::npos, last = r.header;
                for (std::size_t i = r.header + 1; i < r.end; ++i) {
                    if (!Trim(ini.lines[i]).empty())
                        last = i;
                    std::u16string_view k, v;
                    if (found == std::u16string::npos && SplitKey(ini.lines[i], k, v) && SameName(k, lpKeyName))
                        found = i;
                }
                const std::u16string line = lpString ? std::u16string(lpKeyName) + u"=" + lpString : std::u16string();
                if (found != std::u16string::npos) {
                    if (lpString)
                        ini.lines[found] = line + std::u16string(EndOf(ini.lines[found]));
                    else
                        ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(found));
                } else if (lpString) {
                    InsertLine(ini, last + 1, line);
                }
            }
            if (!Replace(path, ini)) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
            return TRUE;
        },
        FALSE);
}

DWORD GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize, LPCWSTR lpFileName)
{
    return GetPrivateProfileStringW(nullptr, nullptr, nullptr, lpszReturnBuffer, nSize, lpFileName);
}

DWORD GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName)
{
    return Guarded(
        [&]() -> DWORD {
            if (!lpFileName || !lpAppName)
                return CopyList({}, lpReturnedString, nSize);
            const std::optional<IniFile> file = Load(FilePath(lpFileName));
            if (!file)
                SetLastError(ERROR_FILE_NOT_FOUND);
            return CopyList(file ? SectionLines(*file, lpAppName, false) : std::vector<std::u16string>{},
                            lpReturnedString, nSize);
        },
        DWORD{0});
}
