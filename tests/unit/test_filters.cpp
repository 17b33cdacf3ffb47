// Filter libraries that exercise the pipeline host, one behaviour each
// (chosen by TEST_FILTER_KIND when the library is built):
//   1 failing: fails on the job's second FixedPage with 0x80041234;
//   2 waiting: after closing its sender, waits until it is told to stop;
//   3 copying: checks the property bag, then replaces every page by a new
//     page made with GetNewEmptyPart, carrying its resources and ticket;
//   4 quitting: stops reading after the first FixedPage, successfully;
//   5 unclosed: writes each page anew but sends it before closing the stream.
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "filter/framework/module_entry.h"
#include "platform/stringapiset.h"
#include "platform/winspool.h"

namespace {

constexpr HRESULT kPageFailure = static_cast<HRESULT>(0x80041234);

class TestFilter final : public FilterBase {
protected:
#if TEST_FILTER_KIND == 1
    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override
    {
        if (++pages_ == 2)
            return kPageFailure;
        return Writer()->SendFixedPage(page.Get());
    }
#elif TEST_FILTER_KIND == 2
    HRESULT AfterCloseSender(HRESULT hr) override
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!StopRequested())
            if (std::chrono::steady_clock::now() > deadline)
                return E_ABORT;  // nobody stopped us
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return hr;
    }
#elif TEST_FILTER_KIND == 3
    HRESULT PrepareOperation() override
    {
        // The printer is the job's: its data are there.
        DWORD type = 0;
        DWORD probe = 0;
        DWORD needed = 0;
        if (GetPrinterDataW(PrinterHandle(), const_cast<LPWSTR>(u"Probe"), &type, reinterpret_cast<LPBYTE>(&probe), sizeof probe,
                            &needed) != ERROR_SUCCESS ||
            type != REG_DWORD || probe != 0x5150)
            return E_INVALIDARG;
        VARIANT v;
        VariantInit(&v);
        if (FAILED(PropertyBag()->GetProperty(u"PrinterName", &v)) || v.vt != VT_BSTR ||
            std::u16string(v.bstrVal) != u"probe-printer")
            return E_INVALIDARG;
        VariantClear(&v);
        if (FAILED(PropertyBag()->GetProperty(u"PrintJobId", &v)) || v.vt != VT_I4 || v.lVal != 57)
            return E_INVALIDARG;
        if (FAILED(PropertyBag()->GetProperty(u"PerUserPrintTicket", &v)) || v.vt != VT_UNKNOWN)
            return E_INVALIDARG;
        ComPtr<IPrintReadStreamFactory> factory;
        HRESULT hr = v.punkVal->QueryInterface(factory.GetAddressOf());
        VariantClear(&v);
        ComPtr<IPrintReadStream> stream;
        if (SUCCEEDED(hr))
            hr = factory->GetStream(stream.GetAddressOf());
        char text[64] = {};
        ULONG read = 0;
        if (SUCCEEDED(hr))
            hr = stream->ReadBytes(text, sizeof text - 1, &read, nullptr);
        return SUCCEEDED(hr) && std::string(text, read).starts_with("<!-- probe -->") ? S_OK : E_INVALIDARG;
    }

    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override
    {
        const std::u16string name = Utf8ToWide("copy_" + std::to_string(++pages_) + ".fpage");
        ComPtr<IFixedPage> copy;
        ComPtr<IPrintWriteStream> out;
        HRESULT hr = Writer()->GetNewEmptyPart(name.c_str(), IID_IFixedPage, copy.ReleaseAndGetVoidAddress(), out.GetAddressOf());
        ComPtr<IPrintReadStream> in;
        if (SUCCEEDED(hr))
            hr = page->GetStream(in.GetAddressOf());
        for (BOOL end = FALSE; SUCCEEDED(hr) && !end;) {
            char buffer[7];  // small, so the copy takes many rounds
            ULONG n = 0;
            hr = in->ReadBytes(buffer, sizeof buffer, &n, &end);
            if (SUCCEEDED(hr) && n)
                hr = out->WriteBytes(buffer, n, nullptr);
        }
        if (SUCCEEDED(hr))
            hr = out->Close();
        ComPtr<IXpsPartIterator> it;
        if (SUCCEEDED(hr))
            hr = page->GetXpsPartIterator(it.GetAddressOf());
        for (it->Reset(); SUCCEEDED(hr) && !it->IsDone(); it->Next()) {
            BSTR uri = nullptr;
            ComPtr<IUnknown> related;
            hr = it->Current(&uri, related.GetAddressOf());
            SysFreeString(uri);
            ComPtr<IPartThumbnail> thumbnail;
            if (SUCCEEDED(hr) && FAILED(related.As(&thumbnail)))
                hr = copy->SetPagePart(related.Get());
        }
        ComPtr<IPartPrintTicket> ticket;
        if (SUCCEEDED(hr) && SUCCEEDED(page->GetPrintTicket(ticket.GetAddressOf())))
            hr = copy->SetPrintTicket(ticket.Get());
        return SUCCEEDED(hr) ? Writer()->SendFixedPage(copy.Get()) : hr;
    }
#elif TEST_FILTER_KIND == 4
    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override
    {
        ShutdownOperation();
        return Writer()->SendFixedPage(page.Get());
    }
#elif TEST_FILTER_KIND == 5
    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override
    {
        ComPtr<IPrintWriteStream> out;
        HRESULT hr = page->GetWriteStream(out.GetAddressOf());
        if (SUCCEEDED(hr))
            hr = out->WriteBytes("<FixedPage/>", 12, nullptr);
        return SUCCEEDED(hr) ? Writer()->SendFixedPage(page.Get()) : hr;  // the stream is released only now
    }
#endif

private:
    [[maybe_unused]] int pages_ = 0;
};

} // namespace

const FilterModuleDefinition g_filterModule{MakeGuid(TEST_FILTER_CLSID), nullptr,
                                            []() -> FilterBase* { return new (std::nothrow) TestFilter; }};
