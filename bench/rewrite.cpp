// zntr-bench-rewrite: the preprocess filter's page rewrite alone, page after
// page of a real document, against the floor of parsing the same pages with
// the same SAX reader and writing nothing.
//
// The package is read with the pipeline host's reader and model, and each
// FixedPage is made as the host makes it for the filters (a part that loads
// its bytes from the package when its stream is asked for, with its required
// resources as related parts). Then either
//   --floor  the page's read stream is parsed by the SAX reader into a
//            content handler that does nothing, or
//   default  RewriteFixedPage writes the page anew into its write stream,
//            with the placement for A4 portrait at 100 % (what an empty
//            ticket gives); the output is counted and dropped with the part.
// Only one page is held at a time, so peak memory should not depend on how
// many pages go through: --repeat K goes over the page list K times to show
// that it does not.
//
// usage: zntr-bench-rewrite [--floor] [--repeat K] INPUT.xps
// prints the number of pages handled on standard output (and, for the
// rewrite, the bytes written on standard error); exit status 0 on
// success, 1 when the package cannot be read or a page fails, 2 on a usage
// error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_nongdi/preprocess/page_rewriter.h"
#include "filter/framework/cxd_exception.h"
#include "filter/framework/inter_filter_records.h"
#include "platform/comobject.h"
#include "platform/msxml6.h"
#include "platform/objbase.h"
#include "platform/pipeline/host_parts.h"
#include "platform/pipeline/opc_package.h"
#include "platform/pipeline/xps_model.h"

namespace {

constexpr const char* kProgram = "zntr-bench-rewrite";

// Takes every event and does nothing with it.
class NullHandler final : public ComObject<ISAXContentHandler> {
public:
    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const WCHAR*, int, const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startElement(const WCHAR*, int, const WCHAR*, int, const WCHAR*, int,
                                           ISAXAttributes*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE endElement(const WCHAR*, int, const WCHAR*, int, const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE characters(const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE processingInstruction(const WCHAR*, int, const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE skippedEntity(const WCHAR*, int) override { return S_OK; }
};

// A4 portrait, no fit, 100 %: the page settings an empty ticket gives.
PageRecord A4Record(std::int32_t pageNumber)
{
    PageRecord r{};
    r.pageWidth = r.sheetWidth = 4960;
    r.pageHeight = r.sheetHeight = 7014;
    r.pageMarginX = r.pageMarginY = r.sheetMarginX = r.sheetMarginY = 100;
    r.pagePortrait = 1;
    r.pageNumber = pageNumber;
    r.resolution = 600;
    r.scalingPercent = 100;
    return r;
}

JobRecord PlainJob()
{
    JobRecord j{};
    j.firstPagePortrait = 1;
    return j;
}

PartCore CoreOf(const std::shared_ptr<const Package>& package, const std::string& name)
{
    PartCore core;
    core.name = name;
    core.contentType = package->ContentType(name);
    core.source = package;
    return core;
}

// The page part as the pipeline host hands it to the first filter.
ComPtr<IFixedPage> MakePage(const std::shared_ptr<const Package>& package, const PageModel& page)
{
    std::vector<ComPtr<IUnknown>> related;
    for (const std::string& r : page.resources) {
        PartCore core = CoreOf(package, r);
        const ResourceKind kind = ResourceKindFromContentType(core.contentType);
        related.push_back(MakeResourcePart(kind, std::move(core)));
    }
    if (!page.thumbnail.empty())
        related.push_back(MakeResourcePart(ResourceKind::Thumbnail, CoreOf(package, page.thumbnail)));
    PartCore core = CoreOf(package, page.name);
    core.extras = page.extras;
    core.pageContent = page.content;
    ComPtr<IPartPrintTicket> ticket;
    if (!page.printTicket.empty())
        ticket = MakePrintTicketPart(CoreOf(package, page.printTicket));
    return MakeFixedPage(std::move(core), std::move(ticket), std::move(related));
}

struct Totals {
    std::uint64_t pages = 0;
    std::uint64_t bytesOut = 0;
};

// Parses or rewrites one page; false (with a message) when it fails.
bool RunPage(const std::shared_ptr<const Package>& package, const PageModel& model, std::int32_t pageNumber, bool floor,
             ISAXContentHandler* nullHandler, Totals& totals)
{
    ComPtr<IFixedPage> page = MakePage(package, model);
    if (!page) {
        std::fprintf(stderr, "%s: %s: out of memory\n", kProgram, model.name.c_str());
        return false;
    }
    std::string reason;
    HRESULT hr = S_OK;
    if (floor) {
        hr = CallGuarded([&] {
            ComPtr<IPrintReadStream> input;
            ThrowIfFailed(page->GetStream(input.ReleaseAndGetAddressOf()));
            return ParseWithHandler(input.Get(), nullHandler, reason);
        });
    } else {
        const JobRecord job = PlainJob();
        const PageRecord record = A4Record(pageNumber);
        hr = CallGuarded([&] { return RewriteFixedPage(page.Get(), job, record, {}, reason); });
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s: %s: failed (0x%08X)%s%s\n", kProgram, model.name.c_str(), static_cast<unsigned>(hr),
                     reason.empty() ? "" : ": ", reason.c_str());
        return false;
    }
    ++totals.pages;
    if (!floor) {
        const ComPtr<IHostPart> host = HostPartOf(page.Get());
        const std::shared_ptr<const Bytes> written = host ? host->WrittenContent() : nullptr;
        if (!written || written->empty()) {
            std::fprintf(stderr, "%s: %s: the rewrite wrote nothing\n", kProgram, model.name.c_str());
            return false;
        }
        totals.bytesOut += written->size();
    }
    // The page, its bytes and what was written go here, before the next one.
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: %s [--floor] [--repeat K] INPUT.xps\n", kProgram);
    return 2;
}

int Run(const std::string& path, bool floor, unsigned long repeat)
{
    const std::shared_ptr<const Package> package = Package::Open(path);
    const PackageModel model = ReadPackageModel(*package);

    ComPtr<NullHandler> nullHandler = MakeComObject<NullHandler>();
    if (!nullHandler)
        return 1;
    Totals totals;
    for (unsigned long round = 0; round < repeat; ++round) {
        std::int32_t pageNumber = 0;
        for (const DocumentModel& document : model.documents) {
            for (const PageModel& page : document.pages) {
                if (!RunPage(package, page, ++pageNumber, floor, nullHandler.Get(), totals))
                    return 1;
            }
        }
    }
    if (!floor)
        std::fprintf(stderr, "%s: %llu pages rewritten, %llu bytes written\n", kProgram,
                     static_cast<unsigned long long>(totals.pages), static_cast<unsigned long long>(totals.bytesOut));
    std::printf("%llu\n", static_cast<unsigned long long>(totals.pages));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool floor = false;
    unsigned long repeat = 1;
    const char* input = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--floor") {
            floor = true;
        } else if (arg == "--repeat") {
            if (++i == argc)
                return Usage();
            char* end = nullptr;
            repeat = std::strtoul(argv[i], &end, 10);
            if (*argv[i] < '1' || *argv[i] > '9' || *end != '\0' || repeat == 0 || repeat > 1000000)
                return Usage();
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage();
        } else if (input) {
            return Usage();
        } else {
            input = argv[i];
        }
    }
    if (!input)
        return Usage();

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "%s: cannot enter COM\n", kProgram);
        return 1;
    }
    int status = 1;
    try {
        status = Run(input, floor, repeat);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, input, e.what());
    }
    CoUninitialize();
    return status;
}
