// A scripted pipeline for driving one filter in a test: a reader that hands
// out given parts, a writer and a control that record what the filter did,
// and a property bag.
#pragma once

#include <functional>

#include <map>
#include <string>
#include <vector>

#include "platform/comobject.h"
#include "platform/filterpipeline.h"
#include "platform/oleauto.h"
#include "platform/pipeline/host_parts.h"
#include "platform/stringapiset.h"

struct FakeReader final : ComObject<IXpsDocumentProvider> {
    std::vector<ComPtr<IUnknown>> parts;
    std::size_t next = 0;
    HRESULT failAtEnd = S_OK;              // answered instead of the end of the document
    std::function<void(std::size_t)> onGet;  // called with the index of each request

    HRESULT STDMETHODCALLTYPE GetXpsPart(IUnknown** out) override
    {
        if (onGet)
            onGet(next);
        *out = nullptr;
        if (next >= parts.size())
            return failAtEnd;
        return parts[next++].CopyTo(out);
    }
};

struct FakeWriter final : ComObject<IXpsDocumentConsumer> {
    std::vector<std::string> calls;
    std::vector<ComPtr<IFixedPage>> pages;  // every page sent, in order
    HRESULT pageResult = S_OK;

    HRESULT Record(const char* what, IUnknown* part)
    {
        const std::string name = PartNameOf(part);
        calls.push_back(name.empty() ? what : std::string(what) + " " + name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SendXpsUnknown(IUnknown* p) override { return Record("unknown", p); }
    HRESULT STDMETHODCALLTYPE SendXpsDocument(IXpsDocument* p) override { return Record("xps", p); }
    HRESULT STDMETHODCALLTYPE SendFixedDocumentSequence(IFixedDocumentSequence* p) override { return Record("sequence", p); }
    HRESULT STDMETHODCALLTYPE SendFixedDocument(IFixedDocument* p) override { return Record("document", p); }
    HRESULT STDMETHODCALLTYPE SendFixedPage(IFixedPage* p) override
    {
        Record("page", p);
        pages.emplace_back(p);
        return pageResult;
    }
    HRESULT STDMETHODCALLTYPE CloseSender() override
    {
        calls.push_back("close");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNewEmptyPart(LPCWSTR uri, REFIID riid, void** obj, IPrintWriteStream** stream) override
    {
        return MakeEmptyPart(uri, riid, obj, stream);
    }
};

struct FakeControl final : ComObject<IPrintPipelineManagerControl> {
    std::vector<HRESULT> shutdowns;
    std::string description;  // of the last failure that came with one
    int finished = 0;
    HRESULT STDMETHODCALLTYPE RequestShutdown(HRESULT hr, IImgErrorInfo* info) override
    {
        shutdowns.push_back(hr);
        BSTR text = nullptr;
        if (info && SUCCEEDED(info->GetDescription(&text)) && text)
            description = WideToUtf8(std::u16string_view(text, SysStringLen(text)));
        SysFreeString(text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FilterFinished() override
    {
        ++finished;
        return S_OK;
    }
};

struct FakeBag final : ComObject<IPrintPipelinePropertyBag> {
    std::map<std::u16string, VARIANT> values;
    ~FakeBag() override
    {
        for (auto& [k, v] : values)
            VariantClear(&v);
    }
    HRESULT STDMETHODCALLTYPE AddProperty(LPCWSTR name, const VARIANT* v) override
    {
        VARIANT copy;
        VariantInit(&copy);
        VariantCopy(&copy, v);
        VariantClear(&values[name]);
        values[name] = copy;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetProperty(LPCWSTR name, VARIANT* v) override
    {
        VariantInit(v);
        const auto it = values.find(name);
        return it == values.end() ? HRESULT_FROM_WIN32(ERROR_NOT_FOUND) : VariantCopy(v, &it->second);
    }
    HRESULT STDMETHODCALLTYPE DeleteProperty(LPCWSTR name) override
    {
        const auto it = values.find(name);
        if (it == values.end())
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        VariantClear(&it->second);
        values.erase(it);
        return S_OK;
    }
};

struct FakeCommunicator final : ComObject<IInterFilterCommunicator> {
    ComPtr<IXpsDocumentProvider> reader;
    ComPtr<IXpsDocumentConsumer> writer;
    HRESULT readerResult = S_OK;
    int writerRequests = 0;
    HRESULT STDMETHODCALLTYPE RequestReader(void** out) override
    {
        *out = nullptr;
        if (FAILED(readerResult))
            return readerResult;
        return reader.CopyTo(reinterpret_cast<IXpsDocumentProvider**>(out));
    }
    HRESULT STDMETHODCALLTYPE RequestWriter(void** out) override
    {
        ++writerRequests;
        return writer.CopyTo(reinterpret_cast<IXpsDocumentConsumer**>(out));
    }
};

// Parts as the host makes them, named but without content.
inline PartCore NamedCore(const std::string& name)
{
    PartCore core;
    core.name = name;
    core.content = std::make_shared<const Bytes>();
    return core;
}

inline ComPtr<IUnknown> Unknown(IUnknown* p) { return ComPtr<IUnknown>(p); }
