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
