// The preprocess filter's page rewriting: golden pages for the markup rules
// and the placement canvases, the same pages through tiny buffers and as
// UTF-16, the pages it refuses and why, and the small pure helpers.
//
// The expected pages are in tests/data/rewrite/expected; after a deliberate
// change, tools/update-golden.sh writes them anew for review by diff.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "golden_files.h"
#include "record_fixtures.h"
#include "filter/filter_nongdi/preprocess/page_placement.h"
#include "filter/filter_nongdi/preprocess/page_rewriter.h"
#include "filter/framework/cxd_exception.h"
#include "filter/framework/markup_buffer.h"
#include "platform/objbase.h"
#include "platform/pipeline/host_parts.h"
#include "platform/stringapiset.h"

namespace {

const std::string kData = std::string(ZNTR_SOURCE_DIR) + "/tests/data/rewrite/";
const std::string kPageName = "/Documents/1/Pages/1.fpage";

std::shared_ptr<const Bytes> BytesOf(const std::string& text) { return std::make_shared<const Bytes>(text.begin(), text.end()); }

JobRecord PlainJob()
{
    JobRecord j{};
    j.firstPagePortrait = 1;
    return j;
}

struct Resource {
    std::string name;
    std::string content;
};

struct Rewritten {
    HRESULT hr;
    std::string markup;
    std::string reason;
};

Rewritten Rewrite(const std::string& markup, const JobRecord& job, const PageRecord& record,
                  const std::vector<Resource>& resources = {}, std::size_t bufferSize = MarkupBuffer::kDefaultSize)
{
    std::vector<ComPtr<IUnknown>> related;
    for (const Resource& r : resources) {
        PartCore core;
        core.name = r.name;
        core.contentType = "application/vnd.ms-package.xps-resourcedictionary+xml";
        core.content = BytesOf(r.content);
        related.push_back(MakeResourcePart(ResourceKind::ResourceDictionary, std::move(core)));
    }
    PartCore core;
    core.name = kPageName;
    core.contentType = "application/vnd.ms-package.xps-fixedpage+xml";
    core.content = BytesOf(markup);
    ComPtr<IFixedPage> page = MakeFixedPage(std::move(core), nullptr, std::move(related));

    Rewritten out{S_OK, {}, {}};
    out.hr = CallGuarded([&] { return RewriteFixedPage(page.Get(), job, record, {}, out.reason, bufferSize); });
    if (const auto written = HostPartOf(page.Get())->WrittenContent())
        out.markup.assign(written->begin(), written->end());
    return out;
}

class RewriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

// ---- Golden pages ---------------------------------------------------------------

struct GoldenCase {
    const char* name;   // expected/<name>.fpage
    const char* input;  // the page fixture
    void (*settings)(JobRecord&, PageRecord&);
};

void NoChange(JobRecord&, PageRecord&) {}

// ISOA3 content, to be fitted onto the ISOA4 sheet.
void A3OnA4(JobRecord&, PageRecord& r)
{
    r.pageWidth = 7014;
    r.pageHeight = 9920;
    r.fitToPage = 1;
}

void BindLeftDuplex(JobRecord& j, PageRecord& r)
{
    A3OnA4(j, r);
    j.bindingEdge = 1;
    j.gutterMillimetres = 10;
    j.duplex = 1;
    j.duplexLongEdge = 1;
}

const GoldenCase kGoldenCases[] = {
    {"declarations", "declarations.fpage", NoChange},
    {"references", "references.fpage", NoChange},
    {"resources-moved", "resources.fpage", NoChange},
    {"boxes-inside", "boxes.fpage", NoChange},
    {"boxes-marked", "boxes-marked.fpage", NoChange},
    {"remote-dictionary", "remote.fpage", NoChange},
    {"alternate-content", "alternate.fpage", NoChange},
    {"ignorable", "ignorable.fpage", NoChange},
    {"clip-only", "plain.fpage", NoChange},
    {"scaling-50", "plain.fpage", [](JobRecord&, PageRecord& r) { r.scalingPercent = 50; }},
    {"fit-a3-on-a4", "plain.fpage", A3OnA4},
    {"fit-a3-on-a4-scaling-50", "plain.fpage",
     [](JobRecord& j, PageRecord& r) {
         A3OnA4(j, r);
         r.scalingPercent = 50;
     }},
    {"fit-landscape-a3-quarter-turn", "plain.fpage",
     [](JobRecord&, PageRecord& r) {
         r.pageWidth = 9920;
         r.pageHeight = 7014;
         r.fitToPage = 1;
     }},
    {"fit-landscape-a4-scale-one-no-turn", "plain.fpage",
     [](JobRecord&, PageRecord& r) {
         r.pageWidth = 7014;
         r.pageHeight = 4960;
         r.fitToPage = 1;
     }},
    {"fit-bind-left-duplex-page-1", "plain.fpage", BindLeftDuplex},
    {"fit-bind-left-duplex-page-2", "plain.fpage",
     [](JobRecord& j, PageRecord& r) {
         BindLeftDuplex(j, r);
         r.pageNumber = 2;
     }},
    {"fit-scale-exactly-one", "plain.fpage", [](JobRecord&, PageRecord& r) { r.fitToPage = 1; }},
    {"landscape-page", "plain.fpage", [](JobRecord&, PageRecord& r) { r.pagePortrait = 0; }},
    {"n-up-page-not-fitted", "plain.fpage",
     [](JobRecord& j, PageRecord& r) {
         A3OnA4(j, r);
         j.layoutMode = 2;
     }},
};

std::vector<Resource> ResourcesFor(const GoldenCase& c)
{
    if (std::string(c.input) == "remote.fpage")
        return {{"/Documents/1/Resources/brushes.dict", ReadFile(kData + "brushes.dict")}};
    return {};
}

Rewritten RewriteCase(const GoldenCase& c, std::size_t bufferSize = MarkupBuffer::kDefaultSize)
{
    JobRecord job = PlainJob();
    PageRecord record = A4Record();
    c.settings(job, record);
    return Rewrite(ReadFile(kData + c.input), job, record, ResourcesFor(c), bufferSize);
}

TEST_F(RewriterTest, PagesAreWrittenAsTheGoldenFilesSay)
{
    for (const GoldenCase& c : kGoldenCases) {
        SCOPED_TRACE(c.name);
        const Rewritten got = RewriteCase(c);
        ASSERT_EQ(got.hr, S_OK) << got.reason;
        ExpectGolden(got.markup, kData + "expected/" + c.name + ".fpage");
    }
}

// Every flush path: text that crosses the buffer end at every offset, pieces
// larger than the buffer, the switch from text to the closing bytes.
TEST_F(RewriterTest, TinyBuffersWriteTheSameBytes)
{
    for (const GoldenCase& c : kGoldenCases) {
        SCOPED_TRACE(c.name);
        const std::string expected = RewriteCase(c).markup;
        for (const std::size_t size : {1u, 2u, 3u, 7u, 64u, 1000u}) {
            SCOPED_TRACE(size);
            const Rewritten got = RewriteCase(c, size);
            ASSERT_EQ(got.hr, S_OK) << got.reason;
            EXPECT_EQ(got.markup, expected);
        }
    }
}

std::string Utf16(const std::string& utf8, bool bigEndian)
{
    const std::u16string wide = Utf8ToWide(utf8);
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t c : wide) {
        const char hi = static_cast<char>(c >> 8);
        const char lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

TEST_F(RewriterTest, Utf16PagesComeOutAsTheirUtf8Twins)
{
    std::string page = ReadFile(kData + "declarations.fpage");
    const Rewritten utf8 = Rewrite(page, PlainJob(), A4Record());
    ASSERT_EQ(utf8.hr, S_OK) << utf8.reason;
    page.replace(page.find("UTF-8"), 5, "UTF-16");
    for (const bool bigEndian : {false, true}) {
        const Rewritten got = Rewrite(Utf16(page, bigEndian), PlainJob(), A4Record());
        ASSERT_EQ(got.hr, S_OK) << got.reason;
        EXPECT_EQ(got.markup, utf8.markup);
    }
}

TEST_F(RewriterTest, PageScalingOnA4WritesTheScalingCanvas)
{
    PageRecord record = A4Record();
    record.scalingPercent = 50;
    const Rewritten got = Rewrite(ReadFile(kData + "plain.fpage"), PlainJob(), record);
    ASSERT_EQ(got.hr, S_OK) << got.reason;
    EXPECT_NE(got.markup.find("<Canvas RenderTransform=\"0.500000,0,0,0.500000,198.400000,8.000000\">"),
              std::string::npos);
    EXPECT_TRUE(got.markup.ends_with("</Canvas></Canvas></FixedPage>")) << "the clip, then the counted one";
}

// ---- Pages that are refused -----------------------------------------------------

const std::string kOpen = "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" "
                          "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
                          "xmlns:v2=\"urn:example:v2\" Width=\"816\" Height=\"1056\"";

struct RefusedCase {
    const char* name;
    std::string markup;
    const char* reason;  // a part of the reason given
};

TEST_F(RewriterTest, PagesThatCannotBeResolvedFailWithAReason)
{
    const RefusedCase cases[] = {
        {"choice without Requires", kOpen + "><mc:AlternateContent><mc:Choice/></mc:AlternateContent></FixedPage>",
         "a Choice without Requires"},
        {"fallback first",
         kOpen + "><mc:AlternateContent><mc:Fallback/></mc:AlternateContent></FixedPage>", "a Fallback before any Choice"},
        {"choice after fallback",
         kOpen + "><mc:AlternateContent><mc:Choice Requires=\"v2\"/><mc:Fallback/><mc:Choice Requires=\"mc\"/>"
                 "</mc:AlternateContent></FixedPage>",
         "a Choice after the Fallback"},
        {"choice outside a block", kOpen + "><mc:Choice Requires=\"mc\"/></FixedPage>", "outside an AlternateContent"},
        {"block in a block",
         kOpen + "><mc:AlternateContent><mc:AlternateContent/></mc:AlternateContent></FixedPage>",
         "AlternateContent directly inside"},
        {"required prefix undeclared",
         kOpen + "><mc:AlternateContent><mc:Choice Requires=\"v9\"/></mc:AlternateContent></FixedPage>",
         "undeclared prefix v9"},
        {"other compatibility element", kOpen + "><mc:Extension/></FixedPage>",
         "markup-compatibility element Extension is not supported"},
        {"must understand", kOpen + " mc:MustUnderstand=\"v2\"></FixedPage>", "requires the namespace urn:example:v2"},
        {"ignorable prefix undeclared", kOpen + " mc:Ignorable=\"v9\"></FixedPage>", "undeclared prefix"},
        {"process content not ignorable", kOpen + " mc:ProcessContent=\"v2:Group\"></FixedPage>",
         "not in a namespace made Ignorable"},
        {"unknown compatibility attribute", kOpen + " mc:Unknown=\"v2\"></FixedPage>", "mc:Unknown is not supported"},
        {"process content with xml:lang",
         kOpen + " mc:Ignorable=\"v2\" mc:ProcessContent=\"v2:G\"><v2:G xml:lang=\"en\"/></FixedPage>",
         "carries xml:lang"},
        {"no default namespace", "<FixedPage Width=\"1\" Height=\"1\"/>", "the element FixedPage is in no known namespace"},
        {"open xps",
         "<FixedPage xmlns=\"http://schemas.openxps.org/oxps/v1.0\" Width=\"1\" Height=\"1\"/>",
         "in the namespace http://schemas.openxps.org/oxps/v1.0"},
        {"element in an unknown namespace", kOpen + "><v2:Shape/></FixedPage>", "in the namespace urn:example:v2"},
        {"qualified XPS attribute",
         "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" xmlns:p=\"http://schemas.microsoft.com/xps/2005/06\" "
         "Width=\"1\" Height=\"1\"><Path p:Data=\"M 0,0\"/></FixedPage>",
         "qualified with the XPS namespace"},
        {"attribute in no namespace", kOpen + "><Path v9:Data=\"M 0,0\"/></FixedPage>", "in no known namespace"},
        {"content box of three", kOpen + " ContentBox=\"0,0,1\"></FixedPage>", "ContentBox of the page is not four"},
        {"width not a number",
         "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" Width=\"wide\" Height=\"1\"/>",
         "Width of the page is not a number"},
        {"no height", "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" Width=\"1\"/>", "no Height"},
        {"missing dictionary",
         kOpen + "><FixedPage.Resources><ResourceDictionary Source=\"absent.dict\"/></FixedPage.Resources></FixedPage>",
         "/Documents/1/Pages/absent.dict is not a resource of the page"},
        {"not well-formed", kOpen + "><Path></FixedPage>", "mismatched tag"},
        {"document type", "<!DOCTYPE FixedPage [<!ENTITY a \"b\">]>" + kOpen + "/>", "DTDs are not accepted"},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Rewritten got = Rewrite(c.markup, PlainJob(), A4Record());
        EXPECT_EQ(got.hr, E_FAIL);
        EXPECT_NE(got.reason.find(c.reason), std::string::npos) << got.reason;
    }
}

TEST_F(RewriterTest, RemoteDictionariesDoNotNest)
{
    const std::string page =
        kOpen + "><FixedPage.Resources><ResourceDictionary Source=\"/a.dict\"/></FixedPage.Resources></FixedPage>";
    const std::string dictionary = "<ResourceDictionary xmlns=\"http://schemas.microsoft.com/xps/2005/06\">"
                                   "<ResourceDictionary Source=\"/b.dict\"/></ResourceDictionary>";
    const Rewritten got = Rewrite(page, PlainJob(), A4Record(), {{"/a.dict", dictionary}, {"/b.dict", dictionary}});
    EXPECT_EQ(got.hr, E_FAIL);
    EXPECT_NE(got.reason.find("the resource dictionary /a.dict: a remote resource dictionary refers to another"),
              std::string::npos)
        << got.reason;
}

// ---- Helpers --------------------------------------------------------------------

TEST(RewriteReference, ResolvesAgainstTheBase)
{
    const std::optional<std::u16string> pages = u"/Documents/1/Pages/";
    const struct {
        std::optional<std::u16string> base;
        std::u16string reference;
        std::u16string expected;
    } cases[] = {
        {pages, u"../Resources/Images/img.png", u"/Documents/1/Resources/Images/img.png"},
        {pages, u"../Resources/a.png", u"/Documents/1/Resources/a.png"},
        {pages, u"/Resources/a.png", u"/Resources/a.png"},
        {pages, u"  a.png", u"/Documents/1/Pages/a.png"},
        {pages, u"./x/./y.png", u"/Documents/1/Pages/x/y.png"},
        {pages, u"..\\..\\R\\f.odttf", u"/Documents/R/f.odttf"},
        {pages, u"x/..", u"/Documents/1/Pages/x/.."},  // the file name is ".."
        {pages, u"a/../b.png", u"/Documents/1/Pages/b.png"},
        {pages, u"../../../../x.png", u"../../../../x.png"},  // above the root: unchanged
        {pages, u"http://example.invalid/x.png", u"http://example.invalid/x.png"},
        {std::nullopt, u"a.png", u"/a.png"},
        {std::nullopt, u"../a.png", u"../a.png"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WideToUtf8(RewriteReference(c.base, c.reference)), WideToUtf8(c.expected)) << WideToUtf8(c.reference);
}

TEST(RewriteReference, BaseDirectory)
{
    EXPECT_EQ(BaseDirectoryOf(u"/Documents/1/Pages/1.fpage"), std::u16string(u"/Documents/1/Pages/"));
    EXPECT_EQ(BaseDirectoryOf(u"/1.fpage"), std::nullopt);
    EXPECT_EQ(BaseDirectoryOf(u"1.fpage"), std::nullopt);
}

TEST(PagePlacement, FitScaleTruncatesToSixDecimals)
{
    const struct {
        double a, b, c, d;
        double scale;
        bool rotated;
    } cases[] = {
        {1090.24, 1555.2, 761.6, 1090.24, 0.698561, false},  // A3 onto A4: 0.6985617... truncated
        {100, 100, 100, 100, 1.0, false},
        {200, 100, 100, 200, 1.0, true},  // the quarter turn makes it fit
        {300, 100, 100, 200, 0.666666, true},
        {3, 3, 1, 1, 0.333333, false},
    };
    for (const auto& c : cases) {
        const FitScale fit = ComputeFitScale(c.a, c.b, c.c, c.d);
        EXPECT_DOUBLE_EQ(fit.scale, c.scale) << c.a << "x" << c.b;
        EXPECT_EQ(fit.rotated, c.rotated) << c.a << "x" << c.b;
    }
}

TEST(PagePlacement, BindingEdgeOfEachPage)
{
    const struct {
        std::int32_t edge;
        bool portrait;
        bool duplex;
        std::int32_t pageNumber;
        bool reversed;
        std::int32_t expected;
    } cases[] = {
        {1, true, false, 2, false, 1},  // one-sided: every page alike
        {1, true, true, 1, false, 1},   // front side
        {1, true, true, 2, false, 3},   // back side mirrored
        {2, true, true, 2, false, 4},
        {1, false, false, 1, false, 2},  // landscape turns once
        {4, false, false, 1, false, 1},
        {4, false, true, 2, false, 3},   // turned, then mirrored
        {1, true, false, 1, true, 3},    // reversed portrait
        {1, false, true, 2, true, 2},    // turned, mirrored, mirrored back
        {0, true, true, 2, true, 0},
    };
    for (const auto& c : cases) {
        JobRecord job = PlainJob();
        job.bindingEdge = c.edge;
        job.duplex = c.duplex;
        PageRecord page = A4Record();
        page.pagePortrait = c.portrait;
        page.pageNumber = c.pageNumber;
        (c.portrait ? page.portraitReversed : page.landscapeReversed) = c.reversed;
        EXPECT_EQ(PageBindingEdge(job, page), c.expected) << c.edge << (c.portrait ? " portrait" : " landscape") << " page "
                                                          << c.pageNumber;
    }
}

// ---- MarkupBuffer ---------------------------------------------------------------

struct RecordingStream final : ComObject<IPrintWriteStream> {
    std::vector<std::string> writes;
    HRESULT failWith = S_OK;
    ULONG maxPerCall = 0;  // 0: everything at once
    HRESULT STDMETHODCALLTYPE WriteBytes(const void* p, ULONG n, ULONG* written) override
    {
        if (FAILED(failWith))
            return failWith;
        const ULONG take = maxPerCall && n > maxPerCall ? maxPerCall : n;
        writes.emplace_back(static_cast<const char*>(p), take);
        *written = take;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
};

TEST(MarkupBuffer, TextIsWrittenAsUtf8AndBytesUnchanged)
{
    ComPtr<RecordingStream> stream = MakeComObject<RecordingStream>();
    MarkupBuffer buffer(stream.Get(), 8);  // four UTF-16 units
    EXPECT_EQ(buffer.AppendText(u"ab"), S_OK);
    EXPECT_EQ(buffer.AppendText(u"\u00e9\U0001D44E"), S_OK);  // does not fit: "ab" goes first
    EXPECT_EQ(buffer.AppendText(u"0123"), S_OK);              // as large as the buffer: straight through
    buffer.Enable(false);
    EXPECT_EQ(buffer.AppendText(u"dropped"), S_OK);
    EXPECT_EQ(buffer.AppendBytes("\xff</x>"), S_OK);  // bytes whatever the flag; the text is converted first
    EXPECT_EQ(buffer.Flush(), S_OK);
    const std::vector<std::string> expected = {"ab", "\xc3\xa9\xf0\x9d\x91\x8e", "0123", "\xff</x>"};
    EXPECT_EQ(stream->writes, expected);
}

TEST(MarkupBuffer, ShortWritesAreRepeatedAndFailuresAnswered)
{
    ComPtr<RecordingStream> stream = MakeComObject<RecordingStream>();
    stream->maxPerCall = 3;
    MarkupBuffer buffer(stream.Get(), 4);
    EXPECT_EQ(buffer.AppendBytes("abcdefgh"), S_OK);
    EXPECT_EQ(stream->writes, (std::vector<std::string>{"abc", "def", "gh"}));

    stream->failWith = E_ACCESSDENIED;
    EXPECT_EQ(buffer.AppendBytes("ab"), S_OK);  // fits: nothing written yet
    EXPECT_EQ(buffer.AppendBytes("cde"), E_ACCESSDENIED);
    EXPECT_EQ(buffer.Flush(), S_OK) << "the failed bytes are not written twice";
}

} // namespace
