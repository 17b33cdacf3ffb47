#include "platform/pipeline/pipeline_manager.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/libloaderapi.h"
#include "platform/pipeline/host_guard.h"
#include "platform/pipeline/package_writer.h"
#include "platform/pipeline/xml_util.h"
#include "platform/stringapiset.h"
#include "platform/synchapi.h"
#include "platform/winspool.h"

namespace {

std::string Hex(HRESULT hr)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

JobResult Failed(HRESULT hr, std::string message)
{
    JobResult result;
    result.hr = hr;
    result.message = std::move(message);
    return result;
}

// Remembers the last part a filter was given, for the job's error message.
class PartTrail {
public:
    void Saw(IUnknown* part)
    {
        std::string name = PartNameOf(part);
        if (name.empty()) {
            ComPtr<IXpsDocument> doc;
            name = part && SUCCEEDED(part->QueryInterface(doc.ReleaseAndGetAddressOf())) ? "the XPS document" : "a part";
        }
        std::lock_guard guard(lock_);
        last_ = std::move(name);
    }
    std::string Last() const
    {
        std::lock_guard guard(lock_);
        return last_;
    }

private:
    mutable std::mutex lock_;
    std::string last_;
};

// ---- Hand-over between two filters ---------------------------------------------

class PartChannel {
public:
    explicit PartChannel(std::size_t capacity) : capacity_(capacity ? capacity : 1) {}

    HRESULT Push(IUnknown* part)
    {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return parts_.size() < capacity_ || state_ == State::Drained || state_ == State::Cancelled; });
        switch (state_) {
        case State::Drained: return S_OK;  // nobody reads any more: the part goes nowhere
        case State::Cancelled: return HRESULT_FROM_WIN32(ERROR_CANCELLED);
        case State::Closed: return E_UNEXPECTED;  // sent after CloseSender
        case State::Open: break;
        }
        parts_.emplace_back(part);
        changed_.notify_all();
        return S_OK;
    }

    // S_OK with the next part, or with null once the sender has closed.
    HRESULT Pop(ComPtr<IUnknown>* part)
    {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] { return !parts_.empty() || state_ != State::Open; });
        if (state_ == State::Cancelled)
            return HRESULT_FROM_WIN32(ERROR_CANCELLED);
        if (parts_.empty() || state_ == State::Drained) {
            part->Reset();
            return S_OK;
        }
        *part = std::move(parts_.front());
        parts_.pop_front();
        changed_.notify_all();
        return S_OK;
    }

    // The sender is done: the reader gets what is queued, then the end.
    void Close() { Move(State::Closed); }
    // The job failed: sends and reads both fail from now on.
    void Cancel() { Move(State::Cancelled); }
    // The reader is gone or the job is over: sends are dropped without
    // blocking and reads see the end of the document.
    void Drain() { Move(State::Drained); }

private:
    enum class State { Open, Closed, Drained, Cancelled };

    void Move(State to)
    {
        std::lock_guard guard(lock_);
        // Closing only ends an open channel; draining and cancelling are final.
        if (state_ == State::Drained || state_ == State::Cancelled || (to == State::Closed && state_ != State::Open))
            return;
        state_ = to;
        if (to != State::Closed)
            parts_.clear();
        changed_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<ComPtr<IUnknown>> parts_;
    std::size_t capacity_;
    State state_ = State::Open;
};

class ChannelConsumer final : public ComObject<IXpsDocumentConsumer> {
public:
    explicit ChannelConsumer(std::shared_ptr<PartChannel> channel) : channel_(std::move(channel)) {}

    HRESULT STDMETHODCALLTYPE SendXpsUnknown(IUnknown* p) override { return Send(p); }
    HRESULT STDMETHODCALLTYPE SendXpsDocument(IXpsDocument* p) override { return Send(p); }
    HRESULT STDMETHODCALLTYPE SendFixedDocumentSequence(IFixedDocumentSequence* p) override { return Send(p); }
    HRESULT STDMETHODCALLTYPE SendFixedDocument(IFixedDocument* p) override { return Send(p); }
    HRESULT STDMETHODCALLTYPE SendFixedPage(IFixedPage* p) override { return Send(p); }

    HRESULT STDMETHODCALLTYPE CloseSender() override
    {
        channel_->Close();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetNewEmptyPart(LPCWSTR uri, REFIID riid, void** ppNewObject,
                                              IPrintWriteStream** ppWriteStream) override
    {
        return MakeEmptyPart(uri, riid, ppNewObject, ppWriteStream);
    }

private:
    HRESULT Send(IUnknown* part)
    {
        if (!part)
            return E_POINTER;
        return HostGuard([&] {
            if (const ComPtr<IHostPart> host = HostPartOf(part); host && host->WriterOpen())
                return E_UNEXPECTED;  // sent before its write stream was closed
            return channel_->Push(part);
        });
    }

    std::shared_ptr<PartChannel> channel_;
};

class ChannelProvider final : public ComObject<IXpsDocumentProvider> {
public:
    ChannelProvider(std::shared_ptr<PartChannel> channel, PartTrail& trail) : channel_(std::move(channel)), trail_(trail) {}

    HRESULT STDMETHODCALLTYPE GetXpsPart(IUnknown** ppIUnknown) override
    {
        if (!ppIUnknown)
            return E_POINTER;
        *ppIUnknown = nullptr;
        return HostGuard([&] {
            ComPtr<IUnknown> part;
            const HRESULT hr = channel_->Pop(&part);
            if (SUCCEEDED(hr) && part)
                trail_.Saw(part.Get());
            *ppIUnknown = part.Detach();
            return hr;
        });
    }

private:
    std::shared_ptr<PartChannel> channel_;
    PartTrail& trail_;
};

// ---- The input package as the first filter's reader -------------------------------

class PackageProvider final : public ComObject<IXpsDocumentProvider> {
public:
    // onPage: called for every FixedPage handed out, before the filter gets it.
    PackageProvider(std::shared_ptr<const Package> package, const PackageModel& model, PartTrail& trail,
                    std::function<void()> onPage)
        : package_(std::move(package)), model_(model), trail_(trail), onPage_(std::move(onPage))
    {
    }

    HRESULT STDMETHODCALLTYPE GetXpsPart(IUnknown** ppIUnknown) override
    {
        if (!ppIUnknown)
            return E_POINTER;
        *ppIUnknown = nullptr;
        return HostGuard([&] {
            bool isPage = false;
            ComPtr<IUnknown> part = Next(&isPage);
            if (part)
                trail_.Saw(part.Get());
            if (isPage && onPage_)
                onPage_();
            *ppIUnknown = part.Detach();
            return S_OK;
        });
    }

private:
    PartCore Core(const std::string& name) const
    {
        PartCore core;
        core.name = name;
        core.contentType = package_->ContentType(name);
        core.source = package_;
        return core;
    }

    ComPtr<IPartPrintTicket> Ticket(const std::string& name) const
    {
        return name.empty() ? ComPtr<IPartPrintTicket>() : MakePrintTicketPart(Core(name));
    }

    template <class I>
    static ComPtr<IUnknown> AsUnknown(const ComPtr<I>& p)
    {
        return ComPtr<IUnknown>(static_cast<IUnknown*>(p.Get()));
    }

    // The next part, null at the end; *isPage tells a FixedPage.
    ComPtr<IUnknown> Next(bool* isPage)
    {
        switch (stage_) {
        case Stage::Document: {
            stage_ = model_.discardControl.empty() ? Stage::Sequence : Stage::Discard;
            ComPtr<IPartThumbnail> thumbnail;
            if (!model_.thumbnail.empty())
                MakeResourcePart(ResourceKind::Thumbnail, Core(model_.thumbnail)).As(&thumbnail);
            PartCore core;
            core.name = "/";
            core.extras = model_.packageExtras;
            return AsUnknown(MakeXpsDocument(thumbnail, std::move(core)));
        }
        case Stage::Discard:
            stage_ = Stage::Sequence;
            return AsUnknown(MakeDiscardControlPart(Core(model_.discardControl)));
        case Stage::Sequence: {
            stage_ = Stage::Documents;
            PartCore core = Core(model_.sequenceName);
            core.extras = model_.sequenceExtras;
            return AsUnknown(MakeFixedDocumentSequence(std::move(core), Ticket(model_.sequencePrintTicket)));
        }
        case Stage::Documents:
            break;
        }
        while (document_ < model_.documents.size()) {
            const DocumentModel& doc = model_.documents[document_];
            if (!documentSent_) {
                documentSent_ = true;
                PartCore core = Core(doc.name);
                core.extras = doc.extras;
                return AsUnknown(MakeFixedDocument(std::move(core), Ticket(doc.printTicket)));
            }
            if (page_ < doc.pages.size()) {
                *isPage = true;
                return AsUnknown(MakePage(doc.pages[page_++]));
            }
            ++document_;
            page_ = 0;
            documentSent_ = false;
        }
        return {};
    }

    ComPtr<IFixedPage> MakePage(const PageModel& page) const
    {
        std::vector<ComPtr<IUnknown>> related;
        for (const std::string& r : page.resources) {
            PartCore core = Core(r);
            const ResourceKind kind = ResourceKindFromContentType(core.contentType);
            related.push_back(MakeResourcePart(kind, std::move(core)));
        }
        if (!page.thumbnail.empty())
            related.push_back(MakeResourcePart(ResourceKind::Thumbnail, Core(page.thumbnail)));
        PartCore core = Core(page.name);
        core.extras = page.extras;
        core.pageContent = page.content;
        return MakeFixedPage(std::move(core), Ticket(page.printTicket), std::move(related));
    }

    enum class Stage { Document, Discard, Sequence, Documents };
    std::shared_ptr<const Package> package_;
    const PackageModel& model_;
    PartTrail& trail_;
    std::function<void()> onPage_;
    Stage stage_ = Stage::Document;
    std::size_t document_ = 0;
    std::size_t page_ = 0;
    bool documentSent_ = false;
};

// ---- Property bag, control, communicator -------------------------------------------

class PropertyBag final : public ComObject<IPrintPipelinePropertyBag> {
public:
    ~PropertyBag() override
    {
        for (auto& [name, value] : values_)
            VariantClear(&value);
    }

    HRESULT STDMETHODCALLTYPE AddProperty(LPCWSTR pszName, const VARIANT* pVar) override
    {
        if (!pszName || !pVar)
            return E_POINTER;
        VARIANT copy;
        VariantInit(&copy);
        if (const HRESULT hr = VariantCopy(&copy, pVar); FAILED(hr))
            return hr;
        const HRESULT hr = HostGuard([&] {
            std::lock_guard guard(lock_);
            VARIANT& slot = values_[pszName];
            std::swap(slot, copy);  // the old value, if any, is cleared below
            return S_OK;
        });
        VariantClear(&copy);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetProperty(LPCWSTR pszName, VARIANT* pVar) override
    {
        if (!pszName || !pVar)
            return E_POINTER;
        VariantInit(pVar);
        return HostGuard([&] {
            std::lock_guard guard(lock_);
            const auto it = values_.find(pszName);
            if (it == values_.end())
                return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
            return VariantCopy(pVar, &it->second);
        });
    }

    std::vector<std::u16string> Names()
    {
        std::lock_guard guard(lock_);
        std::vector<std::u16string> names;
        for (const auto& [name, value] : values_)
            names.push_back(name);
        return names;
    }

    HRESULT STDMETHODCALLTYPE DeleteProperty(LPCWSTR pszName) override
    {
        if (!pszName)
            return E_POINTER;
        VARIANT removed;
        VariantInit(&removed);
        const HRESULT hr = HostGuard([&] {
            std::lock_guard guard(lock_);
            const auto it = values_.find(pszName);
            if (it == values_.end())
                return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
            removed = it->second;
            values_.erase(it);
            return S_OK;
        });
        VariantClear(&removed);
        return hr;
    }

private:
    std::mutex lock_;
    std::map<std::u16string, VARIANT> values_;
};

// The job's printer, open for the length of the job.
class PrinterConnection {
public:
    explicit PrinterConnection(const std::u16string& name)
    {
        std::u16string copy = name;
        if (OpenPrinterW(copy.data(), &handle_, nullptr))
            return;
        PRINTER_INFO_1W info{0, nullptr, copy.data(), nullptr};
        handle_ = AddPrinterW(nullptr, 1, reinterpret_cast<LPBYTE>(&info));
        if (!handle_ && GetLastError() == ERROR_PRINTER_ALREADY_EXISTS)
            OpenPrinterW(copy.data(), &handle_, nullptr);  // made meanwhile by another job
        if (!handle_)
            throw PackageError("cannot open the printer " + WideToUtf8(name) + " (error " + std::to_string(GetLastError()) + ")");
    }
    ~PrinterConnection() { ClosePrinter(handle_); }
    PrinterConnection(const PrinterConnection&) = delete;
    PrinterConnection& operator=(const PrinterConnection&) = delete;

    HANDLE Handle() const noexcept { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

class Job;

class FilterControl final : public ComObject<IPrintPipelineManagerControl> {
public:
    FilterControl(Job& job, std::size_t index) : job_(job), index_(index) {}
    HRESULT STDMETHODCALLTYPE RequestShutdown(HRESULT hrReason, IImgErrorInfo*) override;
    HRESULT STDMETHODCALLTYPE FilterFinished() override { return S_OK; }

private:
    Job& job_;
    std::size_t index_;
};

class Communicator final : public ComObject<IInterFilterCommunicator> {
public:
    Communicator(ComPtr<IXpsDocumentProvider> reader, ComPtr<IXpsDocumentConsumer> writer)
        : reader_(std::move(reader)), writer_(std::move(writer))
    {
    }

    HRESULT STDMETHODCALLTYPE RequestReader(void** ppIReader) override
    {
        if (!ppIReader)
            return E_POINTER;
        return reader_.CopyTo(reinterpret_cast<IXpsDocumentProvider**>(ppIReader));
    }

    HRESULT STDMETHODCALLTYPE RequestWriter(void** ppIWriter) override
    {
        if (!ppIWriter)
            return E_POINTER;
        return writer_.CopyTo(reinterpret_cast<IXpsDocumentConsumer**>(ppIWriter));
    }

private:
    ComPtr<IXpsDocumentProvider> reader_;
    ComPtr<IXpsDocumentConsumer> writer_;
};

// ---- One job -----------------------------------------------------------------------

class Job {
public:
    explicit Job(const JobOptions& options) : options_(options) {}

    JobResult Run()
    {
        package_ = Package::Open(options_.input, options_.limits);
        model_ = ReadPackageModel(*package_);
        pagesTotal_ = model_.PageCount();
        if (options_.filters.empty())
            throw PackageError("the pipeline has no filters");

        std::vector<ComPtr<IPrintPipelineFilter>> filters;
        for (const PipelineFilterEntry& entry : options_.filters)
            filters.push_back(CreateFilter(entry));

        writer_ = MakeComObject<PackageWriter>(options_.output, package_, model_);
        writer_->OnPage([this](std::size_t written) { Progress([&] { sheetsWritten_ = written; }); });

        const std::size_t n = filters.size();
        trails_ = std::vector<PartTrail>(n);
        for (std::size_t i = 0; i + 1 < n; ++i)
            channels_.push_back(std::make_shared<PartChannel>(options_.queueCapacity));
        const PrinterConnection printer(options_.printerName);
        ComPtr<PropertyBag> bag = MakeBag(printer.Handle());
        const std::vector<std::u16string> hostProperties = bag->Names();

        for (std::size_t i = 0; i < n; ++i) {
            ComPtr<IXpsDocumentProvider> reader =
                i == 0 ? ComPtr<IXpsDocumentProvider>(MakeComObject<PackageProvider>(
                             package_, model_, trails_[0], [this] { Progress([this] { ++pagesRead_; }); }))
                       : ComPtr<IXpsDocumentProvider>(MakeComObject<ChannelProvider>(channels_[i - 1], trails_[i]));
            ComPtr<IXpsDocumentConsumer> writer = i + 1 == n ? ComPtr<IXpsDocumentConsumer>(writer_)
                                                             : ComPtr<IXpsDocumentConsumer>(MakeComObject<ChannelConsumer>(channels_[i]));
            ComPtr<Communicator> communicator = MakeComObject<Communicator>(reader, writer);
            ComPtr<FilterControl> control = MakeComObject<FilterControl>(*this, i);
            const HRESULT hr = filters[i]->InitializeFilter(communicator.Get(), bag.Get(), control.Get());
            if (FAILED(hr)) {
                writer_->Abandon();
                return Failed(hr, "filter " + options_.filters[i].name + " failed to initialise: HRESULT " + Hex(hr));
            }
        }

        filters_ = filters;
        running_ = std::vector<std::atomic<bool>>(n);
        for (auto& r : running_)
            r = true;
        // Once the last filter has closed its sender nothing more can reach the
        // output: filters still running (waiting for the end of the job) are stopped.
        writer_->OnClose([this] { StopAll(false); });
        std::vector<std::thread> threads;
        try {
            for (std::size_t i = 0; i < n; ++i)
                threads.emplace_back([this, i] { RunFilter(i); });
        } catch (const std::system_error&) {
            ReportFailure(threads.size(), E_OUTOFMEMORY);  // no thread for this filter
            for (std::size_t i = threads.size(); i < n; ++i)
                running_[i] = false;
        }
        for (auto& t : threads)
            t.join();
        filters_.clear();
        filters.clear();

        JobResult result;
        {
            std::lock_guard guard(lock_);
            result.hr = failure_;
            result.message = message_.empty() && FAILED(failure_) ? "the job failed: HRESULT " + Hex(failure_) : message_;
        }
        if (SUCCEEDED(result.hr)) {
            try {
                writer_->Finish();
            } catch (const PackageError& e) {
                result.hr = STG_E_WRITEFAULT;
                result.message = std::string("cannot write the output: ") + e.what();
            }
        }
        if (FAILED(result.hr))
            writer_->Abandon();
        result.pagesRead = pagesRead_;
        result.pagesWritten = writer_->PagesWritten();
        for (const std::u16string& name : bag->Names())
            if (std::find(hostProperties.begin(), hostProperties.end(), name) == hostProperties.end())
                result.leftInBag.push_back(WideToUtf8(name));
        return result;
    }

    // description: why, in the filter's words (may be empty).
    void ReportFailure(std::size_t index, HRESULT hr, const std::string& description = {}) noexcept
    {
        {
            std::lock_guard guard(lock_);
            if (FAILED(failure_))
                return;  // the first failure is the job's
            failure_ = hr;
            try {
                std::string part = trails_[index].Last();
                message_ = "filter " + options_.filters[index].name + " failed" +
                           (part.empty() ? std::string(" before its first part") : " on part " + part) + ": " +
                           (description.empty() ? "HRESULT " + Hex(hr) : description + " (HRESULT " + Hex(hr) + ")");
                if (index + 1 == options_.filters.size() && !writer_->LastError().empty())
                    message_ += " (" + writer_->LastError() + ")";
            } catch (...) {
                message_.clear();  // the code alone must do
            }
        }
        StopAll(true);
    }

private:
    // Changes the progress counters and reports where the job is. The first
    // filter's thread counts the pages read, the last filter's the sheets
    // written; under the lock each report shows exactly one change.
    template <class Change>
    void Progress(Change&& change)
    {
        if (!options_.progress) {
            change();
            return;
        }
        std::lock_guard guard(progressLock_);
        change();
        options_.progress(JobProgress{pagesRead_.load(), pagesTotal_, sheetsWritten_.load()});
    }

    ComPtr<IPrintPipelineFilter> CreateFilter(const PipelineFilterEntry& entry)
    {
        const std::u16string path = Utf8ToWide(entry.library);
        HMODULE module = LoadLibraryW(path.c_str());
        if (!module)
            throw PackageError("cannot load filter " + entry.name + ": " + GetLoadErrorText());
        // The library stays loaded for the process: a filter library that has
        // handed out a filter cannot be unloaded.
        auto create = reinterpret_cast<PFN_DllGetClassObject>(GetProcAddress(module, "DllGetClassObject"));
        if (!create)
            throw PackageError("filter library " + entry.library + " has no DllGetClassObject");
        ComPtr<IPrintPipelineFilter> filter;
        const HRESULT hr = create(entry.clsid, IID_IPrintPipelineFilter, filter.ReleaseAndGetVoidAddress());
        if (FAILED(hr) || !filter)
            throw PackageError("cannot create filter " + entry.name + " " + GuidToString(entry.clsid) + ": HRESULT " + Hex(hr));
        return filter;
    }

    ComPtr<PropertyBag> MakeBag(HANDLE printer)
    {
        ComPtr<PropertyBag> bag = MakeComObject<PropertyBag>();
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_UI8;
        v.ullVal = reinterpret_cast<std::uintptr_t>(printer);
        bag->AddProperty(u"PrinterHandle", &v);

        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(options_.printerName.data(), static_cast<UINT>(options_.printerName.size()));
        bag->AddProperty(u"PrinterName", &v);
        VariantClear(&v);

        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = options_.jobId;
        bag->AddProperty(u"PrintJobId", &v);

        if (!options_.recordDumpPath.empty()) {
            VariantInit(&v);
            v.vt = VT_BSTR;
            v.bstrVal = SysAllocStringLen(options_.recordDumpPath.data(), static_cast<UINT>(options_.recordDumpPath.size()));
            bag->AddProperty(u"ZNTR-RecordDumpPath", &v);
            VariantClear(&v);
        }

        static constexpr char kEmptyTicket[] =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
            "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
            "version=\"1\"/>";
        auto ticket = std::make_shared<const Bytes>(
            options_.userTicket.empty() ? Bytes(kEmptyTicket, kEmptyTicket + sizeof kEmptyTicket - 1) : options_.userTicket);
        ComPtr<IPrintReadStreamFactory> factory = MakeReadStreamFactory(ticket);
        VariantInit(&v);
        v.vt = VT_UNKNOWN;
        v.punkVal = factory.Detach();
        bag->AddProperty(u"PerUserPrintTicket", &v);
        VariantClear(&v);
        return bag;
    }

    void RunFilter(std::size_t index)
    {
        const HRESULT hr = filters_[index]->StartOperation();
        if (FAILED(hr))
            ReportFailure(index, hr);
        // The next filter sees the end of the stream even if this one never
        // closed it, and the one before never blocks sending to it.
        if (index < channels_.size())
            channels_[index]->Close();
        if (index > 0)
            channels_[index - 1]->Drain();
        running_[index] = false;
        // Once the last filter is done, nothing more can reach the output:
        // filters still running (waiting for the end of the job) are stopped.
        if (index + 1 == running_.size())
            StopAll(false);
    }

    // Asks every running filter to stop; after a failure the hand-overs fail
    // too, otherwise they only stop carrying parts.
    void StopAll(bool failed) noexcept
    {
        for (std::size_t i = 0; i < filters_.size(); ++i)
            if (running_[i])
                filters_[i]->ShutdownOperation();
        for (auto& c : channels_)
            failed ? c->Cancel() : c->Drain();
    }

    const JobOptions& options_;
    std::shared_ptr<Package> package_;
    PackageModel model_;
    ComPtr<PackageWriter> writer_;
    std::vector<PartTrail> trails_;
    std::vector<std::shared_ptr<PartChannel>> channels_;
    std::vector<ComPtr<IPrintPipelineFilter>> filters_;
    std::vector<std::atomic<bool>> running_;
    std::size_t pagesTotal_ = 0;
    std::atomic<std::size_t> pagesRead_{0};
    std::atomic<std::size_t> sheetsWritten_{0};
    std::mutex progressLock_;  // one progress report at a time
    std::mutex lock_;
    HRESULT failure_ = S_OK;
    std::string message_;
};

HRESULT FilterControl::RequestShutdown(HRESULT hrReason, IImgErrorInfo* pReason)
{
    std::string description;
    BSTR text = nullptr;
    if (pReason && SUCCEEDED(pReason->GetDescription(&text)) && text) {
        try {
            description = WideToUtf8(std::u16string_view(text, SysStringLen(text)));
        } catch (...) {
            description.clear();  // the code alone must do
        }
    }
    SysFreeString(text);
    job_.ReportFailure(index_, FAILED(hrReason) ? hrReason : E_ABORT, description);
    return S_OK;
}

} // namespace

std::vector<PipelineFilterEntry> LoadPipelineConfig(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw PackageError("cannot read the pipeline configuration " + path);
    Bytes bytes;
    std::uint8_t chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);

    const XmlDocPtr doc = ParseXmlPart(bytes, path);
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!XmlIs(root, "Filters"))
        throw PackageError("pipeline configuration " + path + " has no Filters element");
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::vector<PipelineFilterEntry> filters;
    for (const xmlNode* n = root->children; n; n = n->next) {
        if (!XmlIs(n, "Filter"))
            continue;
        PipelineFilterEntry e;
        e.name = XmlAttribute(n, "name");
        const std::string library = XmlAttribute(n, "library");
        const auto clsid = ParseGuid(XmlAttribute(n, "clsid"));
        if (library.empty() || !clsid)
            throw PackageError("pipeline configuration " + path + ": a Filter needs a library and a clsid");
        e.library = (folder / library).string();
        e.clsid = *clsid;
        if (e.name.empty())
            e.name = library;
        filters.push_back(std::move(e));
    }
    return filters;
}

JobResult RunPrintJob(const JobOptions& options)
{
    try {
        std::error_code ec;
        if (std::filesystem::equivalent(options.input, options.output, ec))
            return Failed(E_INVALIDARG, "the output must not be the input");
        Job job(options);
        return job.Run();
    } catch (const PackageError& e) {
        return Failed(E_INVALIDARG, e.what());
    } catch (const std::bad_alloc&) {
        return Failed(E_OUTOFMEMORY, "out of memory");
    } catch (const std::exception& e) {
        return Failed(E_FAIL, e.what());
    }
}
