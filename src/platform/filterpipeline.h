// The XPS print filter pipeline: what a filter is given by the pipeline manager
// (reader, writer, property bag, control), the XPS part interfaces and the
// streams. Every method answers an HRESULT except where noted.
#pragma once

#include "platform/oleauto.h"
#include "platform/unknwn.h"

ZNTR_DEFINE_IID(IPrintPipelineFilter, "CDB62FC0-8BED-434E-86FB-A2CAE55F19EA");
ZNTR_DEFINE_IID(IInterFilterCommunicator, "25C18F0F-8E65-4409-B164-3A453B774539");
ZNTR_DEFINE_IID(IPrintPipelinePropertyBag, "9A2C41DC-D1BB-4566-8D87-37C3910539C8");
ZNTR_DEFINE_IID(IPrintPipelineManagerControl, "F212020F-B21C-43AB-92DC-48A80F2E8740");
ZNTR_DEFINE_IID(IImgErrorInfo, "1783B84A-4579-4791-84C9-54173BD980BF");
ZNTR_DEFINE_IID(IXpsDocumentProvider, "088572C2-64B7-4A3C-BBD4-C7BA826173CC");
ZNTR_DEFINE_IID(IXpsDocumentConsumer, "A93C13F7-F74E-4238-920F-AB6D72D0ADE6");
ZNTR_DEFINE_IID(IPrintReadStream, "DB7257DD-26E6-4ADE-AEA1-E5D47F44F3C9");
ZNTR_DEFINE_IID(IPrintWriteStream, "A401C926-BEC0-46D3-A37C-5F8E6DE07175");
ZNTR_DEFINE_IID(IPrintReadStreamFactory, "ACB971E3-DF8D-4FC2-BEE6-0609D15F3CF9");
ZNTR_DEFINE_IID(IPartBase, "34A8983A-3DF2-4322-8CB1-AE9F38A01855");
ZNTR_DEFINE_IID(IPartPrintTicket, "A33ADA82-E77C-4D1A-A69F-AF67B12D575F");
ZNTR_DEFINE_IID(IPartThumbnail, "60EF2B67-7563-4A86-A13A-A989770F1C06");
ZNTR_DEFINE_IID(IPartFont, "63130C4B-CC97-4CF9-8605-082DBF1BD350");
ZNTR_DEFINE_IID(IPartImage, "E3CCC6A1-0C83-4CA8-83F0-811BFE61E82F");
ZNTR_DEFINE_IID(IPartColorProfile, "A9027AE6-0D15-483D-AE45-2A77969439A3");
ZNTR_DEFINE_IID(IPartResourceDictionary, "019DA454-2CAA-4EE2-A33A-BB18A1BE2FF3");
ZNTR_DEFINE_IID(IPartDiscardControl, "CC350C00-095B-42A5-BF0F-C8780EDADB3C");
ZNTR_DEFINE_IID(IXpsPartIterator, "9E303D31-5BF0-4E64-843C-D63E04FC7107");
ZNTR_DEFINE_IID(IXpsDocument, "E8D907DB-62A9-4A95-ABE7-E01763DD30F8");
ZNTR_DEFINE_IID(IFixedDocumentSequence, "8028D181-2C32-4249-8493-1BFB22045574");
ZNTR_DEFINE_IID(IFixedDocument, "F222CA9F-9968-4DB9-81BD-ABAEBF15F93F");
ZNTR_DEFINE_IID(IFixedPage, "3D9F6448-7E95-4CB5-94FB-0180C2883A57");

// ---- Streams --------------------------------------------------------------

// Sequential reading of a part, with seeking (origins as STREAM_SEEK).
struct IPrintReadStream : IUnknown {
    using Base = IUnknown;
    STDMETHOD(Seek)(LONGLONG dlibMove, DWORD dwOrigin, ULONGLONG* plibNewPosition) = 0;
    // Reads up to cbRequested bytes; *pbEndOfFile (optional) turns TRUE at the end.
    STDMETHOD(ReadBytes)(void* pvBuffer, ULONG cbRequested, ULONG* pcbRead, BOOL* pbEndOfFile) = 0;

protected:
    ~IPrintReadStream() = default;
};

// Writing a part's new content; Close commits it.
struct IPrintWriteStream : IUnknown {
    using Base = IUnknown;
    STDMETHOD(WriteBytes)(const void* pvBuffer, ULONG cbBuffer, ULONG* pcbWritten) = 0;
    STDMETHOD(Close)() = 0;

protected:
    ~IPrintWriteStream() = default;
};

// Hands out a new read stream, positioned at the start, on every call.
struct IPrintReadStreamFactory : IUnknown {
    using Base = IUnknown;
    STDMETHOD(GetStream)(IPrintReadStream** ppStream) = 0;

protected:
    ~IPrintReadStreamFactory() = default;
};

// ---- Parts ----------------------------------------------------------------

enum EXpsCompressionOptions : DWORD {
    Compression_NotCompressed = 0,
    Compression_Normal = 1,
    Compression_Small = 2,
    Compression_Fast = 3,
};

struct IPartBase : IUnknown {
    using Base = IUnknown;
    // The part name, an absolute package URI such as "/Documents/1/Pages/1.fpage".
    STDMETHOD(GetUri)(BSTR* uri) = 0;
    STDMETHOD(GetStream)(IPrintReadStream** ppStream) = 0;
    STDMETHOD(GetPartCompression)(EXpsCompressionOptions* pCompression) = 0;
    STDMETHOD(SetPartCompression)(EXpsCompressionOptions compression) = 0;

protected:
    ~IPartBase() = default;
};

struct IPartPrintTicket : IPartBase {
    using Base = IPartBase;

protected:
    ~IPartPrintTicket() = default;
};

struct IPartThumbnail : IPartBase {
    using Base = IPartBase;
    STDMETHOD(GetThumbnailProperties)(BSTR* pContentType) = 0;

protected:
    ~IPartThumbnail() = default;
};

struct IPartFont : IPartBase {
    using Base = IPartBase;
    STDMETHOD(GetFontProperties)(BSTR* pContentType) = 0;

protected:
    ~IPartFont() = default;
};

struct IPartImage : IPartBase {
    using Base = IPartBase;
    STDMETHOD(GetImageProperties)(BSTR* pContentType) = 0;

protected:
    ~IPartImage() = default;
};

struct IPartColorProfile : IPartBase {
    using Base = IPartBase;

protected:
    ~IPartColorProfile() = default;
};

struct IPartResourceDictionary : IPartBase {
    using Base = IPartBase;

protected:
    ~IPartResourceDictionary() = default;
};

// The package's discard-control part: which parts may be discarded after which page.
struct IPartDiscardControl : IPartBase {
    using Base = IPartBase;
    STDMETHOD(GetDiscardProperties)(BSTR* uriSentinelPage, BSTR* uriPartToDiscard) = 0;

protected:
    ~IPartDiscardControl() = default;
};

// Walks the parts a FixedPage refers to (resources, and its thumbnail).
struct IXpsPartIterator : IUnknown {
    using Base = IUnknown;
    STDMETHOD(Reset)() = 0;
    STDMETHOD(Current)(BSTR* pUri, IUnknown** ppXpsPart) = 0;
    STDMETHOD_(BOOL, IsDone)() = 0;
    STDMETHOD(Next)() = 0;

protected:
    ~IXpsPartIterator() = default;
};

struct IFixedPage : IPartBase {
    using Base = IPartBase;
    // HRESULT_FROM_WIN32(ERROR_NOT_FOUND) with null when the page has no PrintTicket.
    STDMETHOD(GetPrintTicket)(IPartPrintTicket** ppPrintTicket) = 0;
    // A related part by its absolute name; HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when absent.
    STDMETHOD(GetPagePart)(LPCWSTR uri, IUnknown** ppUnk) = 0;
    // A stream that replaces the page markup when closed.
    STDMETHOD(GetWriteStream)(IPrintWriteStream** ppWriteStream) = 0;
    STDMETHOD(SetPrintTicket)(IPartPrintTicket* pPrintTicket) = 0;
    // Adds a related part (font, image, colour profile, resource dictionary, thumbnail).
    STDMETHOD(SetPagePart)(IUnknown* pUnk) = 0;
    STDMETHOD(DeleteResource)(LPCWSTR uri) = 0;
    STDMETHOD(GetXpsPartIterator)(IXpsPartIterator** pXpsPartIt) = 0;

protected:
    ~IFixedPage() = default;
};

struct IFixedDocument : IPartBase {
    using Base = IPartBase;
    // HRESULT_FROM_WIN32(ERROR_NOT_FOUND) with null when the document has no PrintTicket.
    STDMETHOD(GetPrintTicket)(IPartPrintTicket** ppPrintTicket) = 0;
    STDMETHOD(SetPrintTicket)(IPartPrintTicket* pPrintTicket) = 0;

protected:
    ~IFixedDocument() = default;
};

struct IFixedDocumentSequence : IPartBase {
    using Base = IPartBase;
    // HRESULT_FROM_WIN32(ERROR_NOT_FOUND) with null when the sequence has no PrintTicket.
    STDMETHOD(GetPrintTicket)(IPartPrintTicket** ppPrintTicket) = 0;
    STDMETHOD(SetPrintTicket)(IPartPrintTicket* pPrintTicket) = 0;

protected:
    ~IFixedDocumentSequence() = default;
};

// The package itself (its thumbnail); always the first part of a job.
struct IXpsDocument : IUnknown {
    using Base = IUnknown;
    STDMETHOD(GetThumbnail)(IPartThumbnail** ppThumbnail) = 0;
    STDMETHOD(SetThumbnail)(IPartThumbnail* pThumbnail) = 0;

protected:
    ~IXpsDocument() = default;
};

// ---- Reader and writer ------------------------------------------------------

struct IXpsDocumentProvider : IUnknown {
    using Base = IUnknown;
    // S_OK with the next part, or S_OK with null at the end of the document.
    STDMETHOD(GetXpsPart)(IUnknown** ppIUnknown) = 0;

protected:
    ~IXpsDocumentProvider() = default;
};

struct IXpsDocumentConsumer : IUnknown {
    using Base = IUnknown;
    STDMETHOD(SendXpsUnknown)(IUnknown* pUnknown) = 0;
    STDMETHOD(SendXpsDocument)(IXpsDocument* pIXpsDocument) = 0;
    STDMETHOD(SendFixedDocumentSequence)(IFixedDocumentSequence* pIFixedDocumentSequence) = 0;
    STDMETHOD(SendFixedDocument)(IFixedDocument* pIFixedDocument) = 0;
    STDMETHOD(SendFixedPage)(IFixedPage* pIFixedPage) = 0;
    // Ends the stream: the next filter's reader gives null after the parts sent.
    STDMETHOD(CloseSender)() = 0;
    // A new empty part of the kind riid (IID_IFixedPage, or a resource part)
    // named uri (relative names are taken from the package root), with the
    // stream that fills it.
    STDMETHOD(GetNewEmptyPart)(LPCWSTR uri, REFIID riid, void** ppNewObject, IPrintWriteStream** ppWriteStream) = 0;

protected:
    ~IXpsDocumentConsumer() = default;
};

// ---- What the pipeline manager gives each filter ------------------------------

struct IInterFilterCommunicator : IUnknown {
    using Base = IUnknown;
    STDMETHOD(RequestReader)(void** ppIReader) = 0;
    STDMETHOD(RequestWriter)(void** ppIWriter) = 0;

protected:
    ~IInterFilterCommunicator() = default;
};

// Named values shared by all filters of a job; thread-safe.
struct IPrintPipelinePropertyBag : IUnknown {
    using Base = IUnknown;
    // Adds or replaces; the bag keeps a copy.
    STDMETHOD(AddProperty)(LPCWSTR pszName, const VARIANT* pVar) = 0;
    // A copy of the value (the caller clears it); HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when absent.
    STDMETHOD(GetProperty)(LPCWSTR pszName, VARIANT* pVar) = 0;
    // S_OK when removed, HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when absent.
    STDMETHOD(DeleteProperty)(LPCWSTR pszName) = 0;

protected:
    ~IPrintPipelinePropertyBag() = default;
};

// Why a filter ends the job, for the job's log.
struct IImgErrorInfo : IUnknown {
    using Base = IUnknown;
    // A one-line English description; a new BSTR owned by the caller.
    STDMETHOD(GetDescription)(BSTR* pbstrDescription) = 0;

protected:
    ~IImgErrorInfo() = default;
};

struct IPrintPipelineManagerControl : IUnknown {
    using Base = IUnknown;
    // Ends the job with hrReason; every filter is asked to stop.
    STDMETHOD(RequestShutdown)(HRESULT hrReason, IImgErrorInfo* pReason) = 0;
    STDMETHOD(FilterFinished)() = 0;

protected:
    ~IPrintPipelineManagerControl() = default;
};

struct IPrintPipelineFilter : IUnknown {
    using Base = IUnknown;
    STDMETHOD(InitializeFilter)(IInterFilterCommunicator* pINegotiation, IPrintPipelinePropertyBag* pIPropertyBag,
                                IPrintPipelineManagerControl* pIPipelineControl) = 0;
    STDMETHOD(ShutdownOperation)() = 0;
    STDMETHOD(StartOperation)() = 0;

protected:
    ~IPrintPipelineFilter() = default;
};

// The two exports of a filter library.
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
using PFN_DllCanUnloadNow = HRESULT (*)();
