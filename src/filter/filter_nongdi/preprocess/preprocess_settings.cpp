#include "filter/filter_nongdi/preprocess/preprocess_settings.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <cstring>
#include <string>

#include "filter/framework/cxd_exception.h"
#include "filter/framework/print_ticket_query.h"
#include "platform/winspool.h"

namespace {

struct MediaSize {
    const char16_t* name;
    std::uint32_t code;
};

// In this order: the index of a row is its position.
constexpr MediaSize kMediaSizes[] = {
    {u"ISOA3", 8}, {u"ISOA4", 9}, {u"ISOA5", 11}, {u"ISOA6", 70}, {u"JISB4", 12}, {u"JISB5", 13}, {u"JISB6", 88},
    {u"NorthAmericaLetter", 1}, {u"NorthAmericaLegal", 5}, {u"Legal135", 268}, {u"OtherMetricFolio", 14},
    {u"NorthAmericaExecutive", 7}, {u"NorthAmericaTabloid", 3}, {u"TabloidExtra", 269}, {u"NorthAmericaTabloidExtra", 269},
    {u"A3Nobi", 266}, {u"A3Wide", 267}, {u"JapanHagakiPostcard", 43}, {u"JapanDoubleHagakiPostcard", 69},
    {u"JapanChou3Envelope", 73}, {u"JapanChou4Envelope", 74}, {u"JapanYou4Envelope", 91}, {u"JapanKaku2Envelope", 71},
    {u"JapanKaku3Envelope", 72}, {u"JapanYou0Envelope", 259}, {u"JapanA4Envelope", 271}, {u"ISODLEnvelope", 27},
    {u"ISOC4Envelope", 30}, {u"ISOC5Envelope", 28}, {u"ISOC6Envelope", 31}, {u"NorthAmericaNumber9Envelope", 19},
    {u"NorthAmericaNumber10Envelope", 20}, {u"NorthAmericaMonarchEnvelope", 37}, {u"NorthAmericaStatement", 6},
    {u"IndexCard", 270}, {u"UserForm3x5inch", 275}, {u"UserForm4x6inch", 276}, {u"UserForm5x7inch", 277},
    {u"PRC16K184x260", 278}, {u"PRC16K195x270", 279}, {u"PRC16K197x273", 280}, {u"PRC8K260x368", 281},
    {u"PRC8K270x390", 282}, {u"PRC8K273x394", 283}, {u"JapanChou40Envelope", 284}, {u"UserFormB6Half", 285},
    {u"A4Wide", 286}, {u"UserForm4RenHagaki", 287}, {u"UserFormJapanYouNaga3Envelope", 289},
    {u"UserFormJapanKaku6Envelope", 290}, {u"JapanKaku8Envelope", 274}, {u"UserForm13x18inch", 291}, {u"B6Half", 292},
    {u"NorthAmerica4x6", 293}, {u"NorthAmerica5x7", 294},
};
static_assert(std::size(kMediaSizes) == 55);
constexpr std::size_t kUnknownMedia = 55;

struct Coded {
    const char16_t* name;
    std::uint16_t code;
};

constexpr Coded kInputBins[] = {
    {u"AutoSelect", 7}, {u"Manual", 4}, {u"MultiPurposeTray", 4}, {u"FrontTray", 257}, {u"MultiPurposeFeeder", 258},
    {u"Cassette", 1}, {u"Tray2", 259}, {u"Tray3", 260}, {u"Tray4", 261}, {u"Tray5", 262},
};

constexpr Coded kMediaTypes[] = {
    {u"None", 0}, {u"PlainTissue", 1}, {u"PlainMediumTissue", 2}, {u"PlainMedium", 3}, {u"PlainMediumHeavy", 4},
    {u"PlainHeavy", 5}, {u"PlainUltraHeavy", 7}, {u"LabelMedium", 9}, {u"LabelHeavy", 10}, {u"Transparency", 6},
    {u"PlainUltraHeavy2", 12}, {u"PlainUltraHeavy3", 13}, {u"PlainUltraHeavy4", 27}, {u"PhotographicGlossy", 11},
    {u"PhotographicGlossyMedium", 24}, {u"PhotographicGlossyUltraHeavy", 25}, {u"PhotographicGlossyHeavy", 26},
    {u"PhotographicGlossyEnhanced", 33}, {u"UserDefined1", 19}, {u"UserDefined2", 20}, {u"UserDefined3", 21},
    {u"UserDefined4", 22}, {u"UserDefined5", 23}, {u"UserDefined6", 28}, {u"UserDefined7", 29}, {u"UserDefined8", 30},
    {u"UserDefined9", 31}, {u"UserDefined10", 32}, {u"UserDefined11", 34}, {u"UserDefined12", 35}, {u"UserDefined13", 36},
    {u"UserDefined14", 37}, {u"UserDefined15", 38}, {u"UserDefined16", 39}, {u"UserDefined17", 40}, {u"UserDefined18", 41},
    {u"UserDefined19", 42}, {u"UserDefined20", 43}, {u"PlainUltraTissue", 44}, {u"PlainUltraHeavy5", 45}, {u"Plain", 46},
    {u"Letterhead", 47}, {u"Label", 48}, {u"Bond", 49}, {u"Recycled", 50}, {u"CardStock", 51}, {u"Rough", 52},
    {u"Postcard", 53}, {u"EnvelopePlain", 54}, {u"EnvelopePlain", 55}, {u"EnvelopePlain", 56}, {u"EnvelopePlain", 57},
};
static_assert(std::size(kMediaTypes) == 52);

template <std::size_t N>
std::uint16_t Lookup(const Coded (&table)[N], std::u16string_view option, std::uint16_t preset)
{
    for (const Coded& row : table)
        if (option == row.name)
            return row.code;  // the first of equal names
    return preset;
}

// The index of option among names (the position), or fallback.
std::int32_t IndexOf(std::u16string_view option, std::initializer_list<const char16_t*> names, std::int32_t fallback)
{
    std::int32_t i = 0;
    for (const char16_t* name : names) {
        if (option == name)
            return i;
        ++i;
    }
    return fallback;
}

constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

HRESULT Answer(HRESULT hr) { return hr == kNotFound ? S_OK : hr; }

// The queries the settings make, with the names as they read: Key() for the
// ticket's keywords prefix, Own() for the driver's private one.
class Reader {
public:
    explicit Reader(IXMLDOMDocument2* ticket) : query_(ticket) {}

    std::u16string Key(const char16_t* name) const { return query_.KeywordsPrefix() + name; }
    std::u16string Own(const char16_t* name) const { return query_.PrivatePrefix() + name; }

    HRESULT Option(const std::u16string& feature, std::u16string* option)
    {
        BSTR text = nullptr;
        const HRESULT hr = query_.GetOptionName(feature, &text);
        *option = Take(text);
        return hr;
    }
    HRESULT SubOption(const std::u16string& feature, const std::u16string& sub, std::u16string* option)
    {
        BSTR text = nullptr;
        const HRESULT hr = query_.GetSubFeatureOptionName(feature, sub, &text);
        *option = Take(text);
        return hr;
    }
    HRESULT Int(const std::u16string& feature, const std::u16string& property, std::int32_t* value)
    {
        LONG v = 0;
        const HRESULT hr = query_.GetScoredPropertyInt(feature, property, &v);
        if (SUCCEEDED(hr))
            *value = v;
        return hr;
    }
    HRESULT Text(const std::u16string& feature, const std::u16string& property, std::u16string* text)
    {
        BSTR out = nullptr;
        const HRESULT hr = query_.GetScoredPropertyText(feature, property, &out);
        *text = Take(out);
        return hr;
    }
    HRESULT SubInt(const std::u16string& feature, const std::u16string& sub, const std::u16string& property, std::int32_t* value)
    {
        LONG v = 0;
        const HRESULT hr = query_.GetSubFeatureScoredPropertyInt(feature, sub, property, &v);
        if (SUCCEEDED(hr))
            *value = v;
        return hr;
    }
    HRESULT SubText(const std::u16string& feature, const std::u16string& sub, const std::u16string& property, std::u16string* text)
    {
        BSTR out = nullptr;
        const HRESULT hr = query_.GetSubFeatureScoredPropertyText(feature, sub, property, &out);
        *text = Take(out);
        return hr;
    }
    HRESULT Parameter(const std::u16string& parameter, std::u16string* text)
    {
        BSTR out = nullptr;
        const HRESULT hr = query_.GetParameterText(parameter, &out);
        *text = Take(out);
        return hr;
    }

    // The layout option: 2 poster, 1 booklet, 0 anything else.
    HRESULT Layout(std::int32_t* layout)
    {
        std::u16string option;
        const HRESULT hr = Option(Own(u"JobLayoutType"), &option);
        if (SUCCEEDED(hr))
            *layout = option == u"PosterPrint" ? 2 : option == u"Booklet" ? 1 : 0;
        return hr;
    }

    HRESULT PagesPerSheet(std::int32_t* pages)
    {
        return Int(Key(u"JobNUpAllDocumentsContiguously"), Key(u"PagesPerSheet"), pages);
    }

    // The binding option index (None 0 ... Booklet 5) and, unless it is 0, the gutter in micrometres.
    HRESULT Binding(std::int32_t* index, std::int32_t* gutter)
    {
        std::u16string option;
        HRESULT hr = Option(Key(u"JobBindAllDocuments"), &option);
        if (FAILED(hr))
            return hr;
        *index = IndexOf(option, {u"None", u"BindLeft", u"BindTop", u"BindRight", u"BindBottom", u"Booklet"}, 0);
        if (*index != 0)
            hr = Int(Key(u"JobBindAllDocuments"), Key(u"BindingGutter"), gutter);
        return hr;
    }

private:
    static std::u16string Take(BSTR b)
    {
        std::u16string out = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
        SysFreeString(b);
        return out;
    }

    PrintTicketQuery query_;
};

// Reads a printer data value of whole records; none when it is absent or unreadable.
std::vector<FeedRotationRecord> ReadRecords(HANDLE printer, const char16_t* name)
{
    if (!printer)
        return {};
    std::u16string value = name;
    DWORD type = 0;
    DWORD size = 0;
    GetPrinterDataW(printer, value.data(), &type, nullptr, 0, &size);  // the size
    if (size == 0)
        return {};
    std::vector<BYTE> buffer(size, 0);
    DWORD read = 0;
    if (GetPrinterDataW(printer, value.data(), &type, buffer.data(), size, &read) != ERROR_SUCCESS)
        return {};
    return ParseFeedRotationRecords(buffer.data(), buffer.size());
}

std::uint32_t LittleEndian32(const BYTE* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

int HexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return 0;  // not a hexadecimal digit: counts as 0
}

// The RRGGBB of "#AARRGGBB": positions 3 to 8.
std::int32_t RgbOfColor(const std::u16string& color)
{
    std::int32_t rgb = 0;
    for (std::size_t i = 3; i <= 8 && i < color.size(); ++i)
        rgb = rgb * 16 + HexDigit(color[i]);
    return rgb;
}

template <std::size_t N>
void CopyCut(const std::u16string& text, char16_t (&out)[N])
{
    const std::size_t n = std::min(text.size(), N - 1);
    std::copy_n(text.begin(), n, out);
    std::fill(out + n, out + N, u'\0');
}

// The text watermark of the page. An absent feature, another option than
// Text or no text turn it off and succeed; a failing read leaves the rest
// unread and turns it off, and is answered.
HRESULT ReadWatermarkSettings(Reader& read, WatermarkSettings& w)
{
    w.enabled = 0;
    const std::u16string feature = read.Own(u"PageWatermark");
    std::u16string option;
    HRESULT hr = read.Option(feature, &option);
    if (FAILED(hr))
        return Answer(hr);
    if (option != u"Text")
        return S_OK;
    std::u16string text;
    hr = read.Text(feature, read.Own(u"Text"), &text);
    if (FAILED(hr) || text.empty())
        return Answer(hr);
    CopyCut(text, w.text);

    std::int32_t value = 0;
    if (SUCCEEDED(hr = read.Int(feature, read.Own(u"FontSize"), &value)))
        w.fontSize = static_cast<std::int16_t>(value);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.Int(feature, read.Own(u"Angle"), &value)))
        w.angle = static_cast<std::int16_t>(value);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.Text(feature, read.Own(u"FontColor"), &text)))
        w.colour = RgbOfColor(text);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.Text(feature, read.Own(u"FontName"), &text)) && !text.empty())
        CopyCut(text, w.fontName);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.Int(feature, read.Own(u"FontWeight"), &value)))
        w.weight = value;
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.Int(feature, read.Own(u"FontItalic"), &value)))
        w.italic = static_cast<std::uint8_t>(value);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.Int(feature, read.Own(u"FontCharSet"), &value)))
        w.charSet = static_cast<std::uint8_t>(value);

    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(feature, read.Own(u"PageWatermarkTrim"), &option)) &&
        !option.empty())
        w.trim = IndexOf(option, {u"None", u"Circle", u"SingleFrame", u"DoubleFrame"}, 0);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(feature, read.Own(u"PageWatermarkPosition"), &option)) &&
        !option.empty())
        w.position = IndexOf(option,
                             {u"UpperLeft", u"UpperCenter", u"UpperRight", u"Center", u"LowerLeft", u"LowerCenter",
                              u"LowerRight"},
                             3);
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(feature, read.Own(u"PageWatermarkFirstPageOnly"), &option)))
        w.firstPageOnly = option == u"On";
    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(feature, read.Own(u"PageWatermarkAdjustment"), &option))) {
        std::int32_t x = 0;
        std::int32_t y = 0;
        if (option == u"On") {
            const std::u16string sub = read.Own(u"PageWatermarkAdjustment");
            hr = read.SubInt(feature, sub, read.Own(u"AdjustmentX"), &x);
            if (SUCCEEDED(hr))
                hr = read.SubInt(feature, sub, read.Own(u"AdjustmentY"), &y);
            if (FAILED(hr))
                x = y = 0;
        }
        w.adjustmentX = static_cast<std::int16_t>(x);
        w.adjustmentY = static_cast<std::int16_t>(y);
    }

    // A size that draws nothing would fail every page's outlines: no watermark.
    if (SUCCEEDED(hr) && w.fontSize > 0) {
        w.enabled = 1;
        w.opacity = 0.5;
        w.marginX = w.marginY = 236;
    }
    return hr;
}

} // namespace

std::vector<FeedRotationRecord> ParseFeedRotationRecords(const BYTE* data, std::size_t size)
{
    std::vector<FeedRotationRecord> records;
    for (std::size_t at = 0; at + FeedRotationRecord::kSize <= size; at += FeedRotationRecord::kSize)
        records.push_back(FeedRotationRecord{LittleEndian32(data + at + 64), LittleEndian32(data + at + 68)});
    return records;
}

std::int32_t MicrometresToDots(std::int32_t micrometres)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(micrometres) * 3u / 254u * 2u);
}

std::size_t MediaSizeIndex(std::u16string_view option)
{
    for (std::size_t i = 0; i < std::size(kMediaSizes); ++i)
        if (option == kMediaSizes[i].name)
            return i;
    return kUnknownMedia;
}

std::uint32_t MediaPaperCode(std::size_t index) { return index < std::size(kMediaSizes) ? kMediaSizes[index].code : 256; }

std::uint16_t InputBinCode(std::u16string_view option, std::uint16_t preset) { return Lookup(kInputBins, option, preset); }

std::uint16_t MediaTypeCode(std::u16string_view option, std::uint16_t preset) { return Lookup(kMediaTypes, option, preset); }

std::int32_t FeedRotationClass(const std::vector<FeedRotationRecord>& rotation,
                               const std::vector<FeedRotationRecord>& selectable, std::uint32_t paperCode,
                               std::uint16_t binCode, bool longEdge)
{
    auto direction = [paperCode](const std::vector<FeedRotationRecord>& records) -> std::uint32_t {
        for (const FeedRotationRecord& r : records)
            if (r.paperCode == paperCode)
                return r.directionCode;
        return 0;
    };
    auto cls = static_cast<std::int32_t>(direction(rotation));
    const std::uint32_t d = direction(selectable);
    const bool manualOrFront = binCode == 4 || binCode == 257;
    const bool selectableFeed = manualOrFront ? (d == 1 || d == 3) : (d == 2 || d == 3);
    if (selectableFeed) {
        if (longEdge)
            cls = cls == 0 ? 3 : cls == 2 ? 1 : cls;
        else
            cls = cls == 1 ? 2 : cls == 3 ? 0 : cls;
    }
    return cls;
}

void PreprocessSettings::ReadFeedRecords(HANDLE printer)
{
    rotation_ = ReadRecords(printer, u"RotationInfo");
    selectable_ = ReadRecords(printer, u"SelectableFeedDirectInfo");
}

void PreprocessSettings::ReleaseBuffers() noexcept
{
    rotation_.clear();
    rotation_.shrink_to_fit();
    selectable_.clear();
    selectable_.shrink_to_fit();
}

HRESULT PreprocessSettings::ReadJobSettings(IXMLDOMDocument2* ticket, HANDLE printer, JobRecord& job)
{
    return CallGuarded([&]() -> HRESULT {
        // 1. The printer's feed data.
        ReadFeedRecords(printer);
        Reader read(ticket);

        // 2. Layout.
        std::int32_t layout = 0;
        if (SUCCEEDED(read.Layout(&layout))) {
            if (layout == 0) {
                std::int32_t pages = 1;
                if (SUCCEEDED(read.PagesPerSheet(&pages)) && pages > 1) {
                    job.layoutMode = 2;
                    // N-up details, each read only if the one before succeeded.
                    job.layoutDetail[0] = 1;
                    std::int32_t again = 0;
                    HRESULT hr = read.Layout(&again);
                    if (SUCCEEDED(hr) && again == 0 && SUCCEEDED(hr = read.PagesPerSheet(&pages)))
                        job.layoutDetail[0] = pages;
                    const std::u16string nup = read.Key(u"JobNUpAllDocumentsContiguously");
                    const std::initializer_list<const char16_t*> directions = {u"RightBottom", u"BottomRight", u"LeftBottom",
                                                                                u"BottomLeft"};
                    std::u16string option;
                    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(nup, read.Own(u"BorderLine"), &option)) && !option.empty())
                        job.layoutDetail[3] =
                            IndexOf(option, {u"None", u"Solid", u"Dashed", u"Dotted", u"DotDashed", u"DashDotDot"}, 1);
                    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(nup, read.Own(u"PresentationDirectionForPortrait"), &option)) &&
                        !option.empty())
                        job.layoutDetail[2] = IndexOf(option, directions, 0);
                    if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(nup, read.Own(u"PresentationDirectionForLandscape"), &option)) &&
                        !option.empty())
                        job.layoutDetail[1] = IndexOf(option, directions, 1);
                }
            } else if (layout == 1) {
                job.layoutMode = 1;
                // Booklet details.
                std::fill(std::begin(job.layoutDetail), std::end(job.layoutDetail), 0);
                const std::u16string booklet = read.Own(u"JobBookletAllDocumentsContiguously");
                std::u16string option;
                HRESULT hr = read.SubOption(booklet, read.Own(u"Signature"), &option);
                if (SUCCEEDED(hr))
                    job.layoutDetail[0] = IndexOf(option, {u"NoLimit", u"_4Pages", u"_8Pages", u"_12Pages", u"_16Pages"}, 0) * 4;
                if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(booklet, read.Own(u"TwoPagesBooklet"), &option)) && option == u"On")
                    job.layoutDetail[1] = 1;
                if (SUCCEEDED(hr) && SUCCEEDED(hr = read.SubOption(booklet, read.Own(u"RightToLeft"), &option)) && option == u"On")
                    job.layoutDetail[2] = 1;
                std::int32_t index = 0;
                std::int32_t gutter = 0;
                if (SUCCEEDED(hr) && SUCCEEDED(read.Binding(&index, &gutter)) && index == 5)
                    job.layoutDetail[3] = gutter / 100;
            } else {
                job.layoutMode = 3;
            }
        }

        // 3. Fit to page (its result R gates duplex and binding).
        std::u16string fitOption;
        std::u16string fitSize;
        std::int32_t fitWidth = 0;
        std::int32_t fitHeight = 0;
        const std::u16string fit = read.Own(u"JobFitToPage");
        const std::u16string size = read.Own(u"FitToSize");
        HRESULT r = read.Option(fit, &fitOption);
        if (SUCCEEDED(r))
            r = read.SubOption(fit, size, &fitSize);
        if (SUCCEEDED(r))
            r = read.SubInt(fit, size, read.Own(u"MediaSizeWidth"), &fitWidth);
        if (SUCCEEDED(r))
            r = read.SubInt(fit, size, read.Own(u"MediaSizeHeight"), &fitHeight);
        if (SUCCEEDED(r)) {
            fitOn_ = fitOption == u"On";
            fitWidth_ = MicrometresToDots(fitWidth);
            fitHeight_ = MicrometresToDots(fitHeight);
            fitIndex_ = MediaSizeIndex(fitSize);
        }

        // 4. Duplex.
        if (SUCCEEDED(r)) {
            std::u16string option;
            r = read.Option(read.Key(u"JobDuplexAllDocumentsContiguously"), &option);
            std::int32_t value = IndexOf(option, {u"OneSided", u"TwoSidedLongEdge", u"TwoSidedShortEdge"}, 0);
            std::int32_t again = 0;
            if (SUCCEEDED(r))
                r = read.Layout(&again);
            if (SUCCEEDED(r)) {
                value = again == 2 ? 0 : again == 1 ? 2 : value;  // poster prints one side, a booklet both
                job.duplex = value != 0;
                if (value != 0)
                    job.duplexLongEdge = value == 1;
            }
        }

        // 5. Binding.
        if (SUCCEEDED(r)) {
            std::int32_t index = 0;
            std::int32_t gutter = 0;
            if (SUCCEEDED(read.Binding(&index, &gutter))) {
                job.bindingEdge = index == 5 ? 0 : index;
                if (job.bindingEdge != 0)
                    job.gutterMillimetres = static_cast<double>(gutter / 1000);
            }
        }

        // 6. Cover page.
        const std::u16string cover = read.Own(u"JobPrint1stPageAsCoverPage");
        std::u16string coverOption;
        std::u16string source;
        std::u16string ignored;
        HRESULT hr = read.Option(cover, &coverOption);
        if (SUCCEEDED(hr))
            hr = read.SubOption(cover, read.Own(u"CoverPageSource"), &source);
        if (SUCCEEDED(hr))
            hr = read.SubOption(cover, read.Own(u"CoverPageMediaWeight"), &ignored);
        if (SUCCEEDED(hr))
            hr = read.SubOption(cover, read.Own(u"CoverPageMediaType"), &ignored);
        if (SUCCEEDED(hr)) {
            coverOn_ = coverOption == u"On";
            if (coverOn_)
                coverBin_ = InputBinCode(source, 0);
        }

        // 7. Offsets, in micrometres to 0.1 mm.
        std::u16string left;
        std::u16string top;
        hr = read.Parameter(read.Own(u"JobPageLeftOffset"), &left);
        if (SUCCEEDED(hr))
            hr = read.Parameter(read.Own(u"JobPageTopOffset"), &top);
        job.leftOffset = SUCCEEDED(hr) ? DecimalValue(left) / 100 : 0;
        job.topOffset = SUCCEEDED(hr) ? DecimalValue(top) / 100 : 0;
        return Answer(hr);
    });
}

HRESULT PreprocessSettings::ReadPageSettings(IXMLDOMDocument2* ticket, HANDLE printer, JobRecord& job, PageRecord& page)
{
    const HRESULT hr = CallGuarded([&]() -> HRESULT {
        Reader read(ticket);
        const bool first = pageCount_ == 0;

        // 1. Watermark settings; the page goes on whatever they give.
        ReadWatermarkSettings(read, watermark_);
        geometryChanged_ = false;

        // 2. Scaling.
        std::u16string scaling;
        page.scalingPercent = SUCCEEDED(read.Parameter(read.Own(u"PageScaling"), &scaling)) ? DecimalValue(scaling) : 100;

        // 3. Orientation.
        std::u16string orientation;
        read.Option(read.Key(u"PageOrientation"), &orientation);
        page.pagePortrait = orientation == u"Landscape" ? 0 : 1;
        if (first) {
            job.firstPagePortrait = page.pagePortrait;
            orientation_ = page.pagePortrait;
            geometryChanged_ = true;
        } else if (page.pagePortrait != orientation_) {
            orientation_ = page.pagePortrait;
            geometryChanged_ = true;
        }

        // 5. Media size; A4 when it cannot be read.
        std::u16string media;
        std::int32_t width = 0;
        std::int32_t height = 0;
        HRESULT step = read.Option(read.Key(u"PageMediaSize"), &media);
        if (SUCCEEDED(step))
            step = read.Int(read.Key(u"PageMediaSize"), read.Key(u"MediaSizeWidth"), &width);
        if (SUCCEEDED(step))
            step = read.Int(read.Key(u"PageMediaSize"), read.Key(u"MediaSizeHeight"), &height);
        std::size_t index = SUCCEEDED(step) ? MediaSizeIndex(media) : 1;
        if (FAILED(step)) {
            width = 210000;
            height = 297000;
        }
        if (first || index != mediaIndex_ || width != mediaWidth_ || height != mediaHeight_) {
            mediaIndex_ = index;
            mediaWidth_ = width;
            mediaHeight_ = height;
            page.pageWidth = MicrometresToDots(width);
            page.pageHeight = MicrometresToDots(height);
            geometryChanged_ = true;
        }

        // 6. Capability flags, until they are known.
        if (capabilities_ == 0 && printer) {
            std::u16string name = u"HalvPrinterData";
            DWORD type = 0;
            DWORD flags = 0;
            DWORD read4 = 0;
            if (GetPrinterDataW(printer, name.data(), &type, reinterpret_cast<LPBYTE>(&flags), sizeof flags, &read4) == ERROR_SUCCESS)
                capabilities_ = flags;
        }

        // 7. Output sheet: fitted when asked, or when the printer takes no A3-wide paper.
        std::uint32_t changes = 0;
        std::size_t sheet = index;
        if (fitOn_ || (capabilities_ != 0 && !(capabilities_ & 0x8) && mediaWidth_ > 215900)) {
            page.fitToPage = 1;
            page.sheetWidth = fitWidth_;
            page.sheetHeight = fitHeight_;
            sheet = fitIndex_;
        } else {
            page.fitToPage = 0;
            page.sheetWidth = page.pageWidth;
            page.sheetHeight = page.pageHeight;
            sheet = mediaIndex_;
        }
        if (sheet != sheetIndex_ || page.sheetWidth != sheetWidth_ || page.sheetHeight != sheetHeight_) {
            sheetIndex_ = sheet;
            sheetWidth_ = page.sheetWidth;
            sheetHeight_ = page.sheetHeight;
            changes = 1;
        }

        // 8. Paper code.
        const std::uint32_t paper = MediaPaperCode(sheetIndex_);

        // 9. Input bin.
        std::u16string bin;
        read.Option(read.Key(u"PageInputBin"), &bin);
        const std::uint16_t binCode = InputBinCode(bin, 7);
        if (binCode != inputBin_) {
            inputBin_ = binCode;
            changes += 2;
        }

        // 10. Media type.
        std::u16string type;
        read.Option(read.Key(u"PageMediaType"), &type);
        const std::uint16_t typeCode = MediaTypeCode(type, 0);
        if (typeCode != mediaType_) {
            mediaType_ = typeCode;
            changes += 4;
        }

        // 11. Resolution.
        std::int32_t x = 600;
        std::int32_t y = 600;
        std::int32_t level = 2;
        const std::u16string resolution = read.Own(u"PageResolution");
        read.Int(resolution, read.Own(u"ResolutionX"), &x);
        read.Int(resolution, read.Own(u"ResolutionY"), &y);
        read.Int(resolution, read.Own(u"Level"), &level);
        page.resolution = x;
        if (x != resolutionX_ || y != resolutionY_ || level != resolutionLevel_) {
            resolutionX_ = x;
            resolutionY_ = y;
            resolutionLevel_ = level;
            changes += 8;
        }

        // 12. The cover sheet takes the cover bin: the first page, and on a
        // two-sided job the back of that sheet too.
        const bool coverSheet = coverOn_ && (pageCount_ == 0 || (pageCount_ == 1 && job.duplex));
        const std::uint16_t feedBin = coverSheet ? coverBin_ : binCode;

        // 13. Changed from the previous page.
        page.settingsChanged = changes != 0 && !first;

        // 14. Feed rotation.
        std::u16string longEdge;
        read.Option(read.Own(u"JobLongEdgeFeedFromMPT"), &longEdge);
        page.rotationClass = FeedRotationClass(rotation_, selectable_, paper, feedBin, longEdge == u"On");
        page.rotationClassTwo = page.rotationClass == 2;

        // 15. Reading directions.
        std::u16string direction;
        if (SUCCEEDED(read.Option(read.Own(u"PagePortraitDirection"), &direction)))
            page.portraitReversed = direction == u"Reversed";
        HRESULT result = read.Option(read.Own(u"PageLandscapeDirection"), &direction);
        if (SUCCEEDED(result))
            page.landscapeReversed = direction == u"Reversed";

        // 16. Poster.
        if (job.layoutMode == 3) {
            page.posterSize = 3;
            page.posterSheetOrientation = 0;
            page.posterColumns = 1;
            page.posterRows = 2;
            page.cropMarks = 0;
            page.cropMarkColor = 0xC0C0C0;
            page.overlapMargin = 0;
            const std::u16string poster = read.Own(u"PagePoster");
            std::u16string option;
            result = read.Option(poster, &option);
            if (SUCCEEDED(result))
                page.posterSize = IndexOf(option, {u"_2Pages", u"_4Pages", u"_9Pages", u"Custom"}, 3);
            auto pages = [](const std::u16string& o, std::int32_t current) {
                const std::int32_t i = IndexOf(o, {u"_1", u"_2", u"_3", u"_4"}, -1);
                return i >= 0 ? i + 1 : o.empty() ? current : 1;
            };
            if (SUCCEEDED(result) && SUCCEEDED(result = read.SubOption(poster, read.Own(u"XDirectionPages"), &option)))
                page.posterColumns = pages(option, page.posterColumns);
            if (SUCCEEDED(result) && SUCCEEDED(result = read.SubOption(poster, read.Own(u"YDirectionPages"), &option)))
                page.posterRows = pages(option, page.posterRows);
            if (SUCCEEDED(result) && SUCCEEDED(result = read.SubOption(poster, read.Own(u"SheetOrientation"), &option)) &&
                !option.empty())
                page.posterSheetOrientation = IndexOf(option, {u"Auto", u"Portrait", u"Landscape"}, 0);
            if (SUCCEEDED(result) && SUCCEEDED(result = read.SubOption(poster, read.Own(u"CropMarks"), &option))) {
                page.cropMarks = option == u"On";
                std::u16string color;
                if (page.cropMarks &&
                    SUCCEEDED(result = read.SubText(poster, read.Own(u"CropMarks"), read.Own(u"CropMarksColor"), &color)) &&
                    !color.empty()) {
                    page.cropMarkColor = RgbOfColor(color);
                }
            }
            if (SUCCEEDED(result) && SUCCEEDED(result = read.SubOption(poster, read.Own(u"Overlap"), &option)) && option == u"On") {
                std::int32_t margin = 0;
                if (SUCCEEDED(result = read.SubInt(poster, read.Own(u"Overlap"), read.Own(u"OverlappedMargin"), &margin)))
                    page.overlapMargin = margin / 100;
            }
        }

        // 17. Fixed margins and the page number.
        page.pageMarginX = page.pageMarginY = page.sheetMarginX = page.sheetMarginY = 100;
        ++page.pageNumber;
        return Answer(result);
    });
    ++pageCount_;  // a page that failed counts too
    return hr;
}
