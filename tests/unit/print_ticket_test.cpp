// PrintTicket access: the queries on one ticket, the XPath they build, and the
// levels the manager keeps as parts pass.
#include <gtest/gtest.h>

#include "fake_pipeline.h"
#include "filter/framework/cxd_exception.h"
#include "filter/framework/print_ticket_manager.h"
#include "filter/framework/print_ticket_query.h"
#include "platform/objbase.h"
#include "platform/stringapiset.h"

namespace {

struct ComScope {
    ComScope() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComScope() { CoUninitialize(); }
};

std::string Take(BSTR b)
{
    std::string out = b ? WideToUtf8(std::u16string_view(b, SysStringLen(b))) : "<null>";
    SysFreeString(b);
    return out;
}

ComPtr<IXMLDOMDocument2> Dom(const std::string& xml)
{
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf());
    stream->Write(xml.data(), static_cast<ULONG>(xml.size()), nullptr);
    ComPtr<IXMLDOMDocument2> dom;
    EXPECT_EQ(LoadTicketDom(stream.Get(), true, &dom), S_OK) << xml;
    return dom;
}

const std::string kHead =
    "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
    "xmlns:psk=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:ns0000=\"http://example.invalid/print/2008/03/xps\" version=\"1\">";

std::string Ticket(const std::string& body) { return kHead + body + "</psf:PrintTicket>"; }

const std::string kBody =
    "<psf:Feature name=\"psk:PageMediaSize\"><psf:Option name=\"psk:ISOA4\">"
    "<psf:ScoredProperty name=\"psk:MediaSizeWidth\"><psf:Value xsi:type=\"xsd:integer\">210000</psf:Value></psf:ScoredProperty>"
    "<psf:ScoredProperty name=\"psk:MediaSizeHeight\"><psf:ParameterRef name=\"psk:PageMediaSizeMediaSizeHeight\"/></psf:ScoredProperty>"
    "<psf:ScoredProperty name=\"ns0000:Empty\"><psf:Value xsi:type=\"xsd:string\"></psf:Value></psf:ScoredProperty>"
    "<psf:ScoredProperty name=\"ns0000:Loose\"><psf:Value xsi:type=\"xsd:string\">  -12mm</psf:Value></psf:ScoredProperty>"
    "</psf:Option></psf:Feature>"
    "<psf:Feature name=\"ns0000:JobLayoutType\"><psf:Option name=\"ns0000:PosterPrint\"/>"
    "<psf:Feature name=\"ns0000:PosterSize\"><psf:Option name=\"ns0000:_4Pages\">"
    "<psf:ScoredProperty name=\"ns0000:Overlap\"><psf:Value xsi:type=\"xsd:integer\">50</psf:Value></psf:ScoredProperty>"
    "</psf:Option></psf:Feature></psf:Feature>"
    "<psf:Feature name=\"psk:JobDuplexAllDocumentsContiguously\">"
    "<psf:ScoredProperty name=\"psk:OptionName\"><psf:Value xsi:type=\"xsd:QName\">psk:TwoSidedLongEdge</psf:Value>"
    "</psf:ScoredProperty></psf:Feature>"
    "<psf:ParameterInit name=\"psk:PageMediaSizeMediaSizeHeight\"><psf:Value xsi:type=\"xsd:integer\">297000</psf:Value>"
    "</psf:ParameterInit>"
    "<psf:ParameterInit name=\"ns0000:JobInfo\"><psf:Value xsi:type=\"xsd:string\">tag</psf:Value></psf:ParameterInit>";

TEST(XPathBuilder, WritesTheQueryTextExactly)
{
    XPathBuilder option(u"psf:");
    ASSERT_EQ(option.AddFeature(u"psk:JobDuplex"), S_OK);
    ASSERT_EQ(option.AddOption(u"psk:"), S_OK);
    EXPECT_EQ(option.Text(), u"//psf:Feature[@name = \"psk:JobDuplex\"]/psf:Option | //psf:Feature[@name = \"psk:JobDuplex\"]"
                             u"/psf:ScoredProperty[@name = \"psk:OptionName\"]/psf:Value");

    XPathBuilder property(u"f:");
    property.AddFeature(u"a");
    property.AddFeature(u"b");
    property.AddScoredProperty(u"c");
    EXPECT_EQ(property.Text(), u"//f:Feature[@name = \"a\"]//f:Feature[@name = \"b\"]//f:ScoredProperty[@name = \"c\"]");

    XPathBuilder parameter(u"psf:");
    parameter.AddParameter(u"ns0000:JobInfo");
    EXPECT_EQ(parameter.Text(), u"//psf:ParameterInit[@name = \"ns0000:JobInfo\"]");

    // Without a framework prefix features fail, parameters append nothing.
    XPathBuilder none(u"");
    EXPECT_EQ(none.AddFeature(u"a"), E_FAIL);
    EXPECT_EQ(none.AddScoredProperty(u"a"), E_FAIL);
    EXPECT_EQ(none.AddParameter(u"a"), S_OK);
    EXPECT_EQ(none.Text(), u"");
}

TEST(PrintTicketQuery, AnswersEveryKindOfQuery)
{
    ComScope com;
    const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    PrintTicketQuery query(Dom(Ticket(kBody)).Get());
    EXPECT_EQ(query.FrameworkPrefix(), u"psf:");
    EXPECT_EQ(query.KeywordsPrefix(), u"psk:");
    EXPECT_EQ(query.SchemaInstancePrefix(), u"xsi:");
    EXPECT_EQ(query.SchemaPrefix(), u"xsd:");
    EXPECT_EQ(query.PrivatePrefix(), u"ns0000:");

    struct Case {
        const char* what;
        std::function<HRESULT(BSTR*)> ask;
        HRESULT hr;
        const char* text;
    };
    const Case cases[] = {
        {"keyword option", [&](BSTR* o) { return query.GetOptionName(u"psk:PageMediaSize", o); }, S_OK, "ISOA4"},
        {"private option", [&](BSTR* o) { return query.GetOptionName(u"ns0000:JobLayoutType", o); }, S_OK, "PosterPrint"},
        {"option as OptionName property",
         [&](BSTR* o) { return query.GetOptionName(u"psk:JobDuplexAllDocumentsContiguously", o); }, S_OK, "TwoSidedLongEdge"},
        {"sub-feature option",
         [&](BSTR* o) { return query.GetSubFeatureOptionName(u"ns0000:JobLayoutType", u"ns0000:PosterSize", o); }, S_OK,
         "_4Pages"},
        {"absent feature", [&](BSTR* o) { return query.GetOptionName(u"psk:PageOrientation", o); }, kNotFound, "<null>"},
        {"empty name", [&](BSTR* o) { return query.GetOptionName(u"", o); }, E_INVALIDARG, "<null>"},
        {"scored property",
         [&](BSTR* t) { return query.GetScoredPropertyText(u"psk:PageMediaSize", u"psk:MediaSizeWidth", t); }, S_OK, "210000"},
        {"by ParameterRef",
         [&](BSTR* t) { return query.GetScoredPropertyText(u"psk:PageMediaSize", u"psk:MediaSizeHeight", t); }, S_OK, "297000"},
        {"empty value", [&](BSTR* t) { return query.GetScoredPropertyText(u"psk:PageMediaSize", u"ns0000:Empty", t); }, S_OK,
         "<null>"},
        {"absent property",
         [&](BSTR* t) { return query.GetScoredPropertyText(u"psk:PageMediaSize", u"psk:MediaSizeDepth", t); }, kNotFound,
         "<null>"},
        {"sub-feature property",
         [&](BSTR* t) {
             return query.GetSubFeatureScoredPropertyText(u"ns0000:JobLayoutType", u"ns0000:PosterSize", u"ns0000:Overlap", t);
         },
         S_OK, "50"},
        {"parameter", [&](BSTR* t) { return query.GetParameterText(u"ns0000:JobInfo", t); }, S_OK, "tag"},
        {"absent parameter", [&](BSTR* t) { return query.GetParameterText(u"ns0000:Other", t); }, kNotFound, "<null>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BSTR out = nullptr;
        EXPECT_EQ(c.ask(&out), c.hr);
        EXPECT_EQ(Take(out), c.text);
    }
    EXPECT_EQ(query.GetOptionName(u"psk:PageMediaSize", nullptr), E_POINTER);

    LONG value = 7;
    EXPECT_EQ(query.GetScoredPropertyInt(u"psk:PageMediaSize", u"ns0000:Loose", &value), S_OK);
    EXPECT_EQ(value, -12);
    EXPECT_EQ(query.GetSubFeatureScoredPropertyInt(u"ns0000:JobLayoutType", u"ns0000:PosterSize", u"ns0000:Overlap", &value), S_OK);
    EXPECT_EQ(value, 50);
    value = 7;
    EXPECT_EQ(query.GetScoredPropertyInt(u"psk:PageMediaSize", u"psk:Nothing", &value), kNotFound);
    EXPECT_EQ(value, 7);
}

TEST(PrintTicketQuery, PrefixesComeFromTheTicketItself)
{
    ComScope com;
    // Other prefixes for the framework and keywords: queries follow the ticket.
    {
        PrintTicketQuery query(Dom("<f:PrintTicket xmlns:f=\"http://schemas.microsoft.com/windows/2003/08/printing/"
                                   "printschemaframework\" xmlns:k=\"http://schemas.microsoft.com/windows/2003/08/printing/"
                                   "printschemakeywords\" version=\"1\"><f:Feature name=\"k:PageOrientation\">"
                                   "<f:Option name=\"k:Landscape\"/></f:Feature></f:PrintTicket>")
                                   .Get());
        BSTR option = nullptr;
        EXPECT_EQ(query.GetOptionName(u"k:PageOrientation", &option), S_OK);
        EXPECT_EQ(Take(option), "Landscape");
    }
    // The private namespace under another prefix: private names are not found.
    {
        PrintTicketQuery query(Dom("<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/"
                                   "printschemaframework\" xmlns:ns0001=\"http://example.invalid/print/2008/03/xps\" "
                                   "version=\"1\"><psf:Feature name=\"ns0001:PagePoster\"><psf:Option name=\"ns0001:On\"/>"
                                   "</psf:Feature></psf:PrintTicket>")
                                   .Get());
        BSTR option = nullptr;
        EXPECT_EQ(query.GetOptionName(u"ns0000:PagePoster", &option), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
        EXPECT_EQ(option, nullptr);
    }
    // The framework as the default namespace: nothing can be read.
    try {
        PrintTicketQuery query(Dom("<PrintTicket xmlns=\"http://schemas.microsoft.com/windows/2003/08/printing/"
                                   "printschemaframework\" version=\"1\"/>")
                                   .Get());
        ADD_FAILURE() << "constructed";
    } catch (const CXDException& e) {
        EXPECT_EQ(e.GetHResult(), E_FAIL);
    }
    EXPECT_EQ(DecimalValue(u" +42x"), 42);
    EXPECT_EQ(DecimalValue(u"abc"), 0);
    EXPECT_EQ(DecimalValue(u"99999999999"), 0x7FFFFFFF);
}

// ---- Levels --------------------------------------------------------------------

ComPtr<IPartPrintTicket> TicketPart(const std::string& name, const std::string& xml)
{
    PartCore core = NamedCore(name);
    core.content = std::make_shared<const Bytes>(xml.begin(), xml.end());
    return MakePrintTicketPart(std::move(core));
}

std::string Feature(const std::string& name, const std::string& option)
{
    return "<psf:Feature name=\"" + name + "\"><psf:Option name=\"" + option + "\"/></psf:Feature>";
}

// The option the effective page ticket selects for a feature, or "<null>".
std::string PageOption(PrintTicketManager& manager, const char16_t* feature)
{
    IXMLDOMDocument2* page = nullptr;
    EXPECT_EQ(manager.GetPageTicket(&page), S_OK);
    PrintTicketQuery query(page);
    BSTR option = nullptr;
    query.GetOptionName(feature, &option);
    return Take(option);
}

TEST(PrintTicketManager, LevelsInheritAndPagesWithoutTicketsGetTheDocumentLevel)
{
    ComScope com;
    PrintTicketManager manager;
    const std::string user = Ticket(Feature("psk:PageOrientation", "psk:Portrait") + Feature("psk:JobCopies", "psk:One"));
    ComPtr<IPrintReadStream> userStream = MakeMemoryReadStream(std::make_shared<const Bytes>(user.begin(), user.end()));
    BSTR printer = SysAllocString(u"printer");
    ASSERT_EQ(manager.OpenTickets(userStream.Get(), printer), S_OK);
    SysFreeString(printer);

    // Before any part the page level is the user's ticket copied down.
    EXPECT_EQ(PageOption(manager, u"psk:PageOrientation"), "Portrait");

    ComPtr<IFixedDocumentSequence> sequence =
        MakeFixedDocumentSequence(NamedCore("/s.fdseq"), TicketPart("/job.xml", Ticket(Feature("psk:JobCopies", "psk:Two"))));
    ASSERT_EQ(manager.MergeLevel(PrintTicketManager::kJobLevel, sequence.Get()), S_OK);
    EXPECT_EQ(PageOption(manager, u"psk:JobCopies"), "Two");  // the job settings see the job level
    ComPtr<IFixedDocument> document = MakeFixedDocument(
        NamedCore("/d.fdoc"), TicketPart("/doc.xml", Ticket(Feature("psk:PageOrientation", "psk:Landscape"))));
    ASSERT_EQ(manager.MergeLevel(PrintTicketManager::kDocumentLevel, document.Get()), S_OK);

    ComPtr<IFixedPage> reversed =
        MakeFixedPage(NamedCore("/1.fpage"), TicketPart("/p.xml", Ticket(Feature("psk:PageOrientation", "psk:ReversePortrait"))), {});
    ASSERT_EQ(manager.MergeLevel(PrintTicketManager::kPageLevel, reversed.Get()), S_OK);
    EXPECT_EQ(PageOption(manager, u"psk:PageOrientation"), "ReversePortrait");

    // The next page has no ticket: the document level, not the previous page's.
    ComPtr<IFixedPage> plain = MakeFixedPage(NamedCore("/2.fpage"), nullptr, {});
    ASSERT_EQ(manager.MergeLevel(PrintTicketManager::kPageLevel, plain.Get()), S_OK);
    EXPECT_EQ(PageOption(manager, u"psk:PageOrientation"), "Landscape");
    EXPECT_EQ(PageOption(manager, u"psk:JobCopies"), "<null>");  // below the job level only page and document keywords

    // A document ticket that is not XML counts as none: the job level again.
    ComPtr<IFixedDocument> broken = MakeFixedDocument(NamedCore("/e.fdoc"), TicketPart("/bad.xml", "<psf:PrintTicket"));
    ASSERT_EQ(manager.MergeLevel(PrintTicketManager::kDocumentLevel, broken.Get()), S_OK);
    EXPECT_EQ(PageOption(manager, u"psk:PageOrientation"), "Portrait");

    manager.Close();
    IXMLDOMDocument2* none = nullptr;
    EXPECT_EQ(manager.GetPageTicket(&none), E_PENDING);
}

TEST(PrintTicketManager, OpeningNeedsAPrinterNameAndMergingAnOpenProvider)
{
    ComScope com;
    PrintTicketManager manager;
    const std::string user = Ticket("");
    ComPtr<IPrintReadStream> stream = MakeMemoryReadStream(std::make_shared<const Bytes>(user.begin(), user.end()));
    BSTR empty = SysAllocString(u"");
    EXPECT_EQ(manager.OpenTickets(stream.Get(), empty), E_INVALIDARG);
    SysFreeString(empty);
    ComPtr<IFixedDocumentSequence> sequence =
        MakeFixedDocumentSequence(NamedCore("/s.fdseq"), TicketPart("/job.xml", Ticket("")));
    EXPECT_EQ(manager.MergeLevel(PrintTicketManager::kJobLevel, sequence.Get()), E_PENDING);
}

} // namespace
