// The PrintTicket provider: merges a delta PrintTicket into a base ticket at a
// scope and validates the result. There are no device capabilities behind it,
// so nothing is resolved against a device and a valid merge always answers
// S_PT_NO_CONFLICT.
//
// Tickets are read from each stream's current position to its end (UTF-8 or
// UTF-16 with a byte-order mark); the result is written as UTF-8 XML with an
// XML declaration at the result stream's current position, and only on
// success. The unit of merge is a whole root-level Feature, ParameterInit or
// Property, matched by namespace URI and local name of its `name`. The base's
// namespace prefixes are kept as written; prefixes the delta binds differently
// are renamed in what is copied. No exception leaves these functions.
#pragma once

#include "platform/objidl.h"
#include "platform/oleauto.h"

// An open provider; refused unless it is in the table of open providers.
using HPTPROVIDER = void*;

// Which keywords a merged ticket keeps, by the Job/Document/Page start of their local names.
enum EPrintTicketScope {
    kPTPageScope = 0,      // Page keywords only
    kPTDocumentScope = 1,  // Document and Page keywords
    kPTJobScope = 2,       // everything, including keywords without a recognised start
};

// Success: the merged ticket is valid and nothing had to change.
inline constexpr HRESULT S_PT_NO_CONFLICT = static_cast<HRESULT>(0x00040001);
// Success: settings were changed to make the ticket viable (never answered here).
inline constexpr HRESULT S_PT_CONFLICT_RESOLVED = static_cast<HRESULT>(0x00040002);
// The provider was asked for a schema version other than 1.
inline constexpr HRESULT E_VERSION_NOT_SUPPORTED = static_cast<HRESULT>(0x80040001);
// The base ticket is not a valid PrintTicket.
inline constexpr HRESULT E_PRINTTICKET_FORMAT = static_cast<HRESULT>(0x80040003);
// A PrintCapabilities document is not valid (no capabilities are read here).
inline constexpr HRESULT E_PRINTCAPABILITIES_FORMAT = static_cast<HRESULT>(0x80040004);
// The delta ticket is not a valid PrintTicket.
inline constexpr HRESULT E_DELTA_PRINTTICKET_FORMAT = static_cast<HRESULT>(0x80040005);
// A device capabilities document is not valid (no capabilities are read here).
inline constexpr HRESULT E_PRINTDEVICECAPABILITIES_FORMAT = static_cast<HRESULT>(0x80040006);

// Opens a provider for a printer: E_POINTER for a null out-pointer, E_INVALIDARG for a null or empty name, E_VERSION_NOT_SUPPORTED unless dwVersion is 1.
HRESULT PTOpenProvider(LPCWSTR pszPrinterName, DWORD dwVersion, HPTPROVIDER* phProvider);
// Closes a provider; E_HANDLE for a handle that is not open (never followed).
HRESULT PTCloseProvider(HPTPROVIDER hProvider);
// Merges pDeltaTicket (may be null: validate the base only) into pBaseTicket at scope and writes the result to pResultTicket; an invalid input answers E_PRINTTICKET_FORMAT or E_DELTA_PRINTTICKET_FORMAT with a new one-line explanation in *pbstrErrorMessage (null otherwise; pbstrErrorMessage may be null).
HRESULT PTMergeAndValidatePrintTicket(HPTPROVIDER hProvider, IStream* pBaseTicket, IStream* pDeltaTicket,
                                      EPrintTicketScope scope, IStream* pResultTicket, BSTR* pbstrErrorMessage);
