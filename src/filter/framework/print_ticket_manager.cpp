#include "filter/framework/print_ticket_manager.h"

#include <cstdio>

#include "filter/framework/stream_adapters.h"
#include "filter/framework/trace.h"
#include "platform/objbase.h"
#include "platform/stringapiset.h"

namespace {

// Copies a level: a new DOM loaded from the source DOM's stream.
HRESULT CopyDom(IXMLDOMDocument2* source, ComPtr<IXMLDOMDocument2>* copy)
{
    ComPtr<IStream> stream;
    const HRESULT hr = source->QueryInterface(stream.GetAddressOf());
    if (FAILED(hr))
        return hr;
    return LoadTicketDom(stream.Get(), true, copy);
}

HRESULT StreamOf(IXMLDOMDocument2* dom, ComPtr<IStream>* stream)
{
    HRESULT hr = dom->QueryInterface(stream->ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr))
        hr = (*stream)->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
    return hr;
}

} // namespace

HRESULT LoadTicketDom(IUnknown* stream, bool seekFirst, ComPtr<IXMLDOMDocument2>* dom)
{
    dom->Reset();
    ComPtr<IXMLDOMDocument2> fresh;
    HRESULT hr = CoCreateInstance(CLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument2,
                                  fresh.ReleaseAndGetVoidAddress());
    if (FAILED(hr))
        return hr;
    if (seekFirst) {
        ComPtr<IStream> seekable;
        hr = stream->QueryInterface(seekable.GetAddressOf());
        if (SUCCEEDED(hr))
            hr = seekable->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
        if (FAILED(hr))
            return hr;
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = stream;  // borrowed: not cleared
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = fresh->load(source, &loaded);
    if (FAILED(hr) || loaded != VARIANT_TRUE)
        return E_FAIL;
    *dom = std::move(fresh);
    return S_OK;
}

PrintTicketManager::~PrintTicketManager() { Close(); }

void PrintTicketManager::Close() noexcept
{
    page_.Reset();
    document_.Reset();
    job_.Reset();
    base_.Reset();
    if (provider_)
        PTCloseProvider(provider_);
    provider_ = nullptr;
}

HRESULT PrintTicketManager::Prepare(IPrintPipelinePropertyBag* bag)
{
    if (!bag)
        return E_PENDING;
    VARIANT ticket;
    VARIANT printer;
    VariantInit(&ticket);
    VariantInit(&printer);
    HRESULT hr = bag->GetProperty(u"PerUserPrintTicket", &ticket);
    if (SUCCEEDED(hr))
        hr = bag->GetProperty(u"PrinterName", &printer);
    ComPtr<IPrintReadStreamFactory> factory;
    if (SUCCEEDED(hr))
        hr = ticket.vt == VT_UNKNOWN && ticket.punkVal ? ticket.punkVal->QueryInterface(factory.GetAddressOf()) : E_INVALIDARG;
    ComPtr<IPrintReadStream> stream;
    if (SUCCEEDED(hr))
        hr = factory->GetStream(stream.GetAddressOf());
    if (SUCCEEDED(hr))
        hr = printer.vt == VT_BSTR ? OpenTickets(stream.Get(), printer.bstrVal) : E_INVALIDARG;
    VariantClear(&ticket);
    VariantClear(&printer);
    return hr;
}

HRESULT PrintTicketManager::OpenTickets(IPrintReadStream* userTicket, BSTR printerName)
{
    Close();
    if (!userTicket)
        return E_POINTER;
    if (!printerName || SysStringLen(printerName) == 0)
        return E_INVALIDARG;
    HRESULT hr = PTOpenProvider(printerName, 1, &provider_);
    if (FAILED(hr)) {
        provider_ = nullptr;
        return hr;
    }
    ComPtr<ReadStreamAsIStream> stream = MakeComObject<ReadStreamAsIStream>(userTicket);
    if (!stream)
        return E_OUTOFMEMORY;
    return LoadTicketDom(stream->AsUnknown(), true, &base_);
}

IXMLDOMDocument2* PrintTicketManager::Parent(Level level) const
{
    return level == kJobLevel ? base_.Get() : level == kDocumentLevel ? job_.Get() : document_.Get();
}

ComPtr<IXMLDOMDocument2>& PrintTicketManager::Ticket(Level level)
{
    return level == kJobLevel ? job_ : level == kDocumentLevel ? document_ : page_;
}

HRESULT PrintTicketManager::ResetLevel(Level level)
{
    page_.Reset();
    if (level >= kDocumentLevel)
        document_.Reset();
    if (level == kJobLevel)
        job_.Reset();
    IXMLDOMDocument2* parent = Parent(level);
    if (!parent)
        return E_PENDING;
    return CopyDom(parent, &Ticket(level));
}

HRESULT PrintTicketManager::MergeLevel(Level level, IUnknown* part)
{
    if (!part)
        return E_POINTER;

    // 1-2. The part's own ticket; none means the level is its parent's.
    ComPtr<IPartPrintTicket> ticket;
    HRESULT hr = E_NOINTERFACE;
    if (level == kJobLevel) {
        ComPtr<IFixedDocumentSequence> sequence;
        if (SUCCEEDED(hr = part->QueryInterface(sequence.GetAddressOf())))
            hr = sequence->GetPrintTicket(ticket.GetAddressOf());
    } else if (level == kDocumentLevel) {
        ComPtr<IFixedDocument> document;
        if (SUCCEEDED(hr = part->QueryInterface(document.GetAddressOf())))
            hr = document->GetPrintTicket(ticket.GetAddressOf());
    } else {
        ComPtr<IFixedPage> page;
        if (SUCCEEDED(hr = part->QueryInterface(page.GetAddressOf())))
            hr = page->GetPrintTicket(ticket.GetAddressOf());
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) || (SUCCEEDED(hr) && !ticket))
        return ResetLevel(level);
    if (FAILED(hr))
        return hr;

    // 3. A ticket that does not load counts as none.
    ComPtr<IPrintReadStream> stream;
    if (FAILED(hr = ticket->GetStream(stream.GetAddressOf())))
        return hr;
    ComPtr<ReadStreamAdapter> adapter = MakeComObject<ReadStreamAdapter>(stream.Get());
    if (!adapter)
        return E_OUTOFMEMORY;
    ComPtr<IXMLDOMDocument2> delta;
    if (FAILED(LoadTicketDom(adapter->AsUnknown(), false, &delta)))
        return ResetLevel(level);

    // 4. Merge into the parent level. A parent level whose own merge failed is
    // its parent's copy, as when its part had no ticket.
    if (!base_ || !provider_)
        return E_PENDING;
    if (FAILED(hr = EnsureLevels(level)))
        return hr;
    IXMLDOMDocument2* parent = Parent(level);
    ComPtr<IStream> result;
    ComPtr<IStream> baseStream;
    ComPtr<IStream> deltaStream;
    if (FAILED(hr = CreateStreamOnHGlobal(nullptr, TRUE, result.GetAddressOf())) || FAILED(hr = StreamOf(parent, &baseStream)) ||
        FAILED(hr = StreamOf(delta.Get(), &deltaStream)))
        return hr;
    BSTR error = nullptr;
    hr = PTMergeAndValidatePrintTicket(provider_, baseStream.Get(), deltaStream.Get(), static_cast<EPrintTicketScope>(level),
                                       result.Get(), &error);
    if (FAILED(hr)) {
        // 5. The level stays as it was.
        const std::string text = error ? WideToUtf8(std::u16string_view(error, SysStringLen(error))) : std::string();
        char message[1024];
        std::snprintf(message, sizeof message, "PTMergeAndValidatePrintTicket failed with message: %s\n", text.c_str());
        TraceMessage(kTraceFlagTickets, 20, message);
        SysFreeString(error);
        return hr;
    }
    SysFreeString(error);

    // 6. The merged ticket is the level's; the levels below it derive from it anew.
    ComPtr<IXMLDOMDocument2> merged;
    if (FAILED(hr = LoadTicketDom(result.Get(), true, &merged)))
        return hr;
    page_.Reset();
    if (level >= kDocumentLevel)
        document_.Reset();
    Ticket(level) = std::move(merged);
    return S_OK;
}

HRESULT PrintTicketManager::EnsureLevels(int below)
{
    if (!base_)
        return E_PENDING;
    HRESULT hr = S_OK;
    if (below < kJobLevel && !job_)
        hr = CopyDom(base_.Get(), &job_);
    if (SUCCEEDED(hr) && below < kDocumentLevel && !document_)
        hr = CopyDom(job_.Get(), &document_);
    if (SUCCEEDED(hr) && below < kPageLevel && !page_)
        hr = CopyDom(document_.Get(), &page_);
    return hr;
}

HRESULT PrintTicketManager::GetPageTicket(IXMLDOMDocument2** ticket)
{
    if (!ticket)
        return E_POINTER;
    *ticket = nullptr;
    if (const HRESULT hr = EnsureLevels(kPageLevel - 1); FAILED(hr))
        return hr;
    if (!page_)
        return E_FAIL;
    *ticket = page_.Get();
    return S_OK;
}
