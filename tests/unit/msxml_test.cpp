// The XML DOM stand-in: loading, XPath under declared prefixes, attributes,
// text, and the document read back as a stream.
#include <gtest/gtest.h>

#include "platform/comptr.h"
#include "platform/msxml6.h"
#include "platform/objbase.h"
#include "platform/stringapiset.h"

namespace {

// COM for the test's thread, and a BSTR from UTF-8.
struct ComScope {
    ComScope() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComScope() { CoUninitialize(); }
};

struct Bstr {
    BSTR b;
    explicit Bstr(std::string_view text)
    {
        const std::u16string w = Utf8ToWide(text);
        b = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    }
    ~Bstr() { SysFreeString(b); }
    operator BSTR() const { return b; }
};

std::string Take(BSTR b)
{
    std::string out = b ? WideToUtf8(std::u16string_view(b, SysStringLen(b))) : "<null>";
    SysFreeString(b);
    return out;
}

ComPtr<IStream> StreamOf(std::string_view bytes)
{
    ComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()), S_OK);
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
    return stream;
}

ComPtr<IXMLDOMDocument2> NewDocument()
{
    ComPtr<IXMLDOMDocument2> doc;
    EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument2,
                               doc.ReleaseAndGetVoidAddress()),
              S_OK);
    return doc;
}

VARIANT_BOOL Load(IXMLDOMDocument2* doc, IUnknown* source)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = source;
    VARIANT_BOOL ok = VARIANT_FALSE;
    doc->load(v, &ok);
    return ok;
}

void SetProperty(IXMLDOMDocument2* doc, const char* name, const char* value, HRESULT expected = S_OK)
{
    Bstr text(value);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text;
    EXPECT_EQ(doc->setProperty(Bstr(name), v), expected) << name << " = " << value;
}

constexpr const char* kTicket =
    "<?xml version=\"1.0\"?>"
    "<t:PrintTicket xmlns:t=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
    "xmlns:k=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords\" version=\"1\">"
    "<t:Feature name=\"k:PageMediaSize\"><t:Option name=\"k:ISOA4\">"
    "<t:ScoredProperty name=\"k:MediaSizeWidth\"><t:Value> 210000 </t:Value></t:ScoredProperty></t:Option></t:Feature>"
    "<t:Feature name=\"k:JobDuplex\"><t:ScoredProperty name=\"k:OptionName\"><t:Value>TwoSided</t:Value>"
    "</t:ScoredProperty></t:Feature>"
    "</t:PrintTicket>";

TEST(DomDocument, LoadsOnlyWellFormedXml)
{
    ComScope com;
    struct Case {
        const char* what;
        std::string bytes;
        VARIANT_BOOL expected;
    };
    const Case cases[] = {
        {"ticket", kTicket, VARIANT_TRUE},
        {"UTF-16 with a byte-order mark", std::string("\xFF\xFE<\0a\0/\0>\0", 10), VARIANT_TRUE},
        {"unclosed element", "<a><b></a>", VARIANT_FALSE},
        {"empty", "", VARIANT_FALSE},
        {"text only", "hello", VARIANT_FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ComPtr<IXMLDOMDocument2> doc = NewDocument();
        ComPtr<IStream> stream = StreamOf(c.bytes);
        EXPECT_EQ(Load(doc.Get(), stream.Get()), c.expected);
        ComPtr<IXMLDOMElement> root;
        EXPECT_EQ(doc->get_documentElement(root.GetAddressOf()), c.expected == VARIANT_TRUE ? S_OK : S_FALSE);
    }
}

TEST(DomDocument, SelectsWithXPathUnderTheDeclaredPrefixes)
{
    ComScope com;
    ComPtr<IXMLDOMDocument2> doc = NewDocument();
    ComPtr<IStream> stream = StreamOf(kTicket);
    ASSERT_EQ(Load(doc.Get(), stream.Get()), VARIANT_TRUE);
    SetProperty(doc.Get(), "SelectionLanguage", "XPath");
    SetProperty(doc.Get(), "SelectionLanguage", "XSLPattern", E_INVALIDARG);
    SetProperty(doc.Get(), "SelectionNamespaces", "xmlns:psf 'broken'", E_INVALIDARG);
    // The selection's own prefix, not the document's.
    SetProperty(doc.Get(), "SelectionNamespaces",
                "xmlns:psf='http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework'");

    struct Case {
        const char* query;
        HRESULT hr;
        const char* text;  // of the node found
    };
    const Case cases[] = {
        {"//psf:Feature[@name = \"k:PageMediaSize\"]/psf:Option/@name", S_OK, "k:ISOA4"},
        {"//psf:Feature[@name = \"k:PageMediaSize\"]//psf:ScoredProperty[@name = \"k:MediaSizeWidth\"]/psf:Value", S_OK,
         "210000"},
        // The option of a feature: its Option, or the Value of its OptionName property.
        {"//psf:Feature[@name = \"k:JobDuplex\"]/psf:Option | //psf:Feature[@name = \"k:JobDuplex\"]"
         "/psf:ScoredProperty[@name = \"kOptionName\"]/psf:Value",
         S_FALSE, nullptr},
        {"//psf:Feature[@name = \"k:JobDuplex\"]/psf:Option | //psf:Feature[@name = \"k:JobDuplex\"]"
         "/psf:ScoredProperty[@name = \"k:OptionName\"]/psf:Value",
         S_OK, "TwoSided"},
        {"//psf:Feature[@name = \"k:Absent\"]", S_FALSE, nullptr},
        {"//t:Feature", E_FAIL, nullptr},  // a prefix the selection does not declare
        {"//psf:Feature[", E_FAIL, nullptr},
        {"count(//psf:Feature)", E_FAIL, nullptr},  // not a node set
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        ComPtr<IXMLDOMNode> node;
        EXPECT_EQ(doc->selectSingleNode(Bstr(c.query), node.GetAddressOf()), c.hr);
        EXPECT_EQ(node == nullptr, c.text == nullptr);
        if (node) {
            BSTR text = nullptr;
            node->get_text(&text);
            EXPECT_EQ(Take(text), c.text);
        }
    }

    ComPtr<IXMLDOMNodeList> features;
    ASSERT_EQ(doc->selectNodes(Bstr("//psf:Feature"), features.GetAddressOf()), S_OK);
    LONG length = 0;
    features->get_length(&length);
    EXPECT_EQ(length, 2);
    ComPtr<IXMLDOMNode> second;
    ASSERT_EQ(features->get_item(1, second.GetAddressOf()), S_OK);
    ComPtr<IXMLDOMElement> element;
    ASSERT_EQ(second.As(&element), S_OK);
    VARIANT name;
    EXPECT_EQ(element->getAttribute(Bstr("name"), &name), S_OK);
    EXPECT_EQ(Take(name.bstrVal), "k:JobDuplex");
    EXPECT_EQ(element->getAttribute(Bstr("missing"), &name), S_FALSE);
    EXPECT_EQ(name.vt, VT_NULL);

    // A relative path from a node.
    ComPtr<IXMLDOMNode> value;
    EXPECT_EQ(second->selectSingleNode(Bstr("psf:ScoredProperty/psf:Value"), value.GetAddressOf()), S_OK);
    VARIANT typed;
    ASSERT_EQ(value->get_nodeTypedValue(&typed), S_OK);
    EXPECT_EQ(typed.vt, VT_BSTR);
    EXPECT_EQ(Take(typed.bstrVal), "TwoSided");
}

TEST(DomDocument, RootAttributesIncludeTheNamespaceDeclarations)
{
    ComScope com;
    ComPtr<IXMLDOMDocument2> doc = NewDocument();
    ComPtr<IStream> stream = StreamOf(kTicket);
    ASSERT_EQ(Load(doc.Get(), stream.Get()), VARIANT_TRUE);
    ComPtr<IXMLDOMElement> root;
    ASSERT_EQ(doc->get_documentElement(root.GetAddressOf()), S_OK);
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    ASSERT_EQ(root->get_attributes(attributes.GetAddressOf()), S_OK);
    LONG length = 0;
    attributes->get_length(&length);
    std::vector<std::string> seen;
    for (LONG i = 0; i < length; ++i) {
        ComPtr<IXMLDOMNode> a;
        attributes->get_item(i, a.GetAddressOf());
        BSTR name = nullptr;
        BSTR text = nullptr;
        a->get_nodeName(&name);
        a->get_text(&text);
        seen.push_back(Take(name) + "=" + Take(text));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "xmlns:t=http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework",
                        "xmlns:k=http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords",
                        "version=1"}));
    ComPtr<IXMLDOMNode> version;
    EXPECT_EQ(attributes->getNamedItem(Bstr("version"), version.GetAddressOf()), S_OK);
    EXPECT_EQ(attributes->getNamedItem(Bstr("xmlns:psf"), version.ReleaseAndGetAddressOf()), S_FALSE);
}

TEST(DomDocument, ReadsBackAsAStreamAnotherDocumentCanLoad)
{
    ComScope com;
    ComPtr<IXMLDOMDocument2> first = NewDocument();
    ComPtr<IStream> stream = StreamOf(kTicket);
    ASSERT_EQ(Load(first.Get(), stream.Get()), VARIANT_TRUE);
    ComPtr<IStream> asStream;
    ASSERT_EQ(first.As(&asStream), S_OK);
    ComPtr<IXMLDOMDocument2> copy = NewDocument();
    ASSERT_EQ(Load(copy.Get(), asStream.Get()), VARIANT_TRUE);
    BSTR a = nullptr;
    BSTR b = nullptr;
    first->get_xml(&a);
    copy->get_xml(&b);
    EXPECT_EQ(Take(a), Take(b));

    // Read again from the start, the stream gives the document again.
    ASSERT_EQ(asStream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
    ComPtr<IXMLDOMDocument2> again = NewDocument();
    EXPECT_EQ(Load(again.Get(), asStream.Get()), VARIANT_TRUE);
}

TEST(DomDocument, NodesKeepTheirDocumentAlive)
{
    ComScope com;
    ComPtr<IXMLDOMNode> value;
    {
        ComPtr<IXMLDOMDocument2> doc = NewDocument();
        ComPtr<IStream> stream = StreamOf(kTicket);
        ASSERT_EQ(Load(doc.Get(), stream.Get()), VARIANT_TRUE);
        SetProperty(doc.Get(), "SelectionNamespaces",
                    "xmlns:p='http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework'");
        ASSERT_EQ(doc->selectSingleNode(Bstr("//p:Value"), value.GetAddressOf()), S_OK);
    }
    BSTR text = nullptr;
    ASSERT_EQ(value->get_text(&text), S_OK);
    EXPECT_EQ(Take(text), "210000");
    ComPtr<IXMLDOMDocument> owner;
    ASSERT_EQ(value->get_ownerDocument(owner.GetAddressOf()), S_OK);
    ComPtr<IXMLDOMElement> root;
    EXPECT_EQ(owner->get_documentElement(root.GetAddressOf()), S_OK);
}

} // namespace
