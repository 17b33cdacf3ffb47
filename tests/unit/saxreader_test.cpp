// The SAX reader stand-in: events in document order with names as written,
// the encodings, reading the stream in pieces, handler and stream failures,
// documents that are not well-formed or carry a DTD, and the attributes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "platform/comobject.h"
#include "platform/msxml6.h"
#include "platform/objbase.h"
#include "platform/stringapiset.h"

namespace {

struct ComScope {
    ComScope() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComScope() { CoUninitialize(); }
};

std::string Narrow(const WCHAR* text, int length)
{
    return text ? WideToUtf8(std::u16string_view(text, static_cast<std::size_t>(length))) : "<null>";
}

// Logs the content events as lines. Character data that arrives in several
// calls is one line, so logs compare whatever way the text was split.
class Recorder final : public ComObject<ISAXContentHandler> {
public:
    std::vector<std::string> log;
    // The first call whose line starts with failAt answers failure.
    std::string failAt;
    HRESULT failure = S_OK;
    // Called from startElement after the line is logged.
    std::function<HRESULT(const std::string& name, ISAXAttributes*)> onStart;
    ComPtr<ISAXLocator> locator;

    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator* pLocator) override
    {
        locator = pLocator;
        return Note("locator");
    }
    HRESULT STDMETHODCALLTYPE startDocument() override { return Note("startDocument"); }
    HRESULT STDMETHODCALLTYPE endDocument() override { return Note("endDocument"); }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const WCHAR* p, int cp, const WCHAR*, int) override
    {
        return Note("prefix " + Narrow(p, cp));
    }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const WCHAR* p, int cp) override { return Note("endPrefix " + Narrow(p, cp)); }

    HRESULT STDMETHODCALLTYPE startElement(const WCHAR* uri, int cchUri, const WCHAR* local, int cchLocal, const WCHAR* q,
                                           int cchQ, ISAXAttributes* attributes) override
    {
        const std::string name = Narrow(q, cchQ);
        std::string line = "start " + name;
        if (!uri || cchUri != 0 || !local || cchLocal != 0)
            line += " (namespace arguments not empty)";
        int count = -1;
        EXPECT_EQ(attributes->getLength(&count), S_OK);
        for (int i = 0; i < count; ++i) {
            const WCHAR* text = nullptr;
            int length = 0;
            EXPECT_EQ(attributes->getQName(i, &text, &length), S_OK);
            line += " " + Narrow(text, length);
            EXPECT_EQ(attributes->getValue(i, &text, &length), S_OK);
            line += "=\"" + Narrow(text, length) + "\"";
        }
        HRESULT hr = Note(line);
        if (SUCCEEDED(hr) && onStart)
            hr = onStart(name, attributes);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE endElement(const WCHAR* uri, int cchUri, const WCHAR* local, int cchLocal, const WCHAR* q,
                                         int cchQ) override
    {
        std::string line = "end " + Narrow(q, cchQ);
        if (!uri || cchUri != 0 || !local || cchLocal != 0)
            line += " (namespace arguments not empty)";
        return Note(line);
    }

    HRESULT STDMETHODCALLTYPE characters(const WCHAR* text, int length) override
    {
        if (!log.empty() && log.back().starts_with("text ")) {
            log.back() += Narrow(text, length);
            return Verdict();
        }
        return Note("text " + Narrow(text, length));
    }
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const WCHAR*, int) override { return Note("ignorable"); }
    HRESULT STDMETHODCALLTYPE processingInstruction(const WCHAR* t, int ct, const WCHAR* d, int cd) override
    {
        return Note("pi " + Narrow(t, ct) + " " + Narrow(d, cd));
    }
    HRESULT STDMETHODCALLTYPE skippedEntity(const WCHAR* n, int cn) override { return Note("skipped " + Narrow(n, cn)); }

private:
    HRESULT Note(std::string line)
    {
        log.push_back(std::move(line));
        return Verdict();
    }
    HRESULT Verdict() const { return !failAt.empty() && log.back().starts_with(failAt) ? failure : S_OK; }
};

class ErrorRecorder final : public ComObject<ISAXErrorHandler> {
public:
    struct Fatal {
        std::string message;
        int line;
        int column;
        HRESULT code;
    };
    std::vector<Fatal> fatal;
    int others = 0;

    HRESULT STDMETHODCALLTYPE error(ISAXLocator*, const WCHAR*, HRESULT) override
    {
        ++others;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator* locator, const WCHAR* message, HRESULT code) override
    {
        Fatal f{message ? WideToUtf8(message) : "<null>", -1, -1, code};
        EXPECT_EQ(locator->getLineNumber(&f.line), S_OK);
        EXPECT_EQ(locator->getColumnNumber(&f.column), S_OK);
        fatal.push_back(f);
        return E_FAIL;  // changes nothing
    }
    HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator*, const WCHAR*, HRESULT) override
    {
        ++others;
        return S_OK;
    }
};

// Hands out at most `piece` bytes a Read; fails every Read once `failAt` bytes are out.
class PieceStream final : public ComObject<ISequentialStream> {
public:
    PieceStream(std::string bytes, std::size_t piece, std::size_t failAt = std::numeric_limits<std::size_t>::max(),
                HRESULT failure = S_OK)
        : bytes_(std::move(bytes)), piece_(piece), failAt_(failAt), failure_(failure)
    {
    }

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        *pcbRead = 0;
        if (position_ >= failAt_)
            return failure_;
        const std::size_t n = std::min({static_cast<std::size_t>(cb), piece_, bytes_.size() - position_, failAt_ - position_});
        std::memcpy(pv, bytes_.data() + position_, n);
        position_ += n;
        *pcbRead = static_cast<ULONG>(n);
        return position_ == bytes_.size() && n < cb ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_INVALIDFUNCTION; }

    std::size_t Position() const { return position_; }

private:
    std::string bytes_;
    std::size_t piece_;
    std::size_t failAt_;
    HRESULT failure_;
    std::size_t position_ = 0;
};

constexpr std::size_t kWhole = std::numeric_limits<std::size_t>::max();

ComPtr<ISAXXMLReader> NewReader()
{
    ComPtr<ISAXXMLReader> reader;
    EXPECT_EQ(CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_INPROC_SERVER, IID_ISAXXMLReader,
                               reader.ReleaseAndGetVoidAddress()),
              S_OK);
    return reader;
}

HRESULT Parse(ISAXXMLReader* reader, IUnknown* source)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = source;
    return reader->parse(v);
}

struct Outcome {
    HRESULT hr;
    std::vector<std::string> log;
    std::vector<ErrorRecorder::Fatal> fatal;
};

// Parses bytes handed out `piece` at a time, with a fresh recorder prepared by `setUp`.
Outcome ParseBytes(const std::string& bytes, std::size_t piece = kWhole, const std::function<void(Recorder&)>& setUp = {})
{
    ComScope com;
    ComPtr<ISAXXMLReader> reader = NewReader();
    ComPtr<Recorder> content = MakeComObject<Recorder>();
    ComPtr<ErrorRecorder> errors = MakeComObject<ErrorRecorder>();
    if (setUp)
        setUp(*content);
    reader->putContentHandler(content.Get());
    reader->putErrorHandler(errors.Get());
    ComPtr<PieceStream> stream = MakeComObject<PieceStream>(bytes, piece);
    const HRESULT hr = Parse(reader.Get(), stream->AsUnknown());
    EXPECT_EQ(errors->others, 0);
    return Outcome{hr, content->log, errors->fatal};
}

// A page with prefixes, namespace declarations, references, CDATA, a comment,
// instructions on either side of the root and text beyond the basic plane.
const std::string kPage = "<?xml version=\"1.0\"?>\n"
                          "<?page-hint keep it?>"
                          "<FixedPage xmlns=\"urn:page\" xmlns:x=\"urn:x\" Width=\"816\" xml:lang=\"de-DE\">"
                          "<!-- not reported -->"
                          "<Path x:Key=\"p1\" Data=\"M 0,0 L 10,10\"/>"
                          "<Glyphs Text=\"Gr\xC3\xB6\xC3\x9F" "e &amp; &#x20AC;\">a&lt;b \xF0\x9D\x91\x8E<![CDATA[<raw>]]></Glyphs>"
                          "<x:Resources></x:Resources>"
                          "</FixedPage>"
                          "<?done?>";

const std::vector<std::string> kPageEvents = {
    "locator",
    "startDocument",
    "pi page-hint keep it",
    "start FixedPage xmlns=\"urn:page\" xmlns:x=\"urn:x\" Width=\"816\" xml:lang=\"de-DE\"",
    "start Path x:Key=\"p1\" Data=\"M 0,0 L 10,10\"",
    "end Path",
    "start Glyphs Text=\"Gr\xC3\xB6\xC3\x9F" "e & \xE2\x82\xAC\"",
    "text a<b \xF0\x9D\x91\x8E<raw>",
    "end Glyphs",
    "start x:Resources",
    "end x:Resources",
    "end FixedPage",
    "pi done ",
    "endDocument",
};

std::string Utf16(const std::string& utf8, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : Utf8ToWide(utf8)) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

TEST(SaxReader, ReportsTheEventsInDocumentOrderWithNamesAsWritten)
{
    const Outcome out = ParseBytes(kPage);
    EXPECT_EQ(out.hr, S_OK);
    EXPECT_EQ(out.log, kPageEvents);
    EXPECT_TRUE(out.fatal.empty());
}

TEST(SaxReader, GivesTheSameEventsForEveryEncodingAndPieceSize)
{
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"UTF-8", kPage},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + kPage},
        {"UTF-16LE with a byte-order mark", Utf16(kPage, false)},
        {"UTF-16BE with a byte-order mark", Utf16(kPage, true)},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, kWhole}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            const Outcome out = ParseBytes(c.bytes, piece);
            EXPECT_EQ(out.hr, S_OK);
            EXPECT_EQ(out.log, kPageEvents);
        }
    }
}

TEST(SaxReader, DecodesReferencesBeyondTheBasicPlaneIntoSurrogatePairs)
{
    std::u16string value;
    const Outcome out = ParseBytes("<a v=\"&#119886;&lt;\">&#x1D44E;</a>", kWhole, [&](Recorder& r) {
        r.onStart = [&](const std::string&, ISAXAttributes* attributes) {
            const WCHAR* text = nullptr;
            int length = 0;
            EXPECT_EQ(attributes->getValue(0, &text, &length), S_OK);
            value.assign(text, static_cast<std::size_t>(length));
            return S_OK;
        };
    });
    EXPECT_EQ(out.hr, S_OK);
    EXPECT_EQ(value, u"\xD835\xDC4E<");
    EXPECT_EQ(out.log.at(3), "text \xF0\x9D\x91\x8E");
}

TEST(SaxReader, AHandlerFailureStopsTheParseWithItsResult)
{
    // <b/> is empty: expat would still report its end after a stop in its start.
    const std::string doc = "<a><?p q?><b/>text<c x=\"1\"/></a>";
    const Outcome full = ParseBytes(doc);
    ASSERT_EQ(full.hr, S_OK);
    ASSERT_EQ(full.log, (std::vector<std::string>{"locator", "startDocument", "start a", "pi p q", "start b", "end b",
                                                  "text text", "start c x=\"1\"", "end c", "end a", "endDocument"}));

    const char* stops[] = {"locator", "startDocument", "start a", "pi p", "start b", "end b", "text", "start c", "end a",
                           "endDocument"};
    for (const char* at : stops) {
        SCOPED_TRACE(at);
        constexpr HRESULT kFailure = static_cast<HRESULT>(0x80041234);
        const Outcome out = ParseBytes(doc, 1, [&](Recorder& r) {
            r.failAt = at;
            r.failure = kFailure;
        });
        EXPECT_EQ(out.hr, kFailure);
        // Everything up to the failing call, which (for text fed a byte at a time) is its first piece.
        const auto stop = std::find_if(full.log.begin(), full.log.end(), [&](const std::string& l) { return l.starts_with(at); });
        ASSERT_FALSE(out.log.empty());
        EXPECT_EQ(std::vector<std::string>(out.log.begin(), out.log.end() - 1), std::vector<std::string>(full.log.begin(), stop));
        EXPECT_TRUE(out.log.back().starts_with(at)) << out.log.back();
        EXPECT_TRUE(out.fatal.empty());
    }

    // A failure that comes before the document turns out malformed wins.
    const Outcome first = ParseBytes("<a><b/></c>", kWhole, [](Recorder& r) {
        r.failAt = "start b";
        r.failure = E_ABORT;
    });
    EXPECT_EQ(first.hr, E_ABORT);
    EXPECT_TRUE(first.fatal.empty());
}

TEST(SaxReader, RefusesMalformedDocumentsAndDtdsWithOneFatalError)
{
    struct Case {
        const char* what;
        std::string bytes;
        const char* message;  // a part of it
        // Where expat places the error; a DTD is refused once its name and identifiers are read.
        int line;
        int column;
    };
    const Case cases[] = {
        {"mismatched tag", "<a>\n  <b></c></a>", "mismatched tag", 2, 8},  // at the name
        {"truncated in text", "<a><b>te", "no element found", 1, 9},
        {"truncated in a tag", "<a><b x=\"1", "unclosed token", 1, 4},
        {"empty", "", "the document is empty", 1, 1},
        {"only white space", " \n", "no element found", 2, 1},
        {"text after the root", "<a/>junk", "junk after document element", 1, 5},
        {"a second root", "<a/><b/>", "junk after document element", 1, 5},
        {"undefined entity", "<a>&nope;</a>", "undefined entity", 1, 4},
        {"invalid UTF-8", "<a>\xC3\x28</a>", "not well-formed", 1, 4},
        {"an encoding other than UTF-8 and UTF-16", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><a/>", "unknown encoding",
         1, 31},
        {"DOCTYPE with an entity", "<?xml version=\"1.0\"?>\n<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>", "DTDs are not accepted", 2, 13},
        {"DOCTYPE with an external subset", "<!DOCTYPE a SYSTEM \"file:///etc/passwd\"><a/>", "DTDs are not accepted", 1, 40},
    };
    for (const Case& c : cases) {
        for (const std::size_t piece : {std::size_t{1}, kWhole}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(piece));
            const Outcome out = ParseBytes(c.bytes, piece);
            EXPECT_EQ(out.hr, E_FAIL);
            ASSERT_EQ(out.fatal.size(), 1u);
            const ErrorRecorder::Fatal& f = out.fatal.front();
            EXPECT_NE(f.message.find(c.message), std::string::npos) << f.message;
            EXPECT_EQ(f.message.find('\n'), std::string::npos) << f.message;
            EXPECT_EQ(f.line, c.line);
            EXPECT_EQ(f.column, c.column);
            EXPECT_TRUE(FAILED(f.code));
            EXPECT_EQ(std::count(out.log.begin(), out.log.end(), "endDocument"), 0);
            if (std::string_view(c.message).starts_with("DTD")) {
                EXPECT_EQ(out.log, (std::vector<std::string>{"locator", "startDocument"}));
            }
        }
    }
}

TEST(SaxReader, AStreamFailureStopsTheParseWithItsResult)
{
    struct Case {
        std::size_t failAt;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {0, {"locator", "startDocument"}},
        {8, {"locator", "startDocument", "start a", "start b", "end b"}},  // "<a><b/><" came
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failAt);
        ComScope com;
        ComPtr<ISAXXMLReader> reader = NewReader();
        ComPtr<Recorder> content = MakeComObject<Recorder>();
        ComPtr<ErrorRecorder> errors = MakeComObject<ErrorRecorder>();
        reader->putContentHandler(content.Get());
        reader->putErrorHandler(errors.Get());
        ComPtr<PieceStream> stream = MakeComObject<PieceStream>("<a><b/><c/></a>", 2, c.failAt, STG_E_READFAULT);
        EXPECT_EQ(Parse(reader.Get(), stream->AsUnknown()), STG_E_READFAULT);
        EXPECT_EQ(content->log, c.log);
        EXPECT_TRUE(errors->fatal.empty());
    }
}

TEST(SaxReader, ReportsElementsBeforeTheWholeStreamIsRead)
{
    constexpr int kElements = 20000;
    std::string doc = "<root>";
    for (int i = 0; i < kElements; ++i)
        doc += "<e n=\"" + std::to_string(i) + "\"/>";
    doc += "</root>";

    ComScope com;
    ComPtr<ISAXXMLReader> reader = NewReader();
    ComPtr<Recorder> content = MakeComObject<Recorder>();
    ComPtr<PieceStream> stream = MakeComObject<PieceStream>(doc, kWhole);
    std::size_t readAtFirstElement = 0;
    int elements = 0;
    content->onStart = [&](const std::string&, ISAXAttributes*) {
        if (elements++ == 0)
            readAtFirstElement = stream->Position();
        return S_OK;
    };
    reader->putContentHandler(content.Get());
    EXPECT_EQ(Parse(reader.Get(), stream->AsUnknown()), S_OK);
    EXPECT_EQ(elements, kElements + 1);
    EXPECT_GT(readAtFirstElement, 0u);
    EXPECT_LT(readAtFirstElement, doc.size() / 2);
    EXPECT_EQ(content->log.at(content->log.size() - 4), "start e n=\"" + std::to_string(kElements - 1) + "\"");
}

TEST(SaxReader, IsMadeThroughTheClassTableAndReadsAnIStream)
{
    ComPtr<ISAXXMLReader> reader;
    EXPECT_EQ(CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_INPROC_SERVER, IID_ISAXXMLReader,
                               reader.ReleaseAndGetVoidAddress()),
              CO_E_NOTINITIALIZED);

    ComScope com;
    reader = NewReader();
    ASSERT_TRUE(reader);
    ComPtr<IXMLDOMDocument> notADocument;
    EXPECT_EQ(reader.As(&notADocument), E_NOINTERFACE);

    ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()), S_OK);
    const std::string doc = "<a x=\"1\">t</a>";
    stream->Write(doc.data(), static_cast<ULONG>(doc.size()), nullptr);
    stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr);
    ComPtr<Recorder> content = MakeComObject<Recorder>();
    reader->putContentHandler(content.Get());
    EXPECT_EQ(Parse(reader.Get(), stream.Get()), S_OK);
    EXPECT_EQ(content->log, (std::vector<std::string>{"locator", "startDocument", "start a x=\"1\"", "text t", "end a",
                                                      "endDocument"}));
}

TEST(SaxReader, TakesOnlyStreamsAndWorksWithoutHandlers)
{
    ComScope com;
    ComPtr<ISAXXMLReader> reader = NewReader();
    ComPtr<ISAXContentHandler> got;
    EXPECT_EQ(reader->getContentHandler(nullptr), E_POINTER);
    EXPECT_EQ(reader->getContentHandler(got.ReleaseAndGetAddressOf()), S_FALSE);
    EXPECT_EQ(got, nullptr);
    ComPtr<Recorder> content = MakeComObject<Recorder>();
    reader->putContentHandler(content.Get());
    EXPECT_EQ(reader->getContentHandler(got.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(got.Get(), static_cast<ISAXContentHandler*>(content.Get()));
    reader->putContentHandler(nullptr);
    EXPECT_EQ(reader->getContentHandler(got.ReleaseAndGetAddressOf()), S_FALSE);

    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(reader->parse(v), E_INVALIDARG);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"<a/>");
    EXPECT_EQ(reader->parse(v), E_INVALIDARG);
    SysFreeString(v.bstrVal);
    EXPECT_EQ(Parse(reader.Get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(Parse(reader.Get(), content->AsUnknown()), E_INVALIDARG);  // not a stream
    EXPECT_TRUE(content->log.empty());

    // Without a content handler the document is still checked.
    struct Case {
        const char* doc;
        HRESULT expected;
    };
    for (const Case& c : {Case{"<a><b/></a>", S_OK}, Case{"<a><b></a>", E_FAIL}, Case{"<!DOCTYPE a><a/>", E_FAIL}}) {
        SCOPED_TRACE(c.doc);
        ComPtr<ErrorRecorder> errors = MakeComObject<ErrorRecorder>();
        reader->putErrorHandler(errors.Get());
        EXPECT_EQ(Parse(reader.Get(), MakeComObject<PieceStream>(c.doc, kWhole)->AsUnknown()), c.expected);
        EXPECT_EQ(errors->fatal.size(), c.expected == S_OK ? 0u : 1u);
        reader->putErrorHandler(nullptr);
        EXPECT_EQ(Parse(reader.Get(), MakeComObject<PieceStream>(c.doc, kWhole)->AsUnknown()), c.expected);
    }
}

TEST(SaxReader, RefusesAParseFromItsOwnHandlerAndIsReusedAfterwards)
{
    ComScope com;
    ComPtr<ISAXXMLReader> reader = NewReader();
    ComPtr<Recorder> content = MakeComObject<Recorder>();
    HRESULT nested = S_OK;
    content->onStart = [&](const std::string&, ISAXAttributes*) {
        nested = Parse(reader.Get(), MakeComObject<PieceStream>("<n/>", kWhole)->AsUnknown());
        return S_OK;
    };
    reader->putContentHandler(content.Get());
    EXPECT_EQ(Parse(reader.Get(), MakeComObject<PieceStream>("<a/>", kWhole)->AsUnknown()), S_OK);
    EXPECT_EQ(nested, E_UNEXPECTED);

    content->onStart = nullptr;
    content->log.clear();
    EXPECT_EQ(Parse(reader.Get(), MakeComObject<PieceStream>("<b/>", 1)->AsUnknown()), S_OK);
    EXPECT_EQ(content->log, (std::vector<std::string>{"locator", "startDocument", "start b", "end b", "endDocument"}));

    // A handler may let go of the last reference to the reader mid-parse.
    ISAXXMLReader* raw = reader.Get();
    content->onStart = [&](const std::string&, ISAXAttributes*) {
        reader.Reset();
        return S_OK;
    };
    content->log.clear();
    EXPECT_EQ(Parse(raw, MakeComObject<PieceStream>("<c><d/></c>", 1)->AsUnknown()), S_OK);
    EXPECT_EQ(content->log.back(), "endDocument");
}

TEST(SaxReader, TheLocatorFollowsTheParse)
{
    std::vector<std::string> places;
    ComPtr<ISAXLocator> kept;
    const Outcome out = ParseBytes("<a>\n  <b/>\n\t<c/></a>", 2, [&](Recorder& r) {
        r.onStart = [&, rec = &r](const std::string& name, ISAXAttributes*) {
            int line = 0, column = 0;
            EXPECT_EQ(rec->locator->getLineNumber(&line), S_OK);
            EXPECT_EQ(rec->locator->getColumnNumber(&column), S_OK);
            places.push_back(name + " " + std::to_string(line) + ":" + std::to_string(column));
            kept = rec->locator;
            return S_OK;
        };
    });
    EXPECT_EQ(out.hr, S_OK);
    EXPECT_EQ(places, (std::vector<std::string>{"a 1:1", "b 2:3", "c 3:2"}));
    // Kept beyond the parse, it answers where the parse ended.
    ASSERT_TRUE(kept);
    int line = 0;
    EXPECT_EQ(kept->getLineNumber(&line), S_OK);
    EXPECT_EQ(line, 3);
    EXPECT_EQ(kept->getLineNumber(nullptr), E_POINTER);
    EXPECT_EQ(kept->getColumnNumber(nullptr), E_POINTER);
}

TEST(SaxAttributes, LookUpByIndexAndQualifiedName)
{
    int checked = 0;
    const Outcome out = ParseBytes("<e xmlns:x=\"urn:x\" x:a=\"1\" b=\"two\" empty=\"\"><f/></e>", kWhole, [&](Recorder& r) {
        r.onStart = [&](const std::string& name, ISAXAttributes* a) {
            ++checked;
            const WCHAR* text = nullptr;
            int length = -1;
            int index = -1;
            if (name == "f") {
                EXPECT_EQ(a->getLength(&length), S_OK);
                EXPECT_EQ(length, 0);
                EXPECT_EQ(a->getQName(0, &text, &length), E_INVALIDARG);
                EXPECT_EQ(a->getIndexFromQName(u"b", 1, &index), E_INVALIDARG);
                return S_OK;
            }
            // Every pointer handed out stays good while the call lasts.
            std::vector<std::pair<const WCHAR*, int>> handed;
            for (int i = 0; i < 4; ++i) {
                EXPECT_EQ(a->getQName(i, &text, &length), S_OK);
                handed.emplace_back(text, length);
                EXPECT_EQ(a->getValue(i, &text, &length), S_OK);
                handed.emplace_back(text, length);
            }
            std::vector<std::string> seen;
            for (const auto& [p, n] : handed)
                seen.push_back(Narrow(p, n));
            EXPECT_EQ(seen, (std::vector<std::string>{"xmlns:x", "urn:x", "x:a", "1", "b", "two", "empty", ""}));
            EXPECT_NE(handed.back().first, nullptr);

            struct Lookup {
                std::u16string_view name;
                HRESULT hr;
                int index;
            };
            const Lookup lookups[] = {
                {u"xmlns:x", S_OK, 0},
                {u"x:a", S_OK, 1},
                {u"empty", S_OK, 3},
                {u"xmlns", E_INVALIDARG, -1},  // the start of a name only
                {u"x:", E_INVALIDARG, -1},
                {u"a", E_INVALIDARG, -1},      // the local part only
                {u"B", E_INVALIDARG, -1},
            };
            for (const Lookup& l : lookups) {
                SCOPED_TRACE(WideToUtf8(l.name));
                EXPECT_EQ(a->getIndexFromQName(l.name.data(), static_cast<int>(l.name.size()), &index), l.hr);
                if (l.hr == S_OK) {
                    EXPECT_EQ(index, l.index);
                }
            }
            EXPECT_EQ(a->getIndexFromQName(u"x:a", 2, &index), E_INVALIDARG);  // "x:"
            EXPECT_EQ(a->getValueFromQName(u"b", 1, &text, &length), S_OK);
            EXPECT_EQ(Narrow(text, length), "two");
            EXPECT_EQ(a->getValueFromQName(u"c", 1, &text, &length), E_INVALIDARG);

            for (const int bad : {-1, 4, 1000}) {
                EXPECT_EQ(a->getQName(bad, &text, &length), E_INVALIDARG) << bad;
                EXPECT_EQ(a->getValue(bad, &text, &length), E_INVALIDARG) << bad;
            }
            EXPECT_EQ(a->getLength(nullptr), E_POINTER);
            EXPECT_EQ(a->getQName(0, nullptr, &length), E_POINTER);
            EXPECT_EQ(a->getQName(0, &text, nullptr), E_POINTER);
            EXPECT_EQ(a->getValue(0, nullptr, &length), E_POINTER);
            EXPECT_EQ(a->getValue(0, &text, nullptr), E_POINTER);
            EXPECT_EQ(a->getIndexFromQName(u"b", 1, nullptr), E_POINTER);
            EXPECT_EQ(a->getIndexFromQName(nullptr, 0, &index), E_POINTER);
            EXPECT_EQ(a->getValueFromQName(u"b", 1, nullptr, &length), E_POINTER);
            EXPECT_EQ(a->getValueFromQName(u"b", 1, &text, nullptr), E_POINTER);
            return S_OK;
        };
    });
    EXPECT_EQ(out.hr, S_OK);
    EXPECT_EQ(checked, 2);
}

} // namespace
