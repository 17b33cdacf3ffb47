// What the preprocess filter makes of a job's tickets and its printer's data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "filter/filter_nongdi/preprocess/preprocess_settings.h"
#include "filter/framework/print_ticket_manager.h"
#include "platform/objbase.h"
#include "platform/winspool.h"
#include "xps_fixture.h"

namespace {

// ---- Small tickets ------------------------------------------------------------------

std::string SP(const std::string& name, const std::string& value, const char* type = "xsd:integer")
{
    return "<psf:ScoredProperty name=\"" + name + "\"><psf:Value xsi:type=\"" + type + "\">" + value +
           "</psf:Value></psf:ScoredProperty>";
}

// A feature with an option; inner goes inside the option, subs after it (sub-features).
std::string F(const std::string& name, const std::string& option, const std::string& inner = "", const std::string& subs = "")
{
    return "<psf:Feature name=\"" + name + "\"><psf:Option name=\"" + option + "\">" + inner + "</psf:Option>" + subs +
           "</psf:Feature>";
}

std::string P(const std::string& name, const std::string& value)
{
    return "<psf:ParameterInit name=\"" + name + "\"><psf:Value xsi:type=\"xsd:integer\">" + value +
           "</psf:Value></psf:ParameterInit>";
}

std::string Media(const std::string& option, int width, int height)
{
    return F("psk:PageMediaSize", option, SP("psk:MediaSizeWidth", std::to_string(width)) + SP("psk:MediaSizeHeight", std::to_string(height)));
}

std::string PrintTicket(const std::string& body)
{
    return "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
           "xmlns:psk=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:ns0000=\"http://example.invalid/print/2008/03/xps\" version=\"1\">" +
           body + "</psf:PrintTicket>";
}

const std::string kNoLayout = F("ns0000:JobLayoutType", "ns0000:None");
const std::string kFitOff = F("ns0000:JobFitToPage", "ns0000:Off", "",
                              F("ns0000:FitToSize", "psk:ISOA4", SP("ns0000:MediaSizeWidth", "210000") + SP("ns0000:MediaSizeHeight", "297000")));

// One job: a printer with data, and the settings read from tickets.
struct Job {
    TempFolder tmp;
    HANDLE printer = nullptr;
    PreprocessSettings settings;
    JobRecord job{};
    PageRecord page{};

    Job()
    {
        setenv("ZNTR_STATE_DIR", tmp.path.c_str(), 1);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        PRINTER_INFO_1W info{0, nullptr, const_cast<LPWSTR>(u"p"), nullptr};
        printer = AddPrinterW(nullptr, 1, reinterpret_cast<LPBYTE>(&info));
    }
    ~Job()
    {
        ClosePrinter(printer);
        CoUninitialize();
    }

    void SetData(const char16_t* name, DWORD type, const std::vector<BYTE>& bytes)
    {
        std::u16string n = name;
        ASSERT_EQ(SetPrinterDataW(printer, n.data(), type, const_cast<LPBYTE>(bytes.data()), static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
    void SetFlags(DWORD flags) { SetData(u"HalvPrinterData", REG_DWORD, {BYTE(flags), BYTE(flags >> 8), BYTE(flags >> 16), BYTE(flags >> 24)}); }

    static ComPtr<IXMLDOMDocument2> Dom(const std::string& xml)
    {
        ComPtr<IStream> stream;
        CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf());
        stream->Write(xml.data(), static_cast<ULONG>(xml.size()), nullptr);
        ComPtr<IXMLDOMDocument2> dom;
        EXPECT_EQ(LoadTicketDom(stream.Get(), true, &dom), S_OK);
        return dom;
    }
    HRESULT ReadJob(const std::string& body) { return settings.ReadJobSettings(Dom(PrintTicket(body)).Get(), printer, job); }
    const PageRecord& ReadPage(const std::string& body)
    {
        EXPECT_EQ(settings.ReadPageSettings(Dom(PrintTicket(body)).Get(), printer, job, page), S_OK);
        return page;
    }
};

// A FeedRotationRecord: 64 bytes of name, then direction and paper codes.
std::vector<BYTE> Records(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> rows, std::size_t extra = 0)
{
    std::vector<BYTE> out;
    for (auto [direction, paper] : rows) {
        std::vector<BYTE> r(72, 0);
        std::memcpy(r.data() + 64, &direction, 4);
        std::memcpy(r.data() + 68, &paper, 4);
        out.insert(out.end(), r.begin(), r.end());
    }
    out.resize(out.size() + extra, 0xEE);
    return out;
}

// ---- Tables and formulas ------------------------------------------------------------

TEST(PreprocessTables, ConvertAndLookUp)
{
    EXPECT_EQ(MicrometresToDots(210000), 4960);
    EXPECT_EQ(MicrometresToDots(297000), 7014);
    EXPECT_EQ(MicrometresToDots(1), 0);
    EXPECT_EQ(MicrometresToDots(85), 2);  // always even
    EXPECT_EQ(MediaSizeIndex(u"ISOA3"), 0u);
    EXPECT_EQ(MediaSizeIndex(u"NorthAmerica5x7"), 54u);
    EXPECT_EQ(MediaSizeIndex(u"NoSuchPaper"), 55u);
    EXPECT_EQ(MediaPaperCode(1), 9u);
    EXPECT_EQ(MediaPaperCode(13), 269u);
    EXPECT_EQ(MediaPaperCode(55), 256u);
    EXPECT_EQ(InputBinCode(u"Tray2", 7), 259);
    EXPECT_EQ(InputBinCode(u"Elsewhere", 7), 7);
    EXPECT_EQ(MediaTypeCode(u"EnvelopePlain", 0), 54);  // the first of equal names
    EXPECT_EQ(MediaTypeCode(u"Transparency", 0), 6);
    EXPECT_EQ(MediaTypeCode(u"Cloth", 0), 0);

    const std::vector<BYTE> bytes = Records({{2, 9}, {1, 5}}, 40);
    const auto records = ParseFeedRotationRecords(bytes.data(), bytes.size());
    ASSERT_EQ(records.size(), 2u);  // the partial third record is ignored
    EXPECT_EQ(records[1].directionCode, 1u);
    EXPECT_EQ(records[1].paperCode, 5u);
}

TEST(PreprocessTables, FeedRotationClass)
{
    struct Case {
        std::uint32_t rotation;    // RotationInfo direction code for the paper (none when 9)
        std::uint32_t selectable;  // SelectableFeedDirectInfo code for the paper (none when 9)
        std::uint16_t bin;
        bool longEdge;
        std::int32_t expected;
    };
    const Case cases[] = {
        {2, 3, 259, false, 2},  // Tray2, selectable, short edge: 2 stays
        {2, 3, 259, true, 1},   // long edge: 2 becomes 1
        {2, 2, 4, true, 2},     // the manual tray with code 2 is not selectable
        {0, 1, 4, true, 3},     // manual, code 1: selectable; 0 becomes 3
        {3, 1, 257, false, 0},  // front tray, short edge: 3 becomes 0
        {1, 2, 7, false, 2},    // another bin with code 2: 1 becomes 2
        {9, 3, 259, true, 3},   // no rotation record: class 0, then 3
        {1, 9, 259, false, 1},  // no selectable record: stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rotation) + "/" + std::to_string(c.selectable) + "/" + std::to_string(c.bin));
        std::vector<FeedRotationRecord> rotation{{5, 1}};  // another paper first
        std::vector<FeedRotationRecord> selectable{{0, 1}};
        if (c.rotation != 9)
            rotation.push_back({c.rotation, 9});
        if (c.selectable != 9)
            selectable.push_back({c.selectable, 9});
        EXPECT_EQ(FeedRotationClass(rotation, selectable, 9, c.bin, c.longEdge), c.expected);
    }
}

// ---- Job settings -----------------------------------------------------------------------

TEST(JobSettings, LayoutDuplexBindingAndOffsets)
{
    const std::string duplex = F("psk:JobDuplexAllDocumentsContiguously", "psk:TwoSidedLongEdge");
    const std::string bindLeft = F("psk:JobBindAllDocuments", "psk:BindLeft", SP("psk:BindingGutter", "2500"));
    const std::string bindBooklet = F("psk:JobBindAllDocuments", "psk:Booklet", SP("psk:BindingGutter", "2500"));
    const std::string nup = F("psk:JobNUpAllDocumentsContiguously", "", SP("psk:PagesPerSheet", "4"),
                              F("ns0000:BorderLine", "ns0000:Dashed") + F("ns0000:PresentationDirectionForPortrait", "ns0000:LeftBottom") +
                                  F("ns0000:PresentationDirectionForLandscape", "ns0000:Diagonal"));  // unknown: 1
    struct Case {
        const char* what;
        std::string body;
        std::int32_t layoutMode, duplex, longEdge, bindingEdge;
        double gutter;
        std::array<std::int32_t, 4> detail;
    };
    const Case cases[] = {
        {"no fit-to-page feature: no duplex, no binding", kNoLayout + duplex + bindLeft, 0, 0, 0, 0, 0, {0, 0, 0, 0}},
        {"duplex and binding", kNoLayout + kFitOff + duplex + bindLeft, 0, 1, 1, 1, 2.0, {0, 0, 0, 0}},
        {"N-up with the booklet binding", kNoLayout + kFitOff + nup + duplex + bindBooklet, 2, 1, 1, 0, 0, {4, 1, 2, 2}},
        {"one page per sheet is no N-up", kNoLayout + F("psk:JobNUpAllDocumentsContiguously", "", SP("psk:PagesPerSheet", "1")), 0, 0,
         0, 0, 0, {0, 0, 0, 0}},
        {"booklet", F("ns0000:JobLayoutType", "ns0000:Booklet") + kFitOff + duplex + bindBooklet +
             F("ns0000:JobBookletAllDocumentsContiguously", "", "",
               F("ns0000:Signature", "ns0000:_8Pages") + F("ns0000:TwoPagesBooklet", "ns0000:On") + F("ns0000:RightToLeft", "ns0000:Off")),
         1, 1, 0, 0, 0, {8, 1, 0, 25}},
        {"poster prints one side", F("ns0000:JobLayoutType", "ns0000:PosterPrint") + kFitOff + duplex, 3, 0, 0, 0, 0, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Job j;
        EXPECT_EQ(j.ReadJob(c.body), S_OK);
        EXPECT_EQ(j.job.layoutMode, c.layoutMode);
        EXPECT_EQ(j.job.duplex, c.duplex);
        EXPECT_EQ(j.job.duplexLongEdge, c.longEdge);
        EXPECT_EQ(j.job.bindingEdge, c.bindingEdge);
        EXPECT_EQ(j.job.gutterMillimetres, c.gutter);
        EXPECT_EQ((std::array<std::int32_t, 4>{j.job.layoutDetail[0], j.job.layoutDetail[1], j.job.layoutDetail[2], j.job.layoutDetail[3]}),
                  c.detail);
    }

    Job offsets;
    EXPECT_EQ(offsets.ReadJob(P("ns0000:JobPageLeftOffset", "-1500") + P("ns0000:JobPageTopOffset", "2050")), S_OK);
    EXPECT_EQ(offsets.job.leftOffset, -15);
    EXPECT_EQ(offsets.job.topOffset, 20);
    Job half;
    half.job.leftOffset = 7;
    EXPECT_EQ(half.ReadJob(P("ns0000:JobPageLeftOffset", "-1500")), S_OK);  // without the top both are 0
    EXPECT_EQ(half.job.leftOffset, 0);
}

// ---- Page settings ---------------------------------------------------------------------

TEST(PageSettings, SizesAndTheOutputSheet)
{
    struct Case {
        const char* what;
        DWORD flags;  // "HalvPrinterData"; 0 for none
        std::string job;
        std::string media;
        std::int32_t width, height, fit, sheetWidth, sheetHeight;
    };
    const std::string fitA4 = F("ns0000:JobFitToPage", "ns0000:On", "",
                                F("ns0000:FitToSize", "psk:ISOA4", SP("ns0000:MediaSizeWidth", "210000") + SP("ns0000:MediaSizeHeight", "297000")));
    const Case cases[] = {
        {"A4", 0, "", Media("psk:ISOA4", 210000, 297000), 4960, 7014, 0, 4960, 7014},
        {"no media size: A4", 0, "", "", 4960, 7014, 0, 4960, 7014},
        {"Legal at the limit, no A3 paper", 0x1, kFitOff, Media("psk:NorthAmericaLegal", 215900, 355600), 5100, 8400, 0, 5100, 8400},
        {"A3, no A3 paper: fitted even with fit-to-page off", 0x1, kFitOff, Media("psk:ISOA3", 297000, 420000), 7014, 9920, 1, 4960,
         7014},
        {"A3 on an A3 printer", 0x9, kFitOff, Media("psk:ISOA3", 297000, 420000), 7014, 9920, 0, 7014, 9920},
        {"fit to page", 0, fitA4, Media("psk:ISOA3", 297000, 420000), 7014, 9920, 1, 4960, 7014},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Job j;
        if (c.flags)
            j.SetFlags(c.flags);
        EXPECT_EQ(j.ReadJob(c.job), S_OK);
        const PageRecord& p = j.ReadPage(c.media);
        EXPECT_EQ(p.pageWidth, c.width);
        EXPECT_EQ(p.pageHeight, c.height);
        EXPECT_EQ(p.fitToPage, c.fit);
        EXPECT_EQ(p.sheetWidth, c.sheetWidth);
        EXPECT_EQ(p.sheetHeight, c.sheetHeight);
        EXPECT_EQ(p.pageNumber, 1);
        EXPECT_EQ(p.settingsChanged, 0);  // never on the first page
        EXPECT_EQ(p.pageMarginX + p.pageMarginY + p.sheetMarginX + p.sheetMarginY, 400);
        EXPECT_EQ(p.resolution, 600);
        EXPECT_EQ(p.scalingPercent, 100);
    }
}

TEST(PageSettings, ChangesFromPageToPage)
{
    Job j;
    ASSERT_EQ(j.ReadJob(""), S_OK);
    const std::string a4 = Media("psk:ISOA4", 210000, 297000);
    const std::string tray2 = F("psk:PageInputBin", "psk:Tray2");
    j.ReadPage(a4 + tray2 + F("psk:PageOrientation", "psk:Landscape"));
    EXPECT_EQ(j.job.firstPagePortrait, 0);
    EXPECT_TRUE(j.settings.GeometryChanged());
    EXPECT_EQ(j.ReadPage(a4 + tray2 + F("psk:PageOrientation", "psk:Landscape")).settingsChanged, 0);
    EXPECT_FALSE(j.settings.GeometryChanged());
    EXPECT_EQ(j.ReadPage(a4 + F("psk:PageInputBin", "psk:Cassette") + F("psk:PageOrientation", "psk:Landscape")).settingsChanged, 1);
    const PageRecord& p = j.ReadPage(a4 + F("psk:PageInputBin", "psk:Cassette") +
                                     F("ns0000:PageResolution", "", SP("ns0000:ResolutionX", "1200")) +
                                     F("ns0000:PagePortraitDirection", "ns0000:Reversed") + P("ns0000:PageScaling", "150"));
    EXPECT_EQ(p.settingsChanged, 1);  // the resolution
    EXPECT_EQ(p.resolution, 1200);
    EXPECT_EQ(p.portraitReversed, 1);
    EXPECT_EQ(p.scalingPercent, 150);
    EXPECT_EQ(p.pagePortrait, 1);
    EXPECT_TRUE(j.settings.GeometryChanged());  // the orientation changed
    EXPECT_EQ(p.pageNumber, 4);
    EXPECT_EQ(j.job.firstPagePortrait, 0);
}

TEST(PageSettings, PosterSettings)
{
    Job j;
    ASSERT_EQ(j.ReadJob(F("ns0000:JobLayoutType", "ns0000:PosterPrint")), S_OK);
    const PageRecord& p = j.ReadPage(F(
        "ns0000:PagePoster", "ns0000:Custom", "",
        F("ns0000:XDirectionPages", "ns0000:_3") + F("ns0000:YDirectionPages", "ns0000:_2") +
            F("ns0000:SheetOrientation", "ns0000:Landscape") +
            F("ns0000:CropMarks", "ns0000:On", SP("ns0000:CropMarksColor", "#FF102030", "xsd:string")) +
            F("ns0000:Overlap", "ns0000:On", SP("ns0000:OverlappedMargin", "5000"))));
    EXPECT_EQ(p.posterSize, 3);
    EXPECT_EQ(p.posterColumns, 3);
    EXPECT_EQ(p.posterRows, 2);
    EXPECT_EQ(p.posterSheetOrientation, 2);
    EXPECT_EQ(p.cropMarks, 1);
    EXPECT_EQ(p.cropMarkColor, 0x102030);
    EXPECT_EQ(p.overlapMargin, 50);

    Job defaults;
    ASSERT_EQ(defaults.ReadJob(F("ns0000:JobLayoutType", "ns0000:PosterPrint")), S_OK);
    const PageRecord& d = defaults.ReadPage("");
    EXPECT_EQ((std::array<std::int32_t, 7>{d.posterSize, d.posterSheetOrientation, d.posterColumns, d.posterRows, d.cropMarks,
                                            d.cropMarkColor, d.overlapMargin}),
              (std::array<std::int32_t, 7>{3, 0, 1, 2, 0, 0xC0C0C0, 0}));
}

TEST(PageSettings, FeedRotationAndTheCoverSheet)
{
    // A4 (paper code 9): RotationInfo class 1; selectable from the manual tray only.
    const std::string a4Tray2 = Media("psk:ISOA4", 210000, 297000) + F("psk:PageInputBin", "psk:Tray2");
    const std::string cover = F("ns0000:JobPrint1stPageAsCoverPage", "ns0000:On", "",
                                F("ns0000:CoverPageSource", "psk:Manual") + F("ns0000:CoverPageMediaWeight", "ns0000:Normal") +
                                    F("ns0000:CoverPageMediaType", "psk:Plain"));
    const std::string twoSided = kNoLayout + kFitOff + F("psk:JobDuplexAllDocumentsContiguously", "psk:TwoSidedLongEdge");
    struct Case {
        const char* what;
        std::string job;
        std::vector<std::int32_t> classes;  // of pages 1, 2, 3
    };
    const Case cases[] = {
        {"no cover page: Tray2 is not selectable", "", {1, 1, 1}},
        {"the cover sheet takes the manual tray", cover, {2, 1, 1}},
        {"two-sided: the cover sheet's back too", cover + twoSided, {2, 2, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Job j;
        j.SetData(u"RotationInfo", REG_BINARY, Records({{1, 9}}));
        j.SetData(u"SelectableFeedDirectInfo", REG_BINARY, Records({{1, 9}}));
        ASSERT_EQ(j.ReadJob(c.job), S_OK);
        std::vector<std::int32_t> classes;
        for (int page = 0; page < 3; ++page)
            classes.push_back(j.ReadPage(a4Tray2).rotationClass);
        EXPECT_EQ(classes, c.classes);
        EXPECT_EQ(j.page.rotationClassTwo, 0);
    }
}

TEST(PageSettings, AFrameworkWithoutPrefixFailsThePage)
{
    Job j;
    ComPtr<IXMLDOMDocument2> dom = Job::Dom("<PrintTicket xmlns=\"http://schemas.microsoft.com/windows/2003/08/printing/"
                                            "printschemaframework\" version=\"1\"/>");
    EXPECT_EQ(j.settings.ReadPageSettings(dom.Get(), j.printer, j.job, j.page), E_FAIL);
    EXPECT_EQ(j.settings.ReadJobSettings(dom.Get(), j.printer, j.job), E_FAIL);
}

} // namespace

// ---- The text watermark -------------------------------------------------------------

namespace {

std::string S(const std::string& name, const std::string& value) { return SP(name, value, "xsd:string"); }

// A full watermark feature; drop names one by one to see what a missing value does.
std::string Watermark(const std::vector<std::string>& without = {}, const std::string& adjustment = "ns0000:Off",
                      const std::string& adjustmentBody = "")
{
    const auto keep = [&](const std::string& name) {
        return std::find(without.begin(), without.end(), name) == without.end();
    };
    std::string inner;
    const std::pair<std::string, std::string> props[] = {
        {"Text", S("ns0000:Text", std::string(70, 'W'))}, {"FontSize", SP("ns0000:FontSize", "36")},
        {"Angle", SP("ns0000:Angle", "-30")},             {"FontColor", S("ns0000:FontColor", "#80C01020")},
        {"FontName", S("ns0000:FontName", "An Unusually Long Font Family Name")},
        {"FontWeight", SP("ns0000:FontWeight", "700")},  {"FontItalic", SP("ns0000:FontItalic", "1")},
        {"FontCharSet", SP("ns0000:FontCharSet", "128")},
    };
    for (const auto& [name, xml] : props)
        if (keep(name))
            inner += xml;
    std::string subs;
    if (keep("Trim"))
        subs += F("ns0000:PageWatermarkTrim", "ns0000:Circle");
    if (keep("Position"))
        subs += F("ns0000:PageWatermarkPosition", "ns0000:Somewhere");
    if (keep("FirstPageOnly"))
        subs += F("ns0000:PageWatermarkFirstPageOnly", "ns0000:On");
    if (keep("Adjustment"))
        subs += F("ns0000:PageWatermarkAdjustment", adjustment, adjustmentBody);
    return F("ns0000:PageWatermark", "ns0000:Text", inner, subs);
}


TEST(PreprocessWatermark, ReadsEveryValueOfAFullFeature)
{
    Job j;
    j.ReadPage(Watermark({}, "ns0000:On", SP("ns0000:AdjustmentX", "12") + SP("ns0000:AdjustmentY", "-7")));
    const WatermarkSettings& w = j.settings.Watermark();
    EXPECT_EQ(w.enabled, 1);
    EXPECT_EQ(std::u16string(w.text), std::u16string(63, u'W'));
    EXPECT_EQ(w.fontSize, 36);
    EXPECT_EQ(w.angle, -30);
    EXPECT_EQ(w.colour, 0xC01020);
    EXPECT_EQ(std::u16string(w.fontName), u"An Unusually Long Font Family N");  // 31 units
    EXPECT_EQ(w.weight, 700);
    EXPECT_EQ(w.italic, 1);
    EXPECT_EQ(w.charSet, 128);
    EXPECT_EQ(w.trim, 1);
    EXPECT_EQ(w.position, 3);  // an unknown position is the centre
    EXPECT_EQ(w.firstPageOnly, 1);
    EXPECT_EQ(w.adjustmentX, 12);
    EXPECT_EQ(w.adjustmentY, -7);
    EXPECT_EQ(w.opacity, 0.5);
    EXPECT_EQ(w.marginX, 236);
    EXPECT_EQ(w.marginY, 236);
}

TEST(PreprocessWatermark, WhatTurnsItOff)
{
    const struct {
        const char* what;
        std::string feature;
    } cases[] = {
        {"no feature", ""},
        {"another option", F("ns0000:PageWatermark", "ns0000:Bitmap", S("ns0000:Text", "X"))},
        {"no text", Watermark({"Text"})},
        {"empty text", F("ns0000:PageWatermark", "ns0000:Text", S("ns0000:Text", ""))},
        {"no font size", Watermark({"FontSize"})},
        {"no colour", Watermark({"FontColor"})},
        {"no character set", Watermark({"FontCharSet"})},
        {"no position", Watermark({"Position"})},
        {"no adjustment", Watermark({"Adjustment"})},
        {"adjustment on without Y", Watermark({}, "ns0000:On", SP("ns0000:AdjustmentX", "12"))},
        {"size zero", F("ns0000:PageWatermark", "ns0000:Text",
                        S("ns0000:Text", "X") + SP("ns0000:FontSize", "0") + SP("ns0000:Angle", "0") +
                            S("ns0000:FontColor", "#FF000000") + S("ns0000:FontName", "Arial") +
                            SP("ns0000:FontWeight", "0") + SP("ns0000:FontItalic", "0") + SP("ns0000:FontCharSet", "0"),
                        F("ns0000:PageWatermarkTrim", "ns0000:None") + F("ns0000:PageWatermarkPosition", "ns0000:Center") +
                            F("ns0000:PageWatermarkFirstPageOnly", "ns0000:Off") +
                            F("ns0000:PageWatermarkAdjustment", "ns0000:Off"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Job j;
        j.ReadPage(Watermark());  // on first, so that turning off is seen
        ASSERT_EQ(j.settings.Watermark().enabled, 1);
        const PageRecord& page = j.ReadPage(c.feature);  // the page itself reads on
        EXPECT_EQ(j.settings.Watermark().enabled, 0);
        EXPECT_EQ(page.pageNumber, 2);
    }
    Job j;
    j.ReadPage(Watermark({}, "ns0000:On", SP("ns0000:AdjustmentX", "12")));
    EXPECT_EQ(j.settings.Watermark().adjustmentX, 0) << "both or neither";
}

} // namespace
