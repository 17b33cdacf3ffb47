// The PrintTicket provider: opening and closing, merging at each scope,
// replacement of whole elements, namespaces and prefixes in the result, invalid
// inputs, streams, and the real ticket layers of the corpus.
//
// Results are compared by meaning: each root-level element is described with
// its names resolved to namespaces (written with fixed aliases below), so a
// missing or wrong namespace declaration shows up as a wrong description.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/comobject.h"
#include "platform/objbase.h"
#include "platform/prntvpt.h"
#include "platform/stringapiset.h"

namespace {

constexpr std::string_view kPsf = "http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework";
constexpr std::string_view kPsk = "http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords";
constexpr std::string_view kXsi = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view kXsd = "http://www.w3.org/2001/XMLSchema";
constexpr std::string_view kWriter =
    "http://schemas.microsoft.com/windows/2006/06/printing/printschemakeywords/microsoftxpsdocumentwriter";
constexpr std::string_view kOther = "urn:zntr-test:other";

constexpr std::string_view kDeclaration = R"(<?xml version="1.0" encoding="UTF-8"?>)";

std::string S(std::string_view v)
{
    return std::string(v);
}

// A ticket declaring psf, psk, xsi, xsd and ns0000 (plus extra) around body.
std::string Ticket(std::string_view body, std::string_view extra = {})
{
    return S(kDeclaration) + "\n<psf:PrintTicket xmlns:psf=\"" + S(kPsf) + "\" xmlns:psk=\"" + S(kPsk) +
           "\" xmlns:xsi=\"" + S(kXsi) + "\" xmlns:xsd=\"" + S(kXsd) + "\" xmlns:ns0000=\"" + S(kWriter) + "\" " +
           S(extra) + " version=\"1\">" + S(body) + "</psf:PrintTicket>";
}

std::string Feature(std::string_view name, std::string_view option)
{
    return "<psf:Feature name=\"" + S(name) + "\"><psf:Option name=\"" + S(option) + "\"/></psf:Feature>";
}

std::string IntParameter(std::string_view name, int value)
{
    return "<psf:ParameterInit name=\"" + S(name) + "\"><psf:Value xsi:type=\"xsd:integer\">" +
           std::to_string(value) + "</psf:Value></psf:ParameterInit>";
}

// The descriptions (see Describe) of what Feature and IntParameter build.
std::string F(std::string_view name, std::string_view option)
{
    return "Feature(" + S(name) + "){Option(" + S(option) + ")}";
}

std::string P(std::string_view name, int value)
{
    return "ParameterInit(" + S(name) + "){Value[xsd:integer]=" + std::to_string(value) + "}";
}

using Descriptions = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Reading tickets back by meaning.

std::string_view V(const xmlChar* s)
{
    return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

struct DocFree {
    void operator()(xmlDoc* d) const noexcept { xmlFreeDoc(d); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

// Parses xml; null unless it is well-formed and every prefix is declared.
Doc ParseStrict(std::string_view xml)
{
    xmlParserCtxt* parser = xmlNewParserCtxt();
    Doc doc(xmlCtxtReadMemory(parser, xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA));
    const bool ok = doc && parser->wellFormed && parser->nsWellFormed;
    xmlFreeParserCtxt(parser);
    return ok ? std::move(doc) : nullptr;
}

std::string Alias(std::string_view uri)
{
    const std::pair<std::string_view, std::string_view> known[] = {
        {kPsf, "psf"}, {kPsk, "psk"}, {kXsi, "xsi"}, {kXsd, "xsd"}, {kWriter, "ns0000"}, {kOther, "other"},
    };
    for (const auto& [u, alias] : known)
        if (u == uri)
            return S(alias);
    return "{" + S(uri) + "}";
}

// A QName written at node as alias:local; "?qname" when its prefix is undeclared.
std::string Resolved(const xmlNode* node, std::string_view qname)
{
    const std::size_t colon = qname.find(':');
    const std::string prefix = colon == std::string_view::npos ? "" : S(qname.substr(0, colon));
    const std::string local = S(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
    const xmlNs* ns = xmlSearchNs(node->doc, const_cast<xmlNode*>(node),
                                  prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
    if (!ns)
        return prefix.empty() ? local : "?" + S(qname);
    if (V(ns->href).empty())
        return local;
    return Alias(V(ns->href)) + ":" + local;
}

std::string AttributeValue(const xmlAttr* a)
{
    xmlChar* v = xmlNodeGetContent(reinterpret_cast<const xmlNode*>(a));
    std::string out = S(V(v));
    xmlFree(v);
    return out;
}

// Framework elements by local name, others as alias:local; (name) and [xsi:type]
// resolved; other attributes as @name=value; element children in {}; text as
// =text, resolved when it is a prefixed name.
std::string Describe(const xmlNode* e)
{
    std::string out;
    if (e->ns && V(e->ns->href) != kPsf)
        out = Alias(V(e->ns->href)) + ":";
    out += V(e->name);
    for (const xmlAttr* a = e->properties; a; a = a->next) {
        const std::string value = AttributeValue(a);
        if (!a->ns && V(a->name) == "name")
            out += "(" + Resolved(e, value) + ")";
        else if (a->ns && V(a->ns->href) == kXsi && V(a->name) == "type")
            out += "[" + Resolved(e, value) + "]";
        else
            out += " @" + (a->ns ? Alias(V(a->ns->href)) + ":" : "") + S(V(a->name)) + "=" + value;
    }
    std::vector<std::string> children;
    std::string text;
    for (const xmlNode* c = e->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            children.push_back(Describe(c));
        else if (c->type == XML_TEXT_NODE)
            text += V(c->content);
    }
    if (!children.empty()) {
        out += "{";
        for (std::size_t i = 0; i < children.size(); ++i)
            out += (i ? " " : "") + children[i];
        out += "}";
    } else if (!text.empty()) {
        const std::size_t first = text.find_first_not_of(" \t\r\n");
        const std::size_t last = text.find_last_not_of(" \t\r\n");
        const std::string core = first == std::string::npos ? "" : text.substr(first, last - first + 1);
        const bool qname = core.find(':') != std::string::npos && core.find_first_of(" \t\r\n") == std::string::npos;
        out += "=" + (qname ? text.substr(0, first) + Resolved(e, core) + text.substr(last + 1) : text);
    }
    return out;
}

// The descriptions of the root-level elements, or one line saying why there are none.
Descriptions RootOf(std::string_view xml)
{
    const Doc doc = ParseStrict(xml);
    if (!doc)
        return {"<not namespace-well-formed XML>"};
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root->ns || V(root->ns->href) != kPsf || V(root->name) != "PrintTicket")
        return {"<root is not psf:PrintTicket>"};
    Descriptions out;
    for (const xmlNode* c = root->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE)
            out.push_back(Describe(c));
    return out;
}

// ---------------------------------------------------------------------------
// Streams.

ComPtr<IStream> StreamOf(std::string_view bytes)
{
    ComPtr<IStream> s;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, s.GetAddressOf()), S_OK);
    ULONG written = 0;
    EXPECT_EQ(s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
    LARGE_INTEGER start{};
    EXPECT_EQ(s->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    return s;
}

// Everything in the stream, from its start.
std::string Contents(IStream* s)
{
    LARGE_INTEGER start{};
    EXPECT_EQ(s->Seek(start, STREAM_SEEK_SET, nullptr), S_OK);
    std::string out;
    char buffer[4096];
    ULONG got = 0;
    while (SUCCEEDED(s->Read(buffer, sizeof buffer, &got)) && got > 0)
        out.append(buffer, got);
    return out;
}

// A stream over fixed bytes that hands out at most `piece` bytes a read, or
// answers a fault to reads or writes.
class ScriptedStream final : public ComObject<IStream> {
public:
    ScriptedStream(std::string bytes, std::size_t piece, HRESULT readFault, HRESULT writeFault)
        : bytes_(std::move(bytes)), piece_(piece), readFault_(readFault), writeFault_(writeFault)
    {
    }

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (FAILED(readFault_))
            return readFault_;
        const std::size_t n = std::min({static_cast<std::size_t>(cb), piece_, bytes_.size() - position_});
        std::memcpy(pv, bytes_.data() + position_, n);
        position_ += n;
        *pcbRead = static_cast<ULONG>(n);
        return n < cb && position_ == bytes_.size() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (FAILED(writeFault_))
            return writeFault_;
        bytes_.append(static_cast<const char*>(pv), cb);
        *pcbWritten = cb;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
    std::size_t position_ = 0;
    std::size_t piece_;
    HRESULT readFault_;
    HRESULT writeFault_;
};

// ---------------------------------------------------------------------------
// Running the provider.

struct Outcome {
    HRESULT hr;
    std::string ticket;                // what was written to the result stream
    std::optional<std::string> error;  // the error message, when one was given
};

class PrintTicketMerge : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(PTOpenProvider(u"ZNTR Test Printer", 1, &provider_), S_OK); }
    void TearDown() override { EXPECT_EQ(PTCloseProvider(provider_), S_OK); }

    Outcome Run(IStream* base, IStream* delta, EPrintTicketScope scope, IStream* result)
    {
        BSTR message = nullptr;
        Outcome out{PTMergeAndValidatePrintTicket(provider_, base, delta, scope, result, &message), {}, {}};
        if (message) {
            out.error = WideToUtf8(std::u16string_view(message, SysStringLen(message)));
            SysFreeString(message);
        }
        return out;
    }

    Outcome Merge(std::string_view base, std::optional<std::string_view> delta,
                  EPrintTicketScope scope = kPTJobScope)
    {
        const ComPtr<IStream> b = StreamOf(base);
        const ComPtr<IStream> d = delta ? StreamOf(*delta) : nullptr;
        const ComPtr<IStream> r = StreamOf("");
        Outcome out = Run(b.Get(), d.Get(), scope, r.Get());
        out.ticket = Contents(r.Get());
        return out;
    }

    // Merges and expects success; answers the result.
    std::string Merged(std::string_view base, std::optional<std::string_view> delta,
                       EPrintTicketScope scope = kPTJobScope)
    {
        const Outcome out = Merge(base, delta, scope);
        EXPECT_EQ(out.hr, S_PT_NO_CONFLICT) << out.error.value_or("");
        EXPECT_FALSE(out.error) << *out.error;
        return out.ticket;
    }

    HPTPROVIDER provider_ = nullptr;
};

// ---------------------------------------------------------------------------
// The provider handle.

TEST(PrintTicketProvider, OpenChecksItsArguments)
{
    struct Case {
        const char* what;
        LPCWSTR printer;
        DWORD version;
        bool out;
        HRESULT expected;
    };
    const Case cases[] = {
        {"a named printer at version 1", u"Printer", 1, true, S_OK},
        {"version 0", u"Printer", 0, true, E_VERSION_NOT_SUPPORTED},
        {"version 2", u"Printer", 2, true, E_VERSION_NOT_SUPPORTED},
        {"no printer name", nullptr, 1, true, E_INVALIDARG},
        {"an empty printer name", u"", 1, true, E_INVALIDARG},
        {"no out-pointer", u"Printer", 1, false, E_POINTER},
    };
    for (const Case& c : cases) {
        HPTPROVIDER h = &h;  // must be overwritten
        EXPECT_EQ(PTOpenProvider(c.printer, c.version, c.out ? &h : nullptr), c.expected) << c.what;
        if (c.expected == S_OK) {
            EXPECT_NE(h, nullptr) << c.what;
            EXPECT_EQ(PTCloseProvider(h), S_OK) << c.what;
        } else if (c.out) {
            EXPECT_EQ(h, nullptr) << c.what;
        }
    }
}

TEST(PrintTicketProvider, OnlyOpenHandlesAreAccepted)
{
    HPTPROVIDER first = nullptr;
    HPTPROVIDER second = nullptr;
    ASSERT_EQ(PTOpenProvider(u"Printer", 1, &first), S_OK);
    ASSERT_EQ(PTOpenProvider(u"Printer", 1, &second), S_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(PTCloseProvider(first), S_OK);

    HPTPROVIDER reopened = nullptr;
    ASSERT_EQ(PTOpenProvider(u"Printer", 1, &reopened), S_OK);
    EXPECT_NE(reopened, first);  // a closed handle is not handed out again

    // Handles that were never issued would crash if they were followed.
    const HPTPROVIDER refused[] = {first, nullptr, reinterpret_cast<HPTPROVIDER>(0x8),
                                   reinterpret_cast<HPTPROVIDER>(~std::uintptr_t{0})};
    const std::string ticket = Ticket(Feature("psk:PageOrientation", "psk:Portrait"));
    for (HPTPROVIDER h : refused) {
        EXPECT_EQ(PTCloseProvider(h), E_HANDLE) << h;
        const ComPtr<IStream> base = StreamOf(ticket);
        const ComPtr<IStream> result = StreamOf("");
        BSTR message = reinterpret_cast<BSTR>(&message);  // must be cleared
        EXPECT_EQ(PTMergeAndValidatePrintTicket(h, base.Get(), nullptr, kPTJobScope, result.Get(), &message), E_HANDLE)
            << h;
        EXPECT_EQ(message, nullptr);
        EXPECT_EQ(Contents(result.Get()), "");
    }

    const ComPtr<IStream> base = StreamOf(ticket);
    const ComPtr<IStream> result = StreamOf("");
    EXPECT_EQ(PTMergeAndValidatePrintTicket(second, base.Get(), nullptr, kPTJobScope, result.Get(), nullptr),
              S_PT_NO_CONFLICT);
    EXPECT_EQ(PTCloseProvider(second), S_OK);
    EXPECT_EQ(PTCloseProvider(reopened), S_OK);
}

TEST_F(PrintTicketMerge, RefusesMissingStreamsAndUnknownScopes)
{
    const ComPtr<IStream> base = StreamOf(Ticket(""));
    const ComPtr<IStream> result = StreamOf("");
    struct Case {
        const char* what;
        IStream* base;
        EPrintTicketScope scope;
        IStream* result;
        HRESULT expected;
    };
    const Case cases[] = {
        {"no base", nullptr, kPTJobScope, result.Get(), E_POINTER},
        {"no result", base.Get(), kPTJobScope, nullptr, E_POINTER},
        {"scope 3", base.Get(), static_cast<EPrintTicketScope>(3), result.Get(), E_INVALIDARG},
    };
    for (const Case& c : cases) {
        const Outcome out = Run(c.base, nullptr, c.scope, c.result);
        EXPECT_EQ(out.hr, c.expected) << c.what;
        EXPECT_FALSE(out.error) << c.what;
    }
    EXPECT_EQ(Contents(result.Get()), "");
}

// ---------------------------------------------------------------------------
// Merging.

TEST_F(PrintTicketMerge, KeepsTheKeywordsOfTheScope)
{
    // The scope comes from the start of the local name, in any namespace and for
    // every kind of element; the prefix text does not count, and anything else is job.
    const std::string base = Ticket(
        IntParameter("psk:JobCopiesAllDocuments", 2) + Feature("psk:DocumentCollate", "psk:Collated") +
            Feature("psk:PageMediaSize", "psk:ISOA4") + IntParameter("ns0000:PageDevmodeSnapshot", 7) +
            Feature("other:Halftone", "other:Fine") + Feature("other:Pagination", "other:On") +
            Feature("Page:JobBinding", "other:Glue") +
            R"(<psf:Property name="other:DocumentTag"><psf:Value xsi:type="xsd:string">t</psf:Value></psf:Property>)",
        R"(xmlns:other="urn:zntr-test:other" xmlns:Page="urn:zntr-test:other")");
    const std::string delta = Ticket(Feature("psk:PageOrientation", "psk:Landscape") +
                                     Feature("psk:JobStapleAllDocuments", "psk:StapleTopLeft") +
                                     Feature("psk:DocumentCollate", "psk:Uncollated"));
    const std::string tag = "Property(other:DocumentTag){Value[xsd:string]=t}";
    struct Case {
        EPrintTicketScope scope;
        Descriptions expected;
    };
    const Case cases[] = {
        {kPTJobScope,
         {P("psk:JobCopiesAllDocuments", 2), F("psk:DocumentCollate", "psk:Uncollated"),
          F("psk:PageMediaSize", "psk:ISOA4"), P("ns0000:PageDevmodeSnapshot", 7), F("other:Halftone", "other:Fine"),
          F("other:Pagination", "other:On"), F("other:JobBinding", "other:Glue"), tag,
          F("psk:PageOrientation", "psk:Landscape"), F("psk:JobStapleAllDocuments", "psk:StapleTopLeft")}},
        {kPTDocumentScope,
         {F("psk:DocumentCollate", "psk:Uncollated"), F("psk:PageMediaSize", "psk:ISOA4"),
          P("ns0000:PageDevmodeSnapshot", 7), tag, F("psk:PageOrientation", "psk:Landscape")}},
        {kPTPageScope,
         {F("psk:PageMediaSize", "psk:ISOA4"), P("ns0000:PageDevmodeSnapshot", 7),
          F("psk:PageOrientation", "psk:Landscape")}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RootOf(Merged(base, delta, c.scope)), c.expected) << "scope " << c.scope;
}

TEST_F(PrintTicketMerge, MergesWholeRootElementsByResolvedName)
{
    const std::string detailedSize =
        R"(<psf:Feature name="psk:PageMediaSize">)"
        R"(<psf:Property name="psf:SelectionType"><psf:Value xsi:type="xsd:QName">psk:PickOne</psf:Value></psf:Property>)"
        R"(<psf:Option name="psk:ISOA4">)"
        R"(<psf:ScoredProperty name="psk:MediaSizeWidth"><psf:Value xsi:type="xsd:integer">210000</psf:Value></psf:ScoredProperty>)"
        R"(</psf:Option>)"
        R"(<psf:Feature name="psk:PageMediaSizeDetail"><psf:Option name="psk:Exact"/></psf:Feature>)"
        R"(</psf:Feature>)";
    const std::string customSize =
        R"(<psf:Feature name="psk:PageMediaSize"><psf:Option name="psk:CustomMediaSize">)"
        R"(<psf:ScoredProperty name="psk:MediaSizeWidth"><psf:ParameterRef name="psk:PageMediaSizeMediaSizeWidth"/></psf:ScoredProperty>)"
        R"(</psf:Option></psf:Feature>)";
    const std::string custom =
        "Feature(psk:PageMediaSize){Option(psk:CustomMediaSize){ScoredProperty(psk:MediaSizeWidth){"
        "ParameterRef(psk:PageMediaSizeMediaSizeWidth)}}}";
    const std::string orientation = F("psk:PageOrientation", "psk:Portrait");
    const std::string collate = F("psk:DocumentCollate", "psk:Collated");

    struct Case {
        const char* what;
        std::string base;
        std::string delta;
        Descriptions expected;
    };
    const Case cases[] = {
        {"the delta's feature replaces the base's entirely, in place (its option, properties and sub-feature go)",
         Ticket(Feature("psk:PageOrientation", "psk:Portrait") + detailedSize +
                Feature("psk:DocumentCollate", "psk:Collated")),
         Ticket(customSize), {orientation, custom, collate}},
        {"new delta elements are appended in delta order; base elements the delta lacks stay",
         Ticket(Feature("psk:PageOrientation", "psk:Portrait") + Feature("psk:DocumentCollate", "psk:Collated")),
         Ticket(Feature("psk:JobStapleAllDocuments", "psk:StapleTopLeft") +
                Feature("psk:DocumentCollate", "psk:Uncollated") + IntParameter("psk:JobCopiesAllDocuments", 3)),
         {orientation, F("psk:DocumentCollate", "psk:Uncollated"),
          F("psk:JobStapleAllDocuments", "psk:StapleTopLeft"), P("psk:JobCopiesAllDocuments", 3)}},
        {"the first of two elements with one name counts, in the base and in the delta",
         Ticket(Feature("psk:PageOrientation", "psk:Portrait") + Feature("psk:PageOrientation", "psk:Landscape")),
         Ticket(Feature("psk:DocumentCollate", "psk:Uncollated") + Feature("psk:DocumentCollate", "psk:Collated")),
         {orientation, F("psk:DocumentCollate", "psk:Uncollated")}},
        {"a ParameterInit does not replace a Feature of the same name",
         Ticket(Feature("psk:JobCopiesAllDocuments", "psk:One")), Ticket(IntParameter("psk:JobCopiesAllDocuments", 4)),
         {F("psk:JobCopiesAllDocuments", "psk:One"), P("psk:JobCopiesAllDocuments", 4)}},
        {"the same namespace under another prefix is the same name",
         Ticket(Feature("psk:PageOrientation", "psk:Portrait")),
         Ticket(Feature("k:PageOrientation", "k:Landscape"), R"(xmlns:k=")" + S(kPsk) + R"(")"),
         {F("psk:PageOrientation", "psk:Landscape")}},
        {"the same prefix for another namespace is another name",
         Ticket(Feature("psk:PageOrientation", "psk:Portrait")),
         R"(<psf:PrintTicket xmlns:psf=")" + S(kPsf) + R"(" xmlns:psk=")" + S(kOther) + R"(" version="1">)" +
             Feature("psk:PageOrientation", "psk:Landscape") + "</psf:PrintTicket>",
         {orientation, F("other:PageOrientation", "other:Landscape")}},
        {"a delta with the framework as its default namespace",
         Ticket(Feature("psk:PageOrientation", "psk:Portrait")),
         R"(<PrintTicket xmlns=")" + S(kPsf) + R"(" xmlns:k=")" + S(kPsk) + R"(" version="1">)" +
             R"(<Feature name="k:PageOrientation"><Option name="k:Landscape"/></Feature></PrintTicket>)",
         {F("psk:PageOrientation", "psk:Landscape")}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RootOf(Merged(c.base, c.delta)), c.expected) << c.what;
}

TEST_F(PrintTicketMerge, RenamesDeltaPrefixesAndKeepsTheBases)
{
    const std::string devmode = IntParameter("ns0000:PageDevmodeSnapshot", 1);
    struct Case {
        const char* what;
        std::string base;
        std::string delta;
        Descriptions expected;
        std::vector<std::string> present;  // literally in the result
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        {"the delta writes the keywords as a: the result writes the base's psk",
         Ticket(Feature("psk:PageOrientation", "psk:Portrait")),
         Ticket(Feature("a:PageOrientation", "a:Landscape") + IntParameter("a:JobCopiesAllDocuments", 2),
                R"(xmlns:a=")" + S(kPsk) + R"(")"),
         {F("psk:PageOrientation", "psk:Landscape"), P("psk:JobCopiesAllDocuments", 2)},
         {R"(<psf:Feature name="psk:PageOrientation">)", R"(<psf:Option name="psk:Landscape"/>)",
          R"(<psf:ParameterInit name="psk:JobCopiesAllDocuments">)"},
         {"a:", "xmlns:a="}},
        {"the delta binds ns0000 elsewhere: the base's ns0000 stays, the delta's is renamed",
         Ticket(devmode),
         R"(<psf:PrintTicket xmlns:psf=")" + S(kPsf) + R"(" xmlns:xsi=")" + S(kXsi) + R"(" xmlns:xsd=")" + S(kXsd) +
             R"(" xmlns:ns0000=")" + S(kOther) + R"(" version="1">)" + IntParameter("ns0000:PageDevmodeSnapshot", 2) +
             Feature("ns0000:JobInterleaving", "ns0000:Off") + "</psf:PrintTicket>",
         {P("ns0000:PageDevmodeSnapshot", 1), P("other:PageDevmodeSnapshot", 2),
          F("other:JobInterleaving", "other:Off")},
         {R"(xmlns:ns0000=")" + S(kWriter) + R"(")", R"(<psf:ParameterInit name="ns0000:PageDevmodeSnapshot">)"},
         {R"(xmlns:ns0000=")" + S(kOther) + R"(")"}},
        {"the delta swaps prefixes: element names, attribute names and QName values follow",
         Ticket(Feature("psk:PageMediaSize", "psk:ISOA4")),
         R"(<f:PrintTicket xmlns:f=")" + S(kPsf) + R"(" xmlns:psk=")" + S(kOther) + R"(" xmlns:a=")" + S(kPsk) +
             R"(" xmlns:xsd=")" + S(kOther) + R"(" xmlns:t=")" + S(kXsd) + R"(" xmlns:i=")" + S(kXsi) +
             R"(" version="1"><f:Feature name="a:PageMediaSize" psk:origin="user"><f:Option name="psk:Poster">)"
             R"(<f:ScoredProperty name="a:MediaSizeWidth"><f:Value i:type="t:integer">5</f:Value></f:ScoredProperty>)"
             R"(<f:ScoredProperty name="xsd:Sheets"><f:Value i:type="t:QName">xsd:Many</f:Value></f:ScoredProperty>)"
             R"(</f:Option></f:Feature></f:PrintTicket>)",
         {"Feature(psk:PageMediaSize) @other:origin=user{Option(other:Poster){"
          "ScoredProperty(psk:MediaSizeWidth){Value[xsd:integer]=5} "
          "ScoredProperty(other:Sheets){Value[xsd:QName]=other:Many}}}"},
         {R"(<psf:Feature name="psk:PageMediaSize")", R"(<psf:Value xsi:type="xsd:integer">5</psf:Value>)"},
         {"<f:", "xmlns:i=", "xmlns:t=", R"(xmlns:psk=")" + S(kOther)}},
        {"a prefix the delta rebinds on an inner element resolves there and only there",
         Ticket(""),
         Ticket(R"(<psf:Feature name="p:PageA" xmlns:p=")" + S(kOther) + R"("><psf:Option name="p:One"/></psf:Feature>)" +
                    Feature("p:PageB", "p:Two"),
                R"(xmlns:p=")" + S(kPsk) + R"(")"),
         {F("other:PageA", "other:One"), F("psk:PageB", "psk:Two")},
         {},
         {}},
    };
    for (const Case& c : cases) {
        const std::string result = Merged(c.base, c.delta);
        EXPECT_EQ(RootOf(result), c.expected) << c.what;
        for (const std::string& text : c.present)
            EXPECT_NE(result.find(text), std::string::npos) << c.what << ": " << text << " missing in\n" << result;
        for (const std::string& text : c.absent)
            EXPECT_EQ(result.find(text), std::string::npos) << c.what << ": " << text << " found in\n" << result;
    }
}

TEST_F(PrintTicketMerge, DeclaresPrefixesUsedOnlyInValues)
{
    // Neither ticket declares on its root what these values use, or the base lacks it.
    const std::string bareBase = R"(<psf:PrintTicket xmlns:psf=")" + S(kPsf) + R"(" version="1">)" +
                                 R"(<psf:Feature name="in:PageThing" xmlns:in=")" + S(kOther) +
                                 R"("><psf:Option name="in:Big"/></psf:Feature></psf:PrintTicket>)";
    const std::string delta =
        R"(<psf:PrintTicket xmlns:psf=")" + S(kPsf) + R"(" xmlns:q=")" + S(kOther) + R"(" xmlns:t=")" + S(kXsd) +
        R"(" xmlns:i=")" + S(kXsi) + R"(" xmlns:k=")" + S(kPsk) + R"(" version="1">)" +
        R"(<psf:ParameterInit name="q:PagePoster"><psf:Value i:type="t:integer">4</psf:Value></psf:ParameterInit>)" +
        R"(<psf:Feature name="k:PageOutputColor"><psf:Property name="psf:SelectionType">)" +
        R"(<psf:Value i:type="t:string"> k:PickOne </psf:Value></psf:Property>)" +
        R"(<psf:Option><psf:ScoredProperty name="k:Mode"><psf:Value xmlns:z=")" + S(kWriter) +
        R"(">z:Grey</psf:Value></psf:ScoredProperty></psf:Option></psf:Feature></psf:PrintTicket>)";
    const Descriptions expected = {
        F("other:PageThing", "other:Big"),
        "ParameterInit(other:PagePoster){Value[xsd:integer]=4}",
        "Feature(psk:PageOutputColor){Property(psf:SelectionType){Value[xsd:string]= psk:PickOne } "
        "Option{ScoredProperty(psk:Mode){Value=ns0000:Grey}}}",
    };
    const std::string result = Merged(bareBase, delta);
    EXPECT_EQ(RootOf(result), expected) << result;
    // The base's inner declaration moves to the root but keeps its prefix.
    EXPECT_NE(result.find(R"(<psf:Feature name="in:PageThing">)"), std::string::npos) << result;
}

TEST_F(PrintTicketMerge, NullDeltaValidatesTheBase)
{
    const std::string base = Ticket(Feature("psk:JobInputBin", "psk:AutoSelect") +
                                    Feature("psk:PageOrientation", "psk:Portrait") +
                                    Feature("psk:PageOrientation", "psk:Landscape") +
                                    Feature("psk:DocumentCollate", "psk:Collated"));
    struct Case {
        EPrintTicketScope scope;
        Descriptions expected;
    };
    const Case cases[] = {
        {kPTJobScope,
         {F("psk:JobInputBin", "psk:AutoSelect"), F("psk:PageOrientation", "psk:Portrait"),
          F("psk:DocumentCollate", "psk:Collated")}},
        {kPTPageScope, {F("psk:PageOrientation", "psk:Portrait")}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RootOf(Merged(base, std::nullopt, c.scope)), c.expected) << "scope " << c.scope;
}

TEST_F(PrintTicketMerge, ValidatingAValidatedTicketChangesNothing)
{
    const std::string crlfIndented = "<?xml version=\"1.0\"?>\r\n<psf:PrintTicket xmlns:psf=\"" + S(kPsf) +
                                     "\" xmlns:psk=\"" + S(kPsk) + "\" version=\" 1 \">\r\n  <!-- set by the user -->\r\n"
                                     "  <psf:Feature name=\"psk:PageOrientation\">\r\n    <psf:Option name=\"psk:"
                                     "Portrait\" />\r\n  </psf:Feature>\r\n</psf:PrintTicket>\r\n";
    const std::string unusual = Ticket(
        R"(<psf:ParameterInit name="psk:JobName"><psf:Value xsi:type="xsd:string">a&amp;b &lt;c&gt; "q" &#13;&#10;Grüße 文書</psf:Value></psf:ParameterInit>)"
        R"(<psf:Feature name=" psk:JobNote " other:note="tab&#9;nl&#10;end"><psf:Option name="psk:Mixed">before <other:b> inner </other:b> after</psf:Option></psf:Feature>)"
        R"(<psf:Feature name="psk:PageBlank"><psf:Option name="psk:Space"><psf:Value xsi:type="xsd:string">   </psf:Value></psf:Option></psf:Feature>)"
        R"(<other:Extension xml:lang="en"><![CDATA[<raw>]]></other:Extension>)",
        R"(xmlns:other="urn:zntr-test:other")");
    const std::string defaultNamespace = R"(<PrintTicket xmlns=")" + S(kPsf) + R"(" xmlns:k=")" + S(kPsk) +
                                         R"(" version="1"><Feature name="k:PageOrientation"><Option name="Plain"/>)"
                                         R"(</Feature></PrintTicket>)";
    const std::string withDelta = Merged(Ticket(Feature("psk:PageOrientation", "psk:Portrait")),
                                         Ticket(Feature("a:JobCopies", "ns0000:Two"), R"(xmlns:a=")" + S(kOther) + R"(")"));
    struct Case {
        const char* what;
        std::string ticket;
    };
    const Case cases[] = {
        {"indented with CR LF, a comment and a spaced version", crlfIndented},
        {"escapes, white space in attributes, mixed content, CDATA, xml:lang", unusual},
        {"the framework as the default namespace, an unprefixed option name", defaultNamespace},
        {"a merged result", withDelta},
    };
    for (const Case& c : cases) {
        const std::string once = Merged(c.ticket, std::nullopt);
        EXPECT_EQ(once.rfind(S(kDeclaration) + "\n", 0), 0u) << c.what;
        EXPECT_EQ(RootOf(once), RootOf(c.ticket)) << c.what;
        EXPECT_EQ(Merged(once, std::nullopt), once) << c.what;
        EXPECT_EQ(Merged(once, once), once) << c.what << " merged with itself";
    }
}

TEST_F(PrintTicketMerge, ReadsUtf8AndUtf16)
{
    const std::string body = Feature("psk:PageOrientation", "psk:Portrait") +
                             R"(<psf:ParameterInit name="psk:JobName"><psf:Value xsi:type="xsd:string">Grüße 文書 𝒜</psf:Value></psf:ParameterInit>)";
    const std::string utf8 = Ticket(body);
    std::string utf16Ticket = Ticket(body);
    utf16Ticket.replace(0, kDeclaration.size(), R"(<?xml version="1.0" encoding="UTF-16"?>)");
    const std::u16string wide = Utf8ToWide(utf16Ticket);
    std::string le = "\xFF\xFE";
    std::string be = "\xFE\xFF";
    for (char16_t c : wide) {
        le += static_cast<char>(c & 0xFF);
        le += static_cast<char>(c >> 8);
        be += static_cast<char>(c >> 8);
        be += static_cast<char>(c & 0xFF);
    }
    const std::string expected = Merged(utf8, std::nullopt);
    EXPECT_NE(expected.find("Grüße 文書 𝒜"), std::string::npos);  // written as UTF-8
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + utf8},
        {"UTF-16LE with a byte-order mark", le},
        {"UTF-16BE with a byte-order mark", be},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Merged(c.bytes, std::nullopt), expected) << c.what;
}

// ---------------------------------------------------------------------------
// Invalid input.

TEST_F(PrintTicketMerge, ExplainsInvalidTickets)
{
    const std::string valid = Ticket(Feature("psk:PageOrientation", "psk:Portrait"));
    const std::string head = R"(<psf:PrintTicket xmlns:psf=")" + S(kPsf) + R"(" xmlns:psk=")" + S(kPsk) + R"(" )";
    struct Case {
        const char* what;
        std::string ticket;
        const char* explains;  // a word of the message
    };
    const Case cases[] = {
        {"an empty stream", "", "empty"},
        {"not XML", "PrintTicket", "well-formed"},
        {"a cut-off ticket", valid.substr(0, valid.size() - 10), "well-formed"},
        {"an element with an undeclared prefix", Ticket("<zz:Thing/>"), "well-formed"},
        {"a document type declaration", "<!DOCTYPE x [<!ENTITY e \"x\">]>" + valid.substr(kDeclaration.size()),
         "document type"},
        {"another root element", R"(<psf:PrintCapabilities xmlns:psf=")" + S(kPsf) + R"(" version="1"/>)", "root element"},
        {"PrintTicket outside the framework namespace", R"(<PrintTicket version="1"/>)", "root element"},
        {"no version", head + "/>", "version"},
        {"version 2", head + R"(version="2"/>)", "version"},
        {"an Option directly in the root", Ticket(R"(<psf:Option name="psk:Portrait"/>)"), "Option"},
        {"a Feature without a name", Ticket(R"(<psf:Feature><psf:Option name="psk:A"/></psf:Feature>)"), "name"},
        {"a Feature named with an undeclared prefix", Ticket(Feature("zz:PageThing", "psk:A")), "prefix"},
        {"a Feature whose name is not a QName", Ticket(Feature("psk:Page Thing", "psk:A")), "QName"},
        {"an xsi:type with an undeclared prefix, deep inside",
         Ticket(R"(<psf:ParameterInit name="psk:JobCopies"><psf:Value xsi:type="zz:integer">1</psf:Value></psf:ParameterInit>)"),
         "prefix"},
        {"text in the root", Ticket("loose words"), "text"},
    };
    for (const Case& c : cases) {
        const Outcome asBase = Merge(c.ticket, valid);
        EXPECT_EQ(asBase.hr, E_PRINTTICKET_FORMAT) << c.what;
        const Outcome asDelta = Merge(valid, c.ticket);
        EXPECT_EQ(asDelta.hr, E_DELTA_PRINTTICKET_FORMAT) << c.what;
        for (const auto& [out, which] : {std::pair(&asBase, "The base PrintTicket "),
                                         std::pair(&asDelta, "The delta PrintTicket ")}) {
            ASSERT_TRUE(out->error) << c.what;
            EXPECT_EQ(out->error->rfind(which, 0), 0u) << c.what << ": " << *out->error;
            EXPECT_NE(out->error->find(c.explains), std::string::npos) << c.what << ": " << *out->error;
            EXPECT_EQ(out->error->find_first_of("\r\n"), std::string::npos) << c.what << ": " << *out->error;
            EXPECT_EQ(out->ticket, "") << c.what;
        }
    }
    // Both invalid: the base is reported. Without a message slot the code is the same.
    EXPECT_EQ(Merge("", "").hr, E_PRINTTICKET_FORMAT);
    const ComPtr<IStream> base = StreamOf(valid);
    const ComPtr<IStream> delta = StreamOf("<x/>");
    const ComPtr<IStream> result = StreamOf("");
    EXPECT_EQ(PTMergeAndValidatePrintTicket(provider_, base.Get(), delta.Get(), kPTJobScope, result.Get(), nullptr),
              E_DELTA_PRINTTICKET_FORMAT);
}

// ---------------------------------------------------------------------------
// Streams.

TEST_F(PrintTicketMerge, ReadsFromAndWritesAtTheCurrentPositions)
{
    const std::string big(200000, 'x');  // more than one read
    const std::string base = Ticket(Feature("psk:PageOrientation", "psk:Portrait") +
                                    R"(<psf:ParameterInit name="psk:JobName"><psf:Value xsi:type="xsd:string">)" +
                                    big + "</psf:Value></psf:ParameterInit>");
    const std::string delta = Ticket(Feature("psk:PageOrientation", "psk:Landscape"));
    const std::string expected = Merged(base, delta);
    EXPECT_EQ(RootOf(expected)[1], "ParameterInit(psk:JobName){Value[xsd:string]=" + big + "}");

    const auto positioned = [](std::string_view junk, const std::string& ticket) {
        ComPtr<IStream> s = StreamOf(S(junk) + ticket);
        LARGE_INTEGER skip{static_cast<LONGLONG>(junk.size())};
        EXPECT_EQ(s->Seek(skip, STREAM_SEEK_SET, nullptr), S_OK);
        return s;
    };
    const ComPtr<IStream> b = positioned("<not a ticket>", base);
    const ComPtr<IStream> d = positioned("garbage", delta);
    const ComPtr<IStream> r = StreamOf("KEEP");
    LARGE_INTEGER end{};
    ASSERT_EQ(r->Seek(end, STREAM_SEEK_END, nullptr), S_OK);
    EXPECT_EQ(Run(b.Get(), d.Get(), kPTJobScope, r.Get()).hr, S_PT_NO_CONFLICT);
    EXPECT_EQ(Contents(r.Get()), "KEEP" + expected);

    // A stream that hands out a few bytes at a time gives the same result.
    const ComPtr<ScriptedStream> trickleBase = MakeComObject<ScriptedStream>(base, 7, S_OK, S_OK);
    const ComPtr<ScriptedStream> trickleDelta = MakeComObject<ScriptedStream>(delta, 3, S_OK, S_OK);
    const ComPtr<ScriptedStream> sink = MakeComObject<ScriptedStream>("", 0, S_OK, S_OK);
    EXPECT_EQ(Run(trickleBase.Get(), trickleDelta.Get(), kPTJobScope, sink.Get()).hr, S_PT_NO_CONFLICT);
    EXPECT_EQ(sink->bytes(), expected);
}

TEST_F(PrintTicketMerge, PassesStreamFaultsOn)
{
    const std::string ticket = Ticket(Feature("psk:PageOrientation", "psk:Portrait"));
    struct Case {
        const char* what;
        HRESULT baseRead;
        HRESULT deltaRead;
        HRESULT resultWrite;
    };
    const Case cases[] = {
        {"the base cannot be read", STG_E_READFAULT, S_OK, S_OK},
        {"the delta cannot be read", S_OK, STG_E_READFAULT, S_OK},
        {"the result cannot be written", S_OK, S_OK, STG_E_WRITEFAULT},
    };
    for (const Case& c : cases) {
        const ComPtr<ScriptedStream> base = MakeComObject<ScriptedStream>(ticket, 4096, c.baseRead, S_OK);
        const ComPtr<ScriptedStream> delta = MakeComObject<ScriptedStream>(ticket, 4096, c.deltaRead, S_OK);
        const ComPtr<ScriptedStream> result = MakeComObject<ScriptedStream>("", 0, S_OK, c.resultWrite);
        const Outcome out = Run(base.Get(), delta.Get(), kPTJobScope, result.Get());
        EXPECT_EQ(out.hr, FAILED(c.baseRead) ? c.baseRead : FAILED(c.deltaRead) ? c.deltaRead : c.resultWrite)
            << c.what;
        EXPECT_FALSE(out.error) << c.what;  // nothing is wrong with the tickets
        EXPECT_EQ(result->bytes(), "") << c.what;
    }
}

// ---------------------------------------------------------------------------
// The corpus: real job, document and page tickets layered as a print job does.

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Kind(alias:name) of each root-level element, with its description.
std::map<std::string, std::string> ByName(const Descriptions& elements)
{
    std::map<std::string, std::string> out;
    for (const std::string& d : elements)
        out.emplace(d.substr(0, d.find(')') + 1), d);  // the first of a name counts
    return out;
}

EPrintTicketScope ScopeOfName(std::string_view head)
{
    const std::string_view local = head.substr(head.find(':') + 1);
    if (local.starts_with("Page"))
        return kPTPageScope;
    if (local.starts_with("Document"))
        return kPTDocumentScope;
    return kPTJobScope;
}

TEST_F(PrintTicketMerge, LayersTheCorpusTickets)
{
    const std::filesystem::path corpus = ZNTR_CORPUS_DIR;
    if (!std::filesystem::exists(corpus))
        GTEST_SKIP() << "no corpus at " << corpus;
    const std::filesystem::path tickets = corpus / "tickets";
    struct Layers {
        const char* job;
        const char* document;  // null: none
        const char* page;      // null: none
    };
    const Layers jobs[] = {
        {"extracted-from-xps/aspose-mergedXPSfiles/Metadata/Job_PT.xml",
         "extracted-from-xps/aspose-mergedXPSfiles/Metadata/MXDC_Empty_PT.xml",
         "extracted-from-xps/aspose-mergedXPSfiles/Documents/1/Metadata/Page1_PT.xml"},
        {"extracted-from-xps/aspose-mergedXPSfiles/Metadata/Job_PT.xml",
         "extracted-from-xps/aspose-mergedXPSfiles/Metadata/MXDC_Empty_PT.xml",
         "extracted-from-xps/aspose-mergedXPSfiles/Documents/3/Metadata/Page1_PT.xml"},
        {"extracted-from-xps/winprint-rs-test_document/Metadata/Job_PT.xml",
         "extracted-from-xps/winprint-rs-test_document/Metadata/MXDC_Empty_PT.xml",
         "extracted-from-xps/winprint-rs-test_document/Documents/1/Metadata/Page1_PT.xml"},
        {"extracted-from-xps/winprint-rs-test_document/Metadata/Job_PT.xml",
         "extracted-from-xps/winprint-rs-test_document/Metadata/MXDC_Empty_PT.xml", "winprint-rs/print_ticket.xml"},
        {"extracted-from-xps/migradoc-ImageBrush/MetaData/Job_PT.xml",
         "extracted-from-xps/migradoc-ImageBrush/Documents/1/Document_PT.xml",
         "extracted-from-xps/migradoc-ImageBrush/Documents/1/Page1_PT.xml"},
        {"extracted-from-xps/tika-testXPSWithDataDescriptor2/Metadata/Job_PT.xml",
         "extracted-from-xps/tika-testXPSWithDataDescriptor2/Metadata/MXDC_Empty_PT.xml", nullptr},
        {"extracted-from-xps/aspose-input3/MetaData/Job_PT.xml", nullptr, "winprint-rs/print_ticket.xml"},
    };
    for (const Layers& job : jobs) {
        const auto read = [&](const char* name) -> std::optional<std::string> {
            if (!name)
                return std::nullopt;
            EXPECT_TRUE(std::filesystem::exists(tickets / name)) << name;
            return ReadFile(tickets / name);
        };
        const std::string jobTicket = *read(job.job);
        const std::optional<std::string> documentTicket = read(job.document);
        const std::optional<std::string> pageTicket = read(job.page);

        const std::string documentLevel = Merged(jobTicket, documentTicket, kPTDocumentScope);
        const std::string pageLevel = Merged(documentLevel, pageTicket, kPTPageScope);
        struct Layer {
            const std::string* base;
            const std::optional<std::string>* delta;
            EPrintTicketScope scope;
            const std::string* result;
        };
        for (const Layer& layer : {Layer{&jobTicket, &documentTicket, kPTDocumentScope, &documentLevel},
                                   Layer{&documentLevel, &pageTicket, kPTPageScope, &pageLevel}}) {
            SCOPED_TRACE(std::string(job.job) + " at scope " + std::to_string(layer.scope));
            const std::map<std::string, std::string> result = ByName(RootOf(*layer.result));
            ASSERT_EQ(result.count("<not namespace-well-formed XML>"), 0u) << *layer.result;
            const std::map<std::string, std::string> base = ByName(RootOf(*layer.base));
            const std::map<std::string, std::string> delta =
                *layer.delta ? ByName(RootOf(**layer.delta)) : std::map<std::string, std::string>();
            // Every element of the scope is there, the delta's when it has one.
            for (const auto* input : {&base, &delta}) {
                for (const auto& [name, description] : *input) {
                    if (ScopeOfName(name) > layer.scope)
                        continue;
                    const auto found = result.find(name);
                    ASSERT_NE(found, result.end()) << name << " missing in\n" << *layer.result;
                    EXPECT_EQ(found->second, delta.count(name) ? delta.at(name) : description) << name;
                }
            }
            for (const auto& [name, description] : result)
                EXPECT_LE(ScopeOfName(name), layer.scope) << name;
            EXPECT_EQ(result.size(), RootOf(*layer.result).size()) << "one element per name";
            EXPECT_EQ(Merged(*layer.result, std::nullopt, layer.scope), *layer.result);
        }
        // The filters look the device settings up by their literal prefix.
        if (jobTicket.find("ns0000:PageDevmodeSnapshot") != std::string::npos) {
            EXPECT_NE(pageLevel.find(R"(name="ns0000:PageDevmodeSnapshot")"), std::string::npos) << pageLevel;
        }
    }
}

} // namespace
