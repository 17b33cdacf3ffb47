#include "platform/pipeline/package_writer.h"

#include <cstdio>
#include <filesystem>
#include <map>

#include "platform/pipeline/host_guard.h"
#include "platform/pipeline/xml_util.h"
#include "platform/stringapiset.h"

namespace {

std::string ZipName(const std::string& partName) { return partName.starts_with('/') ? partName.substr(1) : partName; }

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

constexpr const char* kRelationshipsType = "application/vnd.openxmlformats-package.relationships+xml";

} // namespace

PackageWriter::PackageWriter(std::string outputPath, std::shared_ptr<const Package> input, const PackageModel& model)
    : outputPath_(std::move(outputPath)),
      input_(std::move(input)),
      flavour_(model.flavour),
      zip_(std::filesystem::path(outputPath_)
               .replace_filename("." + std::filesystem::path(outputPath_).filename().string() + ".XXXXXX")
               .string(),
           ZipWriter::Create::Unique)
{
    // The input's structural parts are written anew from what arrives; those
    // that do not arrive (dropped by a filter) must not come back as leftovers.
    auto structural = [this](const std::string& name) {
        structural_.insert(PartKey(name));
        structural_.insert(PartKey(Package::RelationshipsPartName(name)));
    };
    structural_.insert(PartKey("/[Content_Types].xml"));
    structural_.insert(PartKey(Package::RelationshipsPartName("")));
    structural(model.sequenceName);
    for (const DocumentModel& d : model.documents) {
        structural(d.name);
        for (const PageModel& p : d.pages)
            structural(p.name);
    }
}

PackageWriter::~PackageWriter() { Abandon(); }

template <class Body>
HRESULT PackageWriter::Guarded(Body&& body) noexcept
{
    if (closed_) {
        lastError_ = "a part was sent after CloseSender";
        return E_UNEXPECTED;
    }
    return HostGuard(std::forward<Body>(body), STG_E_WRITEFAULT, &lastError_);
}

std::string PackageWriter::Relationship_(std::string_view suffix) const { return flavour_->RelationshipType(suffix); }

bool PackageWriter::WritePart(const std::string& name, const std::string& contentType, const Bytes& bytes)
{
    if (!written_.insert(PartKey(name)).second)
        return false;
    // Images arrive compressed already; deflating them again gains nothing.
    const bool compress = contentType != "image/png" && contentType != "image/jpeg" && contentType != "image/vnd.ms-photo";
    zip_.Add(ZipName(name), bytes.data(), bytes.size(), compress);
    types_.emplace_back(name, contentType);
    return true;
}

bool PackageWriter::WriteStored(const std::string& name, const std::string& contentType, const Package& source)
{
    auto stored = source.ReadStoredPart(name);
    if (!stored)
        return false;
    written_.insert(PartKey(name));
    zip_.AddStored(ZipName(name), *stored);
    types_.emplace_back(name, contentType);
    return true;
}

bool PackageWriter::WritePartOf(IUnknown* part, const std::string& name, const std::string& contentType)
{
    if (written_.count(PartKey(name)))
        return false;
    const ComPtr<IHostPart> host = HostPartOf(part);
    if (host && host->WriterOpen())
        throw PackageError("part " + name + " was sent before its write stream was closed");
    if (host && host->Core().source && !host->Core().content && host->Core().name == name && !host->WrittenContent() &&
        WriteStored(name, contentType, *host->Core().source))
        return true;
    return WritePart(name, contentType, ReadAllBytes(part));
}

void PackageWriter::WriteOwnPart(const std::string& name, const std::string& contentType, const std::string& text)
{
    if (!WritePart(name, contentType, ToBytes(text)))
        throw PackageError("part " + name + " is written twice");
}

std::string PackageWriter::WriteRelated(IUnknown* part)
{
    const std::string name = PartNameOf(part);
    if (name.empty())
        throw PackageError("a related part has no name");
    if (written_.count(PartKey(name)))
        return name;
    const ComPtr<IHostPart> host = HostPartOf(part);
    std::string type = host ? host->Core().contentType : std::string();
    if (type.empty())
        type = input_ && input_->HasPart(name) ? input_->ContentType(name) : ContentTypeFromExtension(name);
    WritePartOf(part, name, type);
    return name;
}

void PackageWriter::WriteRelationships(const std::string& source, const std::vector<Relationship>& rels)
{
    if (rels.empty())
        return;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    std::set<std::string> ids;
    int next = 0;
    for (const Relationship& r : rels) {
        std::string id = r.id;
        while (id.empty() || !ids.insert(id).second)
            id = "R" + std::to_string(next++);
        xml += "<Relationship Id=\"" + XmlEscapeAttribute(id) + "\" Type=\"" + XmlEscapeAttribute(r.type) + "\" Target=\"" +
               XmlEscapeAttribute(r.target) + "\"" + (r.external ? " TargetMode=\"External\"" : "") + "/>";
    }
    xml += "</Relationships>";
    WriteOwnPart(Package::RelationshipsPartName(source), kRelationshipsType, xml);
}

HRESULT PackageWriter::SendXpsDocument(IXpsDocument* pIXpsDocument)
{
    if (!pIXpsDocument)
        return E_POINTER;
    return Guarded([&] {
        ComPtr<IPartThumbnail> thumbnail;
        if (SUCCEEDED(pIXpsDocument->GetThumbnail(thumbnail.ReleaseAndGetAddressOf())) && thumbnail)
            packageRels_.push_back(Relationship{"", kThumbnailRelationship, WriteRelated(thumbnail.Get()), false});
        if (const ComPtr<IHostPart> host = HostPartOf(pIXpsDocument))
            for (const Relationship& r : host->Core().extras)
                packageRels_.push_back(r);
        return S_OK;
    });
}

HRESULT PackageWriter::SendXpsUnknown(IUnknown* pUnknown)
{
    if (!pUnknown)
        return E_POINTER;
    return Guarded([&] {
        ComPtr<IPartDiscardControl> discard;
        const bool isDiscard = SUCCEEDED(pUnknown->QueryInterface(discard.ReleaseAndGetAddressOf()));
        if (PartNameOf(pUnknown).empty())
            return S_OK;  // nothing a package can hold
        const std::string name = WriteRelated(pUnknown);
        if (isDiscard)
            packageRels_.push_back(Relationship{"", Relationship_("discard-control"), name, false});
        return S_OK;
    });
}

HRESULT PackageWriter::SendFixedDocumentSequence(IFixedDocumentSequence* seq)
{
    if (!seq)
        return E_POINTER;
    return Guarded([&] {
        if (!sequenceName_.empty()) {
            lastError_ = "a second FixedDocumentSequence arrived";
            return E_UNEXPECTED;
        }
        sequenceName_ = PartNameOf(seq);
        if (sequenceName_.empty())
            sequenceName_ = "/FixedDocumentSequence.fdseq";
        ComPtr<IPartPrintTicket> ticket;
        if (SUCCEEDED(seq->GetPrintTicket(ticket.ReleaseAndGetAddressOf())) && ticket)
            sequenceRels_.push_back(Relationship{"", Relationship_("printticket"), WriteRelated(ticket.Get()), false});
        if (const ComPtr<IHostPart> host = HostPartOf(seq))
            for (const Relationship& r : host->Core().extras)
                sequenceRels_.push_back(r);
        return S_OK;
    });
}

HRESULT PackageWriter::SendFixedDocument(IFixedDocument* doc)
{
    if (!doc)
        return E_POINTER;
    return Guarded([&] {
        if (sequenceName_.empty()) {
            lastError_ = "a FixedDocument arrived before the FixedDocumentSequence";
            return E_UNEXPECTED;
        }
        EndDocument();
        auto entry = std::make_unique<DocumentEntry>();
        entry->name = PartNameOf(doc);
        if (entry->name.empty() || written_.count(PartKey(entry->name))) {
            lastError_ = "FixedDocument " + entry->name + " has no name or is sent twice";
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }
        written_.insert(PartKey(entry->name));  // reserved; written when the document ends
        ComPtr<IPartPrintTicket> ticket;
        if (SUCCEEDED(doc->GetPrintTicket(ticket.ReleaseAndGetAddressOf())) && ticket)
            entry->rels.push_back(Relationship{"", Relationship_("printticket"), WriteRelated(ticket.Get()), false});
        if (const ComPtr<IHostPart> host = HostPartOf(doc))
            for (const Relationship& r : host->Core().extras)
                entry->rels.push_back(r);
        document_ = std::move(entry);
        return S_OK;
    });
}

HRESULT PackageWriter::SendFixedPage(IFixedPage* page)
{
    if (!page)
        return E_POINTER;
    return Guarded([&] {
        if (!document_) {
            lastError_ = "a FixedPage arrived before any FixedDocument";
            return E_UNEXPECTED;
        }
        const std::string name = PartNameOf(page);
        const ComPtr<IHostPart> host = HostPartOf(page);
        const std::string type = host && !host->Core().contentType.empty() ? host->Core().contentType
                                                                           : "application/vnd.ms-package.xps-fixedpage+xml";
        if (name.empty() || !WritePartOf(page, name, type)) {
            lastError_ = "FixedPage " + name + " has no name or is sent twice";
            return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
        }

        std::vector<Relationship> rels;
        ComPtr<IXpsPartIterator> it;
        if (SUCCEEDED(page->GetXpsPartIterator(it.ReleaseAndGetAddressOf())) && it) {
            for (it->Reset(); !it->IsDone(); it->Next()) {
                BSTR uri = nullptr;
                ComPtr<IUnknown> related;
                const HRESULT hr = it->Current(&uri, related.ReleaseAndGetAddressOf());
                SysFreeString(uri);
                if (FAILED(hr))
                    return hr;
                ComPtr<IPartThumbnail> thumbnail;
                const bool isThumbnail = SUCCEEDED(related->QueryInterface(thumbnail.ReleaseAndGetAddressOf()));
                rels.push_back(Relationship{"", isThumbnail ? kThumbnailRelationship : Relationship_("required-resource"),
                                            WriteRelated(related.Get()), false});
            }
        }
        ComPtr<IPartPrintTicket> ticket;
        if (SUCCEEDED(page->GetPrintTicket(ticket.ReleaseAndGetAddressOf())) && ticket)
            rels.push_back(Relationship{"", Relationship_("printticket"), WriteRelated(ticket.Get()), false});
        PageEntry entry{name, {}};
        if (host) {
            for (const Relationship& r : host->Core().extras)
                rels.push_back(r);
            entry.content = host->Core().pageContent;
        }
        WriteRelationships(name, rels);
        document_->pages.push_back(std::move(entry));
        const std::size_t written = ++pagesWritten_;
        if (onPage_)
            onPage_(written);
        return S_OK;
    });
}

void PackageWriter::EndDocument()
{
    if (!document_)
        return;
    if (document_->pages.empty()) {
        written_.erase(PartKey(document_->name));
        document_.reset();  // a FixedDocument needs a page: one that no page reached is left out
        return;
    }
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><FixedDocument xmlns=\"" + flavour_->markupNamespace + "\">";
    for (const PageEntry& p : document_->pages) {
        // The element as the input had it, with its own namespace declarations, and the Source of now.
        xml += "<" + p.content.name + " Source=\"" + XmlEscapeAttribute(p.name) + "\"" + p.content.rest;
    }
    xml += "</FixedDocument>";
    written_.erase(PartKey(document_->name));
    WriteOwnPart(document_->name, "application/vnd.ms-package.xps-fixeddocument+xml", xml);
    WriteRelationships(document_->name, document_->rels);
    documents_.push_back(document_->name);
    document_.reset();
}

HRESULT PackageWriter::CloseSender()
{
    if (closed_)
        return S_OK;
    const HRESULT hr = Guarded([this] {
        EndDocument();
        return S_OK;
    });
    closed_ = true;
    if (onClose_)
        onClose_();
    return hr;
}

HRESULT PackageWriter::GetNewEmptyPart(LPCWSTR uri, REFIID riid, void** ppNewObject, IPrintWriteStream** ppWriteStream)
{
    return Guarded([&] { return MakeEmptyPart(uri, riid, ppNewObject, ppWriteStream); });
}

void PackageWriter::Finish()
{
    if (finished_)
        return;
    EndDocument();
    if (sequenceName_.empty())
        throw PackageError("no FixedDocumentSequence reached the end of the pipeline");
    if (documents_.empty())
        throw PackageError("no page reached the end of the pipeline");

    std::string seq = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><FixedDocumentSequence xmlns=\"" +
                      flavour_->markupNamespace + "\">";
    for (const std::string& d : documents_)
        seq += "<DocumentReference Source=\"" + XmlEscapeAttribute(d) + "\"/>";
    seq += "</FixedDocumentSequence>";
    WriteOwnPart(sequenceName_, "application/vnd.ms-package.xps-fixeddocumentsequence+xml", seq);
    WriteRelationships(sequenceName_, sequenceRels_);

    std::vector<Relationship> root{Relationship{"", Relationship_("fixedrepresentation"), sequenceName_, false}};
    root.insert(root.end(), packageRels_.begin(), packageRels_.end());
    WriteRelationships("", root);

    // Parts of the input that did not travel through the pipeline.
    if (input_)
        for (const std::string& name : input_->PartNames()) {
            const std::string key = PartKey(name);
            if (!written_.count(key) && !structural_.count(key) && !WriteStored(name, input_->ContentType(name), *input_))
                WritePart(name, input_->ContentType(name), input_->ReadPart(name));
        }

    // Content types: one Default per extension (its first type), Overrides for the rest.
    std::map<std::string, std::string> defaults{{"rels", kRelationshipsType}};
    std::string overrides;
    for (const auto& [name, type] : types_) {
        if (type.empty())
            continue;
        const std::string ext = PartExtension(name);
        const bool asDefault = !ext.empty() && defaults.emplace(ext, type).first->second == type;
        if (!asDefault) {
            overrides += "<Override PartName=\"" + XmlEscapeAttribute(name) + "\" ContentType=\"" + XmlEscapeAttribute(type) + "\"/>";
        }
    }
    std::string types = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">";
    for (const auto& [ext, type] : defaults)
        types += "<Default Extension=\"" + XmlEscapeAttribute(ext) + "\" ContentType=\"" + XmlEscapeAttribute(type) + "\"/>";
    types += overrides + "</Types>";
    const Bytes typesBytes = ToBytes(types);
    zip_.Add("[Content_Types].xml", typesBytes.data(), typesBytes.size());
    zip_.Finish();

    std::error_code ec;
    std::filesystem::rename(zip_.Path(), outputPath_, ec);
    if (ec)
        throw PackageError("cannot move the output into place: " + ec.message());
    finished_ = true;
}

void PackageWriter::Abandon() noexcept
{
    if (finished_)
        return;
    zip_.Abandon();
    std::remove(zip_.Path().c_str());
}
