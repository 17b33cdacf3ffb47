#include "uiplug-in-old/core/model_cache.h"

#include <cstring>

#include "platform/fileapi.h"
#include "platform/shlobj.h"
#include "platform/synchapi.h"

namespace {

// Raise with every change of what is written below: a cache of another
// layout then fails the tag check (and in general the size check too).
constexpr DWORD kPaperLayout = 0x31435050;  // "PPC1"
constexpr DWORD kModelLayout = 0x31434D4D;  // "MMC1"
constexpr std::size_t kNameChars = 64;      // 63 characters and a terminator

class Writer {
public:
    void U8(BYTE v) { bytes_.push_back(v); }
    void U16(WORD v)
    {
        U8(static_cast<BYTE>(v));
        U8(static_cast<BYTE>(v >> 8));
    }
    void U32(DWORD v)
    {
        U16(static_cast<WORD>(v));
        U16(static_cast<WORD>(v >> 16));
    }
    void Text(const std::u16string& text, std::size_t chars)
    {
        for (std::size_t i = 0; i < chars; ++i)
            U16(i < text.size() && i + 1 < chars ? text[i] : 0);
    }
    void List(const PositionList& list)
    {
        for (WORD v : list.values)
            U16(v);
        U16(list.count);
        U16(list.order);
    }
    void Layout(const PaperLayout& layout)
    {
        U16(layout.width);
        U16(layout.height);
        U16(layout.second1);
        U16(layout.second2);
        U8(layout.commandLength);
        for (BYTE b : layout.command)
            U8(b);
    }
    void Limits(const SizeLimitSet& set)
    {
        for (const SizeLimits* l : {&set.portrait, &set.landscape})
            for (WORD v : {l->maxWidthMm, l->maxHeightMm, l->maxWidthPx, l->maxHeightPx, l->minWidthMm, l->minHeightMm,
                           l->minWidthPx, l->minHeightPx})
                U16(v);
    }
    // The total size goes into the first word.
    std::vector<BYTE> Finish()
    {
        const auto size = static_cast<DWORD>(bytes_.size());
        for (int i = 0; i < 4; ++i)
            bytes_[static_cast<std::size_t>(i)] = static_cast<BYTE>(size >> (8 * i));
        return std::move(bytes_);
    }

private:
    std::vector<BYTE> bytes_;
};

class Reader {
public:
    explicit Reader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}
    BYTE U8() { return at_ < bytes_.size() ? bytes_[at_++] : (failed_ = true, BYTE{0}); }
    WORD U16()
    {
        const WORD low = U8();
        return static_cast<WORD>(low | (U8() << 8));
    }
    DWORD U32()
    {
        const DWORD low = U16();
        return low | (static_cast<DWORD>(U16()) << 16);
    }
    std::u16string Text(std::size_t chars)
    {
        std::u16string text;
        bool ended = false;
        for (std::size_t i = 0; i < chars; ++i) {
            const char16_t c = U16();
            ended = ended || c == 0;
            if (!ended)
                text.push_back(c);
        }
        return text;
    }
    void List(PositionList& list)
    {
        for (WORD& v : list.values)
            v = U16();
        list.count = static_cast<WORD>(std::min<unsigned>(U16(), kMaxListLength));
        list.order = U16();
    }
    void Layout(PaperLayout& layout)
    {
        layout.width = U16();
        layout.height = U16();
        layout.second1 = U16();
        layout.second2 = U16();
        layout.commandLength = static_cast<BYTE>(std::min<std::size_t>(U8(), layout.command.size()));
        for (BYTE& b : layout.command)
            b = U8();
    }
    void Limits(SizeLimitSet& set)
    {
        for (SizeLimits* l : {&set.portrait, &set.landscape})
            for (WORD* v : {&l->maxWidthMm, &l->maxHeightMm, &l->maxWidthPx, &l->maxHeightPx, &l->minWidthMm,
                            &l->minHeightMm, &l->minWidthPx, &l->minHeightPx})
                *v = U16();
    }
    bool Good() const noexcept { return !failed_ && at_ == bytes_.size(); }

private:
    const std::vector<BYTE>& bytes_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

void WriteRow(Writer& w, const PaperRow& row)
{
    w.U16(row.id);
    w.Text(row.name, kNameChars);
    w.U16(row.value1);
    w.U32(row.value2);
    w.U16(row.width);
    w.U16(row.height);
    w.Layout(row.portrait);
    w.Layout(row.landscape);
    w.U16(row.mmWidth);
    w.U16(row.mmHeight);
    w.U16(row.shortNameId);
    w.U16(row.longNameId);
}

void ReadRow(Reader& r, PaperRow& row)
{
    row.id = r.U16();
    row.name = r.Text(kNameChars);
    row.value1 = r.U16();
    row.value2 = r.U32();
    row.width = r.U16();
    row.height = r.U16();
    r.Layout(row.portrait);
    r.Layout(row.landscape);
    row.mmWidth = r.U16();
    row.mmHeight = r.U16();
    row.shortNameId = r.U16();
    row.longNameId = r.U16();
}

// Handles closed on every path.
struct FileHandle {
    HANDLE handle;
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

}  // namespace

std::vector<BYTE> ModelCache::PaperBytes(const PaperTable& table)
{
    Writer w;
    w.U32(0);
    w.U32(kPaperLayout);
    w.U16(table.paperStamp);
    w.U16(table.seedStamp);
    w.U16(static_cast<WORD>(table.rows.size()));
    const PaperRow empty;
    for (std::size_t i = 0; i < kMaxPaperRows; ++i)
        WriteRow(w, i < table.rows.size() ? table.rows[i] : empty);
    return w.Finish();
}

std::size_t ModelCache::PaperSize()
{
    static const std::size_t size = PaperBytes(PaperTable{}).size();
    return size;
}

std::optional<PaperTable> ModelCache::PaperFrom(const std::vector<BYTE>& bytes)
{
    Reader r(bytes);
    if (bytes.size() != PaperSize() || r.U32() != PaperSize() || r.U32() != kPaperLayout)
        return std::nullopt;
    PaperTable table;
    table.paperStamp = r.U16();
    table.seedStamp = r.U16();
    const std::size_t count = std::min<std::size_t>(r.U16(), kMaxPaperRows);
    table.rows.resize(kMaxPaperRows);
    for (PaperRow& row : table.rows)
        ReadRow(r, row);
    table.rows.resize(count);
    if (!r.Good())
        return std::nullopt;
    return table;
}

std::vector<BYTE> ModelCache::ModelBytes(const ModelDescription& m)
{
    Writer w;
    w.U32(0);
    w.U32(kModelLayout);
    w.U32(1);  // the valid flag
    for (WORD stamp : m.stamps_)
        w.U16(stamp);
    w.U16(0);
    w.U16(0);

    const PrinterInfo& info = m.info_;
    w.U16(info.infoType);
    w.Text(info.modelName, kNameChars);
    w.U32(info.capabilities);
    w.U16(info.logoBitmapId);
    for (const PositionList* list : {&info.papers, &info.papersInch, &info.papersMm, &info.sources, &info.paperTypes,
                                     &info.mediaTypes})
        w.List(*list);
    w.U32(info.defaultMemory);
    w.U16(info.pagesPerMinute);
    w.U16(info.modelId);
    w.U16(info.finisher);
    for (SHORT row : info.qualityRows)
        w.U16(static_cast<WORD>(row));
    for (WORD timeOut : info.timeOuts)
        w.U16(timeOut);

    w.Text(m.defaults_.modelName, kNameChars + 1);
    w.U16(m.defaults_.paperId);
    w.U16(static_cast<WORD>(m.defaults_.paperWidth));
    w.U16(static_cast<WORD>(m.defaults_.paperLength));

    w.U16(static_cast<WORD>(m.substitutions_.size()));
    const FontSubstitution none;
    for (std::size_t i = 0; i < kMaxSubstitutions; ++i) {
        const FontSubstitution& s = i < m.substitutions_.size() ? m.substitutions_[i] : none;
        w.Text(s.font, kNameChars);
        w.Text(s.substitute, kNameChars);
        w.U16(static_cast<WORD>(s.value));
    }
    w.Limits(m.dpiChange_);
    w.Limits(m.freeSize_);
    w.Limits(m.finisherSize_);
    for (DWORD mask : m.paperSources_)
        w.U32(mask);
    for (WORD flags : m.paperFlags_)
        w.U16(flags);
    w.U16(static_cast<WORD>(m.media_.size()));
    const MediaEntry noMedia;
    for (std::size_t i = 0; i < 32; ++i) {
        const MediaEntry& e = i < m.media_.size() ? m.media_[i] : noMedia;
        w.U16(e.id);
        w.U16(e.value);
        w.U32(e.options);
        w.U16(e.nameId);
        w.U16(0);
    }
    return w.Finish();
}

std::size_t ModelCache::ModelSize()
{
    static const std::size_t size = ModelBytes(ModelDescription{}).size();
    return size;
}

bool ModelCache::ModelFrom(const std::vector<BYTE>& bytes, ModelDescription& m)
{
    Reader r(bytes);
    if (bytes.size() != ModelSize() || r.U32() != ModelSize() || r.U32() != kModelLayout || r.U32() != 1)
        return false;
    for (WORD& stamp : m.stamps_)
        stamp = r.U16();
    r.U16();
    r.U16();

    PrinterInfo& info = m.info_;
    info.infoType = r.U16();
    info.modelName = r.Text(kNameChars);
    info.capabilities = r.U32();
    info.logoBitmapId = r.U16();
    for (PositionList* list : {&info.papers, &info.papersInch, &info.papersMm, &info.sources, &info.paperTypes,
                               &info.mediaTypes})
        r.List(*list);
    info.defaultMemory = r.U32();
    info.pagesPerMinute = r.U16();
    info.modelId = r.U16();
    info.finisher = r.U16();
    for (SHORT& row : info.qualityRows)
        row = static_cast<SHORT>(r.U16());
    for (WORD& timeOut : info.timeOuts)
        timeOut = r.U16();

    m.defaults_.modelName = r.Text(kNameChars + 1);
    m.defaults_.paperId = r.U16();
    m.defaults_.paperWidth = static_cast<SHORT>(r.U16());
    m.defaults_.paperLength = static_cast<SHORT>(r.U16());

    const std::size_t substitutions = std::min<std::size_t>(r.U16(), kMaxSubstitutions);
    m.substitutions_.resize(kMaxSubstitutions);
    for (FontSubstitution& s : m.substitutions_) {
        s.font = r.Text(kNameChars);
        s.substitute = r.Text(kNameChars);
        s.value = static_cast<SHORT>(r.U16());
    }
    m.substitutions_.resize(substitutions);
    r.Limits(m.dpiChange_);
    r.Limits(m.freeSize_);
    r.Limits(m.finisherSize_);
    for (DWORD& mask : m.paperSources_)
        mask = r.U32();
    for (WORD& flags : m.paperFlags_)
        flags = r.U16();
    const std::size_t media = std::min<std::size_t>(r.U16(), 32);
    m.media_.resize(32);
    for (MediaEntry& e : m.media_) {
        e.id = r.U16();
        e.value = r.U16();
        e.options = r.U32();
        e.nameId = r.U16();
        r.U16();
    }
    m.media_.resize(media);
    return r.Good();
}

std::optional<std::vector<BYTE>> ModelCache::Read(const std::u16string& path, std::size_t size)
{
    const FileHandle file{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    // One byte more than expected tells a longer file from a whole one.
    std::vector<BYTE> bytes(size + 1);
    std::size_t got = 0;
    while (got < bytes.size()) {
        DWORD n = 0;
        if (!ReadFile(file.handle, bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n, nullptr) || n == 0)
            break;
        got += n;
    }
    if (got != size)
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

bool ModelCache::Write(const std::u16string& path, const std::vector<BYTE>& bytes)
{
    const std::size_t slash = path.find_last_of(u'\\');
    if (slash != std::u16string::npos) {
        const std::u16string folder = path.substr(0, slash);
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    }
    const FileHandle file{CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr)};
    if (file.handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    return WriteFile(file.handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}
