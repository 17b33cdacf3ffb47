#include "platform/pipeline/opc_package.h"

#include <zip.h>

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <regex>

#include "platform/pipeline/xml_util.h"

namespace {

constexpr std::string_view kContentTypesName = "/[Content_Types].xml";

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
    return out;
}

std::string PercentDecode(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        c = LowerAscii(c);
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Normalises "/a/./b/../c" to "/a/c"; throws when ".." would leave the root.
std::string NormaliseSegments(std::string_view path, std::string_view original)
{
    std::vector<std::string_view> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        auto end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const auto seg = path.substr(start, end - start);
        if (seg == "..") {
            if (segments.empty())
                throw PackageError("part name " + std::string(original) + " escapes the package root");
            segments.pop_back();
        } else if (!seg.empty() && seg != ".") {
            segments.push_back(seg);
        }
        start = end + 1;
    }
    std::string out;
    for (auto seg : segments) {
        out += '/';
        out += seg;
    }
    return out.empty() ? "/" : out;
}

} // namespace

std::string PartKey(std::string_view name) { return Lower(PercentDecode(name)); }

std::string PartExtension(std::string_view name)
{
    const auto slash = name.rfind('/');
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return Lower(name.substr(dot + 1));
}

std::string ResolvePartUri(std::string_view sourcePartName, std::string_view uri)
{
    std::string_view target = uri;
    if (const auto hash = target.find('#'); hash != std::string_view::npos)
        target = target.substr(0, hash);
    std::string path;
    if (!target.empty() && target.front() == '/') {
        path = std::string(target);
    } else {
        const auto slash = sourcePartName.rfind('/');
        path = std::string(slash == std::string_view::npos ? std::string_view("/") : sourcePartName.substr(0, slash + 1));
        path += target;
    }
    return NormaliseSegments(PercentDecode(path), uri);
}

std::string ContentTypeFromExtension(std::string_view name)
{
    static const std::map<std::string, std::string, std::less<>> kTypes{
        {"rels", "application/vnd.openxmlformats-package.relationships+xml"},
        {"fdseq", "application/vnd.ms-package.xps-fixeddocumentsequence+xml"},
        {"fdoc", "application/vnd.ms-package.xps-fixeddocument+xml"},
        {"fpage", "application/vnd.ms-package.xps-fixedpage+xml"},
        {"dict", "application/vnd.ms-package.xps-resourcedictionary+xml"},
        {"odttf", "application/vnd.ms-package.obfuscated-opentype"},
        {"ttf", "application/vnd.ms-opentype"},
        {"otf", "application/vnd.ms-opentype"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
        {"wdp", "image/vnd.ms-photo"},
        {"icc", "application/vnd.ms-color.iccprofile"},
        {"struct", "application/vnd.ms-package.xps-documentstructure+xml"},
        {"frag", "application/vnd.ms-package.xps-storyfragments+xml"},
        {"xml", "application/xml"},
    };
    const auto it = kTypes.find(PartExtension(name));
    return it == kTypes.end() ? std::string() : it->second;
}

struct Package::ZipHandle {
    zip_t* zip = nullptr;
    ~ZipHandle()
    {
        if (zip)
            zip_discard(zip);
    }
};

Package::~Package() = default;

std::shared_ptr<Package> Package::Open(const std::string& path, const PackageLimits& limits)
{
    std::shared_ptr<Package> p(new Package);
    p->path_ = path;
    p->zip_ = std::make_unique<ZipHandle>();
    int error = 0;
    p->zip_->zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!p->zip_->zip) {
        if (error == ZIP_ER_NOENT || error == ZIP_ER_OPEN || error == ZIP_ER_READ)
            throw PackageError("cannot read the file");
        throw PackageError("not a ZIP package");
    }
    p->LoadEntries(limits);
    p->LoadContentTypes();
    return p;
}

void Package::LoadEntries(const PackageLimits& limits)
{
    static const std::regex kPiece(R"(^(.*)/\[([0-9]+)\](\.last)?\.piece$)", std::regex::icase);
    struct Piece {
        std::uint64_t index;
        std::uint64_t number;
        bool last;
        std::uint64_t size;
    };
    std::map<std::string, std::pair<std::string, std::vector<Piece>>> interleaved;  // key -> name, pieces
    std::uint64_t total = 0;

    auto add = [&](const std::string& name, Entry entry) {
        const std::string key = PartKey(name);
        if (!entries_.emplace(key, std::move(entry)).second)
            throw PackageError("duplicate part name " + name);
    };

    const zip_int64_t count = zip_get_num_entries(zip_->zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip_->zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS, &st) != 0 || !(st.valid & ZIP_STAT_NAME))
            throw PackageError("unreadable ZIP directory");
        std::string raw = st.name;
        if (raw.empty() || raw.back() == '/')
            continue;  // folder entries carry no part
        if (raw.find('\\') != std::string::npos)
            throw PackageError("invalid part name " + raw);
        const std::string name = raw.front() == '/' ? raw : "/" + raw;
        const std::string normal = NormaliseSegments(PercentDecode(name), name);
        if (PartKey(normal) != PartKey(name))
            throw PackageError("invalid part name " + name);
        const std::uint64_t size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
        total += size;
        if (total > limits.maxInflatedBytes)
            throw PackageError("inflates to more than the limit of " + std::to_string(limits.maxInflatedBytes) + " bytes");

        std::smatch m;
        if (std::regex_match(name, m, kPiece)) {
            std::uint64_t number = 0;
            const std::string digits = m[2].str();
            const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (m[1].length() == 0 || parsed.ec != std::errc())
                throw PackageError("invalid part name " + name);
            auto& slot = interleaved[PartKey(m[1].str())];
            slot.first = m[1].str();
            slot.second.push_back(Piece{static_cast<std::uint64_t>(i), number, m[3].matched, size});
            continue;
        }
        add(name, Entry{name, {static_cast<std::uint64_t>(i)}, size});
    }

    for (auto& [key, named] : interleaved) {
        auto& [name, pieces] = named;
        std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.number < b.number; });
        Entry entry{name, {}, 0};
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            const bool lastExpected = k + 1 == pieces.size();
            if (pieces[k].number != k || pieces[k].last != lastExpected)
                throw PackageError("interleaved part " + name + " has missing or misplaced pieces");
            entry.pieces.push_back(pieces[k].index);
            entry.size += pieces[k].size;
        }
        add(name, std::move(entry));
    }
}

void Package::LoadContentTypes()
{
    const Entry* e = Find(kContentTypesName);
    if (!e)
        return;  // an unpacked-and-repacked package may lack it: types come from extensions
    const XmlDocPtr doc = ParseXmlPart(ReadPart(kContentTypesName), kContentTypesName);
    for (const xmlNode* n = xmlDocGetRootElement(doc.get())->children; n; n = n->next) {
        if (XmlIs(n, "Default"))
            defaults_[Lower(XmlAttribute(n, "Extension"))] = XmlAttribute(n, "ContentType");
        else if (XmlIs(n, "Override"))
            overrides_[PartKey(XmlAttribute(n, "PartName"))] = XmlAttribute(n, "ContentType");
    }
}

const Package::Entry* Package::Find(std::string_view name) const
{
    const auto it = entries_.find(PartKey(name));
    return it == entries_.end() ? nullptr : &it->second;
}

bool Package::HasPart(std::string_view name) const { return Find(name) != nullptr; }

std::string Package::PartName(std::string_view name) const
{
    const Entry* e = Find(name);
    return e ? e->name : std::string(name);
}

std::vector<std::string> Package::PartNames() const
{
    std::vector<std::string> names;
    names.reserve(entries_.size());
    for (const auto& [key, e] : entries_)
        names.push_back(e.name);
    return names;
}

std::string Package::ContentType(std::string_view name) const
{
    if (const auto it = overrides_.find(PartKey(name)); it != overrides_.end())
        return it->second;
    if (const auto it = defaults_.find(PartExtension(name)); it != defaults_.end())
        return it->second;
    return ContentTypeFromExtension(name);
}

Bytes Package::ReadPart(std::string_view name) const
{
    const Entry* e = Find(name);
    if (!e)
        throw PackageError("missing part " + std::string(name));
    Bytes out;
    out.reserve(e->size);
    std::lock_guard guard(lock_);
    for (const std::uint64_t index : e->pieces) {
        zip_file_t* f = zip_fopen_index(zip_->zip, index, 0);
        if (!f)
            throw PackageError("cannot read part " + e->name + ": " + zip_strerror(zip_->zip));
        std::uint8_t chunk[65536];
        for (;;) {
            const zip_int64_t n = zip_fread(f, chunk, sizeof chunk);
            if (n < 0) {
                const std::string why = zip_file_strerror(f);
                zip_fclose(f);
                throw PackageError("cannot read part " + e->name + ": " + why);
            }
            if (n == 0)
                break;
            // A damaged entry may inflate past what its header declares.
            if (out.size() + static_cast<std::size_t>(n) > e->size) {
                zip_fclose(f);
                throw PackageError("part " + e->name + " inflates past its declared size");
            }
            out.insert(out.end(), chunk, chunk + n);
        }
        if (zip_fclose(f) != 0)
            throw PackageError("cannot read part " + e->name + ": damaged data");
    }
    return out;
}

std::optional<Package::StoredPart> Package::ReadStoredPart(std::string_view name) const
{
    const Entry* e = Find(name);
    if (!e)
        throw PackageError("missing part " + std::string(name));
    if (e->pieces.size() != 1)
        return std::nullopt;

    StoredPart stored{{}, 0, 0, e->size};
    {
        std::lock_guard guard(lock_);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip_->zip, e->pieces[0], 0, &st) != 0 || !(st.valid & ZIP_STAT_COMP_METHOD) ||
            !(st.valid & ZIP_STAT_CRC) || !(st.valid & ZIP_STAT_COMP_SIZE) ||
            (st.comp_method != ZIP_CM_STORE && st.comp_method != ZIP_CM_DEFLATE))
            return std::nullopt;
        stored.method = static_cast<std::uint16_t>(st.comp_method);
        stored.crc = st.crc;
        zip_file_t* f = zip_fopen_index(zip_->zip, e->pieces[0], ZIP_FL_COMPRESSED);
        if (!f)
            throw PackageError("cannot read part " + e->name + ": " + zip_strerror(zip_->zip));
        stored.data.resize(st.comp_size);
        const zip_int64_t n = st.comp_size ? zip_fread(f, stored.data.data(), st.comp_size) : 0;
        zip_fclose(f);
        if (n < 0 || static_cast<zip_uint64_t>(n) != st.comp_size)
            throw PackageError("cannot read part " + e->name + ": damaged data");
    }

    // The stored bytes must give the declared size and checksum; inflating
    // stops as soon as they give more.
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t total = 0;
    auto take = [&](const std::uint8_t* bytes, std::size_t count) {
        total += count;
        if (total > e->size)
            throw PackageError("part " + e->name + " inflates past its declared size");
        for (std::size_t done = 0; done < count;) {
            const std::size_t chunk = std::min<std::size_t>(count - done, 1u << 30);
            crc = crc32(crc, bytes + done, static_cast<uInt>(chunk));
            done += chunk;
        }
    };
    if (stored.method == ZIP_CM_STORE) {
        take(stored.data.data(), stored.data.size());
    } else {
        if (stored.data.size() > 0xFFFFFFFFu)
            return std::nullopt;  // too large to check in one piece: read it the ordinary way
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            throw PackageError("cannot start decompression");
        z.next_in = stored.data.data();
        z.avail_in = static_cast<uInt>(stored.data.size());
        std::uint8_t out[65536];
        int rc;
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            rc = inflate(&z, Z_NO_FLUSH);  // Z_BUF_ERROR: the data ends before the stream does
            const bool damaged = rc != Z_OK && rc != Z_STREAM_END;
            try {
                if (damaged)
                    throw PackageError("cannot read part " + e->name + ": damaged data");
                take(out, sizeof out - z.avail_out);
            } catch (...) {
                inflateEnd(&z);
                throw;
            }
        } while (rc != Z_STREAM_END);
        inflateEnd(&z);
    }
    if (total != e->size || static_cast<std::uint32_t>(crc) != stored.crc)
        throw PackageError("cannot read part " + e->name + ": damaged data");
    return stored;
}

std::string Package::RelationshipsPartName(std::string_view sourceName)
{
    if (sourceName.empty() || sourceName == "/")
        return "/_rels/.rels";
    const auto slash = sourceName.rfind('/');
    return std::string(sourceName.substr(0, slash + 1)) + "_rels/" + std::string(sourceName.substr(slash + 1)) + ".rels";
}

std::vector<Relationship> Package::Relationships(std::string_view sourceName) const
{
    const std::string relsName = RelationshipsPartName(sourceName);
    std::vector<Relationship> out;
    if (!HasPart(relsName))
        return out;
    const XmlDocPtr doc = ParseXmlPart(ReadPart(relsName), relsName);
    const std::string base = sourceName.empty() ? "/" : std::string(sourceName);
    for (const xmlNode* n = xmlDocGetRootElement(doc.get())->children; n; n = n->next) {
        if (!XmlIs(n, "Relationship"))
            continue;
        Relationship r;
        r.id = XmlAttribute(n, "Id");
        r.type = XmlAttribute(n, "Type");
        r.external = XmlAttribute(n, "TargetMode") == "External";
        const std::string target = XmlAttribute(n, "Target");
        r.target = r.external ? target : ResolvePartUri(base, target);
        out.push_back(std::move(r));
    }
    return out;
}
