// The pipeline host: package reading, the structure it hands out, and jobs
// through real filter libraries.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <iterator>

#include "platform/pipeline/host_parts.h"
#include "platform/pipeline/pipeline_manager.h"
#include "platform/stringapiset.h"
#include "platform/winspool.h"
#include "platform/pipeline/xps_model.h"
#include "xps_fixture.h"

namespace {

TEST(ResolvePartUri, ResolvesAgainstTheReferringPart)
{
    struct Case {
        const char* source;
        const char* uri;
        const char* expected;  // null: escapes the root
    };
    const Case cases[] = {
        {"/Documents/1/FixedDocument.fdoc", "Pages/1.fpage", "/Documents/1/Pages/1.fpage"},
        {"/Documents/1/Pages/1.fpage", "../../../Resources/Image%201.png", "/Resources/Image 1.png"},
        {"/Documents/1/Pages/1.fpage", "/Resources/a.odttf#frag", "/Resources/a.odttf"},
        {"/", "FixedDocumentSequence.fdseq", "/FixedDocumentSequence.fdseq"},
        {"/a/b.fpage", "./c/../d.png", "/a/d.png"},
        {"/a/b.fpage", "../../x.png", nullptr},
        {"/", "../x", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " + " + c.uri);
        if (c.expected)
            EXPECT_EQ(ResolvePartUri(c.source, c.uri), c.expected);
        else
            EXPECT_THROW(ResolvePartUri(c.source, c.uri), PackageError);
    }
}

TEST(Package, FindsPartsWhateverTheirSpellingAndJoinsInterleavedPieces)
{
    TempFolder tmp;
    const std::string path = tmp / "p.zip";
    WriteZip(path, {{"[Content_Types].xml",
                     "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                     "<Default Extension=\"BIN\" ContentType=\"application/x-one\"/>"
                     "<Override PartName=\"/Data/Two.bin\" ContentType=\"application/x-two\"/></Types>"},
                    {"Data/One.bin/[1].last.piece", "world"},
                    {"Data/One.bin/[0].piece", "hello "},
                    {"Data/Two.bin", "2"},
                    {"Fonts/a%20b.odttf", "f"}});
    const auto package = Package::Open(path);
    EXPECT_EQ(package->ReadPart("/data/one.BIN"), Bytes({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}));
    EXPECT_EQ(package->PartName("/data/one.bin"), "/Data/One.bin");
    EXPECT_EQ(package->ContentType("/Data/One.bin"), "application/x-one");
    EXPECT_EQ(package->ContentType("/data/two.bin"), "application/x-two");
    EXPECT_EQ(package->ContentType("/Fonts/a b.odttf"), "application/vnd.ms-package.obfuscated-opentype");  // inferred
    EXPECT_TRUE(package->HasPart("/Fonts/a b.odttf"));
    EXPECT_THROW(package->ReadPart("/missing"), PackageError);
}

TEST(Package, RefusesDamagedOrHostilePackages)
{
    struct Case {
        const char* what;
        Entries entries;
        const char* message;
    };
    const Case cases[] = {
        {"piece missing", {{"a.bin/[0].piece", "x"}, {"a.bin/[2].last.piece", "y"}}, "missing or misplaced pieces"},
        {"no last piece", {{"a.bin/[0].piece", "x"}}, "missing or misplaced pieces"},
        {"dot segment", {{"a/./b.bin", "x"}}, "invalid part name"},
        {"parent segment", {{"a/../../b.bin", "x"}}, "escapes the package root"},
        {"same name, other case", {{"A.bin", "x"}, {"a.BIN", "y"}}, "duplicate part name"},
        {"same name, encoded", {{"a b.bin", "x"}, {"a%20b.bin", "y"}}, "duplicate part name"},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = tmp / "bad.zip";
        WriteZip(path, c.entries);
        try {
            Package::Open(path);
            ADD_FAILURE() << "opened";
        } catch (const PackageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    const std::string big = tmp / "big.zip";
    WriteZip(big, {{"zeros.bin", std::string(100000, '\0')}});
    EXPECT_THROW(Package::Open(big, PackageLimits{99999}), PackageError);
    EXPECT_NO_THROW(Package::Open(big, PackageLimits{100000}));
}

TEST(PackageModel, ReadsTheStructureWithTicketsAndResources)
{
    TempFolder tmp;
    WriteZip(tmp / "in.xps", TwoPageXps());
    const auto package = Package::Open(tmp / "in.xps");
    const PackageModel model = ReadPackageModel(*package);
    EXPECT_EQ(model.flavour, &XpsFlavour::Original());
    EXPECT_EQ(model.sequenceName, "/FixedDocumentSequence.fdseq");
    EXPECT_EQ(model.sequencePrintTicket, "/Metadata/Job_PT.xml");
    ASSERT_EQ(model.documents.size(), 1u);
    const DocumentModel& doc = model.documents[0];
    EXPECT_EQ(doc.printTicket, "/Documents/1/Doc_PT.xml");
    ASSERT_EQ(doc.pages.size(), 2u);
    EXPECT_EQ(doc.pages[0].name, "/Documents/1/Pages/1.fpage");
    EXPECT_EQ(doc.pages[0].resources, std::vector<std::string>{"/Resources/Image 1.png"});
    EXPECT_EQ(doc.pages[0].printTicket, "/Documents/1/Page_PT.xml");
    EXPECT_EQ(doc.pages[0].content.rest, " xmlns=\"http://schemas.microsoft.com/xps/2005/06\" Width=\"96\"/>");
    EXPECT_TRUE(doc.pages[1].printTicket.empty());
    ASSERT_EQ(model.packageExtras.size(), 1u);
    EXPECT_EQ(model.packageExtras[0].target, "/docProps/core.xml");
    EXPECT_EQ(model.discardControl, "/Discard.xml");

    ComPtr<IPartDiscardControl> discard = MakeDiscardControlPart(PartCore{"/Discard.xml", "", package, nullptr, {}, {}});
    BSTR sentinel = nullptr;
    BSTR target = nullptr;
    ASSERT_EQ(discard->GetDiscardProperties(&sentinel, &target), S_OK);
    EXPECT_EQ(std::u16string(sentinel), u"/Documents/1/Pages/2.fpage");
    EXPECT_EQ(std::u16string(target), u"/Resources/Image 1.png");
    SysFreeString(sentinel);
    SysFreeString(target);
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

PipelineFilterEntry Filter(const std::string& name, const std::string& library, const char* clsid)
{
    return PipelineFilterEntry{name, std::string(ZNTR_BUILD_DIR) + "/" + library, *ParseGuid(std::string_view(clsid))};
}

std::vector<PipelineFilterEntry> DriverFilters()
{
    return LoadPipelineConfig(std::string(ZNTR_BUILD_DIR) + "/zntr-pipeline.xml");
}

const char* kFailingClsid = "{5E0B7C1A-0F47-4D8B-9C52-1A3E6F7D8B01}";
const char* kWaitingClsid = "{5E0B7C1A-0F47-4D8B-9C52-1A3E6F7D8B02}";
const char* kCopyingClsid = "{5E0B7C1A-0F47-4D8B-9C52-1A3E6F7D8B03}";
const char* kQuittingClsid = "{5E0B7C1A-0F47-4D8B-9C52-1A3E6F7D8B04}";
const char* kUnclosedClsid = "{5E0B7C1A-0F47-4D8B-9C52-1A3E6F7D8B05}";

// The two-page package, to be printed through the driver's filters into
// out.xps, with the machine's state (the printers) in the temporary folder.
struct JobFixture {
    TempFolder tmp;
    JobOptions job;
    JobFixture()
    {
        setenv("ZNTR_STATE_DIR", (tmp / "state").c_str(), 1);
        WriteZip(tmp / "in.xps", TwoPageXps());
        job.input = tmp / "in.xps";
        job.output = tmp / "out.xps";
        job.filters = DriverFilters();
    }
};

// The second page of TwoPageXps as the preprocess filter writes it: A4, the
// content clipped to its own 96 x 96.
const std::string kRewrittenSecondPage =
    "<FixedPage xmlns=\"http://schemas.microsoft.com/xps/2005/06\"  Width=\"793.600000\" Height=\"1122.240000\">"
    "<Canvas Clip=\"M0,0L96.000000,0L96.000000,96.000000L0,96.000000Z\">"
    "<Path Data=\"M 10,10 L 50,10 50,50 Z\" Fill=\"#FF000000\"></Path></Canvas></FixedPage>";

std::string ToString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(PrintJob, PassesThePackageThroughTheDriverFilters)
{
    JobFixture f;
    TempFolder& tmp = f.tmp;
    JobOptions& job = f.job;
    job.queueCapacity = 1;  // the smallest hand-over: every send waits for the next filter
    std::vector<std::size_t> written;
    job.progress = [&](const JobProgress& p) {
        EXPECT_EQ(p.pagesTotal, 2u);
        if (written.empty() || written.back() != p.sheetsWritten)
            written.push_back(p.sheetsWritten);
    };
    const JobResult result = RunPrintJob(job);
    ASSERT_EQ(result.hr, S_OK) << result.message;
    EXPECT_EQ(result.pagesRead, 2u);
    EXPECT_EQ(result.pagesWritten, 2u);
    EXPECT_EQ(written, (std::vector<std::size_t>{0, 1, 2}));

    const auto in = Package::Open(tmp / "in.xps");
    const auto out = Package::Open(tmp / "out.xps");
    const PackageModel model = ReadPackageModel(*out);
    EXPECT_EQ(model.sequencePrintTicket, "/Metadata/Job_PT.xml");
    ASSERT_EQ(model.documents.size(), 1u);
    EXPECT_EQ(model.documents[0].printTicket, "/Documents/1/Doc_PT.xml");
    ASSERT_EQ(model.documents[0].pages.size(), 2u);
    EXPECT_EQ(model.documents[0].pages[0].resources, std::vector<std::string>{"/Resources/Image 1.png"});
    EXPECT_EQ(model.documents[0].pages[0].printTicket, "/Documents/1/Page_PT.xml");
    EXPECT_EQ(model.documents[0].pages[0].content.rest, " xmlns=\"http://schemas.microsoft.com/xps/2005/06\" Width=\"96\"/>");
    EXPECT_EQ(model.packageExtras.size(), 1u);
    EXPECT_EQ(model.discardControl, "/Discard.xml");
    for (const char* part : {"/Resources/Image 1.png", "/docProps/core.xml", "/Metadata/Job_PT.xml"})
        EXPECT_EQ(out->ReadPart(part), in->ReadPart(part)) << part;
    // The preprocess filter writes every page anew, at the ticket's size.
    EXPECT_EQ(ToString(out->ReadPart("/Documents/1/Pages/2.fpage")), kRewrittenSecondPage);
    EXPECT_EQ(out->ContentType("/docProps/core.xml"), "application/vnd.openxmlformats-package.core-properties+xml");
    EXPECT_EQ(out->ContentType("/Resources/Image 1.png"), "image/png");

    // The same job gives the same bytes.
    job.output = tmp / "again.xps";
    job.progress = nullptr;
    ASSERT_EQ(RunPrintJob(job).hr, S_OK);
    EXPECT_EQ(ReadFile(tmp / "out.xps"), ReadFile(tmp / "again.xps"));
}

TEST(PrintJob, NewPagesCarryTheResourcesAndTicketsGivenThem)
{
    JobFixture f;
    TempFolder& tmp = f.tmp;
    JobOptions& job = f.job;
    const std::string probeTicket = "<!-- probe -->" + Ticket("JobCopiesAllDocuments", "Three");
    job.filters.insert(job.filters.begin() + 1, Filter("copying", "libZNTRTestCopyingFilter.so", kCopyingClsid));
    job.userTicket.assign(probeTicket.begin(), probeTicket.end());
    job.printerName = u"probe-printer";
    {
        PRINTER_INFO_1W info{0, nullptr, const_cast<LPWSTR>(u"probe-printer"), nullptr};
        HANDLE printer = AddPrinterW(nullptr, 1, reinterpret_cast<LPBYTE>(&info));
        ASSERT_NE(printer, nullptr);
        DWORD probe = 0x5150;
        ASSERT_EQ(SetPrinterDataW(printer, const_cast<LPWSTR>(u"Probe"), REG_DWORD, reinterpret_cast<LPBYTE>(&probe), sizeof probe),
                  ERROR_SUCCESS);
        ClosePrinter(printer);
    }
    job.jobId = 57;
    const JobResult result = RunPrintJob(job);
    ASSERT_EQ(result.hr, S_OK) << result.message;

    const auto in = Package::Open(tmp / "in.xps");
    const auto out = Package::Open(tmp / "out.xps");
    const PackageModel model = ReadPackageModel(*out);
    ASSERT_EQ(model.documents.size(), 1u);
    const auto& pages = model.documents[0].pages;
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].name, "/copy_1.fpage");
    EXPECT_EQ(pages[0].resources, std::vector<std::string>{"/Resources/Image 1.png"});
    EXPECT_EQ(pages[0].printTicket, "/Documents/1/Page_PT.xml");
    EXPECT_EQ(ToString(out->ReadPart("/copy_2.fpage")), kRewrittenSecondPage);
    // The pages that were replaced do not come back.
    EXPECT_FALSE(out->HasPart("/Documents/1/Pages/1.fpage"));
    EXPECT_FALSE(out->HasPart("/Documents/1/Pages/_rels/1.fpage.rels"));
}

TEST(PrintJob, FailureNamesFilterPartAndCodeAndLeavesNoOutput)
{
    JobFixture f;
    TempFolder& tmp = f.tmp;
    JobOptions& job = f.job;
    job.filters.insert(job.filters.begin() + 1, Filter("failing", "libZNTRTestFailingFilter.so", kFailingClsid));
    const JobResult result = RunPrintJob(job);
    EXPECT_EQ(result.hr, static_cast<HRESULT>(0x80041234));
    EXPECT_EQ(result.message, "filter failing failed on part /Documents/1/Pages/2.fpage: HRESULT 0x80041234");
    EXPECT_FALSE(std::filesystem::exists(tmp / "out.xps"));
    EXPECT_FALSE(std::filesystem::exists(tmp / "out.xps.partial"));
}

TEST(PrintJob, FiltersStillWaitingAreStoppedOnceTheOutputIsClosed)
{
    // A filter that waits to be stopped after closing its sender, first or last.
    for (const bool last : {false, true}) {
        SCOPED_TRACE(last ? "last" : "first");
        JobFixture f;
        JobOptions& job = f.job;
        job.filters.insert(last ? job.filters.end() : job.filters.begin(),
                           Filter("waiting", "libZNTRTestWaitingFilter.so", kWaitingClsid));
        const JobResult result = RunPrintJob(job);
        EXPECT_EQ(result.hr, S_OK) << result.message;
        EXPECT_TRUE(std::filesystem::exists(f.tmp / "out.xps"));
    }
}

TEST(PrintJob, PageSentBeforeItsStreamIsClosedFailsTheJob)
{
    // Its new markup is not complete yet: neither the old nor a partial page may go on.
    for (const bool last : {false, true}) {
        SCOPED_TRACE(last ? "last" : "in the middle");
        JobFixture f;
        JobOptions& job = f.job;
        job.filters.insert(last ? job.filters.end() : job.filters.begin() + 1,
                           Filter("unclosed", "libZNTRTestUnclosedFilter.so", kUnclosedClsid));
        const JobResult result = RunPrintJob(job);
        EXPECT_EQ(result.hr, last ? STG_E_WRITEFAULT : E_UNEXPECTED);
        EXPECT_NE(result.message.find("filter unclosed failed on part /Documents/1/Pages/1.fpage"), std::string::npos)
            << result.message;
        EXPECT_FALSE(std::filesystem::exists(f.tmp / "out.xps"));
    }
}

TEST(PrintJob, FilterEndingEarlyDoesNotHoldUpTheOnesBefore)
{
    JobFixture f;
    JobOptions& job = f.job;
    job.filters.insert(job.filters.begin() + 1, Filter("quitting", "libZNTRTestQuittingFilter.so", kQuittingClsid));
    job.queueCapacity = 1;  // the page the quitter never reads would fill the hand-over
    const JobResult result = RunPrintJob(job);
    EXPECT_EQ(result.hr, S_OK) << result.message;
    EXPECT_EQ(result.pagesWritten, 1u);
}

TEST(PrintJob, ProgressCountsPagesReadAndSheetsWrittenApart)
{
    struct Case {
        const char* what;
        bool first;  // where the test filter goes: before the driver's filters or after them
        const char* library;
        const char* clsid;
        HRESULT hr;
        std::size_t read;
        std::size_t written;
    };
    const Case cases[] = {
        {"the driver's filters alone", true, nullptr, nullptr, S_OK, 2, 2},
        // The first filter stops after one page: the second is never read.
        {"first filter reads one page", true, "libZNTRTestQuittingFilter.so", kQuittingClsid, S_OK, 1, 1},
        // The last filter writes the first page and fails on the second: read, not written.
        {"last filter writes one page", false, "libZNTRTestFailingFilter.so", kFailingClsid, static_cast<HRESULT>(0x80041234), 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JobFixture f;
        JobOptions& job = f.job;
        if (c.library)
            job.filters.insert(c.first ? job.filters.begin() : job.filters.end(), Filter("test", c.library, c.clsid));
        job.queueCapacity = 1;
        std::vector<JobProgress> reports;
        job.progress = [&](const JobProgress& p) { reports.push_back(p); };
        const JobResult result = RunPrintJob(job);
        EXPECT_EQ(result.hr, c.hr) << result.message;
        EXPECT_EQ(result.pagesRead, c.read);
        EXPECT_EQ(result.pagesWritten, c.written);

        // One report for every page read and every sheet written, each one
        // step on from the one before, and the last at the job's totals.
        ASSERT_EQ(reports.size(), c.read + c.written);
        JobProgress before;
        for (const JobProgress& p : reports) {
            EXPECT_EQ(p.pagesTotal, 2u);
            EXPECT_EQ((p.pagesRead - before.pagesRead) + (p.sheetsWritten - before.sheetsWritten), 1u)
                << "from " << before.pagesRead << "/" << before.sheetsWritten << " to " << p.pagesRead << "/" << p.sheetsWritten;
            EXPECT_GE(p.pagesRead, before.pagesRead);
            EXPECT_GE(p.sheetsWritten, before.sheetsWritten);
            EXPECT_LE(p.sheetsWritten, p.pagesRead);  // no sheet before its page is read
            before = p;
        }
        EXPECT_EQ(before.pagesRead, c.read);
        EXPECT_EQ(before.sheetsWritten, c.written);
    }
}

// The JSON lines the record inspector wrote.
std::vector<std::string> DumpedRecords(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

PipelineFilterEntry Inspector()
{
    return Filter("record-inspector", "libZNTRRecordInspector.so", "{3F6C2E71-8A0B-4D29-B5E4-7C1D9A2F6B30}");
}

TEST(PrintJob, RecordsReachTheLastFilterOnePerPage)
{
    JobFixture f;
    JobOptions& job = f.job;
    job.jobId = 57;
    job.filters.insert(job.filters.end() - 1, Inspector());
    job.recordDumpPath = Utf8ToWide(f.tmp / "records.jsonl");
    const JobResult result = RunPrintJob(job);
    ASSERT_EQ(result.hr, S_OK) << result.message;
    EXPECT_TRUE(result.leftInBag.empty());  // the last filter took both records out

    const std::vector<std::string> lines = DumpedRecords(f.tmp / "records.jsonl");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with("{\"record\":\"job\",\"published\":true,\"firstPagePortrait\":")) << lines[0];
    EXPECT_NE(lines[0].find("\"layoutDetail\":[0,0,0,0]}"), std::string::npos) << lines[0];
    for (int page = 1; page <= 2; ++page) {
        const std::string& line = lines[static_cast<std::size_t>(page)];
        EXPECT_TRUE(line.starts_with("{\"record\":\"page\",\"page\":" + std::to_string(page) + ",\"pageWidth\":")) << line;
        EXPECT_NE(line.find("\"pageNumber\":" + std::to_string(page) + ","), std::string::npos) << line;
        EXPECT_TRUE(line.ends_with(",\"landscapeReversed\":0}")) << line;
    }
}

TEST(PrintJob, APageThatFailsHasNoRecord)
{
    JobFixture f;
    // The second page's ticket is XML but no PrintTicket: its merge fails and ends the job.
    Entries entries = TwoPageXps();
    entries.emplace_back("Documents/1/Pages/_rels/2.fpage.rels", Rels(Rel("T", kXps + "/printticket", "/Bad_PT.xml")));
    entries.emplace_back("Bad_PT.xml", "<NotATicket/>");
    WriteZip(f.tmp / "in.xps", entries);
    JobOptions& job = f.job;
    job.filters.insert(job.filters.end() - 1, Inspector());
    job.recordDumpPath = Utf8ToWide(f.tmp / "records.jsonl");
    const JobResult result = RunPrintJob(job);
    EXPECT_EQ(result.hr, static_cast<HRESULT>(0x80040005)) << result.message;  // the delta ticket is not valid
    EXPECT_NE(result.message.find("filter preprocess failed on part /Documents/1/Pages/2.fpage"), std::string::npos);
    const std::vector<std::string> lines = DumpedRecords(f.tmp / "records.jsonl");
    ASSERT_EQ(lines.size(), 2u);  // the job and the first page only
    EXPECT_NE(lines[1].find("\"pageNumber\":1,"), std::string::npos);
}

TEST(PrintJob, WithoutTheLastFilterTheJobStillEndsAndSaysWhatWasLeft)
{
    JobFixture f;
    JobOptions& job = f.job;
    job.jobId = 7;
    job.filters.pop_back();  // nothing takes the records out or signals the end of the job
    const JobResult result = RunPrintJob(job);
    ASSERT_EQ(result.hr, S_OK) << result.message;
    EXPECT_EQ(result.leftInBag, (std::vector<std::string>{"HALVANE-JobProperty-7", "HALVANE-PageProperty-7"}));
}

TEST(PrintJob, BadSetupIsReportedNotThrown)
{
    TempFolder tmp;
    WriteZip(tmp / "in.xps", TwoPageXps());
    struct Case {
        const char* what;
        std::vector<PipelineFilterEntry> filters;
        const char* message;
    };
    const Case cases[] = {
        {"no filters", {}, "no filters"},
        {"missing library", {Filter("gone", "libNoSuchFilter.so", kFailingClsid)}, "cannot load filter gone"},
        {"wrong class", {Filter("wrong", "libZNTRFilterRotation.so", kFailingClsid)}, "cannot create filter wrong"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JobOptions job;
        job.input = tmp / "in.xps";
        job.output = tmp / "out.xps";
        job.filters = c.filters;
        const JobResult result = RunPrintJob(job);
        EXPECT_TRUE(FAILED(result.hr));
        EXPECT_NE(result.message.find(c.message), std::string::npos) << result.message;
        EXPECT_FALSE(std::filesystem::exists(tmp / "out.xps"));
    }
}

} // namespace
