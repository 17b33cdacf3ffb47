#include "uiplug-in-old/core/model_description.h"

#include <algorithm>
#include <string>

#include "platform/stringapiset.h"
#include "platform/winbase.h"
#include "platform/winnls.h"
#include "uiplug-in-old/core/default_settings.h"
#include "uiplug-in-old/core/model_cache.h"
#include "uiplug-in-old/core/model_tables.h"
#include "uiplug-in-old/core/resource_library.h"
#include "uiplug-in-old/core/value_grammar.h"

namespace grammar = model_grammar;
namespace tables = model_tables;

const std::array<capability::Named, 24> capability::kKeys{{
    {True1200, u"True1200"},
    {ResidentFont, u"ResidentFont"},
    {A3Printer, u"A3Printer"},
    {Duplex, u"Duplex"},
    {HeiseFont, u"HeiseFont"},
    {Collate, u"Collate"},
    {FontSubstitution, u"FontSubstitution"},
    {DuplexOption, u"DuplexOption"},
    {Fast600, u"Fast600"},
    {OnlyFast600, u"OnlyFast600"},
    {Monochrome, u"Monochrome"},
    {MKK, u"MKK"},
    {GL2, u"GL2"},
    {TonerSave3, u"TonerSave3"},
    {MediaCheckMPT, u"MediaCheckMPT"},
    {Finisher, u"Finisher"},
    {WideUserDefinePaper, u"WideUserDefinePaper"},
    {MPT_Duplex, u"MPT_Duplex"},
    {OptionTray, u"OptionTray"},
    {OperationPanel, u"OperationPanel"},
    {FastMonoPrint, u"FastMonoPrint"},
    {OfficeDocument, u"OfficeDocument"},
    {PermanentOverlay, u"PermanentOverlay"},
    {MptIsManual, u"MptIsManual"},
}};

namespace {

constexpr DWORD kValueChars = 1024;
constexpr std::size_t kNameChars = 63;
constexpr std::size_t kShortNameChars = 23;
constexpr std::size_t kUnitChars = 31;

// Model names compare without regard to case, as far as the name a model
// entry keeps (its document defaults hold 64 characters).
constexpr std::size_t kModelNameChars = 64;

bool SameName(std::u16string_view a, std::u16string_view b) noexcept
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool SameModel(std::u16string_view kept, std::u16string_view asked) noexcept
{
    return SameName(kept.substr(0, kModelNameChars), asked.substr(0, kModelNameChars));
}

std::u16string Decimal(unsigned n) { return Utf8ToWide(std::to_string(n)); }

// A value of one file; empty when absent (an empty value counts as absent).
std::u16string ReadValue(const std::u16string& file, const char16_t* section, const char16_t* key)
{
    return ProfileString(file, section, key, kValueChars);
}

WORD ReadStamp(const std::u16string& file)
{
    return file.empty() ? WORD{0} : static_cast<WORD>(GetPrivateProfileIntW(u"VERSION", u"Ver", 0, file.c_str()));
}

// Row k's names: the first built-in entry from k on with the row's id, else entry 0.
const tables::PaperNames& NamesFor(std::size_t row, WORD paperId) noexcept
{
    for (std::size_t k = row; k < tables::kPaperNames.size(); ++k)
        if (tables::kPaperNames[k].paperId == paperId)
            return tables::kPaperNames[k];
    return tables::kPaperNames[0];
}

PositionList ReadList(std::u16string_view value, int order)
{
    PositionList list;
    const std::vector<std::uint32_t> values = grammar::UnsignedList(value, kMaxListLength);
    for (std::size_t i = 0; i < values.size(); ++i)
        list.values[i] = static_cast<WORD>(values[i]);
    list.count = static_cast<WORD>(values.size());
    list.order = static_cast<WORD>(order);
    return list;
}

SizeLimits ReadLimits(std::u16string_view value)
{
    std::vector<std::uint32_t> v = grammar::UnsignedList(value, 8);
    v.resize(8);
    const auto w = [&](std::size_t i) { return static_cast<WORD>(v[i]); };
    return {w(0), w(1), w(2), w(3), w(4), w(5), w(6), w(7)};
}

void ReadLayout(std::u16string_view value, PaperLayout& layout)
{
    const std::vector<std::u16string_view> fields = grammar::Fields(value);
    const auto number = [&](std::size_t i) { return i < fields.size() ? grammar::UnsignedField(fields[i]) : 0u; };
    layout.width = static_cast<WORD>(number(0));
    layout.height = static_cast<WORD>(number(1));
    layout.second1 = static_cast<WORD>(number(2));
    layout.second2 = static_cast<WORD>(number(3));
    // A command longer than its 8 bytes is not kept at all: a cut command
    // would be a different one.
    const std::uint32_t length = number(4);
    if (length > layout.command.size())
        return;
    const std::u16string command = fields.size() > 5 ? grammar::QuotedField(fields[5]) : std::u16string();
    layout.commandLength = static_cast<BYTE>(length);
    for (std::size_t i = 0; i < length && i < command.size(); ++i)
        layout.command[i] = static_cast<BYTE>(command[i]);
}

// "12.3" from 123 tenths, "8.27" from 827 hundredths.
std::u16string Fixed(unsigned value, unsigned decimals)
{
    const unsigned scale = decimals == 1 ? 10 : 100;
    std::u16string text = Decimal(value / scale) + u".";
    std::u16string fraction = Decimal(value % scale);
    text.append(decimals - std::min<std::size_t>(decimals, fraction.size()), u'0');
    return text + fraction;
}

const PaperRow kNoRow{};
const PaperLayout kNoLayout{};

}  // namespace

bool IsInchCountryCode(int code) noexcept
{
    switch (code) {
    case 1: case 2: case 51: case 52: case 54: case 56: case 57: case 58:
    case 591: case 593: case 595: case 598:
        return true;
    default:
        return code >= 501 && code <= 507;
    }
}

bool IsInchCountry()
{
    char16_t buffer[8]{};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, buffer, 8) <= 1)
        return false;
    int code = 0;
    for (const char16_t* c = buffer; *c >= u'0' && *c <= u'9'; ++c)
        code = code * 10 + (*c - u'0');
    return IsInchCountryCode(code);
}

// ---- Queries -----------------------------------------------------------------------

WORD ModelDescription::ListValueAt(const PositionList& list, int position) const noexcept
{
    // Outside the list: its default position, even where that lies beyond the count.
    const std::size_t at = position >= 0 && position < list.count ? static_cast<std::size_t>(position) : list.order;
    return at < list.values.size() ? list.values[at] : WORD{0xFFFF};
}

int ModelDescription::PaperRowAt(int position) const noexcept
{
    const WORD row = ListValueAt(info_.papers, position);
    return paperTable_ && row < paperTable_->rows.size() ? row : -1;
}

const PaperRow* ModelDescription::RowAt(int position) const noexcept
{
    const int row = PaperRowAt(position);
    return row < 0 ? &kNoRow : &paperTable_->rows[static_cast<std::size_t>(row)];
}

WORD ModelDescription::PaperIdAt(int position) const noexcept
{
    return position >= 0 && position < info_.papers.count ? RowAt(position)->id : WORD{0};
}

WORD ModelDescription::DefaultPaperId() const noexcept { return RowAt(-1)->id; }

int ModelDescription::PositionOfPaper(WORD paperId) const noexcept
{
    if (info_.papers.count == 0)
        return -2;
    for (int i = 0; i < info_.papers.count; ++i)
        if (RowAt(i)->id == paperId)
            return i;
    return paperId == 0 ? -1 : -2;
}

DWORD ModelDescription::PaperSourcesAt(int position) const noexcept
{
    const int row = PaperRowAt(position);
    return row < 0 ? 0 : paperSources_[static_cast<std::size_t>(row)];
}

WORD ModelDescription::PaperFlagsAt(int position) const noexcept
{
    const int row = PaperRowAt(position);
    return row < 0 ? WORD{0} : paperFlags_[static_cast<std::size_t>(row)];
}

std::pair<WORD, WORD> ModelDescription::PaperPixelsAt(int position) const noexcept
{
    const PaperRow* row = RowAt(position);
    return {row->width, row->height};
}

std::pair<WORD, WORD> ModelDescription::PaperSizeAt(int position) const noexcept
{
    const PaperRow* row = RowAt(position);
    if (row->mmWidth || row->mmHeight)
        return {row->mmWidth, row->mmHeight};
    const auto tenths = [](unsigned px) { return static_cast<WORD>((px * 508u + 300u) * 5u / 3000u); };
    return {tenths(row->width), tenths(row->height)};
}

const PaperLayout& ModelDescription::PaperLayoutAt(int position, int orientation) const noexcept
{
    const PaperRow* row = RowAt(position);
    return row == &kNoRow ? kNoLayout : orientation == 1 ? row->portrait : row->landscape;
}

std::u16string ModelDescription::PaperDisplayName(int position, bool inch, WORD* paperId) const
{
    const PaperRow* row = RowAt(position);
    if (paperId)
        *paperId = row->id;
    std::u16string name = table_ ? table_->LocalisedName(row->shortNameId, row->name) : row->name;
    if (!(PaperFlagsAt(position) & kPaperFlagSizeFormat))
        return name;
    const auto [width, height] = PaperSizeAt(position);
    const auto text = [inch](unsigned tenths) {
        return inch ? Fixed((tenths * 1000u + 1270u) / 2540u, 2) : Fixed(tenths, 1);
    };
    const std::u16string values[] = {text(width), text(height)};
    std::u16string filled;
    std::size_t next = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == u'%' && i + 1 < name.size() && name[i + 1] == u'd') {
            if (next < 2)
                filled += values[next++];
            ++i;
            continue;
        }
        filled.push_back(name[i]);
    }
    return filled + (inch ? std::u16string(u"inch") : table_ ? table_->MillimetreUnit() : std::u16string(u"mm"));
}

std::u16string ModelDescription::PaperLongName(int position, HMODULE strings) const
{
    return LoadResourceText(strings, RowAt(position)->longNameId);
}

WORD ModelDescription::SourceIdAt(int position) const noexcept
{
    const WORD at = ListValueAt(info_.sources, position);
    return at < tables::kSources.size() ? tables::kSources[at].id : WORD{0};
}

int ModelDescription::PositionOfSource(WORD sourceId) const noexcept
{
    for (int i = 0; i < info_.sources.count; ++i)
        if (const WORD at = info_.sources.values[static_cast<std::size_t>(i)];
            at < tables::kSources.size() && tables::kSources[at].id == sourceId)
            return i;
    return -1;
}

std::u16string ModelDescription::SourceName(int position) const
{
    const WORD at = ListValueAt(info_.sources, position);
    return at < tables::kSources.size() && table_ ? table_->LocalisedName(tables::kSources[at].nameId, u"") : u"";
}

WORD ModelDescription::PaperTypeIdAt(int position) const noexcept
{
    const WORD at = ListValueAt(info_.paperTypes, position);
    return at < tables::kPaperTypeCount ? static_cast<WORD>(tables::kFirstPaperTypeId + at) : WORD{0};
}

int ModelDescription::PositionOfPaperType(WORD paperTypeId) const noexcept
{
    for (int i = 0; i < info_.paperTypes.count; ++i)
        if (const WORD at = info_.paperTypes.values[static_cast<std::size_t>(i)];
            at < tables::kPaperTypeCount && tables::kFirstPaperTypeId + at == paperTypeId)
            return i;
    return -1;
}

std::u16string ModelDescription::PaperTypeName(int position) const
{
    const WORD at = ListValueAt(info_.paperTypes, position);
    return at < tables::kPaperTypeCount && table_
               ? table_->LocalisedName(static_cast<WORD>(tables::kFirstPaperTypeNameId + at), u"")
               : u"";
}

std::optional<MediaEntry> ModelDescription::MediaAt(int position) const noexcept
{
    const WORD at = ListValueAt(info_.mediaTypes, position);
    if (at >= media_.size())
        return std::nullopt;
    return media_[at];
}

WORD ModelDescription::MediaIdAt(int position) const noexcept
{
    const std::optional<MediaEntry> entry = MediaAt(position);
    return entry ? entry->id : WORD{0};
}

int ModelDescription::PositionOfMedia(WORD mediaId) const noexcept
{
    for (int i = 0; i < info_.mediaTypes.count; ++i)
        if (const WORD at = info_.mediaTypes.values[static_cast<std::size_t>(i)]; at < media_.size() && media_[at].id == mediaId)
            return i;
    return -1;
}

std::u16string ModelDescription::MediaName(int position, HMODULE strings) const
{
    const std::optional<MediaEntry> entry = MediaAt(position);
    return entry ? LoadResourceText(strings, entry->nameId) : std::u16string();
}

bool ModelDescription::UsesFinisherSizeLimits() const noexcept
{
    return (info_.capabilities & capability::A3Printer) && finisherLimits_.on.load();
}

WORD ModelDescription::FinisherMask() const noexcept
{
    return static_cast<WORD>(finisherLimits_.on.load() ? info_.finisher | kFinisherSizeLimits : info_.finisher);
}

const SizeLimitSet& ModelDescription::UserSizeLimits() const noexcept
{
    return UsesFinisherSizeLimits() ? finisherSize_ : freeSize_;
}

std::optional<int> ModelDescription::QualityRow(int quality) const noexcept
{
    if (quality < -4 || quality > -1)
        return std::nullopt;
    // A model with two quality levels names them from index 0: -3 and above.
    const int index = info_.qualityRows[2] == -1 ? quality + 3 : quality + 4;
    if (index < 0)
        return std::nullopt;
    const int row = info_.qualityRows[static_cast<std::size_t>(index)];
    if (row < 0 || row >= tables::kResolutionRows)
        return std::nullopt;
    return row;
}

// ---- Loading -----------------------------------------------------------------------

// A model's two description files, CustomFile first.
struct ModelTable::Sources {
    std::u16string defaultFile;
    std::u16string customFile;

    std::u16string String(const char16_t* section, const char16_t* key, std::u16string_view builtIn) const
    {
        if (std::u16string v = ReadValue(customFile, section, key); !v.empty())
            return v;
        if (std::u16string v = ReadValue(defaultFile, section, key); !v.empty())
            return v;
        return std::u16string(builtIn);
    }
    int Int(const char16_t* section, const char16_t* key, int builtIn) const
    {
        int value = builtIn;
        for (const std::u16string* file : {&defaultFile, &customFile})
            if (!file->empty())
                value = static_cast<int>(GetPrivateProfileIntW(section, key, value, file->c_str()));
        return value;
    }
};

ModelTable::ModelTable(DriverDataFiles files) : files_(std::move(files)) {}

ModelTable::~ModelTable() = default;

ModelTable& ModelTable::Process()
{
    static ModelTable table(DriverDataFiles::ForThisModule());
    return table;
}

ModelTable::Slot* ModelTable::SlotFor(std::u16string_view model, bool add)
{
    for (const std::unique_ptr<Slot>& slot : slots_)
        if (SameName(slot->name, model))
            return slot.get();
    if (!add)
        return nullptr;
    auto slot = std::make_unique<Slot>();
    slot->name = std::u16string(model);
    slots_.push_back(std::move(slot));
    return slots_.back().get();
}

std::u16string ModelTable::CachePath(std::u16string_view fileName) const
{
    const std::u16string_view name = fileName.substr(0, fileName.find(u'.'));
    if (name.empty() || files_.DataFolder().empty())
        return {};
    return files_.DataFolder() + u"\\" + std::u16string(name) + u".cah";
}

void ModelTable::EnsurePaperTable(const std::array<WORD, 4>& stamps, bool force)
{
    if (paperTable_ && paperTable_->paperStamp == stamps[0] && paperTable_->seedStamp == stamps[1] && !force)
        return;
    const std::u16string cachePath = CachePath(files_.DataFilePath(u"Common", u"InitDataFile1", false));
    if (!cachePath.empty() && !force)  // forced: always from the files
        if (auto bytes = ModelCache::Read(cachePath, ModelCache::PaperSize()))
            if (auto cached = ModelCache::PaperFrom(*bytes); cached && cached->paperStamp == stamps[0] && cached->seedStamp == stamps[1]) {
                paperTable_ = std::make_shared<const PaperTable>(std::move(*cached));
                return;
            }

    auto table = std::make_shared<PaperTable>();
    table->paperStamp = stamps[0];
    table->seedStamp = stamps[1];
    const std::u16string file = files_.DataFilePath(u"Common", u"InitDataFile2", true);
    for (std::size_t n = 1; n <= kMaxPaperRows; ++n) {
        const std::u16string number = Decimal(static_cast<unsigned>(n));
        const std::u16string value = ReadValue(file, u"AllPaper", (u"AllPaper" + number).c_str());
        if (value.empty())
            break;
        const std::vector<std::u16string_view> fields = grammar::Fields(value);
        const auto numberAt = [&](std::size_t i) { return i < fields.size() ? grammar::UnsignedField(fields[i]) : 0u; };
        PaperRow row;
        row.id = static_cast<WORD>(numberAt(0));
        row.name = fields.size() > 1 ? grammar::QuotedField(fields[1]).substr(0, kNameChars) : std::u16string();
        row.value1 = static_cast<WORD>(numberAt(2));
        row.value2 = numberAt(3);
        row.width = static_cast<WORD>(numberAt(4));
        row.height = static_cast<WORD>(numberAt(5));
        ReadLayout(ReadValue(file, u"AllPaper", (u"AllPaper_port" + number).c_str()), row.portrait);
        ReadLayout(ReadValue(file, u"AllPaper", (u"AllPaper_land" + number).c_str()), row.landscape);
        const std::vector<std::uint32_t> mm = grammar::UnsignedList(ReadValue(file, u"AllPaper", (u"AllPaper_mmSize" + number).c_str()), 2);
        row.mmWidth = mm.size() > 0 ? static_cast<WORD>(mm[0]) : WORD{0};
        row.mmHeight = mm.size() > 1 ? static_cast<WORD>(mm[1]) : WORD{0};
        const tables::PaperNames& names = NamesFor(n - 1, row.id);
        row.shortNameId = names.shortNameId;
        row.longNameId = names.longNameId;
        table->rows.push_back(std::move(row));
    }
    files_.SeedUserDefinedPapers();
    if (!cachePath.empty())
        ModelCache::Write(cachePath, ModelCache::PaperBytes(*table));
    paperTable_ = std::move(table);
}

namespace {
// The paper list a record has in use in the user's country now.
const PositionList& ListInUse(const PrinterInfo& info)
{
    if (info.capabilities & capability::PaperListAsRead)
        return info.papers;
    return IsInchCountry() ? info.papersInch : info.papersMm;
}
}  // namespace

ModelDescription* ModelTable::Publish(Slot& slot, std::unique_ptr<ModelDescription> entry) const
{
    entry->info_.infoType = static_cast<WORD>(entry->info_.infoType & ~1u);
    entry->info_.papers = ListInUse(entry->info_);
    slot.current = entry.get();
    slot.built.push_back(std::move(entry));
    return slot.current;
}

std::unique_ptr<ModelDescription> ModelTable::Parse(std::u16string_view model, const Sources& files,
                                                    const std::array<WORD, 4>& stamps)
{
    auto entry = std::make_unique<ModelDescription>();
    entry->table_ = this;
    entry->paperTable_ = paperTable_;
    entry->stamps_ = stamps;
    PrinterInfo& info = entry->info_;

    constexpr const char16_t* kInfo = u"PRINTERINFO";
    info.infoType = static_cast<WORD>(files.Int(kInfo, u"InfoType", 0));
    info.modelName = std::u16string(model.substr(0, kNameChars));
    info.capabilities = tables::kDefaultCapabilities;
    const auto apply = [&info](DWORD bit, std::optional<bool> yes) {
        if (yes)
            info.capabilities = *yes ? info.capabilities | bit : info.capabilities & ~bit;
    };
    for (const capability::Named& key : capability::kKeys)
        apply(key.bit, grammar::YesNo(files.String(kInfo, key.key, u"")));
    {
        const ResourceLibrary strings = LoadResourceLibrary(files_, model, ResourceKind::Strings);
        apply(capability::PaperListAsRead, grammar::YesNo(LoadResourceText(strings.Get(), tables::kStringPaperListAsRead)));
    }
    info.logoBitmapId = static_cast<WORD>(files.Int(kInfo, u"iLogoBmpID", 1));
    info.papers = ReadList(files.String(kInfo, u"PaperSize", tables::kDefaultPaperList), files.Int(kInfo, u"PaperOrder", 1));
    info.papersInch =
        ReadList(files.String(kInfo, u"PaperSize_inch", tables::kDefaultPaperList), files.Int(kInfo, u"PaperOrder_inch", 0));
    info.papersMm =
        ReadList(files.String(kInfo, u"PaperSize_mm", tables::kDefaultPaperList), files.Int(kInfo, u"PaperOrder_mm", 0));
    info.sources = ReadList(files.String(kInfo, u"Source", tables::kDefaultSourceList), files.Int(kInfo, u"SourceOrder", 0));
    info.paperTypes =
        ReadList(files.String(kInfo, u"PaperType", tables::kDefaultPaperTypeList), files.Int(kInfo, u"PaperTypeOrder", 0));
    info.mediaTypes =
        ReadList(files.String(kInfo, u"MediaType", tables::kDefaultMediaTypeList), files.Int(kInfo, u"MediatypeOrder", 0));
    info.defaultMemory = grammar::UnsignedField(grammar::Fields(files.String(kInfo, u"dwDefAvlMemory", tables::kDefaultMemory))[0]);
    info.pagesPerMinute = static_cast<WORD>(files.Int(kInfo, u"wPPM", 18));
    info.modelId = static_cast<WORD>(files.Int(kInfo, u"wModelID", 32));
    info.finisher = grammar::FinisherMask(files.String(kInfo, u"wFinisherType", tables::kDefaultFinisher));
    const std::vector<std::int32_t> rows = grammar::SignedList(files.String(kInfo, u"QualityType", tables::kDefaultQualityRows), 4);
    for (std::size_t i = 0; i < rows.size(); ++i)
        info.qualityRows[i] = static_cast<SHORT>(rows[i]);
    const std::vector<std::int32_t> timeOuts = grammar::SignedList(files.String(kInfo, u"TimeOut", tables::kDefaultTimeOuts), 4);
    for (std::size_t i = 0; i < timeOuts.size(); ++i)
        info.timeOuts[i] = static_cast<WORD>(timeOuts[i]);
    info.papers = ListInUse(info);

    if (!defaultFileSettings_)
        defaultFileSettings_ = std::make_unique<DefaultSettings>();
    ReadDefaultSettings(*defaultFileSettings_, *entry, model.substr(0, kModelNameChars), files.defaultFile, nullptr, false);
    ReadDefaultSettings(entry->defaults_, *entry, model.substr(0, kModelNameChars), files.customFile, defaultFileSettings_.get(),
                        true);

    for (unsigned n = 1; n <= kMaxSubstitutions; ++n) {
        const std::u16string value = ReadValue(files.defaultFile, u"SUBSTTABLE", Decimal(n).c_str());
        if (value.empty())
            break;
        const std::vector<std::u16string_view> fields = grammar::Fields(value);
        FontSubstitution row;
        row.font = grammar::QuotedField(fields[0]).substr(0, kNameChars);
        row.substitute = fields.size() > 1 ? grammar::QuotedField(fields[1]).substr(0, kNameChars) : std::u16string();
        row.value = fields.size() > 2 ? static_cast<SHORT>(grammar::SignedField(fields[2])) : SHORT{0};
        entry->substitutions_.push_back(std::move(row));
    }

    constexpr const char16_t* kSizes = u"USERFREESIZE";
    constexpr char16_t kPortrait[] = u" 2159,  2970,  2550,  3507,    900, 1480,  1062,  1748";
    constexpr char16_t kLandscape[] = u" 2970,  2159,  3507,  2550,   1480,  900,  1748,  1062";
    entry->dpiChange_ = {ReadLimits(files.String(kSizes, u"UDDPIChange_Portrait", kPortrait)),
                         ReadLimits(files.String(kSizes, u"UDDPIChange_Landscape", kLandscape))};
    entry->freeSize_ = {ReadLimits(files.String(kSizes, u"UDFreeSize_Portrait", kPortrait)),
                        ReadLimits(files.String(kSizes, u"UDFreeSize_Landscape", kLandscape))};
    entry->finisherSize_ = {
        ReadLimits(files.String(kSizes, u"UDFinisherSize_Portrait", u" 2970, 12000,  3508, 14173,  1000,  1480,  1181,  1748")),
        ReadLimits(files.String(kSizes, u"UDFinisherSize_Landscape", u"12000,  2970, 14173,  3508,  1480,  1000,  1748,  1181"))};

    const std::size_t papers = paperTable_ ? paperTable_->rows.size() : 0;
    for (std::size_t n = 1; n <= papers; ++n) {
        const std::u16string key = Decimal(static_cast<unsigned>(n));
        entry->paperSources_[n - 1] = grammar::OptionMask(files.String(u"PaperSourceType", key.c_str(), tables::kDefaultOptionString));
        entry->paperFlags_[n - 1] = static_cast<WORD>(files.Int(u"PaperTypeFlags", key.c_str(), 0));
    }
    for (std::size_t n = 1; n <= tables::kMedia.size(); ++n) {
        const std::u16string key = Decimal(static_cast<unsigned>(n));
        const tables::Media& media = tables::kMedia[n - 1];
        entry->media_.push_back({media.id, 0, grammar::OptionMask(files.String(u"AllMediatype", key.c_str(), tables::kDefaultOptionString)),
                                 media.nameId});
    }
    return entry;
}

bool ModelTable::Load(std::u16string_view model, WORD* stampBlock, bool force)
{
    const std::lock_guard guard(lock_);
    Slot* slot = SlotFor(model, true);
    const ModelDescription* entry = slot->current;
    if (entry && !SameModel(entry->defaults_.modelName, model))
        force = true;

    const std::u16string section(model);
    Sources files{files_.DataFilePath(section, u"DefaultFile", true), files_.DataFilePath(section, u"CustomFile", true)};
    const std::array<WORD, 4> stamps{ReadStamp(files_.DataFilePath(u"Common", u"InitDataFile2", true)),
                                     ReadStamp(files_.DataFilePath(u"Common", u"InitDataFile3", true)),
                                     ReadStamp(files.defaultFile), ReadStamp(files.customFile)};

    EnsurePaperTable(stamps, force);
    // Rebuilt when any stamp moved: the per-paper tables follow the paper
    // file's rows too. A forced load always reads the files.
    if (!entry || entry->stamps_ != stamps || force) {
        const std::u16string cachePath = CachePath(files_.DataFilePath(section, u"DefaultFile", false));
        std::unique_ptr<ModelDescription> fresh;
        if (!cachePath.empty() && !force)
            if (auto bytes = ModelCache::Read(cachePath, ModelCache::ModelSize())) {
                auto cached = std::make_unique<ModelDescription>();
                // Models that share a DefaultFile share its cache: it must be this model's.
                if (ModelCache::ModelFrom(*bytes, *cached) && cached->stamps_ == stamps &&
                    SameModel(cached->defaults_.modelName, model)) {
                    cached->table_ = this;
                    cached->paperTable_ = paperTable_;
                    fresh = std::move(cached);
                }
            }
        if (!fresh) {
            fresh = Parse(model, files, stamps);
            if (!cachePath.empty())
                ModelCache::Write(cachePath, ModelCache::ModelBytes(*fresh));
        }
        Publish(*slot, std::move(fresh));
    }

    if (!stampBlock)
        return false;
    const bool changed = !std::equal(stamps.begin(), stamps.end(), stampBlock);
    std::copy(stamps.begin(), stamps.end(), stampBlock);
    stampBlock[4] = stampBlock[5] = 0;
    return changed;
}

ModelDescription* ModelTable::Find(std::u16string_view model)
{
    const std::lock_guard guard(lock_);
    Slot* slot = SlotFor(model, false);
    ModelDescription* entry = slot ? slot->current : nullptr;
    if (!entry)
        return nullptr;
    // The entry others may be reading stays as it is; a changed country gets
    // a new one with its list.
    if (!(ListInUse(entry->info_) == entry->info_.papers))
        entry = Publish(*slot, std::make_unique<ModelDescription>(*entry));
    return entry;
}

void ModelTable::LoadLocalisedNames(HMODULE strings)
{
    std::map<WORD, std::u16string> names;
    const auto take = [&](WORD id, std::size_t chars) {
        if (std::u16string text = LoadResourceText(strings, id, chars); !text.empty())
            names[id] = std::move(text);
    };
    for (const tables::PaperNames& paper : tables::kPaperNames)
        take(paper.shortNameId, kNameChars);
    for (const tables::Source& source : tables::kSources)
        take(source.nameId, kShortNameChars);
    for (std::size_t i = 0; i < tables::kPaperTypeCount; ++i)
        take(static_cast<WORD>(tables::kFirstPaperTypeNameId + i), kShortNameChars);
    std::u16string unit = LoadResourceText(strings, tables::kStringMillimetres, kUnitChars);

    const std::lock_guard guard(namesLock_);
    names_ = std::move(names);
    millimetres_ = unit.empty() ? u"mm" : std::move(unit);
}

std::u16string ModelTable::LocalisedName(WORD id, std::u16string_view fallback) const
{
    const std::lock_guard guard(namesLock_);
    const auto it = names_.find(id);
    return it == names_.end() ? std::u16string(fallback) : it->second;
}

std::u16string ModelTable::MillimetreUnit() const
{
    const std::lock_guard guard(namesLock_);
    return millimetres_;
}
