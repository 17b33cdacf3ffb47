// The finishing filter against a scripted pipeline: what it forwards and
// drops, how it walks and keeps the page records, and the N-up sheets it
// writes, checked against golden files.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "fake_pipeline.h"
#include "golden_files.h"
#include "record_fixtures.h"
#include "filter/filter_nongdi/finishing/finishing_filter.h"
#include "filter/filter_nongdi/finishing/nup_imposer.h"
#include "platform/rpc.h"

namespace {

const std::string kData = std::string(ZNTR_SOURCE_DIR) + "/tests/data/nup/";
constexpr std::int32_t kJobId = 7;

// Sheet names from a counter, so they are the same on every run.
std::atomic<std::uint32_t> g_uuids{0};
UUID CountingUuid()
{
    UUID u{};
    u.Data1 = ++g_uuids;
    u.Data3 = 0x4000;
    u.Data4[0] = 0x80;
    return u;
}

struct CountedUuids {
    CountedUuids()
    {
        g_uuids = 0;
        SetUuidGeneratorForTesting(CountingUuid);
    }
    ~CountedUuids()
    {
        SetUuidGeneratorForTesting(nullptr);
        SetUuidStatusForTesting(RPC_S_OK);
    }
};

PageRecord A3Record()
{
    PageRecord r = A4Record();
    r.pageWidth = r.sheetWidth = 7014;
    r.pageHeight = r.sheetHeight = 9920;
    return r;
}

// A page as the preprocess filter writes it.
std::string PageMarkup(int number, bool portrait = true, const std::string& declarations = "")
{
    const char* size = portrait ? "Width=\"793.600000\" Height=\"1122.240000\"" : "Width=\"1122.240000\" Height=\"793.600000\"";
    return "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\" " + declarations + size +
           " xml:lang=\"en-GB\"><Canvas><Path Name=\"P" + std::to_string(number) +
           "\" Data=\"M 16,16 L 200,16 200,200 Z\" Fill=\"#FF000000\"></Path></Canvas></FixedPage>";
}

PartCore Core(const std::string& name, const std::string& text = "")
{
    PartCore core;
    core.name = name;
    core.content = std::make_shared<const Bytes>(text.begin(), text.end());
    return core;
}

std::string ContentOf(IUnknown* part)
{
    const auto bytes = HostPartOf(part)->CurrentContent();
    return std::string(bytes->begin(), bytes->end());
}

std::string TicketName(IFixedPage* page)
{
    ComPtr<IPartPrintTicket> ticket;
    page->GetPrintTicket(ticket.ReleaseAndGetAddressOf());
    return ticket ? PartNameOf(ticket.Get()) : "none";
}

std::vector<std::string> RelatedNames(IFixedPage* page)
{
    std::vector<std::string> names;
    ComPtr<IXpsPartIterator> it;
    page->GetXpsPartIterator(it.ReleaseAndGetAddressOf());
    for (it->Reset(); !it->IsDone(); it->Next()) {
        BSTR uri = nullptr;
        ComPtr<IUnknown> part;
        it->Current(&uri, part.ReleaseAndGetAddressOf());
        SysFreeString(uri);
        names.push_back(PartNameOf(part.Get()));
    }
    return names;
}

struct SourcePage {
    SourcePage(PageRecord r, std::string m) : record(r), markup(std::move(m)) {}
    PageRecord record;
    std::string markup;
    std::string name;
    std::vector<ComPtr<IUnknown>> related;
    ComPtr<IPartPrintTicket> ticket;
};

// One job through the finishing filter, with the records the preprocess
// filter would have published.
struct FinishingJob {
    ComPtr<FakeReader> reader = MakeComObject<FakeReader>();
    ComPtr<FakeWriter> writer = MakeComObject<FakeWriter>();
    ComPtr<FakeControl> control = MakeComObject<FakeControl>();
    ComPtr<FakeBag> bag = MakeComObject<FakeBag>();
    ComPtr<FakeCommunicator> communicator = MakeComObject<FakeCommunicator>();
    FinishingFilter* filter = new FinishingFilter;
    JobRecord job{};
    PageRecordList records;

    explicit FinishingJob(bool publish = true)
    {
        communicator->reader = reader.Get();
        communicator->writer = writer.Get();
        VARIANT id;
        VariantInit(&id);
        id.vt = VT_I4;
        id.lVal = kJobId;
        bag->AddProperty(u"PrintJobId", &id);
        VARIANT handle;
        VariantInit(&handle);
        handle.vt = VT_UI8;
        handle.ullVal = 0x1234;
        bag->AddProperty(u"PrinterHandle", &handle);
        job.firstPagePortrait = 1;
        if (publish) {
            PublishRecord(bag.Get(), JobPropertyName(kJobId), &job);
            PublishRecord(bag.Get(), PageRecordListName(kJobId), &records);
        }
    }
    ~FinishingJob() { filter->Release(); }

    void NUp(std::int32_t n, std::int32_t direction, std::int32_t border = 0)
    {
        job.layoutMode = 2;
        job.layoutDetail[0] = n;
        job.layoutDetail[job.firstPagePortrait ? 2 : 1] = direction;
        job.layoutDetail[3] = border;
    }
    void Begin(const std::string& discardBefore = "")
    {
        reader->parts.push_back(Unknown(MakeXpsDocument(nullptr, Core("/")).Get()));
        if (!discardBefore.empty())
            reader->parts.push_back(Unknown(MakeDiscardControlPart(Core(discardBefore)).Get()));
        reader->parts.push_back(Unknown(MakeFixedDocumentSequence(Core("/seq.fdseq"), nullptr).Get()));
    }
    void Document(int number)
    {
        reader->parts.push_back(
            Unknown(MakeFixedDocument(Core("/Documents/" + std::to_string(number) + "/doc.fdoc"), nullptr).Get()));
    }
    // Adds the page and, as the preprocess filter does, its record.
    void Page(SourcePage page)
    {
        page.record.pageNumber = 0;  // the finishing filter numbers the pages itself
        records.Append(page.record);
        if (page.name.empty())
            page.name = "/Documents/1/Pages/" + std::to_string(records.Size()) + ".fpage";
        reader->parts.push_back(
            Unknown(MakeFixedPage(Core(page.name, page.markup), page.ticket, std::move(page.related)).Get()));
    }
    void Pages(int count, bool portrait = true)
    {
        for (int i = 0; i < count; ++i) {
            const int n = static_cast<int>(records.Size()) + 1;
            Page({A4Record(portrait), PageMarkup(n, portrait)});
        }
    }
    HRESULT Run()
    {
        EXPECT_EQ(filter->InitializeFilter(communicator.Get(), bag.Get(), control.Get()), S_OK);
        return filter->StartOperation();
    }
    std::vector<std::int32_t> PageNumbers()
    {
        std::vector<std::int32_t> numbers;
        for (auto* node = records.First(); node != records.End(); node = node->next)
            numbers.push_back(node->record.pageNumber);
        return numbers;
    }
    // Every sheet sent: its name, ticket, related parts and markup.
    std::string Sheets()
    {
        std::string out;
        for (const ComPtr<IFixedPage>& sheet : writer->pages) {
            out += "== " + PartNameOf(sheet.Get()) + "\nticket: " + TicketName(sheet.Get()) + "\nparts:";
            for (const std::string& name : RelatedNames(sheet.Get()))
                out += " " + name;
            out += "\n" + ContentOf(sheet.Get()) + "\n";
        }
        return out;
    }
};

using Calls = std::vector<std::string>;

// ---- The flow of a job ----------------------------------------------------------------

TEST(FinishingFilter, JobWithoutPagesOnlyClosesTheSender)
{
    CountedUuids uuids;
    FinishingJob j;
    j.NUp(4, 0);
    j.Begin();
    j.Document(1);
    EXPECT_EQ(j.Run(), S_OK);
    EXPECT_EQ(j.writer->calls, (Calls{"xps", "sequence /seq.fdseq", "document /Documents/1/doc.fdoc", "close"}));
    EXPECT_TRUE(j.control->shutdowns.empty());
}

TEST(FinishingFilter, PassThroughPutsThePagesOfEveryDocumentIntoTheFirstAndNumbersTheRecords)
{
    FinishingJob j;
    j.Begin();
    for (int d = 1; d <= 3; ++d) {
        j.Document(d);
        j.Pages(d);  // 1, 2 and 3 pages
    }
    EXPECT_EQ(j.Run(), S_OK);
    EXPECT_EQ(j.writer->calls,
              (Calls{"xps", "sequence /seq.fdseq", "document /Documents/1/doc.fdoc", "page /Documents/1/Pages/1.fpage",
                     "page /Documents/1/Pages/2.fpage", "page /Documents/1/Pages/3.fpage", "page /Documents/1/Pages/4.fpage",
                     "page /Documents/1/Pages/5.fpage", "page /Documents/1/Pages/6.fpage", "close"}));
    EXPECT_EQ(j.PageNumbers(), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ContentOf(j.writer->pages[0].Get()), PageMarkup(1));  // unchanged
}

TEST(FinishingFilter, DiscardControlPartsAreForwardedInPassThroughAndDroppedWhenImposing)
{
    struct Case {
        const char* what;
        bool publish;
        std::int32_t layout;
        Calls calls;
    };
    const Case cases[] = {
        {"pass-through", true, 0,
         {"xps", "unknown /early.discard", "sequence /seq.fdseq", "document /Documents/1/doc.fdoc",
          "page /Documents/1/Pages/1.fpage", "unknown /late.discard", "close"}},
        {"no records: pass-through", false, 2,
         {"xps", "unknown /early.discard", "sequence /seq.fdseq", "document /Documents/1/doc.fdoc",
          "page /Documents/1/Pages/1.fpage", "unknown /late.discard", "close"}},
        {"N-up", true, 2,
         {"xps", "sequence /seq.fdseq", "document /Documents/1/doc.fdoc",
          "page /NUpPage_00000001-0000-4000-8000-000000000000.xml", "close"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CountedUuids uuids;
        FinishingJob j(c.publish);
        if (c.layout == 2)
            j.NUp(2, 0);
        j.Begin("/early.discard");
        j.Document(1);
        j.Pages(1);
        j.reader->parts.push_back(Unknown(MakeDiscardControlPart(Core("/late.discard")).Get()));
        EXPECT_EQ(j.Run(), S_OK);
        EXPECT_EQ(j.writer->calls, c.calls);
    }
}

TEST(FinishingFilter, ImpositionsNotYetThereFailTheJobWithAReason)
{
    struct Case {
        std::int32_t layout;
        const char* description;
    };
    for (const Case& c : {Case{1, "booklet imposition not available"}, Case{3, "poster imposition not available"}}) {
        FinishingJob j;
        j.job.layoutMode = c.layout;
        j.Begin();
        j.Document(1);
        j.Pages(2);
        EXPECT_EQ(j.Run(), E_NOTIMPL);
        EXPECT_EQ(j.control->shutdowns, (std::vector<HRESULT>{E_NOTIMPL}));
        EXPECT_EQ(j.control->description, c.description);
        EXPECT_TRUE(j.writer->pages.empty());  // nothing passes through unimposed
    }
}

TEST(FinishingFilter, MalformedPageFailsTheJobAndSaysWhich)
{
    CountedUuids uuids;
    FinishingJob j;
    j.NUp(4, 0);
    j.Begin();
    j.Document(1);
    j.Pages(1);
    j.Page({A4Record(), "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\"></FixedPage>\n"});
    j.Pages(1);
    EXPECT_EQ(j.Run(), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_EQ(j.control->description, "the page /Documents/1/Pages/2.fpage cannot be imposed: its markup does not "
                                      "end with \"</FixedPage>\"");
    // The sheet open at that moment is still sent, with only the good page on it.
    ASSERT_EQ(j.writer->pages.size(), 1u);
    const std::string sheet = ContentOf(j.writer->pages[0].Get());
    EXPECT_NE(sheet.find("Name=\"P1\""), std::string::npos);
    EXPECT_EQ(sheet.find("</FixedPage>\n"), std::string::npos);
}

TEST(FinishingFilter, SheetThatCannotBeSentFailsTheJob)
{
    CountedUuids uuids;
    FinishingJob j;
    j.NUp(2, 0);
    j.writer->pageResult = E_ACCESSDENIED;
    j.Begin();
    j.Document(1);
    j.Pages(3);
    EXPECT_EQ(j.Run(), E_ACCESSDENIED);  // at the second page, when the first sheet is full
    EXPECT_EQ(j.writer->pages.size(), 1u);
}

// ---- Records kept in step -------------------------------------------------------------

TEST(FinishingFilter, EachSheetTakesItsFirstPagesRecordInTurn)
{
    CountedUuids uuids;
    FinishingJob j;
    j.NUp(4, 0);
    j.Begin();
    j.Document(1);
    for (int n = 1; n <= 9; ++n) {
        PageRecord r = A4Record();
        r.resolution = 100 * n;  // tells the records apart
        j.Page({r, PageMarkup(n)});
    }
    EXPECT_EQ(j.Run(), S_OK);
    EXPECT_EQ(j.writer->pages.size(), 3u);
    std::vector<std::int32_t> resolutions;
    for (auto* node = j.records.First(); node != j.records.End(); node = node->next)
        resolutions.push_back(node->record.resolution);
    EXPECT_EQ(j.PageNumbers(), (std::vector<std::int32_t>{1, 5, 9, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(resolutions, (std::vector<std::int32_t>{100, 500, 900, 400, 500, 600, 700, 800, 900}));
}

TEST(FinishingFilter, WithoutUuidsSheetsAreNamedByNumberAndNoPageIsLost)
{
    CountedUuids uuids;
    SetUuidStatusForTesting(RPC_S_UUID_NO_ADDRESS);
    FinishingJob j;
    j.NUp(2, 0);
    j.Begin();
    j.Document(1);
    j.Pages(3);
    EXPECT_EQ(j.Run(), S_OK);
    EXPECT_EQ(j.writer->calls, (Calls{"xps", "sequence /seq.fdseq", "document /Documents/1/doc.fdoc",
                                       "page /NUpPage_sheet-1.xml", "page /NUpPage_sheet-2.xml", "close"}));
    const std::string sheets = j.Sheets();
    for (const char* page : {"P1", "P2", "P3"})
        EXPECT_NE(sheets.find(std::string("Name=\"") + page + "\""), std::string::npos) << page;
}

// ---- Golden sheets ----------------------------------------------------------------------

ComPtr<IUnknown> Resource(ResourceKind kind, const std::string& name) { return MakeResourcePart(kind, Core(name, "x")); }

struct GoldenCase {
    const char* name;
    void (*build)(FinishingJob&);
};

const GoldenCase kGoldenCases[] = {
    // Two sheets; the second holds page 5 in its top-left cell and its full grid of lines.
    {"4up-5-portrait-pages-solid", [](FinishingJob& j) {
         j.NUp(4, 0, 1);
         j.Pages(5);
     }},
    // A landscape sheet, pages side by side, left then right.
    {"2up-right-bottom", [](FinishingJob& j) {
         j.NUp(2, 0);
         j.Pages(2);
     }},
    // The same, right then left.
    {"2up-left-bottom", [](FinishingJob& j) {
         j.NUp(2, 2);
         j.Pages(2);
     }},
    // A landscape second page: turned counter-clockwise for directions 0 and 1 ...
    {"2up-landscape-page-direction-0", [](FinishingJob& j) {
         j.NUp(2, 0);
         j.Pages(1);
         j.Pages(1, false);
     }},
    // ... and clockwise for 2 and 3.
    {"2up-landscape-page-direction-2", [](FinishingJob& j) {
         j.NUp(2, 2);
         j.Pages(1);
         j.Pages(1, false);
     }},
    // Page 3 on another sheet size closes the half-filled sheet and starts the next.
    {"4up-sheet-size-changes", [](FinishingJob& j) {
         j.NUp(4, 0, 1);
         j.Pages(2);
         j.Page({A3Record(), PageMarkup(3)});
     }},
    // Dashes on every line, the offset on the vertical lines only.
    {"4up-dashed", [](FinishingJob& j) {
         j.NUp(4, 1, 2);
         j.Pages(3);
     }},
    // A landscape job: 4-up on a turned sheet.
    {"4up-landscape-job-bottom-left", [](FinishingJob& j) {
         j.job.firstPagePortrait = 0;
         j.NUp(4, 3, 5);
         j.Pages(4, false);
     }},
    // Prefixed declarations of a page go onto its cell; the sheet takes the
    // first page's ticket and the related parts of all its pages but the thumbnail.
    {"2up-namespaces-tickets-parts", [](FinishingJob& j) {
         j.NUp(2, 0);
         SourcePage first{A4Record(), PageMarkup(1, true, "xmlns:x=\"urn:x\" xmlns:y='urn:y' ")};
         first.ticket = MakePrintTicketPart(Core("/Documents/1/Metadata/Page1_PT.xml", "<t/>"));
         first.related = {Resource(ResourceKind::Font, "/Resources/a.odttf"),
                          Resource(ResourceKind::Thumbnail, "/Metadata/thumb1.png")};
         j.Page(std::move(first));
         SourcePage second{A4Record(), PageMarkup(2)};
         second.ticket = MakePrintTicketPart(Core("/Documents/1/Metadata/Page2_PT.xml", "<t/>"));
         second.related = {Resource(ResourceKind::Image, "/Resources/b.png")};
         j.Page(std::move(second));
     }},
};

TEST(FinishingFilter, SheetsAreWrittenAsTheGoldenFilesSay)
{
    for (const GoldenCase& c : kGoldenCases) {
        SCOPED_TRACE(c.name);
        CountedUuids uuids;
        FinishingJob j;
        j.Begin();
        j.Document(1);
        c.build(j);
        ASSERT_EQ(j.Run(), S_OK) << j.control->description;
        const std::string got = j.Sheets();
        ExpectGolden(got, kData + c.name + ".txt");
    }
}

// Sheets written through small buffers and start-tag windows come out the same.
TEST(NUpImposer, SmallBuffersWriteTheSameSheets)
{
    auto sheets = [](std::size_t bufferSize) {
        CountedUuids uuids;
        ComPtr<FakeWriter> writer = MakeComObject<FakeWriter>();
        JobRecord job{};
        job.firstPagePortrait = 1;
        job.layoutMode = 2;
        job.layoutDetail[0] = 4;
        job.layoutDetail[3] = 2;
        PageRecordList records;
        for (int n = 1; n <= 6; ++n)
            records.Append(A4Record(n != 3));
        NUpImposer imposer(writer.Get(), job, records.First(), bufferSize);
        int n = 1;
        for (auto* node = records.First(); node != records.End(); node = node->next, ++n) {
            node->record.pageNumber = n;
            ComPtr<IFixedPage> page = MakeFixedPage(Core("/" + std::to_string(n) + ".fpage", PageMarkup(n, n != 3)), nullptr, {});
            EXPECT_EQ(imposer.AddPage(page.Get(), node->record), S_OK);
        }
        EXPECT_EQ(imposer.FinishSheet(), S_OK);
        EXPECT_EQ(imposer.SheetsSent(), 2u);
        std::string out;
        for (const auto& sheet : writer->pages)
            out += ContentOf(sheet.Get()) + "\n";
        return out;
    };
    const std::string expected = sheets(MarkupBuffer::kDefaultSize);
    for (const std::size_t size : {1u, 5u, 64u, 333u})
        EXPECT_EQ(sheets(size), expected) << "buffer " << size;
}

} // namespace
