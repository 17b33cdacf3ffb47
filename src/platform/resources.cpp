// Resource libraries: files of numbered resources made by zntr-rc, loaded as
// modules that have resources and no code.
//
// The file (all numbers little-endian; data/resources/README.md has the
// whole description):
//
//   offset 0   8 bytes  magic "ZNTRRES1"
//   offset 8   u32      number of directory entries
//   offset 12  entries, 20 bytes each:
//              u32 type, u32 id, u16 language, u16 0, u32 offset, u32 size
//   then the data of the entries.
//
// The directory is sorted by type, id and language with no two entries
// alike; every offset is a multiple of 4 and lies after the directory, and
// no two entries' data overlap. A file that breaks any of this is refused
// whole when it is loaded, so the lookups below never leave the file's bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/libloaderapi.h"
#include "platform/resource_modules.h"
#include "platform/synchapi.h"
#include "platform/winnls.h"
#include "platform/winuser.h"

namespace fs = std::filesystem;

// The pointer form of LoadStringW hands out the file's UTF-16LE text as it is.
static_assert(std::endian::native == std::endian::little, "resource strings are read in place as UTF-16LE");

namespace {

constexpr std::string_view kMagic("ZNTRRES1", 8);
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kEntrySize = 20;
constexpr UINT kStringsPerBlock = 16;

struct Entry {
    DWORD type;
    DWORD id;
    WORD language;
    DWORD offset;
    DWORD size;

    auto Key() const { return std::make_tuple(type, id, language); }
};

struct ResourceModule {
    fs::path path;  // full, normalised
    std::vector<unsigned char> bytes;
    std::vector<Entry> entries;  // as in the file: sorted by type, id, language
    unsigned references = 1;

    bool Owns(const Entry* entry) const
    {
        const std::less<const Entry*> before;
        return entry && !before(entry, entries.data()) && before(entry, entries.data() + entries.size());
    }
    const unsigned char* DataOf(const Entry& entry) const { return bytes.data() + entry.offset; }
};

std::mutex g_mutex;
std::map<std::uintptr_t, std::unique_ptr<ResourceModule>> g_modules;  // by handle value
std::uintptr_t g_lastSerial = 0;

std::uintptr_t HandleValue(HMODULE module) noexcept { return reinterpret_cast<std::uintptr_t>(module); }

DWORD U32(const unsigned char* p) noexcept
{
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}

WORD U16(const unsigned char* p) noexcept { return static_cast<WORD>(p[0] | p[1] << 8); }

// An open descriptor, closed when it goes (non-blocking: a named pipe given
// as a library name must not hang the load).
struct FileDescriptor {
    int fd;
    explicit FileDescriptor(const fs::path& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
};

bool ReadAll(int fd, unsigned char* to, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::read(fd, to, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        to += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The directory of a file already known to start with the magic; a fault
// found is described in whyNot.
bool ParseDirectory(ResourceModule& module, std::string& whyNot)
{
    const std::vector<unsigned char>& bytes = module.bytes;
    if (bytes.size() < kHeaderSize) {
        whyNot = "the header is cut short";
        return false;
    }
    const std::uint64_t count = U32(bytes.data() + kMagic.size());
    const std::uint64_t directoryEnd = kHeaderSize + count * kEntrySize;
    if (directoryEnd > bytes.size()) {
        whyNot = "the directory runs past the end of the file";
        return false;
    }
    module.entries.reserve(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* p = bytes.data() + kHeaderSize + i * kEntrySize;
        const Entry entry{U32(p), U32(p + 4), U16(p + 8), U32(p + 12), U32(p + 16)};
        if (U16(p + 10) != 0 || entry.type == 0 || entry.type > 0xFFFF || entry.id == 0 || entry.id > 0xFFFF) {
            whyNot = "directory entry " + std::to_string(i) + " is not a numbered resource";
            return false;
        }
        if (entry.offset % 4 != 0 || entry.offset < directoryEnd ||
            std::uint64_t{entry.offset} + entry.size > bytes.size()) {
            whyNot = "the data of directory entry " + std::to_string(i) + " is not inside the data area";
            return false;
        }
        if (!module.entries.empty() && !(module.entries.back().Key() < entry.Key())) {
            whyNot = "directory entry " + std::to_string(i) + " is out of order or repeated";
            return false;
        }
        module.entries.push_back(entry);
    }
    std::vector<std::pair<DWORD, DWORD>> spans;  // offset, size of the non-empty data
    for (const Entry& entry : module.entries)
        if (entry.size > 0)
            spans.emplace_back(entry.offset, entry.size);
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (std::uint64_t{spans[i - 1].first} + spans[i - 1].second > spans[i].first) {
            whyNot = "the data of two entries overlap";
            return false;
        }
    return true;
}

ResourceModule* ModuleOf(HMODULE module)
{
    const auto it = g_modules.find(HandleValue(module));
    return it == g_modules.end() ? nullptr : it->second.get();
}

// The module under the lock, or null with the error for the handle: a freed
// resource module's handle is no handle; any other module (a shared library,
// the program) has no resources here.
ResourceModule* ResourceModuleOrError(HMODULE module)
{
    ResourceModule* found = ModuleOf(module);
    if (!found)
        SetLastError(IsResourceModuleHandle(module) ? ERROR_INVALID_HANDLE : ERROR_RESOURCE_DATA_NOT_FOUND);
    return found;
}

// The entries of one type and id, in language order; empty with the error
// when there are none.
std::pair<const Entry*, const Entry*> EntriesOf(const ResourceModule& module, LPCWSTR type, LPCWSTR name)
{
    const Entry* const begin = module.entries.data();
    const Entry* const end = begin + module.entries.size();
    if (!IS_INTRESOURCE(type)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return {end, end};
    }
    const auto typeId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(type));
    const Entry* const typeBegin = std::partition_point(begin, end, [&](const Entry& e) { return e.type < typeId; });
    const Entry* const typeEnd = std::partition_point(typeBegin, end, [&](const Entry& e) { return e.type == typeId; });
    if (typeBegin == typeEnd) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return {end, end};
    }
    if (!IS_INTRESOURCE(name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return {end, end};
    }
    const auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(name));
    const Entry* const idBegin = std::partition_point(typeBegin, typeEnd, [&](const Entry& e) { return e.id < id; });
    const Entry* const idEnd = std::partition_point(idBegin, typeEnd, [&](const Entry& e) { return e.id == id; });
    const std::pair range{idBegin, idEnd};
    if (range.first == range.second)
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return range;
}

const Entry* InLanguage(std::pair<const Entry*, const Entry*> range, WORD language)
{
    const auto it =
        std::find_if(range.first, range.second, [&](const Entry& entry) { return entry.language == language; });
    return it == range.second ? nullptr : it;
}

// The language-neutral search: the user's default language, its neutral
// form, language neutral, else the first language there is.
const Entry* InUserLanguage(std::pair<const Entry*, const Entry*> range)
{
    if (range.first == range.second)
        return nullptr;
    const LANGID user = GetUserDefaultLangID();
    for (const LANGID language :
         {user, MAKELANGID(PRIMARYLANGID(user), SUBLANG_NEUTRAL), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)})
        if (const Entry* entry = InLanguage(range, language))
            return entry;
    return range.first;
}

const Entry* Find(const ResourceModule& module, LPCWSTR type, LPCWSTR name, WORD language)
{
    const auto range = EntriesOf(module, type, name);
    if (range.first == range.second)
        return nullptr;
    if (language == MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL))
        return InUserLanguage(range);
    const Entry* entry = InLanguage(range, language);
    if (!entry)
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return entry;
}

HRSRC ToHandle(const Entry* entry) { return reinterpret_cast<HRSRC>(const_cast<Entry*>(entry)); }
const Entry* FromHandle(HRSRC info) { return reinterpret_cast<const Entry*>(info); }

const Entry* OwnedEntry(const ResourceModule& module, HRSRC info)
{
    const Entry* entry = FromHandle(info);
    if (!module.Owns(entry)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return entry;
}

}  // namespace

bool IsResourceLibraryFile(const fs::path& path)
{
    const FileDescriptor file(path);
    unsigned char head[kMagic.size()];
    return file.fd >= 0 && ReadAll(file.fd, head, sizeof head) && std::memcmp(head, kMagic.data(), sizeof head) == 0;
}

HMODULE LoadResourceModule(const fs::path& path, std::string& whyNot)
{
    auto module = std::make_unique<ResourceModule>();
    std::error_code ec;
    module->path = fs::absolute(path, ec).lexically_normal();
    if (ec)
        module->path = path;
    {
        const FileDescriptor file(path);
        struct stat status {};
        if (file.fd < 0 || ::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            whyNot = path.string() + ": cannot be read";
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        // Offsets and sizes are 32-bit: a larger file is no resource library.
        if (static_cast<std::uintmax_t>(status.st_size) > 0xFFFFFFFFu) {
            whyNot = path.string() + ": too large for a resource library";
            SetLastError(ERROR_BAD_EXE_FORMAT);
            return nullptr;
        }
        module->bytes.resize(static_cast<std::size_t>(status.st_size));
        if (!ReadAll(file.fd, module->bytes.data(), module->bytes.size())) {
            whyNot = path.string() + ": cannot be read";
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    if (module->bytes.size() < kMagic.size() || std::memcmp(module->bytes.data(), kMagic.data(), kMagic.size()) != 0) {
        whyNot = path.string() + ": not a resource library";
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    std::string fault;
    if (!ParseDirectory(*module, fault)) {
        whyNot = path.string() + ": corrupt resource library: " + fault;
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    // The same file with the same content is the module already loaded, with
    // one more reference; a file rewritten since is a module of its own.
    const std::lock_guard lock(g_mutex);
    for (auto& [handle, loaded] : g_modules)
        if (loaded->path == module->path && loaded->bytes == module->bytes) {
            ++loaded->references;
            return reinterpret_cast<HMODULE>(handle);
        }
    const std::uintptr_t handle = (++g_lastSerial << 1) | 1u;
    g_modules.emplace(handle, std::move(module));
    return reinterpret_cast<HMODULE>(handle);
}

bool IsResourceModuleHandle(HMODULE module) noexcept { return (HandleValue(module) & 1u) != 0; }

bool FreeResourceModule(HMODULE module)
{
    std::unique_ptr<ResourceModule> freed;  // destroyed after the lock is given back
    const std::lock_guard lock(g_mutex);
    const auto it = g_modules.find(HandleValue(module));
    if (it == g_modules.end())
        return false;
    if (--it->second->references == 0) {
        freed = std::move(it->second);
        g_modules.erase(it);
    }
    return true;
}

std::optional<fs::path> ResourceModulePath(HMODULE module)
{
    const std::lock_guard lock(g_mutex);
    const ResourceModule* found = ModuleOf(module);
    if (!found)
        return std::nullopt;
    return found->path;
}

HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType)
{
    return FindResourceExW(hModule, lpType, lpName, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
}

HRSRC FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName, WORD wLanguage)
{
    const std::lock_guard lock(g_mutex);
    const ResourceModule* module = ResourceModuleOrError(hModule);
    return module ? ToHandle(Find(*module, lpType, lpName, wLanguage)) : nullptr;
}

HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo)
{
    const std::lock_guard lock(g_mutex);
    const ResourceModule* module = ResourceModuleOrError(hModule);
    const Entry* entry = module ? OwnedEntry(*module, hResInfo) : nullptr;
    return entry ? const_cast<unsigned char*>(module->DataOf(*entry)) : nullptr;
}

LPVOID LockResource(HGLOBAL hResData) { return hResData; }

DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo)
{
    const std::lock_guard lock(g_mutex);
    const ResourceModule* module = ResourceModuleOrError(hModule);
    const Entry* entry = module ? OwnedEntry(*module, hResInfo) : nullptr;
    return entry ? entry->size : 0;
}

int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const bool pointerForm = cchBufferMax == 0;
    const auto answerMissing = [&] {
        if (pointerForm) {
            const LPCWSTR none = nullptr;
            std::memcpy(lpBuffer, &none, sizeof none);
        } else {
            lpBuffer[0] = u'\0';
        }
        return 0;
    };
    const std::lock_guard lock(g_mutex);
    const ResourceModule* module = ResourceModuleOrError(hInstance);
    if (!module)
        return answerMissing();
    if (uID > 0xFFFF) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return answerMissing();
    }
    const Entry* block =
        Find(*module, RT_STRING, MAKEINTRESOURCEW(uID / kStringsPerBlock + 1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (!block)
        return answerMissing();
    // The block's strings in order, each a length and that many code units;
    // a block cut short holds no more strings.
    const unsigned char* p = module->DataOf(*block);
    const unsigned char* const end = p + block->size;
    for (UINT index = uID % kStringsPerBlock;; --index) {
        if (end - p < 2)
            break;
        const std::size_t length = U16(p);
        p += 2;
        if (static_cast<std::size_t>(end - p) < length * 2)
            break;
        if (index == 0) {
            if (length == 0)
                break;
            if (pointerForm) {
                const auto text = reinterpret_cast<LPCWSTR>(p);  // 2-aligned: offsets are multiples of 4
                std::memcpy(lpBuffer, &text, sizeof text);
                return static_cast<int>(length);
            }
            const std::size_t copied = std::min(length, static_cast<std::size_t>(cchBufferMax) - 1);
            for (std::size_t i = 0; i < copied; ++i)
                lpBuffer[i] = static_cast<WCHAR>(U16(p + 2 * i));
            lpBuffer[copied] = u'\0';
            return static_cast<int>(copied);
        }
        p += length * 2;
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return answerMissing();
}
