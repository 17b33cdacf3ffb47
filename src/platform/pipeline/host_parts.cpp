#include "platform/pipeline/host_parts.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/objbase.h"
#include "platform/objidl.h"
#include "platform/pipeline/host_guard.h"
#include "platform/pipeline/xml_util.h"
#include "platform/stringapiset.h"

ResourceKind ResourceKindFromContentType(std::string_view type)
{
    if (type.find("font") != std::string_view::npos || type.find("opentype") != std::string_view::npos)
        return ResourceKind::Font;
    if (type.starts_with("image/"))
        return ResourceKind::Image;
    if (type == "application/vnd.ms-color.iccprofile")
        return ResourceKind::ColorProfile;
    if (type == "application/vnd.ms-package.xps-resourcedictionary+xml")
        return ResourceKind::ResourceDictionary;
    if (type == "application/vnd.ms-printing.printticket+xml")
        return ResourceKind::PrintTicket;
    return ResourceKind::Other;
}

namespace {

template <class Body>
HRESULT Guard(Body&& body) noexcept
{
    return HostGuard(std::forward<Body>(body));
}

HRESULT CopyOut(const std::string& text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    const std::u16string wide = Utf8ToWide(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// ---- Streams ---------------------------------------------------------------

class MemoryReadStream final : public ComObject<IPrintReadStream> {
public:
    explicit MemoryReadStream(std::shared_ptr<const Bytes> bytes) : bytes_(std::move(bytes)) {}

    HRESULT STDMETHODCALLTYPE Seek(LONGLONG move, DWORD origin, ULONGLONG* newPosition) override
    {
        LONGLONG base;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(position_); break;
        case STREAM_SEEK_END: base = static_cast<LONGLONG>(bytes_->size()); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        if ((move > 0 && base > std::numeric_limits<LONGLONG>::max() - move) || base + move < 0)
            return STG_E_INVALIDFUNCTION;
        const LONGLONG target = base + move;
        position_ = static_cast<ULONGLONG>(target);
        if (newPosition)
            *newPosition = position_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ReadBytes(void* buffer, ULONG requested, ULONG* read, BOOL* endOfFile) override
    {
        if (!buffer && requested)
            return E_POINTER;
        const ULONGLONG size = bytes_->size();
        const ULONGLONG available = position_ < size ? size - position_ : 0;
        const ULONG n = static_cast<ULONG>(std::min<ULONGLONG>(available, requested));
        if (n)
            std::memcpy(buffer, bytes_->data() + position_, n);
        position_ += n;
        if (read)
            *read = n;
        if (endOfFile)
            *endOfFile = position_ >= size ? TRUE : FALSE;
        return S_OK;
    }

private:
    std::shared_ptr<const Bytes> bytes_;
    ULONGLONG position_ = 0;
};

class ReadStreamFactory final : public ComObject<IPrintReadStreamFactory> {
public:
    explicit ReadStreamFactory(std::shared_ptr<const Bytes> bytes) : bytes_(std::move(bytes)) {}

    HRESULT STDMETHODCALLTYPE GetStream(IPrintReadStream** ppStream) override
    {
        if (!ppStream)
            return E_POINTER;
        *ppStream = MakeMemoryReadStream(bytes_).Detach();
        return *ppStream ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::shared_ptr<const Bytes> bytes_;
};

class PartWriteStream final : public ComObject<IPrintWriteStream> {
public:
    explicit PartWriteStream(IHostPart* target) : target_(target) { target_->OpenWriter(); }
    ~PartWriteStream() override
    {
        if (target_)
            Guard([this] { return Close(); });
    }

    HRESULT STDMETHODCALLTYPE WriteBytes(const void* buffer, ULONG size, ULONG* written) override
    {
        if (!buffer && size)
            return E_POINTER;
        if (!target_)
            return E_UNEXPECTED;  // closed
        return Guard([&] {
            const auto* p = static_cast<const std::uint8_t*>(buffer);
            bytes_.insert(bytes_.end(), p, p + size);
            if (written)
                *written = size;
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE Close() override
    {
        if (!target_)
            return S_OK;
        return Guard([this] {
            target_->Commit(std::make_shared<const Bytes>(std::move(bytes_)));
            target_.Reset();
            return S_OK;
        });
    }

private:
    ComPtr<IHostPart> target_;
    Bytes bytes_;
};

// ---- Parts -----------------------------------------------------------------

// IPartBase and IHostPart for a part interface I.
template <class I>
class Part : public ComObject<I, IHostPart> {
public:
    explicit Part(PartCore core) : core_(std::move(core)) {}

    HRESULT STDMETHODCALLTYPE GetUri(BSTR* uri) override
    {
        return Guard([&] { return CopyOut(core_.name, uri); });
    }

    HRESULT STDMETHODCALLTYPE GetStream(IPrintReadStream** ppStream) override
    {
        if (!ppStream)
            return E_POINTER;
        *ppStream = nullptr;
        return Guard([&] {
            *ppStream = MakeMemoryReadStream(CurrentContent()).Detach();
            return *ppStream ? S_OK : E_OUTOFMEMORY;
        });
    }

    HRESULT STDMETHODCALLTYPE GetPartCompression(EXpsCompressionOptions* compression) override
    {
        if (!compression)
            return E_POINTER;
        *compression = core_.compression;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetPartCompression(EXpsCompressionOptions compression) override
    {
        core_.compression = compression;
        return S_OK;
    }

    const PartCore& Core() override { return core_; }

    std::shared_ptr<const Bytes> WrittenContent() override
    {
        std::lock_guard guard(lock_);
        return written_;
    }

    std::shared_ptr<const Bytes> CurrentContent() override
    {
        if (auto written = WrittenContent())
            return written;
        if (core_.content)
            return core_.content;
        if (core_.source)
            return std::make_shared<const Bytes>(core_.source->ReadPart(core_.name));
        return std::make_shared<const Bytes>();
    }

    bool WriterOpen() override
    {
        std::lock_guard guard(lock_);
        return openWriters_ > 0;
    }

    void OpenWriter() override
    {
        std::lock_guard guard(lock_);
        ++openWriters_;
    }

    void Commit(std::shared_ptr<const Bytes> content) override
    {
        std::lock_guard guard(lock_);
        written_ = std::move(content);
        --openWriters_;
    }

protected:
    HRESULT ContentType(BSTR* out)
    {
        return Guard([&] { return CopyOut(core_.contentType, out); });
    }

    PartCore core_;
    std::mutex lock_;

private:
    std::shared_ptr<const Bytes> written_;
    int openWriters_ = 0;
};

class FontPart final : public Part<IPartFont> {
public:
    using Part::Part;
    HRESULT STDMETHODCALLTYPE GetFontProperties(BSTR* contentType) override { return ContentType(contentType); }
};

class ImagePart final : public Part<IPartImage> {
public:
    using Part::Part;
    HRESULT STDMETHODCALLTYPE GetImageProperties(BSTR* contentType) override { return ContentType(contentType); }
};

class ThumbnailPart final : public Part<IPartThumbnail> {
public:
    using Part::Part;
    HRESULT STDMETHODCALLTYPE GetThumbnailProperties(BSTR* contentType) override { return ContentType(contentType); }
};

class ColorProfilePart final : public Part<IPartColorProfile> {
public:
    using Part::Part;
};

class ResourceDictionaryPart final : public Part<IPartResourceDictionary> {
public:
    using Part::Part;
};

class PrintTicketPart final : public Part<IPartPrintTicket> {
public:
    using Part::Part;
};

class OtherPart final : public Part<IPartBase> {
public:
    using Part::Part;
};

class DiscardControlPart final : public Part<IPartDiscardControl> {
public:
    using Part::Part;
    // The first Discard entry of the part: its SentinelPage and Target;
    // HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when it has none.
    HRESULT STDMETHODCALLTYPE GetDiscardProperties(BSTR* sentinelPage, BSTR* partToDiscard) override
    {
        if (!sentinelPage || !partToDiscard)
            return E_POINTER;
        *sentinelPage = nullptr;
        *partToDiscard = nullptr;
        return Guard([&] {
            const XmlDocPtr doc = ParseXmlPart(*CurrentContent(), core_.name);
            const xmlNode* entry = xmlDocGetRootElement(doc.get())->children;
            while (entry && !XmlIs(entry, "Discard"))
                entry = entry->next;
            if (!entry)
                return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
            auto attribute = [entry](const char* name) { return XmlAttribute(entry, name); };
            HRESULT hr = CopyOut(attribute("SentinelPage"), sentinelPage);
            if (SUCCEEDED(hr))
                hr = CopyOut(attribute("Target"), partToDiscard);
            return hr;
        });
    }
};

// Parts with a PrintTicket of their own.
template <class I>
class TicketedPart : public Part<I> {
public:
    TicketedPart(PartCore core, ComPtr<IPartPrintTicket> ticket) : Part<I>(std::move(core)), ticket_(std::move(ticket)) {}

    HRESULT STDMETHODCALLTYPE GetPrintTicket(IPartPrintTicket** ppPrintTicket) override
    {
        if (!ppPrintTicket)
            return E_POINTER;
        std::lock_guard guard(this->lock_);
        ticket_.CopyTo(ppPrintTicket);
        return ticket_ ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }

    HRESULT STDMETHODCALLTYPE SetPrintTicket(IPartPrintTicket* pPrintTicket) override
    {
        std::lock_guard guard(this->lock_);
        ticket_ = pPrintTicket;
        return S_OK;
    }

protected:
    ComPtr<IPartPrintTicket> ticket_;
};

class FixedDocumentSequencePart final : public TicketedPart<IFixedDocumentSequence> {
public:
    using TicketedPart::TicketedPart;
};

class FixedDocumentPart final : public TicketedPart<IFixedDocument> {
public:
    using TicketedPart::TicketedPart;
};

class PartIterator final : public ComObject<IXpsPartIterator> {
public:
    explicit PartIterator(std::vector<ComPtr<IUnknown>> parts) : parts_(std::move(parts)) {}

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        index_ = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Current(BSTR* pUri, IUnknown** ppXpsPart) override
    {
        if (!pUri || !ppXpsPart)
            return E_POINTER;
        *pUri = nullptr;
        *ppXpsPart = nullptr;
        if (index_ >= parts_.size())
            return E_UNEXPECTED;
        return Guard([&] {
            HRESULT hr = CopyOut(PartNameOf(parts_[index_].Get()), pUri);
            if (SUCCEEDED(hr))
                hr = parts_[index_].CopyTo(ppXpsPart);
            return hr;
        });
    }

    BOOL STDMETHODCALLTYPE IsDone() override { return index_ >= parts_.size() ? TRUE : FALSE; }

    HRESULT STDMETHODCALLTYPE Next() override
    {
        if (index_ < parts_.size())
            ++index_;
        return S_OK;
    }

private:
    std::vector<ComPtr<IUnknown>> parts_;
    std::size_t index_ = 0;
};

class FixedPagePart final : public TicketedPart<IFixedPage> {
public:
    FixedPagePart(PartCore core, ComPtr<IPartPrintTicket> ticket, std::vector<ComPtr<IUnknown>> related)
        : TicketedPart(std::move(core), std::move(ticket)), related_(std::move(related))
    {
    }

    HRESULT STDMETHODCALLTYPE GetPagePart(LPCWSTR uri, IUnknown** ppUnk) override
    {
        if (!uri || !ppUnk)
            return E_POINTER;
        *ppUnk = nullptr;
        return Guard([&] {
            std::lock_guard guard(lock_);
            const auto it = FindRelated(PartKey(WideToUtf8(uri)));
            return it == related_.end() ? HRESULT_FROM_WIN32(ERROR_NOT_FOUND) : it->CopyTo(ppUnk);
        });
    }

    HRESULT STDMETHODCALLTYPE GetWriteStream(IPrintWriteStream** ppWriteStream) override
    {
        if (!ppWriteStream)
            return E_POINTER;
        *ppWriteStream = MakeComObject<PartWriteStream>(static_cast<IHostPart*>(this)).Detach();
        return *ppWriteStream ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE SetPagePart(IUnknown* pUnk) override
    {
        if (!pUnk)
            return E_POINTER;
        return Guard([&] {
            const std::string name = PartNameOf(pUnk);
            if (name.empty())
                return E_INVALIDARG;
            std::lock_guard guard(lock_);
            if (const auto it = FindRelated(PartKey(name)); it != related_.end())
                *it = pUnk;  // the newer part of that name replaces the older
            else
                related_.emplace_back(pUnk);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE DeleteResource(LPCWSTR uri) override
    {
        if (!uri)
            return E_POINTER;
        return Guard([&] {
            std::lock_guard guard(lock_);
            const auto it = FindRelated(PartKey(WideToUtf8(uri)));
            if (it == related_.end())
                return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
            related_.erase(it);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE GetXpsPartIterator(IXpsPartIterator** pXpsPartIt) override
    {
        if (!pXpsPartIt)
            return E_POINTER;
        return Guard([&] {
            std::lock_guard guard(lock_);
            *pXpsPartIt = MakeComObject<PartIterator>(related_).Detach();
            return *pXpsPartIt ? S_OK : E_OUTOFMEMORY;
        });
    }

private:
    std::vector<ComPtr<IUnknown>>::iterator FindRelated(const std::string& key)
    {
        return std::find_if(related_.begin(), related_.end(),
                            [&](const ComPtr<IUnknown>& p) { return PartKey(PartNameOf(p.Get())) == key; });
    }

    std::vector<ComPtr<IUnknown>> related_;
};

class XpsDocumentPart final : public ComObject<IXpsDocument, IHostPart> {
public:
    XpsDocumentPart(ComPtr<IPartThumbnail> thumbnail, PartCore core) : thumbnail_(std::move(thumbnail)), core_(std::move(core)) {}

    HRESULT STDMETHODCALLTYPE GetThumbnail(IPartThumbnail** ppThumbnail) override
    {
        if (!ppThumbnail)
            return E_POINTER;
        std::lock_guard guard(lock_);
        return thumbnail_.CopyTo(ppThumbnail);
    }

    HRESULT STDMETHODCALLTYPE SetThumbnail(IPartThumbnail* pThumbnail) override
    {
        std::lock_guard guard(lock_);
        thumbnail_ = pThumbnail;
        return S_OK;
    }

    const PartCore& Core() override { return core_; }
    std::shared_ptr<const Bytes> WrittenContent() override { return nullptr; }
    std::shared_ptr<const Bytes> CurrentContent() override { return std::make_shared<const Bytes>(); }
    bool WriterOpen() override { return false; }
    void OpenWriter() override {}
    void Commit(std::shared_ptr<const Bytes>) override {}

private:
    ComPtr<IPartThumbnail> thumbnail_;
    PartCore core_;
    std::mutex lock_;
};

template <class T, class I, class... Args>
ComPtr<I> Make(Args&&... args)
{
    T* object = MakeComObject<T>(std::forward<Args>(args)...).Detach();
    if constexpr (std::is_same_v<I, IUnknown>)
        return ComPtr<I>::Attach(object ? object->AsUnknown() : nullptr);
    else
        return ComPtr<I>::Attach(object);
}

} // namespace

ComPtr<IPrintReadStream> MakeMemoryReadStream(std::shared_ptr<const Bytes> bytes)
{
    return Make<MemoryReadStream, IPrintReadStream>(std::move(bytes));
}

ComPtr<IPrintReadStreamFactory> MakeReadStreamFactory(std::shared_ptr<const Bytes> bytes)
{
    return Make<ReadStreamFactory, IPrintReadStreamFactory>(std::move(bytes));
}

ComPtr<IUnknown> MakeResourcePart(ResourceKind kind, PartCore core)
{
    switch (kind) {
    case ResourceKind::Font: return Make<FontPart, IUnknown>(std::move(core));
    case ResourceKind::Image: return Make<ImagePart, IUnknown>(std::move(core));
    case ResourceKind::ColorProfile: return Make<ColorProfilePart, IUnknown>(std::move(core));
    case ResourceKind::ResourceDictionary: return Make<ResourceDictionaryPart, IUnknown>(std::move(core));
    case ResourceKind::Thumbnail: return Make<ThumbnailPart, IUnknown>(std::move(core));
    case ResourceKind::PrintTicket: return Make<PrintTicketPart, IUnknown>(std::move(core));
    case ResourceKind::Other: break;
    }
    return Make<OtherPart, IUnknown>(std::move(core));
}

ComPtr<IPartPrintTicket> MakePrintTicketPart(PartCore core) { return Make<PrintTicketPart, IPartPrintTicket>(std::move(core)); }

ComPtr<IPartDiscardControl> MakeDiscardControlPart(PartCore core)
{
    return Make<DiscardControlPart, IPartDiscardControl>(std::move(core));
}

ComPtr<IXpsDocument> MakeXpsDocument(ComPtr<IPartThumbnail> thumbnail, PartCore core)
{
    return Make<XpsDocumentPart, IXpsDocument>(std::move(thumbnail), std::move(core));
}

ComPtr<IFixedDocumentSequence> MakeFixedDocumentSequence(PartCore core, ComPtr<IPartPrintTicket> ticket)
{
    return Make<FixedDocumentSequencePart, IFixedDocumentSequence>(std::move(core), std::move(ticket));
}

ComPtr<IFixedDocument> MakeFixedDocument(PartCore core, ComPtr<IPartPrintTicket> ticket)
{
    return Make<FixedDocumentPart, IFixedDocument>(std::move(core), std::move(ticket));
}

ComPtr<IFixedPage> MakeFixedPage(PartCore core, ComPtr<IPartPrintTicket> ticket, std::vector<ComPtr<IUnknown>> related)
{
    return Make<FixedPagePart, IFixedPage>(std::move(core), std::move(ticket), std::move(related));
}

HRESULT MakeEmptyPart(LPCWSTR uri, REFIID riid, void** ppNewObject, IPrintWriteStream** ppWriteStream)
{
    if (!uri || !ppNewObject || !ppWriteStream)
        return E_POINTER;
    *ppNewObject = nullptr;
    *ppWriteStream = nullptr;
    return Guard([&] {
        std::string name;
        try {
            name = ResolvePartUri("/", WideToUtf8(uri));
        } catch (const PackageError&) {
            return E_INVALIDARG;  // outside the package
        }
        if (name == "/")
            return E_INVALIDARG;
        PartCore core;
        core.name = name;
        core.content = std::make_shared<const Bytes>();
        ComPtr<IUnknown> part;
        if (riid == IID_IFixedPage) {
            core.contentType = "application/vnd.ms-package.xps-fixedpage+xml";
            part = Make<FixedPagePart, IUnknown>(std::move(core), ComPtr<IPartPrintTicket>(), std::vector<ComPtr<IUnknown>>());
        } else {
            core.contentType = ContentTypeFromExtension(name);
            ResourceKind kind = ResourceKindFromContentType(core.contentType);
            if (riid == IID_IPartFont) kind = ResourceKind::Font;
            else if (riid == IID_IPartImage) kind = ResourceKind::Image;
            else if (riid == IID_IPartThumbnail) kind = ResourceKind::Thumbnail;
            else if (riid == IID_IPartColorProfile) kind = ResourceKind::ColorProfile;
            else if (riid == IID_IPartResourceDictionary) kind = ResourceKind::ResourceDictionary;
            else if (riid == IID_IPartPrintTicket) kind = ResourceKind::PrintTicket;
            part = MakeResourcePart(kind, std::move(core));
        }
        if (!part)
            return E_OUTOFMEMORY;
        const ComPtr<IHostPart> host = HostPartOf(part.Get());
        ComPtr<IPrintWriteStream> stream = Make<PartWriteStream, IPrintWriteStream>(host.Get());
        if (!stream)
            return E_OUTOFMEMORY;
        const HRESULT hr = part->QueryInterface(riid, ppNewObject);
        if (FAILED(hr))
            return hr;
        *ppWriteStream = stream.Detach();
        return S_OK;
    });
}

ComPtr<IHostPart> HostPartOf(IUnknown* part)
{
    ComPtr<IHostPart> host;
    if (part)
        part->QueryInterface(host.ReleaseAndGetAddressOf());
    return host;
}

std::string PartNameOf(IUnknown* part)
{
    ComPtr<IPartBase> base;
    if (!part || FAILED(part->QueryInterface(base.ReleaseAndGetAddressOf())))
        return {};
    BSTR uri = nullptr;
    if (FAILED(base->GetUri(&uri)) || !uri)
        return {};
    std::string name = WideToUtf8(std::u16string_view(uri, SysStringLen(uri)));
    SysFreeString(uri);
    return name;
}

Bytes ReadAllBytes(IUnknown* part)
{
    ComPtr<IPartBase> base;
    ComPtr<IPrintReadStream> stream;
    if (!part || FAILED(part->QueryInterface(base.ReleaseAndGetAddressOf())) ||
        FAILED(base->GetStream(stream.ReleaseAndGetAddressOf())) || !stream)
        throw PackageError("cannot read part " + PartNameOf(part));
    Bytes out;
    std::uint8_t chunk[65536];
    for (;;) {
        ULONG n = 0;
        BOOL end = FALSE;
        if (FAILED(stream->ReadBytes(chunk, sizeof chunk, &n, &end)))
            throw PackageError("cannot read part " + PartNameOf(part));
        out.insert(out.end(), chunk, chunk + n);
        if (end || n == 0)
            return out;
    }
}
