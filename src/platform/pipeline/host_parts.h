// The part objects the pipeline host hands to filters: FixedDocumentSequence,
// FixedDocument, FixedPage, resources, PrintTickets, thumbnails, the
// DiscardControl part and the XPS document itself, with their streams.
//
// A part read from the package loads its bytes only when a stream is asked
// for, so parts in flight cost little memory. A part's new content, written
// through its write stream, replaces the package bytes when the stream is
// closed (or released unclosed, so nothing written is lost). A part whose
// write stream is still open cannot be sent on.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/comobject.h"
#include "platform/filterpipeline.h"
#include "platform/pipeline/xps_model.h"

// What the host knows of a part beyond its interfaces.
struct PartCore {
    std::string name;         // absolute part name
    std::string contentType;  // empty when unknown
    std::shared_ptr<const Package> source;  // where the original bytes are, or null
    std::shared_ptr<const Bytes> content;   // the bytes of a new part (set once, at creation)
    std::vector<Relationship> extras;       // relationships kept as they were
    PageContentMarkup pageContent;          // FixedPage only
    EXpsCompressionOptions compression = Compression_Normal;
};

// The host's own interface on every part it creates.
ZNTR_DEFINE_IID(IHostPart, "E04CA127-45D7-45F0-9D32-24127DB5FE13");
struct IHostPart : IUnknown {
    using Base = IUnknown;
    // What does not change while the part travels.
    virtual const PartCore& Core() = 0;
    // The bytes written through a write stream, or null while the part has its original ones.
    virtual std::shared_ptr<const Bytes> WrittenContent() = 0;
    // The current bytes; throws PackageError.
    virtual std::shared_ptr<const Bytes> CurrentContent() = 0;
    // True while a write stream on the part is open.
    virtual bool WriterOpen() = 0;
    // A write stream opens (true) or commits its content and closes.
    virtual void OpenWriter() = 0;
    virtual void Commit(std::shared_ptr<const Bytes> content) = 0;

protected:
    ~IHostPart() = default;
};

// The kinds of related parts, chosen from the content type.
enum class ResourceKind { Font, Image, ColorProfile, ResourceDictionary, Thumbnail, PrintTicket, Other };
ResourceKind ResourceKindFromContentType(std::string_view contentType);

// A read stream over bytes held in memory.
ComPtr<IPrintReadStream> MakeMemoryReadStream(std::shared_ptr<const Bytes> bytes);
// A stream factory handing out read streams over the same bytes.
ComPtr<IPrintReadStreamFactory> MakeReadStreamFactory(std::shared_ptr<const Bytes> bytes);

// Creates a related part of the given kind.
ComPtr<IUnknown> MakeResourcePart(ResourceKind kind, PartCore core);
ComPtr<IPartPrintTicket> MakePrintTicketPart(PartCore core);
ComPtr<IPartDiscardControl> MakeDiscardControlPart(PartCore core);
ComPtr<IXpsDocument> MakeXpsDocument(ComPtr<IPartThumbnail> thumbnail, PartCore core);
ComPtr<IFixedDocumentSequence> MakeFixedDocumentSequence(PartCore core, ComPtr<IPartPrintTicket> ticket);
ComPtr<IFixedDocument> MakeFixedDocument(PartCore core, ComPtr<IPartPrintTicket> ticket);
ComPtr<IFixedPage> MakeFixedPage(PartCore core, ComPtr<IPartPrintTicket> ticket, std::vector<ComPtr<IUnknown>> related);
// GetNewEmptyPart: a new empty part of kind riid named uri (relative names
// are taken from the package root), with the stream that fills it.
HRESULT MakeEmptyPart(LPCWSTR uri, REFIID riid, void** ppNewObject, IPrintWriteStream** ppWriteStream);

// The host's view of a part from any of its interfaces; null for foreign
// objects. The XPS document's view is named "/" and keeps the package's own
// relationships as its extras.
ComPtr<IHostPart> HostPartOf(IUnknown* part);
// The part name from IPartBase::GetUri; empty when it has none.
std::string PartNameOf(IUnknown* part);
// Every byte of a part's stream; throws PackageError.
Bytes ReadAllBytes(IUnknown* part);
