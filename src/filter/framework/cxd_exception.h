// CXDException: the filters' internal exception, carrying only an HRESULT.
// Helpers that cannot continue throw it; the COM-facing method that called
// them catches it with CallGuarded and answers the HRESULT.
#pragma once

#include <exception>
#include <new>

#include "platform/winerror.h"

class CXDException {
public:
    explicit CXDException(HRESULT hr) noexcept : hr_(hr) {}
    HRESULT GetHResult() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

// Throws CXDException for a failed HRESULT; answers a successful one.
inline HRESULT ThrowIfFailed(HRESULT hr)
{
    if (FAILED(hr))
        throw CXDException(hr);
    return hr;
}

// Runs body (which answers an HRESULT) so that no exception leaves it:
// CXDException gives its HRESULT, allocation failure E_OUTOFMEMORY, anything else E_FAIL.
template <class Body>
HRESULT CallGuarded(Body&& body) noexcept
{
    try {
        return body();
    } catch (const CXDException& e) {
        return e.GetHResult();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
