// DOMDocument60 over libxml2.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "platform/comobject.h"
#include "platform/msxml6.h"
#include "platform/objbase.h"
#include "platform/stringapiset.h"

namespace {

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
std::string S(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

HRESULT Out(const std::string& text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    const std::u16string wide = Utf8ToWide(text);
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

std::string In(BSTR text) { return text ? WideToUtf8(std::u16string_view(text, SysStringLen(text))) : std::string(); }

std::string Trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string QualifiedName(const xmlNode* n)
{
    std::string name = S(n->name);
    if (n->ns && n->ns->prefix)
        name = S(n->ns->prefix) + ":" + name;
    return name;
}

// Parses "xmlns:a='uri' xmlns:b=\"uri\"" into prefix/URI pairs; false when malformed.
bool ParseSelectionNamespaces(const std::string& text, std::vector<std::pair<std::string, std::string>>& out)
{
    out.clear();
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
            ++i;
    };
    for (skipBlanks(); i < text.size(); skipBlanks()) {
        if (text.compare(i, 6, "xmlns:") != 0)
            return false;
        i += 6;
        const std::size_t eq = text.find('=', i);
        if (eq == std::string::npos || eq == i)
            return false;
        const std::string prefix = text.substr(i, eq - i);
        i = eq + 1;
        if (i >= text.size() || (text[i] != '\'' && text[i] != '"'))
            return false;
        const char quote = text[i++];
        const std::size_t close = text.find(quote, i);
        if (close == std::string::npos)
            return false;
        out.emplace_back(prefix, text.substr(i, close - i));
        i = close + 1;
    }
    return true;
}

class Document;

ComPtr<IXMLDOMNode> Wrap(Document* document, xmlNode* node);

// The IXMLDOMNode methods, for every node class: Target() is the libxml2 node
// (null for a namespace declaration seen as an attribute), Owner() the document.
template <class I, class... More>
class NodeImpl : public ComObject<I, More...> {
public:
    HRESULT STDMETHODCALLTYPE get_nodeName(BSTR* name) override
    {
        const xmlNode* n = Target();
        if (!n)
            return Out(DeclarationName(), name);
        switch (n->type) {
        case XML_ELEMENT_NODE:
        case XML_ATTRIBUTE_NODE: return Out(QualifiedName(n), name);
        case XML_TEXT_NODE: return Out("#text", name);
        case XML_CDATA_SECTION_NODE: return Out("#cdata-section", name);
        case XML_COMMENT_NODE: return Out("#comment", name);
        case XML_DOCUMENT_NODE: return Out("#document", name);
        default: return Out(S(n->name), name);
        }
    }

    HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType* type) override
    {
        if (!type)
            return E_POINTER;
        const xmlNode* n = Target();
        *type = !n ? NODE_ATTRIBUTE : n->type <= XML_DOCUMENT_NODE ? static_cast<DOMNodeType>(n->type) : NODE_INVALID;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_namespaceURI(BSTR* uri) override
    {
        const xmlNode* n = Target();
        if (!n)
            return Out("http://www.w3.org/2000/xmlns/", uri);
        return Out((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && n->ns ? S(n->ns->href) : "", uri);
    }

    HRESULT STDMETHODCALLTYPE get_prefix(BSTR* prefix) override
    {
        const xmlNode* n = Target();
        if (!n)
            return Out("xmlns", prefix);
        return Out((n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE) && n->ns ? S(n->ns->prefix) : "", prefix);
    }

    HRESULT STDMETHODCALLTYPE get_baseName(BSTR* name) override
    {
        const xmlNode* n = Target();
        if (!n) {
            const std::string full = DeclarationName();
            const auto colon = full.find(':');
            return Out(colon == std::string::npos ? full : full.substr(colon + 1), name);
        }
        return Out(n->type == XML_ELEMENT_NODE || n->type == XML_ATTRIBUTE_NODE ? S(n->name) : "", name);
    }

    HRESULT STDMETHODCALLTYPE get_text(BSTR* text) override { return Out(Trim(Content()), text); }

    HRESULT STDMETHODCALLTYPE get_nodeTypedValue(VARIANT* value) override
    {
        if (!value)
            return E_POINTER;
        VariantInit(value);
        BSTR text = nullptr;
        const HRESULT hr = get_text(&text);
        if (FAILED(hr))
            return hr;
        value->vt = VT_BSTR;
        value->bstrVal = text;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_xml(BSTR* xml) override;

    HRESULT STDMETHODCALLTYPE get_attributes(IXMLDOMNamedNodeMap** attributes) override;

    HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode** parent) override
    {
        const xmlNode* n = Target();
        return Deliver(n && n->type != XML_DOCUMENT_NODE ? n->parent : nullptr, parent);
    }

    HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode** child) override
    {
        const xmlNode* n = Target();
        return Deliver(n && n->type != XML_ATTRIBUTE_NODE ? n->children : nullptr, child);
    }

    HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode** sibling) override
    {
        const xmlNode* n = Target();
        return Deliver(n && n->type != XML_ATTRIBUTE_NODE ? n->next : nullptr, sibling);
    }

    HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList** children) override;

    HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument** document) override;

    HRESULT STDMETHODCALLTYPE selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode) override;
    HRESULT STDMETHODCALLTYPE selectNodes(BSTR queryString, IXMLDOMNodeList** resultList) override;

protected:
    virtual xmlNode* Target() = 0;
    virtual Document* Owner() = 0;
    virtual std::string DeclarationName() { return {}; }
    virtual std::string DeclarationValue() { return {}; }

    std::string Content()
    {
        xmlNode* n = Target();
        if (!n)
            return DeclarationValue();
        xmlChar* content = xmlNodeGetContent(n);
        std::string out = S(content);
        xmlFree(content);
        return out;
    }

    HRESULT Deliver(xmlNode* node, IXMLDOMNode** out)
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!node)
            return S_FALSE;
        *out = Wrap(Owner(), node).Detach();
        return *out ? S_OK : E_OUTOFMEMORY;
    }
};

class NodeList final : public ComObject<IXMLDOMNodeList, IXMLDOMNamedNodeMap> {
public:
    explicit NodeList(std::vector<ComPtr<IXMLDOMNode>> nodes) : nodes_(std::move(nodes)) {}

    HRESULT STDMETHODCALLTYPE get_length(LONG* length) override
    {
        if (!length)
            return E_POINTER;
        *length = static_cast<LONG>(nodes_.size());
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode** item) override
    {
        if (!item)
            return E_POINTER;
        *item = nullptr;
        if (index < 0 || static_cast<std::size_t>(index) >= nodes_.size())
            return S_FALSE;
        return nodes_[static_cast<std::size_t>(index)].CopyTo(item);
    }

    HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode** next) override
    {
        const HRESULT hr = get_item(static_cast<LONG>(cursor_), next);
        if (hr == S_OK)
            ++cursor_;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE reset() override
    {
        cursor_ = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE getNamedItem(BSTR name, IXMLDOMNode** item) override
    {
        if (!item)
            return E_POINTER;
        *item = nullptr;
        const std::string wanted = In(name);
        for (const auto& n : nodes_) {
            BSTR nodeName = nullptr;
            if (SUCCEEDED(n->get_nodeName(&nodeName)) && In(nodeName) == wanted) {
                SysFreeString(nodeName);
                return n.CopyTo(item);
            }
            SysFreeString(nodeName);
        }
        return S_FALSE;
    }

private:
    std::vector<ComPtr<IXMLDOMNode>> nodes_;
    std::size_t cursor_ = 0;
};

class Document final : public NodeImpl<IXMLDOMDocument2, IStream> {
public:
    ~Document() override { Clear(); }

    xmlDoc* Doc() const noexcept { return doc_; }
    const std::vector<std::pair<std::string, std::string>>& Namespaces() const noexcept { return namespaces_; }

    // IXMLDOMDocument
    HRESULT STDMETHODCALLTYPE load(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) override
    {
        if (isSuccessful)
            *isSuccessful = VARIANT_FALSE;
        std::string bytes;
        if (xmlSource.vt == VT_UNKNOWN && xmlSource.punkVal) {
            ComPtr<ISequentialStream> stream;
            if (FAILED(xmlSource.punkVal->QueryInterface(stream.GetAddressOf())))
                return E_INVALIDARG;
            char chunk[65536];
            for (;;) {
                ULONG n = 0;
                const HRESULT hr = stream->Read(chunk, sizeof chunk, &n);
                if (FAILED(hr))
                    return Parse(nullptr, 0, isSuccessful);
                bytes.append(chunk, n);
                if (n == 0 || hr == S_FALSE)
                    break;
            }
            return Parse(bytes.data(), bytes.size(), isSuccessful);
        }
        if (xmlSource.vt == VT_BSTR) {
            Clear();
            doc_ = xmlReadFile(In(xmlSource.bstrVal).c_str(), nullptr, kParseOptions);
            return Loaded(isSuccessful);
        }
        return E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) override
    {
        const std::string text = In(bstrXML);
        Clear();
        // The text is already decoded: any encoding its declaration names is moot.
        doc_ = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", kParseOptions);
        return Loaded(isSuccessful);
    }

    HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement** element) override
    {
        if (!element)
            return E_POINTER;
        *element = nullptr;
        xmlNode* root = doc_ ? xmlDocGetRootElement(doc_) : nullptr;
        if (!root)
            return S_FALSE;
        return Wrap(this, root)->QueryInterface(element);
    }

    // IXMLDOMDocument2
    HRESULT STDMETHODCALLTYPE setProperty(BSTR name, VARIANT value) override
    {
        const std::string property = In(name);
        if (value.vt != VT_BSTR)
            return E_INVALIDARG;
        const std::string text = In(value.bstrVal);
        if (property == "SelectionLanguage")
            return text == "XPath" ? S_OK : E_INVALIDARG;
        if (property == "SelectionNamespaces") {
            std::vector<std::pair<std::string, std::string>> parsed;
            if (!ParseSelectionNamespaces(text, parsed))
                return E_INVALIDARG;
            namespaces_ = std::move(parsed);
            selectionNamespaces_ = text;
            return S_OK;
        }
        return E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE getProperty(BSTR name, VARIANT* value) override
    {
        if (!value)
            return E_POINTER;
        VariantInit(value);
        const std::string property = In(name);
        const std::string text = property == "SelectionLanguage"     ? "XPath"
                                 : property == "SelectionNamespaces" ? selectionNamespaces_
                                                                     : std::string("\x01");
        if (text == "\x01")
            return E_INVALIDARG;
        value->vt = VT_BSTR;
        return Out(text, &value->bstrVal);
    }

    // IStream: the document's XML, serialised afresh when read from its start.
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        if (position_ == 0)
            Serialise();
        const std::size_t available = position_ < xml_.size() ? xml_.size() - position_ : 0;
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(available, cb));
        std::memcpy(pv, xml_.data() + position_, n);
        position_ += n;
        if (pcbRead)
            *pcbRead = n;
        return n < cb ? S_FALSE : S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override
    {
        if (position_ == 0 && dwOrigin != STREAM_SEEK_SET)
            Serialise();
        LONGLONG base = dwOrigin == STREAM_SEEK_SET   ? 0
                        : dwOrigin == STREAM_SEEK_CUR ? static_cast<LONGLONG>(position_)
                        : dwOrigin == STREAM_SEEK_END ? static_cast<LONGLONG>(xml_.size())
                                                      : -1;
        if (base < 0 || (dlibMove.QuadPart > 0 && base > std::numeric_limits<LONGLONG>::max() - dlibMove.QuadPart) ||
            base + dlibMove.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<std::size_t>(base + dlibMove.QuadPart);
        if (plibNewPosition)
            plibNewPosition->QuadPart = position_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD) override
    {
        if (!pstatstg)
            return STG_E_INVALIDPOINTER;
        std::memset(pstatstg, 0, sizeof *pstatstg);
        Serialise();
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = xml_.size();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

    // The XML of the document or of one of its nodes.
    std::string Markup(xmlNode* node)
    {
        if (!doc_)
            return {};
        if (!node || node->type == XML_DOCUMENT_NODE) {
            xmlChar* buffer = nullptr;
            int size = 0;
            xmlDocDumpMemoryEnc(doc_, &buffer, &size, "UTF-8");
            std::string out(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
            xmlFree(buffer);
            return out;
        }
        xmlBuffer* buffer = xmlBufferCreate();
        xmlNodeDump(buffer, doc_, node, 0, 0);
        std::string out(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<std::size_t>(xmlBufferLength(buffer)));
        xmlBufferFree(buffer);
        return out;
    }

protected:
    xmlNode* Target() override { return reinterpret_cast<xmlNode*>(doc_); }
    Document* Owner() override { return this; }

private:
    static constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

    HRESULT Parse(const char* data, std::size_t size, VARIANT_BOOL* isSuccessful)
    {
        Clear();
        if (data && size <= 0x7FFFFFFF)
            doc_ = xmlReadMemory(data, static_cast<int>(size), nullptr, nullptr, kParseOptions);
        return Loaded(isSuccessful);
    }

    HRESULT Loaded(VARIANT_BOOL* isSuccessful)
    {
        if (doc_ && !xmlDocGetRootElement(doc_)) {
            xmlFreeDoc(doc_);
            doc_ = nullptr;
        }
        if (isSuccessful)
            *isSuccessful = doc_ ? VARIANT_TRUE : VARIANT_FALSE;
        return doc_ ? S_OK : S_FALSE;
    }

    void Clear()
    {
        if (doc_)
            xmlFreeDoc(doc_);
        doc_ = nullptr;
        position_ = 0;
    }

    void Serialise() { xml_ = Markup(nullptr); }

    xmlDoc* doc_ = nullptr;
    std::vector<std::pair<std::string, std::string>> namespaces_;
    std::string selectionNamespaces_;
    std::string xml_;
    std::size_t position_ = 0;
};

// Nodes inside a document: they keep the document alive.
template <class I>
class ChildNode : public NodeImpl<I> {
public:
    ChildNode(Document* document, xmlNode* node) : document_(document), node_(node) {}

protected:
    xmlNode* Target() override { return node_; }
    Document* Owner() override { return document_.Get(); }

    ComPtr<Document> document_;
    xmlNode* node_;
};

class PlainNode final : public ChildNode<IXMLDOMNode> {
public:
    using ChildNode::ChildNode;
};

// An attribute, or a namespace declaration seen as one (node null, name and value given).
class AttributeNode final : public ChildNode<IXMLDOMAttribute> {
public:
    AttributeNode(Document* document, xmlNode* node, std::string declName = {}, std::string declValue = {})
        : ChildNode(document, node), declName_(std::move(declName)), declValue_(std::move(declValue))
    {
    }

    HRESULT STDMETHODCALLTYPE get_name(BSTR* name) override { return get_nodeName(name); }
    HRESULT STDMETHODCALLTYPE get_value(VARIANT* value) override
    {
        if (!value)
            return E_POINTER;
        VariantInit(value);
        value->vt = VT_BSTR;
        return Out(Content(), &value->bstrVal);
    }
    HRESULT STDMETHODCALLTYPE get_text(BSTR* text) override { return Out(Content(), text); }

protected:
    std::string DeclarationName() override { return declName_; }
    std::string DeclarationValue() override { return declValue_; }

private:
    std::string declName_;
    std::string declValue_;
};

class ElementNode final : public ChildNode<IXMLDOMElement> {
public:
    using ChildNode::ChildNode;

    HRESULT STDMETHODCALLTYPE get_tagName(BSTR* name) override { return get_nodeName(name); }

    HRESULT STDMETHODCALLTYPE getAttribute(BSTR name, VARIANT* value) override
    {
        if (!value)
            return E_POINTER;
        VariantInit(value);
        value->vt = VT_NULL;
        const std::string wanted = In(name);
        for (const xmlNs* ns = node_->nsDef; ns; ns = ns->next) {
            const std::string declared = ns->prefix ? "xmlns:" + S(ns->prefix) : "xmlns";
            if (declared == wanted) {
                value->vt = VT_BSTR;
                return Out(S(ns->href), &value->bstrVal);
            }
        }
        for (xmlAttr* a = node_->properties; a; a = a->next) {
            if (QualifiedName(reinterpret_cast<xmlNode*>(a)) == wanted) {
                xmlChar* content = xmlNodeGetContent(reinterpret_cast<xmlNode*>(a));
                value->vt = VT_BSTR;
                const HRESULT hr = Out(S(content), &value->bstrVal);
                xmlFree(content);
                return hr;
            }
        }
        return S_FALSE;
    }
};

ComPtr<IXMLDOMNode> Wrap(Document* document, xmlNode* node)
{
    ComPtr<IXMLDOMNode> out;
    switch (node->type) {
    case XML_DOCUMENT_NODE: out = document; break;
    case XML_ELEMENT_NODE: out = ComPtr<IXMLDOMNode>::Attach(MakeComObject<ElementNode>(document, node).Detach()); break;
    case XML_ATTRIBUTE_NODE: out = ComPtr<IXMLDOMNode>::Attach(MakeComObject<AttributeNode>(document, node).Detach()); break;
    default: out = ComPtr<IXMLDOMNode>::Attach(MakeComObject<PlainNode>(document, node).Detach()); break;
    }
    return out;
}

ComPtr<NodeList> MakeList(std::vector<ComPtr<IXMLDOMNode>> nodes) { return MakeComObject<NodeList>(std::move(nodes)); }

template <class I, class... More>
HRESULT NodeImpl<I, More...>::get_xml(BSTR* xml)
{
    xmlNode* n = Target();
    if (!n)
        return Out(DeclarationName() + "=\"" + DeclarationValue() + "\"", xml);
    return Out(Owner()->Markup(n), xml);
}

template <class I, class... More>
HRESULT NodeImpl<I, More...>::get_attributes(IXMLDOMNamedNodeMap** attributes)
{
    if (!attributes)
        return E_POINTER;
    *attributes = nullptr;
    xmlNode* n = Target();
    if (!n || n->type != XML_ELEMENT_NODE)
        return S_FALSE;
    std::vector<ComPtr<IXMLDOMNode>> items;
    // Namespace declarations first, then the attributes, each in document order.
    for (const xmlNs* ns = n->nsDef; ns; ns = ns->next)
        items.push_back(ComPtr<IXMLDOMNode>::Attach(
            MakeComObject<AttributeNode>(Owner(), nullptr, ns->prefix ? "xmlns:" + S(ns->prefix) : "xmlns", S(ns->href)).Detach()));
    for (xmlAttr* a = n->properties; a; a = a->next)
        items.push_back(Wrap(Owner(), reinterpret_cast<xmlNode*>(a)));
    *attributes = MakeList(std::move(items)).Detach();
    return *attributes ? S_OK : E_OUTOFMEMORY;
}

template <class I, class... More>
HRESULT NodeImpl<I, More...>::get_childNodes(IXMLDOMNodeList** children)
{
    if (!children)
        return E_POINTER;
    std::vector<ComPtr<IXMLDOMNode>> items;
    xmlNode* n = Target();
    if (n && n->type != XML_ATTRIBUTE_NODE)
        for (xmlNode* c = n->children; c; c = c->next)
            items.push_back(Wrap(Owner(), c));
    *children = MakeList(std::move(items)).Detach();
    return *children ? S_OK : E_OUTOFMEMORY;
}

template <class I, class... More>
HRESULT NodeImpl<I, More...>::get_ownerDocument(IXMLDOMDocument** document)
{
    if (!document)
        return E_POINTER;
    *document = Owner();
    (*document)->AddRef();
    return S_OK;
}

// Evaluates an XPath expression from node; the nodes it selects, in document order.
HRESULT Select(Document* document, xmlNode* node, BSTR query, std::vector<ComPtr<IXMLDOMNode>>& found)
{
    found.clear();
    if (!document->Doc() || !node)
        return E_FAIL;
    const std::string expression = In(query);
    if (expression.empty())
        return E_INVALIDARG;
    xmlXPathContext* context = xmlXPathNewContext(document->Doc());
    if (!context)
        return E_OUTOFMEMORY;
    context->node = node;
    for (const auto& [prefix, uri] : document->Namespaces())
        xmlXPathRegisterNs(context, X(prefix.c_str()), X(uri.c_str()));
    // A bad expression is answered, not reported on stderr.
    context->error = [](void*, xmlError*) {};
    xmlXPathObject* result = xmlXPathEvalExpression(X(expression.c_str()), context);
    HRESULT hr = S_OK;
    if (!result || result->type != XPATH_NODESET) {
        hr = E_FAIL;
    } else if (result->nodesetval) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            xmlNode* n = result->nodesetval->nodeTab[i];
            if (n->type != XML_NAMESPACE_DECL)
                found.push_back(Wrap(document, n));
        }
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(context);
    return hr;
}

template <class I, class... More>
HRESULT NodeImpl<I, More...>::selectSingleNode(BSTR queryString, IXMLDOMNode** resultNode)
{
    if (!resultNode)
        return E_POINTER;
    *resultNode = nullptr;
    std::vector<ComPtr<IXMLDOMNode>> found;
    const HRESULT hr = Select(Owner(), Target(), queryString, found);
    if (FAILED(hr))
        return hr;
    if (found.empty())
        return S_FALSE;
    *resultNode = found.front().Detach();
    return S_OK;
}

template <class I, class... More>
HRESULT NodeImpl<I, More...>::selectNodes(BSTR queryString, IXMLDOMNodeList** resultList)
{
    if (!resultList)
        return E_POINTER;
    *resultList = nullptr;
    std::vector<ComPtr<IXMLDOMNode>> found;
    const HRESULT hr = Select(Owner(), Target(), queryString, found);
    if (FAILED(hr))
        return hr;
    *resultList = MakeList(std::move(found)).Detach();
    return *resultList ? S_OK : E_OUTOFMEMORY;
}

// The DOM is part of the platform: its class is there as soon as the library is loaded.
__attribute__((constructor)) void RegisterDocumentClass()
{
    xmlInitParser();  // once, before any thread parses
    ComPtr<SimpleClassFactory<Document>> factory = MakeComObject<SimpleClassFactory<Document>>();
    DWORD cookie = 0;
    if (factory)
        CoRegisterClassObject(CLSID_DOMDocument60, factory->AsUnknown(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
}

} // namespace
