// The PrintTicket provider over libxml2. Each input is parsed (no network, no
// entity expansion, no document type declarations) and checked; the merge
// works on the root-level elements, and the result is written by hand so that
// every name, including the QNames inside attribute values and text, is
// expressed in one set of namespace declarations on the result's root.
#include "platform/prntvpt.h"
#include "platform/xml_text.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/stringapiset.h"

namespace {

constexpr std::string_view kFrameworkUri = "http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework";
constexpr std::string_view kKeywordsUri = "http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords";
constexpr std::string_view kXsiUri = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view kXsdUri = "http://www.w3.org/2001/XMLSchema";
constexpr std::string_view kXmlUri = "http://www.w3.org/XML/1998/namespace";

// Tickets are a few kilobytes; an input past this is refused instead of buffered.
constexpr std::size_t kMaxTicketBytes = std::size_t{64} << 20;
constexpr std::size_t kReadChunk = 64 * 1024;
// Input text quoted in an error message is cut to this many bytes.
constexpr std::size_t kMaxQuoted = 48;

// ---------------------------------------------------------------------------
// Open providers. Handles are numbers from a counter, never addresses, so a
// closed handle stays refused even when memory is reused.

struct ProviderTable {
    std::mutex lock;
    std::unordered_map<HPTPROVIDER, std::u16string> open;  // handle -> printer name
    std::uintptr_t issued = 0;
};

ProviderTable& Providers()
{
    static ProviderTable* table = new ProviderTable;  // never destroyed: providers may be closed at exit
    return *table;
}

constexpr std::uintptr_t kHandleBase = 0x50540000;
constexpr std::uintptr_t kHandleStep = 0x10;

bool IsOpen(HPTPROVIDER h)
{
    ProviderTable& t = Providers();
    std::lock_guard guard(t.lock);
    return t.open.find(h) != t.open.end();
}

void InitXml()
{
    static const bool initialised = (xmlInitParser(), true);  // once, thread-safe
    (void)initialised;
}

// ---------------------------------------------------------------------------
// Small text helpers.

std::string_view View(const xmlChar* s) noexcept
{
    return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

std::string S(std::string_view v)
{
    return std::string(v);
}

constexpr bool IsXmlSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsBlank(std::string_view s) noexcept
{
    return std::all_of(s.begin(), s.end(), IsXmlSpace);
}

std::string_view Trim(std::string_view s) noexcept
{
    while (!s.empty() && IsXmlSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsXmlSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// Input text for a message: one line, cut short on a character boundary, in quotes.
std::string Quote(std::string_view text)
{
    std::string out = "\"";
    const bool cut = text.size() > kMaxQuoted;
    if (cut) {
        std::size_t end = kMaxQuoted;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        text = text.substr(0, end);
    }
    for (char c : text)
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    out += cut ? "...\"" : "\"";
    return out;
}

// A message from the parser as one line without the trailing newline.
std::string OneLine(std::string_view text)
{
    std::string out;
    for (char c : Trim(text))
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    return out;
}

// ---------------------------------------------------------------------------
// Names.

// An input that is not a valid PrintTicket; what() completes "The base PrintTicket ...".
class TicketFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct SplitName {
    std::string_view prefix;  // empty when unprefixed
    std::string_view local;
};

// The parts of a QName (NCName or NCName:NCName), or nullopt when text is not one.
std::optional<SplitName> SplitQName(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    const std::string copy(text);
    if (copy.size() != std::char_traits<char>::length(copy.c_str()) ||
        xmlValidateQName(reinterpret_cast<const xmlChar*>(copy.c_str()), 0) != 0)
        return std::nullopt;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return SplitName{{}, text};
    return SplitName{text.substr(0, colon), text.substr(colon + 1)};
}

// The namespace URI a prefix stands for at node: "" for an unprefixed name without
// a default namespace, nullopt for an undeclared prefix.
std::optional<std::string_view> NamespaceOf(const xmlNode* node, std::string_view prefix)
{
    if (prefix == "xml")
        return kXmlUri;
    const std::string p(prefix);
    const xmlNs* ns = xmlSearchNs(node->doc, const_cast<xmlNode*>(node),
                                  p.empty() ? nullptr : reinterpret_cast<const xmlChar*>(p.c_str()));
    if (!ns)
        return p.empty() ? std::optional<std::string_view>(std::string_view()) : std::nullopt;
    return View(ns->href);
}

struct ResolvedName {
    std::string uri;
    std::string local;
};

// Resolves a QName written at node; nullopt when it is not a QName or its prefix is undeclared.
std::optional<ResolvedName> ResolveQName(const xmlNode* node, std::string_view text)
{
    const std::optional<SplitName> split = SplitQName(text);
    if (!split)
        return std::nullopt;
    const std::optional<std::string_view> uri = NamespaceOf(node, split->prefix);
    if (!uri)
        return std::nullopt;
    return ResolvedName{std::string(*uri), std::string(split->local)};
}

bool InFramework(const xmlNode* n) noexcept
{
    return n->ns && View(n->ns->href) == kFrameworkUri;
}

// An element's or attribute's name as written in its document.
template <class Node>
std::string Written(const Node* n)
{
    std::string out;
    if (n->ns && n->ns->prefix) {
        out = View(n->ns->prefix);
        out += ':';
    }
    out += View(n->name);
    return out;
}

// The attribute's value (tickets carry no entity references, so its text children are all of it).
std::string AttributeValue(const xmlAttr* a)
{
    std::string out;
    for (const xmlNode* c = a->children; c; c = c->next)
        if (c->type == XML_TEXT_NODE)
            out += View(c->content);
    return out;
}

// The attribute local in namespace uri ("" for none), or null.
const xmlAttr* FindAttribute(const xmlNode* e, std::string_view uri, std::string_view local)
{
    for (const xmlAttr* a = e->properties; a; a = a->next) {
        const std::string_view ns = a->ns ? View(a->ns->href) : std::string_view();
        if (ns == uri && View(a->name) == local)
            return a;
    }
    return nullptr;
}

enum class QNameUse {
    kNone,    // not a QName
    kStrict,  // must be a QName whose prefix is declared
    kLoose,   // rewritten when it is a QName whose prefix is declared, else kept as it is
};

// Whether attribute a of e holds a QName: the `name` of any element (required
// for framework elements) and xsi:type.
QNameUse QNameUseOf(const xmlNode* e, const xmlAttr* a)
{
    if (!a->ns && View(a->name) == "name")
        return InFramework(e) ? QNameUse::kStrict : QNameUse::kLoose;
    if (a->ns && View(a->ns->href) == kXsiUri && View(a->name) == "type")
        return QNameUse::kStrict;
    return QNameUse::kNone;
}

// ---------------------------------------------------------------------------
// Reading and checking one input.

struct XmlDocFree {
    void operator()(xmlDoc* d) const noexcept { xmlFreeDoc(d); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;

struct ParserFree {
    void operator()(xmlParserCtxt* c) const noexcept { xmlFreeParserCtxt(c); }
};

enum class Kind { kFeature, kParameterInit, kProperty, kForeign };

using Key = std::tuple<Kind, std::string, std::string>;  // kind, namespace URI, local name

// A root-level element of a ticket.
struct RootItem {
    const xmlNode* node;
    Kind kind;
    ResolvedName name;        // of its `name`; of the element itself outside the framework namespace
    EPrintTicketScope scope;  // from the start of the local name of `name`; job for foreign elements

    Key key() const { return {kind, name.uri, name.local}; }
};

struct Ticket {
    XmlDocPtr doc;
    std::vector<RootItem> items;  // document order; a later duplicate of a name is left out
};

// Page..., Document..., and everything else (Job... and names without a known start) job.
EPrintTicketScope ScopeOf(std::string_view local) noexcept
{
    if (local.starts_with("Page"))
        return kPTPageScope;
    if (local.starts_with("Document"))
        return kPTDocumentScope;
    return kPTJobScope;
}

// Reads stream from its position to its end.
HRESULT ReadToEnd(IStream* stream, std::string& bytes)
{
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        ULONG got = 0;
        const HRESULT hr = stream->Read(chunk.data(), static_cast<ULONG>(chunk.size()), &got);
        if (FAILED(hr))
            return hr;
        const std::size_t n = std::min<std::size_t>(got, chunk.size());
        if (n == 0)
            return S_OK;
        if (bytes.size() + n > kMaxTicketBytes)
            throw TicketFormatError("is larger than 64 MiB");
        bytes.append(chunk.data(), n);
    }
}

XmlDocPtr Parse(const std::string& bytes)
{
    if (bytes.empty())
        throw TicketFormatError("is empty");
    std::unique_ptr<xmlParserCtxt, ParserFree> parser(xmlNewParserCtxt());
    if (!parser)
        throw std::bad_alloc();
    // No XML_PARSE_NOENT: entities are not expanded; no XML_PARSE_DTDLOAD: nothing is fetched.
    constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;
    XmlDocPtr doc(xmlCtxtReadMemory(parser.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                    kOptions));
    const xmlError& error = parser->lastError;
    if (error.code == XML_ERR_NO_MEMORY)
        throw std::bad_alloc();
    if (!doc || !parser->wellFormed || !parser->nsWellFormed || !xmlDocGetRootElement(doc.get())) {
        std::string why = "is not well-formed XML";
        if (error.message) {
            why += " (";
            if (error.line > 0)
                why += "line " + std::to_string(error.line) + ": ";
            why += OneLine(error.message);
            why += ")";
        }
        throw TicketFormatError(why);
    }
    if (doc->intSubset || doc->extSubset)
        throw TicketFormatError("has a document type declaration");
    return doc;
}

// Checks what the writer relies on below a root-level element: the QNames that
// must be QNames are, with declared prefixes, and there are only elements, text,
// comments and processing instructions.
void CheckContent(const xmlNode* e)
{
    for (const xmlAttr* a = e->properties; a; a = a->next) {
        if (QNameUseOf(e, a) != QNameUse::kStrict)
            continue;
        const std::string value = AttributeValue(a);
        if (!ResolveQName(e, Trim(value)))
            throw TicketFormatError("has a " + Written(e) + " whose " + Written(a) +
                                    " " + Quote(value) + " is not a QName with a declared prefix");
    }
    for (const xmlNode* c = e->children; c; c = c->next) {
        switch (c->type) {
        case XML_ELEMENT_NODE: CheckContent(c); break;
        case XML_TEXT_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE: break;
        default: throw TicketFormatError("has an entity reference or another unsupported node in a " + Written(e));
        }
    }
}

Ticket LoadTicket(const std::string& bytes)
{
    Ticket t{Parse(bytes), {}};
    const xmlNode* root = xmlDocGetRootElement(t.doc.get());
    if (!InFramework(root) || View(root->name) != "PrintTicket")
        throw TicketFormatError("has the root element " + Written(root) +
                                ", not PrintTicket in the Print Schema framework namespace");
    const xmlAttr* version = FindAttribute(root, "", "version");
    if (!version)
        throw TicketFormatError("has no version attribute on its root");
    if (const std::string v = AttributeValue(version); Trim(v) != "1")
        throw TicketFormatError("has version " + Quote(v) + "; only version 1 is known");

    std::set<Key> seen;
    for (const xmlNode* c = root->children; c; c = c->next) {
        if (c->type == XML_COMMENT_NODE || c->type == XML_PI_NODE)
            continue;
        if (c->type == XML_TEXT_NODE) {
            if (!IsBlank(View(c->content)))
                throw TicketFormatError("has text directly inside its root");
            continue;
        }
        if (c->type != XML_ELEMENT_NODE)
            throw TicketFormatError("has an entity reference or another unsupported node inside its root");
        CheckContent(c);
        // Elements of other namespaces have no name to scope them by: they are job
        // elements, matched by their own namespace and local name.
        RootItem item{c, Kind::kForeign, {S(c->ns ? View(c->ns->href) : ""), S(View(c->name))}, kPTJobScope};
        if (InFramework(c)) {
            const std::string_view local = View(c->name);
            if (local == "Feature")
                item.kind = Kind::kFeature;
            else if (local == "ParameterInit")
                item.kind = Kind::kParameterInit;
            else if (local == "Property")
                item.kind = Kind::kProperty;
            else
                throw TicketFormatError("has a " + Written(c) +
                                        " directly inside its root, where only Feature, ParameterInit and Property "
                                        "may be");
            const xmlAttr* name = FindAttribute(c, "", "name");
            if (!name)
                throw TicketFormatError("has a " + Written(c) + " without a name");
            std::optional<ResolvedName> resolved = ResolveQName(c, Trim(AttributeValue(name)));
            if (!resolved)  // CheckContent has refused this already
                throw TicketFormatError("has a " + Written(c) + " whose name is not a QName");
            item.name = std::move(*resolved);
            item.scope = ScopeOf(item.name.local);
        }
        if (!seen.insert(item.key()).second)
            continue;  // a duplicate: the first one counts
        t.items.push_back(std::move(item));
    }
    return t;
}

// Reads and checks one input. A fault of the input itself answers formatCode and
// sets message; a fault of the stream answers the stream's code.
HRESULT LoadInput(IStream* stream, std::string_view which, HRESULT formatCode, std::optional<Ticket>& out,
                  std::string& message)
{
    try {
        std::string bytes;
        const HRESULT hr = ReadToEnd(stream, bytes);
        if (FAILED(hr))
            return hr;
        out.emplace(LoadTicket(bytes));
        return S_OK;
    } catch (const TicketFormatError& e) {
        message = "The " + std::string(which) + " PrintTicket " + e.what() + ".";
        return formatCode;
    }
}

// ---------------------------------------------------------------------------
// Writing the result.

// The prefix a namespace is usually written with, or empty.
std::string_view ConventionalPrefix(std::string_view uri) noexcept
{
    if (uri == kFrameworkUri)
        return "psf";
    if (uri == kKeywordsUri)
        return "psk";
    if (uri == kXsiUri)
        return "xsi";
    if (uri == kXsdUri)
        return "xsd";
    return {};
}

// Builds the merged ticket from elements of either input. Every namespace the
// copied elements use (in element and attribute names and in QName values) is
// declared once on the root; the result never has a default namespace, so
// unprefixed names mean no namespace wherever they are.
class ResultWriter {
public:
    explicit ResultWriter(const xmlNode* baseRoot)
    {
        // The base's declarations come first and keep their prefixes, used or not.
        for (const xmlNs* ns = baseRoot->nsDef; ns; ns = ns->next)
            if (ns->prefix && View(ns->prefix) != "xml" && !UriOf(View(ns->prefix)))
                Add(View(ns->prefix), View(ns->href));
        frameworkPrefix_ = PrefixFor(baseRoot->ns ? View(baseRoot->ns->prefix) : std::string_view(), kFrameworkUri,
                                     true);
    }

    // Appends a root-level element of the base (fromBase) or of the delta.
    void Copy(const xmlNode* element, bool fromBase)
    {
        body_ += "\n  ";
        Element(element, 1, false, fromBase);
    }

    std::string Finish() const
    {
        std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + frameworkPrefix_ + ":PrintTicket";
        for (const Binding& b : bindings_)
            out += " xmlns:" + b.prefix + "=\"" + XmlEscapeAttribute(b.uri) + "\"";
        out += " version=\"1\"";
        if (body_.empty())
            return out + "/>\n";
        return out + ">" + body_ + "\n</" + frameworkPrefix_ + ":PrintTicket>\n";
    }

private:
    struct Binding {
        std::string prefix;
        std::string uri;
    };

    const std::string* UriOf(std::string_view prefix) const
    {
        const auto it = uriOf_.find(prefix);
        return it == uriOf_.end() ? nullptr : &it->second;
    }

    const std::string* FirstPrefixOf(std::string_view uri) const
    {
        const auto it = firstPrefixOf_.find(uri);
        return it == firstPrefixOf_.end() ? nullptr : &it->second;
    }

    // Declares prefix for uri, kept in declaration order and in both lookups.
    void Add(std::string_view prefix, std::string_view uri)
    {
        bindings_.push_back({std::string(prefix), std::string(uri)});
        uriOf_.emplace(std::string(prefix), std::string(uri));
        firstPrefixOf_.emplace(std::string(uri), std::string(prefix));
    }

    std::string Bind(std::string_view prefix, std::string_view uri)
    {
        Add(prefix, uri);
        return std::string(prefix);
    }

    // The result's prefix for a name in uri written with sourcePrefix. The base
    // keeps its prefixes unless one is already taken by another namespace; the
    // delta writes a namespace the result already has with the result's prefix.
    std::string PrefixFor(std::string_view sourcePrefix, std::string_view uri, bool fromBase)
    {
        if (uri == kXmlUri)
            return "xml";
        if (!sourcePrefix.empty()) {
            if (const std::string* bound = UriOf(sourcePrefix); bound && *bound == uri)
                return std::string(sourcePrefix);
        }
        if (!fromBase) {
            if (const std::string* p = FirstPrefixOf(uri))
                return *p;
        }
        if (!sourcePrefix.empty() && !sourcePrefix.starts_with("xml") && !UriOf(sourcePrefix))
            return Bind(sourcePrefix, uri);
        if (const std::string* p = FirstPrefixOf(uri))
            return *p;
        if (const std::string_view usual = ConventionalPrefix(uri); !usual.empty() && !UriOf(usual))
            return Bind(usual, uri);
        // Made-up names go on from the last one; ns0000 is never made up, as
        // readers look the driver's own names up by that prefix.
        for (unsigned& n = nextGenerated_;; ++n) {
            std::string candidate = std::to_string(n);
            if (candidate.size() < 4)
                candidate.insert(0, 4 - candidate.size(), '0');
            candidate.insert(0, "ns");
            if (!UriOf(candidate))
                return Bind(candidate, uri);
        }
    }

    std::string QualifiedName(const xmlNs* ns, std::string_view local, bool fromBase)
    {
        if (!ns || View(ns->href).empty())
            return std::string(local);
        return PrefixFor(View(ns->prefix), View(ns->href), fromBase) + ":" + std::string(local);
    }

    // text (a QName written at node, possibly with white space around it) in the
    // result's prefixes; nullopt when it is not a QName with a declared prefix.
    // prefixedOnly leaves unprefixed words alone (text that merely may be a QName).
    std::optional<std::string> RewriteQName(const xmlNode* node, std::string_view text, bool fromBase,
                                            bool prefixedOnly)
    {
        const std::string_view core = Trim(text);
        const std::optional<SplitName> split = SplitQName(core);
        if (!split || (prefixedOnly && split->prefix.empty()))
            return std::nullopt;
        const std::optional<std::string_view> uri = NamespaceOf(node, split->prefix);
        if (!uri)
            return std::nullopt;
        const std::size_t lead = static_cast<std::size_t>(core.data() - text.data());
        std::string out(text.substr(0, lead));
        if (!uri->empty())
            out += PrefixFor(split->prefix, *uri, fromBase) + ":";
        out += split->local;
        out += text.substr(lead + core.size());
        return out;
    }

    // Writes e. Element-only content is indented from depth; content with text
    // in it is written exactly as it is (preserve), down to its leaves.
    void Element(const xmlNode* e, int depth, bool preserve, bool fromBase)
    {
        const std::string name = QualifiedName(e->ns, View(e->name), fromBase);
        std::string tag = "<" + name;
        for (const xmlAttr* a = e->properties; a; a = a->next) {
            std::string value = AttributeValue(a);
            if (QNameUseOf(e, a) != QNameUse::kNone) {
                if (std::optional<std::string> q = RewriteQName(e, value, fromBase, false))
                    value = std::move(*q);
            }
            tag += " " + QualifiedName(a->ns, View(a->name), fromBase) + "=\"" + XmlEscapeAttribute(value) + "\"";
        }
        body_ += tag;

        bool hasElements = false;
        bool hasText = false;
        bool hasWords = false;
        for (const xmlNode* c = e->children; c; c = c->next) {
            if (c->type == XML_ELEMENT_NODE) {
                hasElements = true;
            } else if (c->type == XML_TEXT_NODE && c->content && *c->content) {
                hasText = true;
                hasWords = hasWords || !IsBlank(View(c->content));
            }
        }
        if (!hasElements && !hasText) {
            body_ += "/>";
            return;
        }
        body_ += ">";
        if (!hasElements) {
            std::string text;
            for (const xmlNode* c = e->children; c; c = c->next)
                if (c->type == XML_TEXT_NODE)
                    text += View(c->content);
            if (std::optional<std::string> q = RewriteQName(e, text, fromBase, true))
                text = std::move(*q);
            body_ += XmlEscapeText(text);
        } else if (!hasWords && !preserve) {
            const std::string inner(static_cast<std::size_t>(depth + 1) * 2, ' ');
            for (const xmlNode* c = e->children; c; c = c->next) {
                if (c->type != XML_ELEMENT_NODE)
                    continue;
                body_ += "\n" + inner;
                Element(c, depth + 1, false, fromBase);
            }
            body_ += "\n" + std::string(static_cast<std::size_t>(depth) * 2, ' ');
        } else {
            for (const xmlNode* c = e->children; c; c = c->next) {
                if (c->type == XML_ELEMENT_NODE)
                    Element(c, 0, true, fromBase);
                else if (c->type == XML_TEXT_NODE)
                    body_ += XmlEscapeText(View(c->content));
            }
        }
        body_ += "</" + name + ">";
    }

    std::vector<Binding> bindings_;  // declaration order
    std::map<std::string, std::string, std::less<>> uriOf_;          // prefix -> URI
    std::map<std::string, std::string, std::less<>> firstPrefixOf_;  // URI -> its first prefix
    unsigned nextGenerated_ = 1;
    std::string frameworkPrefix_;
    std::string body_;
};

// Base elements in place (replaced by the delta's element of the same name),
// then the delta's new elements in delta order; out-of-scope elements dropped.
std::string Merge(const Ticket& base, const Ticket* delta, EPrintTicketScope scope)
{
    std::map<Key, const RootItem*> deltaByKey;
    if (delta) {
        for (const RootItem& item : delta->items)
            deltaByKey.emplace(item.key(), &item);
    }
    const auto inScope = [scope](const RootItem& item) { return item.scope <= scope; };

    ResultWriter writer(xmlDocGetRootElement(base.doc.get()));
    std::set<Key> replaced;
    for (const RootItem& item : base.items) {
        if (!inScope(item))
            continue;
        if (const auto it = deltaByKey.find(item.key()); it != deltaByKey.end()) {
            writer.Copy(it->second->node, false);
            replaced.insert(item.key());
        } else {
            writer.Copy(item.node, true);
        }
    }
    if (delta) {
        for (const RootItem& item : delta->items) {
            if (!inScope(item) || replaced.count(item.key()))
                continue;
            writer.Copy(item.node, false);
        }
    }
    return writer.Finish();
}

HRESULT WriteAll(IStream* stream, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), std::size_t{1} << 30));
        ULONG written = 0;
        const HRESULT hr = stream->Write(bytes.data(), chunk, &written);
        if (FAILED(hr))
            return hr;
        if (written == 0 || written > chunk)
            return STG_E_WRITEFAULT;
        bytes.remove_prefix(written);
    }
    return S_OK;
}

} // namespace

HRESULT PTOpenProvider(LPCWSTR pszPrinterName, DWORD dwVersion, HPTPROVIDER* phProvider)
{
    if (!phProvider)
        return E_POINTER;
    *phProvider = nullptr;
    if (!pszPrinterName || !*pszPrinterName)
        return E_INVALIDARG;
    if (dwVersion != 1)
        return E_VERSION_NOT_SUPPORTED;
    try {
        InitXml();
        ProviderTable& t = Providers();
        std::lock_guard guard(t.lock);
        const auto h = reinterpret_cast<HPTPROVIDER>(kHandleBase + ++t.issued * kHandleStep);
        t.open.emplace(h, std::u16string(pszPrinterName));
        *phProvider = h;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT PTCloseProvider(HPTPROVIDER hProvider)
{
    try {
        ProviderTable& t = Providers();
        std::lock_guard guard(t.lock);
        return t.open.erase(hProvider) ? S_OK : E_HANDLE;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT PTMergeAndValidatePrintTicket(HPTPROVIDER hProvider, IStream* pBaseTicket, IStream* pDeltaTicket,
                                      EPrintTicketScope scope, IStream* pResultTicket, BSTR* pbstrErrorMessage)
{
    if (pbstrErrorMessage)
        *pbstrErrorMessage = nullptr;
    try {
        if (!IsOpen(hProvider))
            return E_HANDLE;
        if (!pBaseTicket || !pResultTicket)
            return E_POINTER;
        if (static_cast<int>(scope) < kPTPageScope || static_cast<int>(scope) > kPTJobScope)
            return E_INVALIDARG;
        InitXml();

        std::optional<Ticket> base;
        std::optional<Ticket> delta;
        std::string message;
        HRESULT hr = LoadInput(pBaseTicket, "base", E_PRINTTICKET_FORMAT, base, message);
        if (SUCCEEDED(hr) && pDeltaTicket)
            hr = LoadInput(pDeltaTicket, "delta", E_DELTA_PRINTTICKET_FORMAT, delta, message);
        if (FAILED(hr)) {
            if (pbstrErrorMessage && !message.empty())
                *pbstrErrorMessage = SysAllocString(Utf8ToWide(message).c_str());
            return hr;
        }
        hr = WriteAll(pResultTicket, Merge(*base, delta ? &*delta : nullptr, scope));
        return FAILED(hr) ? hr : S_PT_NO_CONFLICT;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
