// zntr-bench-floor: the least work any XPS consumer must do with a document,
// as a yardstick for zntr-print. It opens the package with libzip, inflates
// every FixedPage part and parses it with libxml2 into a tree, which it
// frees at once. Nothing is written, checked or rendered.
//
// Which parts are pages comes from [Content_Types].xml (an Override for the
// part's name, else the Default for its extension); a package without that
// part falls back to every ".fpage" entry. Parts stored as interleaved
// pieces ("name/[0].piece" ... "name/[n].last.piece") are joined first.
//
// usage: zntr-bench-floor INPUT.xps
// prints the number of pages parsed on standard output; exit status 0 on
// success, 1 when the package or one of its pages cannot be read or parsed,
// 2 on a usage error.
#include <zip.h>

#include <libxml/parser.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kFixedPageTypes[] = {
    "application/vnd.ms-package.xps-fixedpage+xml",
    "application/vnd.openxps-fixedpage+xml",
};

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

bool IsFixedPageType(std::string_view type)
{
    // Media types may carry parameters and compare case-insensitively.
    const std::string t = Lower(type.substr(0, type.find(';')));
    for (const auto page : kFixedPageTypes)
        if (t == page)
            return true;
    return false;
}

// A part of the package: the ZIP entries that hold it, in piece order.
struct Part {
    std::vector<std::pair<std::uint64_t, zip_uint64_t>> pieces; // (piece number, entry index)
    bool last = false;                                          // saw the ".last.piece" entry
    bool whole = false;                                         // a plain, unsplit entry
};

// Splits "dir/name.ext/[12].piece" or "dir/name.ext/[12].last.piece" into the
// part name and the piece number; false for an ordinary entry name.
bool ParsePiece(std::string_view name, std::string& part, std::uint64_t& number, bool& last)
{
    const auto slash = name.rfind('/');
    if (slash == std::string_view::npos)
        return false;
    std::string_view leaf = name.substr(slash + 1);
    const std::string lower = Lower(leaf);
    std::string_view rest;
    if (lower.ends_with("].last.piece")) {
        rest = leaf.substr(0, leaf.size() - std::strlen("].last.piece"));
        last = true;
    } else if (lower.ends_with("].piece")) {
        rest = leaf.substr(0, leaf.size() - std::strlen("].piece"));
        last = false;
    } else {
        return false;
    }
    if (rest.size() < 2 || rest.front() != '[')
        return false;
    number = 0;
    for (const char c : rest.substr(1)) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    part.assign(name.substr(0, slash));
    return true;
}

class Package {
public:
    explicit Package(const char* path)
    {
        int error = 0;
        zip_ = zip_open(path, ZIP_RDONLY, &error);
        if (!zip_) {
            zip_error_t ze;
            zip_error_init_with_code(&ze, error);
            std::fprintf(stderr, "zntr-bench-floor: %s: %s\n", path, zip_error_strerror(&ze));
            zip_error_fini(&ze);
        }
    }
    ~Package()
    {
        if (zip_)
            zip_discard(zip_);
    }
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    bool ok() const { return zip_ != nullptr; }

    // Groups the entries into parts, keyed by lower-case part name without
    // the leading slash.
    bool Index()
    {
        const zip_int64_t count = zip_get_num_entries(zip_, 0);
        if (count < 0)
            return false;
        for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
            const char* raw = zip_get_name(zip_, i, ZIP_FL_ENC_RAW);
            if (!raw)
                return false;
            const std::string_view name(raw);
            if (name.empty() || name.back() == '/')
                continue;
            std::string partName;
            std::uint64_t number = 0;
            bool last = false;
            if (ParsePiece(name, partName, number, last)) {
                Part& part = parts_[Lower(partName)];
                part.pieces.emplace_back(number, i);
                part.last = part.last || last;
            } else {
                Part& part = parts_[Lower(name)];
                part.pieces.assign(1, {0, i});
                part.whole = true;
            }
        }
        for (auto& [name, part] : parts_)
            std::sort(part.pieces.begin(), part.pieces.end());
        return true;
    }

    const std::map<std::string, Part>& parts() const { return parts_; }

    // Inflates a part into out (reusing its storage).
    bool Read(const Part& part, std::vector<char>& out)
    {
        out.clear();
        for (const auto& [number, index] : part.pieces) {
            zip_stat_t st;
            zip_stat_init(&st);
            if (zip_stat_index(zip_, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
                return false;
            zip_file_t* f = zip_fopen_index(zip_, index, 0);
            if (!f)
                return false;
            const std::size_t at = out.size();
            out.resize(at + static_cast<std::size_t>(st.size));
            zip_uint64_t done = 0;
            while (done < st.size) {
                const zip_int64_t n = zip_fread(f, out.data() + at + done, st.size - done);
                if (n <= 0)
                    break;
                done += static_cast<zip_uint64_t>(n);
            }
            zip_fclose(f);
            if (done != st.size)
                return false;
        }
        return true;
    }

private:
    zip_t* zip_ = nullptr;
    std::map<std::string, Part> parts_;
};

// Which part names hold fixed pages, from [Content_Types].xml.
struct ContentTypes {
    std::map<std::string, std::string> defaults;  // lower-case extension -> type
    std::map<std::string, std::string> overrides; // lower-case part name, no leading slash -> type

    bool IsPage(const std::string& part) const
    {
        if (const auto o = overrides.find(part); o != overrides.end())
            return IsFixedPageType(o->second);
        const auto slash = part.rfind('/');
        const auto dot = part.rfind('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
            return false;
        const auto d = defaults.find(part.substr(dot + 1));
        return d != defaults.end() && IsFixedPageType(d->second);
    }
};

std::string Attribute(xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value)
        return {};
    std::string out(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return out;
}

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS;

// libxml2 takes the length as an int: a larger part is refused, not cut.
xmlDoc* Parse(const std::vector<char>& bytes)
{
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return nullptr;
    return xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, kParseOptions);
}

bool ParseContentTypes(const std::vector<char>& bytes, ContentTypes& out)
{
    xmlDoc* doc = Parse(bytes);
    if (!doc)
        return false;
    xmlNode* root = xmlDocGetRootElement(doc);
    for (xmlNode* n = root ? root->children : nullptr; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE)
            continue;
        const std::string_view element(reinterpret_cast<const char*>(n->name));
        if (element == "Default") {
            out.defaults[Lower(Attribute(n, "Extension"))] = Attribute(n, "ContentType");
        } else if (element == "Override") {
            std::string name = Lower(Attribute(n, "PartName"));
            if (!name.empty() && name.front() == '/')
                name.erase(0, 1);
            out.overrides[name] = Attribute(n, "ContentType");
        }
    }
    xmlFreeDoc(doc);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs("usage: zntr-bench-floor INPUT.xps\n"
                   "Reads and parses every fixed page of INPUT.xps and prints how many there are.\n",
                   stderr);
        return 2;
    }
    const char* path = argv[1];
    Package package(path);
    if (!package.ok())
        return 1;
    if (!package.Index()) {
        std::fprintf(stderr, "zntr-bench-floor: %s: cannot list the ZIP entries\n", path);
        return 1;
    }
    xmlInitParser();

    std::vector<char> buffer;
    ContentTypes types;
    const auto& parts = package.parts();
    const auto ct = parts.find("[content_types].xml");
    const bool haveTypes = ct != parts.end();
    if (haveTypes && (!package.Read(ct->second, buffer) || !ParseContentTypes(buffer, types))) {
        std::fprintf(stderr, "zntr-bench-floor: %s: cannot read [Content_Types].xml\n", path);
        return 1;
    }

    std::size_t pages = 0;
    for (const auto& [name, part] : parts) {
        if (part.pieces.empty() || (!part.whole && !part.last))
            continue; // an unfinished piece run is not a part
        const bool page = haveTypes ? types.IsPage(name) : name.ends_with(".fpage");
        if (!page)
            continue;
        if (!package.Read(part, buffer)) {
            std::fprintf(stderr, "zntr-bench-floor: %s: cannot read %s\n", path, name.c_str());
            return 1;
        }
        xmlDoc* doc = Parse(buffer);
        if (!doc) {
            std::fprintf(stderr, "zntr-bench-floor: %s: %s is not well-formed XML\n", path, name.c_str());
            return 1;
        }
        xmlFreeDoc(doc);
        ++pages;
    }
    xmlCleanupParser();
    std::printf("%zu\n", pages);
    return 0;
}
