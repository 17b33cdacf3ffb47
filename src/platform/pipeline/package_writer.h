// PackageWriter: the consumer of the last filter. It writes what arrives as a
// new XPS package: every part with its relationships and content type, each
// FixedDocument listing the pages that reached it, in order, and the
// sequence listing the documents. Parts of the input package that the
// filters did not handle (images and fonts named only from markup, document
// structure, core properties) are carried over as they were.
//
// The package is written to a new file beside the output and renamed by
// Finish, so a failed job leaves no output; Abandon removes that file (and
// only that file). A document that no page reached is left out; a job that
// no page reached fails.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/comobject.h"
#include "platform/filterpipeline.h"
#include "platform/pipeline/host_parts.h"
#include "platform/pipeline/zip_writer.h"

class PackageWriter final : public ComObject<IXpsDocumentConsumer> {
public:
    // input: the package being printed (for the parts carried over) and its structure.
    PackageWriter(std::string outputPath, std::shared_ptr<const Package> input, const PackageModel& model);
    ~PackageWriter() override;

    HRESULT STDMETHODCALLTYPE SendXpsUnknown(IUnknown* pUnknown) override;
    HRESULT STDMETHODCALLTYPE SendXpsDocument(IXpsDocument* pIXpsDocument) override;
    HRESULT STDMETHODCALLTYPE SendFixedDocumentSequence(IFixedDocumentSequence* pIFixedDocumentSequence) override;
    HRESULT STDMETHODCALLTYPE SendFixedDocument(IFixedDocument* pIFixedDocument) override;
    HRESULT STDMETHODCALLTYPE SendFixedPage(IFixedPage* pIFixedPage) override;
    HRESULT STDMETHODCALLTYPE CloseSender() override;
    HRESULT STDMETHODCALLTYPE GetNewEmptyPart(LPCWSTR uri, REFIID riid, void** ppNewObject,
                                              IPrintWriteStream** ppWriteStream) override;

    // Completes the package and moves it into place; throws PackageError.
    void Finish();
    // Drops the partial output.
    void Abandon() noexcept;

    // Called after every page written, with the count so far, on the thread
    // that sent the page.
    void OnPage(std::function<void(std::size_t)> callback) { onPage_ = std::move(callback); }
    // Called once, when the sender closes: nothing more can reach the output.
    void OnClose(std::function<void()> callback) { onClose_ = std::move(callback); }
    // The pages written so far; may be asked from any thread.
    std::size_t PagesWritten() const noexcept { return pagesWritten_.load(); }
    // Why the last call failed, for the job's error message.
    const std::string& LastError() const noexcept { return lastError_; }

private:
    struct PageEntry {
        std::string name;
        PageContentMarkup content;
    };
    struct DocumentEntry {
        std::string name;
        std::vector<Relationship> rels;
        std::vector<PageEntry> pages;
    };

    template <class Body>
    HRESULT Guarded(Body&& body) noexcept;
    // Writes a part once; false when a part of that name is already written.
    bool WritePart(const std::string& name, const std::string& contentType, const Bytes& bytes);
    // Writes a part of source as it is stored there, nothing inflated or
    // deflated again; false when source cannot give its stored form.
    bool WriteStored(const std::string& name, const std::string& contentType, const Package& source);
    // Writes a part once, stored as in the input when it still has its
    // original bytes, else from its stream; false when already written.
    bool WritePartOf(IUnknown* part, const std::string& name, const std::string& contentType);
    // A part this writer makes itself (markup, relationships); throws when the name is taken.
    void WriteOwnPart(const std::string& name, const std::string& contentType, const std::string& text);
    // Writes a related part (resource, ticket, thumbnail) unless already written; answers its name.
    std::string WriteRelated(IUnknown* part);
    void WriteRelationships(const std::string& source, const std::vector<Relationship>& rels);
    void EndDocument();
    std::string Relationship_(std::string_view suffix) const;

    std::string outputPath_;
    std::shared_ptr<const Package> input_;
    const XpsFlavour* flavour_;
    std::set<std::string> structural_;  // keys of the input's sequence, documents, pages and their rels
    ZipWriter zip_;
    std::set<std::string> written_;     // keys of the parts written
    std::vector<std::pair<std::string, std::string>> types_;  // part name, content type
    std::vector<Relationship> packageRels_;
    std::string sequenceName_;
    std::vector<Relationship> sequenceRels_;
    std::vector<std::string> documents_;
    std::unique_ptr<DocumentEntry> document_;
    bool closed_ = false;
    bool finished_ = false;
    std::atomic<std::size_t> pagesWritten_{0};
    std::function<void(std::size_t)> onPage_;
    std::function<void()> onClose_;
    std::string lastError_;
};
