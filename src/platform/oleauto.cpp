#include "platform/oleauto.h"

#include <cstdlib>
#include <cstring>

namespace {

// Layout: [uint32 byte length][text][two zero bytes]; the BSTR points at the text.
BSTR AllocBytes(const void* data, std::size_t bytes)
{
    if (bytes > 0x7FFFFFF0u)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(WCHAR) + 1));
    if (!block)
        return nullptr;
    const auto length = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &length, sizeof length);
    unsigned char* text = block + sizeof length;
    if (data)
        std::memcpy(text, data, bytes);
    else
        std::memset(text, 0, bytes);
    std::memset(text + bytes, 0, sizeof(WCHAR) + 1);
    return reinterpret_cast<BSTR>(text);
}

unsigned char* BlockOf(BSTR b) { return reinterpret_cast<unsigned char*>(b) - sizeof(std::uint32_t); }

} // namespace

BSTR SysAllocString(LPCOLESTR psz)
{
    if (!psz)
        return nullptr;
    std::size_t n = 0;
    while (psz[n] != 0)
        ++n;
    return AllocBytes(psz, n * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) { return AllocBytes(strIn, std::size_t{ui} * sizeof(OLECHAR)); }

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return AllocBytes(psz, len); }

void SysFreeString(BSTR bstrString)
{
    if (bstrString)
        std::free(BlockOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr)
{
    if (!bstr)
        return 0;
    std::uint32_t length;
    std::memcpy(&length, BlockOf(bstr), sizeof length);
    return length;
}

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / UINT{sizeof(OLECHAR)}; }

void VariantInit(VARIANTARG* pvarg)
{
    if (pvarg)
        std::memset(pvarg, 0, sizeof *pvarg);
}

HRESULT VariantClear(VARIANTARG* pvarg)
{
    if (!pvarg)
        return E_INVALIDARG;
    switch (pvarg->vt) {
    case VT_BSTR:
        SysFreeString(pvarg->bstrVal);
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        if (pvarg->punkVal)
            pvarg->punkVal->Release();
        break;
    default:
        break;
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc)
{
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    VARIANT copy = *pvargSrc;
    if (copy.vt == VT_BSTR && pvargSrc->bstrVal) {
        copy.bstrVal = AllocBytes(pvargSrc->bstrVal, SysStringByteLen(pvargSrc->bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
    } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal) {
        copy.punkVal->AddRef();
    }
    VariantClear(pvargDest);
    *pvargDest = copy;
    return S_OK;
}
