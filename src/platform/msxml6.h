// The XML DOM: DOMDocument60 through IXMLDOMDocument2, its nodes, node lists
// and attribute maps, with XPath 1.0 selection under declared prefixes.
//
// A document also answers IStream: reading it gives the document's XML
// (serialised afresh whenever the stream is read from its start), so another
// document can load a copy from it. CoCreateInstance(CLSID_DOMDocument60) makes
// documents once COM is entered on the thread.
//
// Text results are new BSTRs owned by the caller. Selections answer S_OK with
// a node, or S_FALSE with null when nothing matches.
#pragma once

#include "platform/objidl.h"
#include "platform/oleauto.h"

inline constexpr CLSID CLSID_DOMDocument60 = MakeGuid("88D96A05-F192-11D4-A65F-0040963251E5");

ZNTR_DEFINE_IID(IXMLDOMNode, "A6B411D0-3AF1-4C53-B85C-C205938EBAEF");
ZNTR_DEFINE_IID(IXMLDOMNodeList, "BB600807-A8DE-4A3B-9BEC-32A1AE8CED1B");
ZNTR_DEFINE_IID(IXMLDOMNamedNodeMap, "AEE55F40-1B63-4D88-9AA6-8D14F134B31C");
ZNTR_DEFINE_IID(IXMLDOMElement, "42F9566C-FEAD-45D5-B51F-BC41E3FF2FBB");
ZNTR_DEFINE_IID(IXMLDOMAttribute, "752869BD-3F3B-4C38-A434-D6741834EDFE");
ZNTR_DEFINE_IID(IXMLDOMDocument, "DBE69AD1-635A-489E-9385-90CC6ED47B6D");
ZNTR_DEFINE_IID(IXMLDOMDocument2, "2933BF95-7B36-11D2-B20E-00C04F983E60");

enum DOMNodeType : DWORD {
    NODE_INVALID = 0,
    NODE_ELEMENT = 1,
    NODE_ATTRIBUTE = 2,
    NODE_TEXT = 3,
    NODE_CDATA_SECTION = 4,
    NODE_PROCESSING_INSTRUCTION = 7,
    NODE_COMMENT = 8,
    NODE_DOCUMENT = 9,
};

struct IXMLDOMNodeList;
struct IXMLDOMNamedNodeMap;
struct IXMLDOMElement;
struct IXMLDOMDocument;

struct IXMLDOMNode : IUnknown {
    using Base = IUnknown;
    // The qualified name ("psf:Feature", "xmlns:psf"); "#text", "#document" for the others.
    STDMETHOD(get_nodeName)(BSTR* name) = 0;
    STDMETHOD(get_nodeType)(DOMNodeType* type) = 0;
    STDMETHOD(get_namespaceURI)(BSTR* uri) = 0;
    STDMETHOD(get_prefix)(BSTR* prefix) = 0;
    STDMETHOD(get_baseName)(BSTR* name) = 0;
    // The text of the node and all below it, without leading and trailing white space.
    STDMETHOD(get_text)(BSTR* text) = 0;
    // The node's value: its text as VT_BSTR (no data types are declared on these documents).
    STDMETHOD(get_nodeTypedValue)(VARIANT* value) = 0;
    // The node and everything below it as XML.
    STDMETHOD(get_xml)(BSTR* xml) = 0;
    // The attributes of an element, namespace declarations among them; null for other nodes.
    STDMETHOD(get_attributes)(IXMLDOMNamedNodeMap** attributes) = 0;
    STDMETHOD(get_parentNode)(IXMLDOMNode** parent) = 0;
    STDMETHOD(get_firstChild)(IXMLDOMNode** child) = 0;
    STDMETHOD(get_nextSibling)(IXMLDOMNode** sibling) = 0;
    STDMETHOD(get_childNodes)(IXMLDOMNodeList** children) = 0;
    STDMETHOD(get_ownerDocument)(IXMLDOMDocument** document) = 0;
    // XPath 1.0 from this node, under the document's SelectionNamespaces.
    STDMETHOD(selectSingleNode)(BSTR queryString, IXMLDOMNode** resultNode) = 0;
    STDMETHOD(selectNodes)(BSTR queryString, IXMLDOMNodeList** resultList) = 0;

protected:
    ~IXMLDOMNode() = default;
};

struct IXMLDOMNodeList : IUnknown {
    using Base = IUnknown;
    STDMETHOD(get_length)(LONG* length) = 0;
    // S_FALSE with null past the end.
    STDMETHOD(get_item)(LONG index, IXMLDOMNode** item) = 0;
    // The next node of the walk, S_FALSE with null at its end.
    STDMETHOD(nextNode)(IXMLDOMNode** next) = 0;
    STDMETHOD(reset)() = 0;

protected:
    ~IXMLDOMNodeList() = default;
};

struct IXMLDOMNamedNodeMap : IUnknown {
    using Base = IUnknown;
    STDMETHOD(get_length)(LONG* length) = 0;
    STDMETHOD(get_item)(LONG index, IXMLDOMNode** item) = 0;
    // By qualified name; S_FALSE with null when absent.
    STDMETHOD(getNamedItem)(BSTR name, IXMLDOMNode** item) = 0;

protected:
    ~IXMLDOMNamedNodeMap() = default;
};

struct IXMLDOMAttribute : IXMLDOMNode {
    using Base = IXMLDOMNode;
    STDMETHOD(get_name)(BSTR* name) = 0;
    STDMETHOD(get_value)(VARIANT* value) = 0;

protected:
    ~IXMLDOMAttribute() = default;
};

struct IXMLDOMElement : IXMLDOMNode {
    using Base = IXMLDOMNode;
    STDMETHOD(get_tagName)(BSTR* name) = 0;
    // The value of the attribute of that qualified name as VT_BSTR; S_FALSE with VT_NULL when absent.
    STDMETHOD(getAttribute)(BSTR name, VARIANT* value) = 0;

protected:
    ~IXMLDOMElement() = default;
};

struct IXMLDOMDocument : IXMLDOMNode {
    using Base = IXMLDOMNode;
    // Loads from a VT_UNKNOWN stream (IStream or ISequentialStream, read to its
    // end) or a VT_BSTR file path. *isSuccessful is VARIANT_TRUE only for
    // well-formed XML; otherwise the document is empty and S_FALSE is answered.
    STDMETHOD(load)(VARIANT xmlSource, VARIANT_BOOL* isSuccessful) = 0;
    STDMETHOD(loadXML)(BSTR bstrXML, VARIANT_BOOL* isSuccessful) = 0;
    // S_FALSE with null for an empty document.
    STDMETHOD(get_documentElement)(IXMLDOMElement** element) = 0;

protected:
    ~IXMLDOMDocument() = default;
};

struct IXMLDOMDocument2 : IXMLDOMDocument {
    using Base = IXMLDOMDocument;
    // "SelectionLanguage": "XPath" only. "SelectionNamespaces": declarations such
    // as "xmlns:psf='uri' xmlns:psk='uri'" (either quote), replacing the earlier ones.
    STDMETHOD(setProperty)(BSTR name, VARIANT value) = 0;
    STDMETHOD(getProperty)(BSTR name, VARIANT* value) = 0;

protected:
    ~IXMLDOMDocument2() = default;
};

// ---- SAX ------------------------------------------------------------------
//
// SAXXMLReader60 through ISAXXMLReader: a streaming parser that reads a
// document from a VT_UNKNOWN stream (ISequentialStream or IStream, read in
// pieces, never held whole) and calls the content handler synchronously, in
// document order. Element and attribute names are the qualified names as
// written (no namespace processing: the namespace URI and local name
// arguments of the element events are empty); namespace declarations are
// attributes like any other. UTF-8 and UTF-16 documents (by byte-order mark
// or declaration) are read; the handler always receives UTF-16 text, valid
// only for the duration of the call. Documents with a DTD are refused.
//
// putDocumentLocator and startDocument come first, before the stream is
// read; endDocument only once the whole document has been read and found
// well-formed. Processing instructions are reported; the XML declaration and
// comments are not, and ignorableWhitespace and the prefix mappings never
// come. Character references and the predefined entities arrive decoded
// (beyond the basic plane as surrogate pairs); any other entity reference is
// an error, and nothing external is ever loaded.
//
// A handler's failure stops the parse at once (no further calls), and parse
// answers that failure; a document that is not well-formed, or has a DTD,
// answers E_FAIL (a handler failure that came first wins). The stream is read
// until a Read gives no bytes; a failing Read stops the parse with its
// HRESULT. Without a content handler the document is still read and checked.
// The handlers are those set when parse begins. A reader parses one document
// at a time: parse on a reader that is parsing (from one of its handlers or
// another thread) answers E_UNEXPECTED; input other than a stream answers
// E_INVALIDARG. CoCreateInstance(CLSID_SAXXMLReader60) makes readers once COM
// is entered on the thread.

inline constexpr CLSID CLSID_SAXXMLReader60 = MakeGuid("88D96A0C-F192-11D4-A65F-0040963251E5");

ZNTR_DEFINE_IID(ISAXLocator, "9B7E472A-0DE4-4640-BFF3-84D38A051C31");
ZNTR_DEFINE_IID(ISAXAttributes, "F078ABE1-45D2-4832-91EA-4466CE2F25C9");
ZNTR_DEFINE_IID(ISAXContentHandler, "1545CDFA-9E4E-4497-A8A4-2BF7D0112C44");
ZNTR_DEFINE_IID(ISAXErrorHandler, "A60511C4-CCF5-479E-98A3-DC8DC545B7D0");
ZNTR_DEFINE_IID(ISAXXMLReader, "A4F96ED0-F829-476E-81C0-CDC7BD2A0802");

// Where the parser is in the document (1-based line and column): during a
// content event the start of what is reported; in fatalError the place of the
// error; kept beyond the parse, where the parse ended.
struct ISAXLocator : IUnknown {
    using Base = IUnknown;
    STDMETHOD(getColumnNumber)(int* pnColumn) = 0;
    STDMETHOD(getLineNumber)(int* pnLine) = 0;

protected:
    ~ISAXLocator() = default;
};

// The attributes of one start tag in document order; the pointers it hands
// out stay valid until the start-element call returns. Null pointer arguments
// answer E_POINTER, an index out of range E_INVALIDARG.
struct ISAXAttributes : IUnknown {
    using Base = IUnknown;
    STDMETHOD(getLength)(int* pnLength) = 0;
    STDMETHOD(getQName)(int nIndex, const WCHAR** ppwchQName, int* pcchQName) = 0;
    STDMETHOD(getValue)(int nIndex, const WCHAR** ppwchValue, int* pcchValue) = 0;
    // E_INVALIDARG when no attribute has that qualified name.
    STDMETHOD(getIndexFromQName)(const WCHAR* pwchQName, int cchQName, int* pnIndex) = 0;
    STDMETHOD(getValueFromQName)(const WCHAR* pwchQName, int cchQName, const WCHAR** ppwchValue, int* pcchValue) = 0;

protected:
    ~ISAXAttributes() = default;
};

// Implemented by the caller of the parser. Strings come with their length
// and are not terminated.
struct ISAXContentHandler : IUnknown {
    using Base = IUnknown;
    STDMETHOD(putDocumentLocator)(ISAXLocator* pLocator) = 0;
    STDMETHOD(startDocument)() = 0;
    STDMETHOD(endDocument)() = 0;
    STDMETHOD(startPrefixMapping)(const WCHAR* pwchPrefix, int cchPrefix, const WCHAR* pwchUri, int cchUri) = 0;
    STDMETHOD(endPrefixMapping)(const WCHAR* pwchPrefix, int cchPrefix) = 0;
    STDMETHOD(startElement)(const WCHAR* pwchNamespaceUri, int cchNamespaceUri, const WCHAR* pwchLocalName,
                            int cchLocalName, const WCHAR* pwchQName, int cchQName, ISAXAttributes* pAttributes) = 0;
    STDMETHOD(endElement)(const WCHAR* pwchNamespaceUri, int cchNamespaceUri, const WCHAR* pwchLocalName,
                          int cchLocalName, const WCHAR* pwchQName, int cchQName) = 0;
    STDMETHOD(characters)(const WCHAR* pwchChars, int cchChars) = 0;
    STDMETHOD(ignorableWhitespace)(const WCHAR* pwchChars, int cchChars) = 0;
    STDMETHOD(processingInstruction)(const WCHAR* pwchTarget, int cchTarget, const WCHAR* pwchData, int cchData) = 0;
    STDMETHOD(skippedEntity)(const WCHAR* pwchName, int cchName) = 0;

protected:
    ~ISAXContentHandler() = default;
};

// Told why a parse stops: fatalError once, with the position and a one-line
// English message, when the document is not well-formed or has a DTD (not
// when a content handler failed). Its answer does not change the outcome.
// The reader never calls error or ignorableWarning.
struct ISAXErrorHandler : IUnknown {
    using Base = IUnknown;
    STDMETHOD(error)(ISAXLocator* pLocator, const WCHAR* pwchErrorMessage, HRESULT hrErrorCode) = 0;
    STDMETHOD(fatalError)(ISAXLocator* pLocator, const WCHAR* pwchErrorMessage, HRESULT hrErrorCode) = 0;
    STDMETHOD(ignorableWarning)(ISAXLocator* pLocator, const WCHAR* pwchErrorMessage, HRESULT hrErrorCode) = 0;

protected:
    ~ISAXErrorHandler() = default;
};

struct ISAXXMLReader : IUnknown {
    using Base = IUnknown;
    STDMETHOD(putContentHandler)(ISAXContentHandler* pHandler) = 0;
    // S_FALSE with null when none is set.
    STDMETHOD(getContentHandler)(ISAXContentHandler** ppHandler) = 0;
    STDMETHOD(putErrorHandler)(ISAXErrorHandler* pHandler) = 0;
    // Parses the document of a VT_UNKNOWN stream (ISequentialStream or IStream).
    STDMETHOD(parse)(VARIANT varInput) = 0;

protected:
    ~ISAXXMLReader() = default;
};
