// PageRewriter: the SAX content handler that writes a FixedPage anew while
// it is parsed, into the page's MarkupBuffer: markup compatibility resolved,
// namespace declarations reduced to the XPS and resource-key ones on the
// root, relative resource references made absolute, remote resource
// dictionaries inlined, FixedPage.Resources moved into a Canvas, the page
// size replaced by the output size, and the placement canvases opened after
// the FixedPage start tag. Character data, comments and processing
// instructions are not copied; the page carries no XML declaration.
//
// A nested rewriter (no placement) writes an inlined remote dictionary into
// the same buffer. The rewriter writes no closing canvases and no
// "</FixedPage>": the page flow does, after the parse (CountedCanvases).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_nongdi/preprocess/markup_compatibility.h"
#include "filter/framework/inter_filter_records.h"
#include "filter/framework/markup_buffer.h"
#include "platform/comobject.h"
#include "platform/filterpipeline.h"
#include "platform/msxml6.h"

// The folder of a part name, up to and including its last "/"; none when
// that "/" is the first character (or there is none).
std::optional<std::u16string> BaseDirectoryOf(std::u16string_view partName);

// A reference made absolute against base (a folder ending in "/"; none for
// the package root); absolute references and references that climb above
// the root come back unchanged.
std::u16string RewriteReference(const std::optional<std::u16string>& base, std::u16string_view reference);

// Escapes an attribute value: & < > " ' by their entities, and tab, line
// feed and carriage return by character references (so that a reader gets
// them back rather than blanks).
void AppendEscaped(std::u16string& out, std::u16string_view value);

// Parses a part's read stream with a new SAX reader into handler. On
// failure, reason is the reader's message when the markup could not be read.
HRESULT ParseWithHandler(IPrintReadStream* stream, ISAXContentHandler* handler, std::string& reason);

// Writes a page anew into its write stream: the rewritten markup with the
// placement for record, then the watermark markup (8-bit, may be empty), the
// counted canvases closed and "</FixedPage>".
// The stream is closed on every path once it was obtained. On failure reason
// says why, when more than the code can be said. Throws CXDException and
// std::bad_alloc.
HRESULT RewriteFixedPage(IFixedPage* page, const JobRecord& job, const PageRecord& record, std::string_view watermark,
                         std::string& reason, std::size_t bufferSize = MarkupBuffer::kDefaultSize);

class PageRewriter final : public ComObject<ISAXContentHandler> {
public:
    // The rewriter of a page (job and record given: the placement is opened)
    // or of a dictionary inlined into one (nested; both null).
    PageRewriter(IFixedPage* page, MarkupBuffer& buffer, std::optional<std::u16string> baseDirectory,
                 const JobRecord* job, const PageRecord* record, bool nested);

    // The placement canvases the page flow closes after the content.
    std::int32_t CountedCanvases() const noexcept { return countedCanvases_; }
    // Why the parse was stopped with E_FAIL (empty when the reason is only the code).
    const std::string& FailureReason() const noexcept { return reason_; }

    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const WCHAR*, int, const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startElement(const WCHAR* pwchNamespaceUri, int cchNamespaceUri,
                                           const WCHAR* pwchLocalName, int cchLocalName, const WCHAR* pwchQName,
                                           int cchQName, ISAXAttributes* pAttributes) override;
    HRESULT STDMETHODCALLTYPE endElement(const WCHAR* pwchNamespaceUri, int cchNamespaceUri, const WCHAR* pwchLocalName,
                                         int cchLocalName, const WCHAR* pwchQName, int cchQName) override;
    HRESULT STDMETHODCALLTYPE characters(const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE processingInstruction(const WCHAR*, int, const WCHAR*, int) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE skippedEntity(const WCHAR*, int) override { return S_OK; }

private:
    struct Box {
        float x = 0, y = 0, width = 0, height = 0;
        bool present = false;
    };

    HRESULT StartElement(std::u16string_view qualifiedName, ISAXAttributes* attributes);
    HRESULT EndElement(std::u16string_view qualifiedName);
    HRESULT WriteAttributes();
    HRESULT WriteAttributeValue(std::u16string_view name, std::u16string_view escaped);
    HRESULT WriteRootDeclarations();
    HRESULT FinishRootTag();
    HRESULT InlineDictionary(std::u16string_view source);
    HRESULT Write(std::u16string_view text) { return buffer_.AppendText(text); }
    HRESULT WriteAscii(std::string_view text);
    HRESULT Fail(std::string reason);

    std::optional<std::u16string> base_;
    bool rootSeen_ = false;
    MarkupCompatibility compatibility_;
    MarkupBuffer& buffer_;
    bool remoteDictionary_ = false;
    ComPtr<IFixedPage> page_;
    bool resourcesMoved_ = false;
    const bool nested_;
    const JobRecord* job_;
    const PageRecord* record_;
    std::int32_t countedCanvases_ = 0;
    double height_ = 0;
    double width_ = 0;
    bool widthSeen_ = false;
    bool heightSeen_ = false;
    Box contentBox_;
    Box bleedBox_;
    bool rootTag_ = false;

    // Per start tag, reused: the attributes and the text being built.
    std::vector<MarkupAttribute> attributes_;
    std::u16string scratch_;
    std::string reason_;
};
