#include "filter/framework/filter_base.h"

#include "filter/framework/cxd_exception.h"
#include "platform/comobject.h"
#include "platform/objbase.h"
#include "platform/stringapiset.h"

namespace {

class FailureDescription final : public ComObject<IImgErrorInfo> {
public:
    explicit FailureDescription(std::u16string text) : text_(std::move(text)) {}
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pbstrDescription) override
    {
        if (!pbstrDescription)
            return E_POINTER;
        *pbstrDescription = SysAllocStringLen(text_.data(), static_cast<UINT>(text_.size()));
        return *pbstrDescription ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::u16string text_;
};

} // namespace

FilterBase::~FilterBase() = default;

void FilterBase::DescribeFailure(std::string description) noexcept
{
    if (failureDescription_.empty())
        failureDescription_ = std::move(description);
}

HRESULT FilterBase::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPrintPipelineFilter) {
        *ppv = static_cast<IPrintPipelineFilter*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG FilterBase::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG FilterBase::Release()
{
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0)
        delete this;  // the members release the pipeline references and the ticket state
    return static_cast<ULONG>(left);
}

void* PointerSizedValue(const VARIANT& value) noexcept
{
    if (value.vt & VT_BYREF)
        return value.byref;
    switch (value.vt) {
    case VT_I8:
    case VT_UI8:
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value.ullVal));
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(value.ulVal));
    default:
        return nullptr;
    }
}

HRESULT FilterBase::InitializeFilter(IInterFilterCommunicator* pINegotiation, IPrintPipelinePropertyBag* pIPropertyBag,
                                     IPrintPipelineManagerControl* pIPipelineControl)
{
    return CallGuarded([&]() -> HRESULT {
        HRESULT hr = pINegotiation ? pINegotiation->RequestReader(reader_.ReleaseAndGetVoidAddress()) : E_POINTER;
        if (SUCCEEDED(hr))
            hr = pINegotiation->RequestWriter(writer_.ReleaseAndGetVoidAddress());

        control_ = pIPipelineControl;
        bag_ = pIPropertyBag;

        if (SUCCEEDED(hr)) {
            if (!bag_) {
                hr = E_PENDING;
            } else {
                VARIANT handle;
                VariantInit(&handle);
                hr = bag_->GetProperty(u"PrinterHandle", &handle);
                if (SUCCEEDED(hr))
                    printerHandle_ = PointerSizedValue(handle);
                VariantClear(&handle);
            }
        }
        return hr;
    });
}

HRESULT FilterBase::ShutdownOperation()
{
    stop_.store(true);
    return S_OK;
}

HRESULT FilterBase::StartOperation()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool comEntered = SUCCEEDED(hr);
    if (comEntered) {
        hr = CallGuarded([this] { return PrepareOperation(); });
        if (SUCCEEDED(hr))
            hr = RunPartLoop();
        hr = CallGuarded([this, hr] { return FinishOperation(hr); });
    }

    if (writer_) {
        const HRESULT closed = writer_->CloseSender();
        if (SUCCEEDED(hr) && FAILED(closed))
            hr = closed;  // what could not be handed on is a failure of the job
    }
    hr = CallGuarded([this, hr] { return AfterCloseSender(hr); });
    if (FAILED(hr) && control_) {
        ComPtr<FailureDescription> reason;
        if (!failureDescription_.empty())
            CallGuarded([&] {
                reason = MakeComObject<FailureDescription>(Utf8ToWide(failureDescription_));
                return S_OK;
            });
        control_->RequestShutdown(hr, reason.Get());
    }
    if (comEntered)
        CoUninitialize();
    if (control_)
        control_->FilterFinished();
    return FAILED(hr) ? hr : S_OK;
}

HRESULT FilterBase::RunPartLoop()
{
    if (!reader_ || !writer_)
        return E_PENDING;
    while (!stop_.load()) {
        ComPtr<IUnknown> part;
        HRESULT hr = reader_->GetXpsPart(part.ReleaseAndGetAddressOf());
        if (FAILED(hr))
            return hr;
        if (!part)
            return S_OK;
        hr = CallGuarded([&] { return DispatchPart(part.Get()); });
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

template <class I>
bool FilterBase::Offer(IUnknown* part, HRESULT (FilterBase::*handler)(ComPtr<I>), HRESULT& result)
{
    ComPtr<I> typed;
    result = part->QueryInterface(uuidof<I>(), typed.ReleaseAndGetVoidAddress());
    if (result == E_NOINTERFACE)
        return false;  // not this kind: the search goes on
    if (SUCCEEDED(result))
        result = (this->*handler)(std::move(typed));
    return true;
}

HRESULT FilterBase::DispatchPart(IUnknown* part)
{
    if (!part)
        return E_POINTER;
    HRESULT hr = S_OK;
    const bool ended = Offer(part, &FilterBase::ProcessXpsDocument, hr) ||
                       Offer(part, &FilterBase::ProcessFixedDocumentSequence, hr) ||
                       Offer(part, &FilterBase::ProcessFixedDocument, hr) || Offer(part, &FilterBase::ProcessFixedPage, hr) ||
                       Offer(part, &FilterBase::ProcessOtherPart, hr);
    // A handler answering E_NOINTERFACE gives the part up as one of no known kind.
    if (ended && hr != E_NOINTERFACE)
        return hr;
    return writer_->SendXpsUnknown(part);
}

HRESULT FilterBase::ProcessXpsDocument(ComPtr<IXpsDocument> document) { return writer_->SendXpsDocument(document.Get()); }

HRESULT FilterBase::ProcessOtherPart(ComPtr<IPartDiscardControl> part) { return writer_->SendXpsUnknown(part.Get()); }

HRESULT FilterBase::ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence)
{
    if (mergesTickets_)
        tickets_.MergeLevel(PrintTicketManager::kJobLevel, sequence.Get());  // a failed merge does not stop the part
    return writer_->SendFixedDocumentSequence(sequence.Get());
}

HRESULT FilterBase::ProcessFixedDocument(ComPtr<IFixedDocument> document)
{
    if (mergesTickets_)
        tickets_.MergeLevel(PrintTicketManager::kDocumentLevel, document.Get());
    return writer_->SendFixedDocument(document.Get());
}

HRESULT FilterBase::ProcessFixedPage(ComPtr<IFixedPage> page)
{
    if (mergesTickets_)
        tickets_.MergeLevel(PrintTicketManager::kPageLevel, page.Get());
    return writer_->SendFixedPage(page.Get());
}
