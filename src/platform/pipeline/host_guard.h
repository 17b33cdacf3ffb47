// HostGuard: runs the body of a COM method of the pipeline host so that no
// exception leaves it. A PackageError gives `onPackageError` (its text kept
// in *why when asked), allocation failure E_OUTOFMEMORY, anything else E_FAIL.
#pragma once

#include <new>
#include <string>

#include "platform/pipeline/opc_package.h"
#include "platform/winerror.h"

template <class Body>
HRESULT HostGuard(Body&& body, HRESULT onPackageError = STG_E_READFAULT, std::string* why = nullptr) noexcept
{
    try {
        return body();
    } catch (const PackageError& e) {
        if (why) {
            try {
                *why = e.what();
            } catch (...) {
            }
        }
        return onPackageError;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
