#include "filter/filter_nongdi/preprocess/page_rewriter.h"

#include <algorithm>
#include <charconv>

#include "filter/filter_nongdi/preprocess/page_placement.h"
#include "filter/framework/classic_format.h"
#include "filter/framework/cxd_exception.h"
#include "filter/framework/stream_adapters.h"
#include "platform/objbase.h"
#include "platform/oleauto.h"
#include "platform/stringapiset.h"

namespace {

bool IsBlank(char16_t c) noexcept { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }
bool IsSeparator(char16_t c) noexcept { return c == u'/' || c == u'\\'; }

std::u16string_view TrimLeading(std::u16string_view text) noexcept
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return text.substr(i);
}

// "scheme:" before any separator: a URI that is not a part name.
bool HasScheme(std::u16string_view reference) noexcept
{
    if (reference.empty() || !((reference[0] >= u'a' && reference[0] <= u'z') || (reference[0] >= u'A' && reference[0] <= u'Z')))
        return false;
    for (std::size_t i = 1; i < reference.size(); ++i) {
        const char16_t c = reference[i];
        if (c == u':')
            return true;
        const bool schemeChar = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                                c == u'+' || c == u'-' || c == u'.';
        if (!schemeChar)
            return false;
    }
    return false;
}

// A decimal number, as the markup writes lengths; false for anything else.
bool ParseNumber(std::u16string_view text, double& value)
{
    std::string narrow = WideToUtf8(text);
    const char* first = narrow.data();
    const char* last = first + narrow.size();
    while (first < last && (*first == ' ' || *first == '\t' || *first == '\r' || *first == '\n'))
        ++first;
    while (last > first && (last[-1] == ' ' || last[-1] == '\t' || last[-1] == '\r' || last[-1] == '\n'))
        --last;
    if (first < last && *first == '+')
        ++first;
    const auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && end == last && first < last;
}

// Exactly four comma-separated numbers.
bool ParseBox(std::u16string_view text, float (&out)[4])
{
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = text.find(u',', start);
        if ((i < 3) == (comma == std::u16string_view::npos))
            return false;
        double v = 0;
        if (!ParseNumber(text.substr(start, comma == std::u16string_view::npos ? std::u16string_view::npos : comma - start), v))
            return false;
        out[i] = static_cast<float>(v);
        start = comma + 1;
    }
    return true;
}

std::string Narrow(std::u16string_view text) { return WideToUtf8(text); }

// Keeps the parser's message for a document that is not well-formed.
class ParseErrors final : public ComObject<ISAXErrorHandler> {
public:
    HRESULT STDMETHODCALLTYPE error(ISAXLocator*, const WCHAR*, HRESULT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator*, const WCHAR* message, HRESULT) override
    {
        return CallGuarded([&] {
            message_ = message ? WideToUtf8(message) : std::string();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator*, const WCHAR*, HRESULT) override { return S_OK; }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

} // namespace

// ---- Helpers --------------------------------------------------------------------

std::optional<std::u16string> BaseDirectoryOf(std::u16string_view partName)
{
    const auto slash = partName.rfind(u'/');
    if (slash == std::u16string_view::npos || slash == 0)
        return std::nullopt;
    return std::u16string(partName.substr(0, slash + 1));
}

std::u16string RewriteReference(const std::optional<std::u16string>& base, std::u16string_view reference)
{
    const std::u16string_view v = TrimLeading(reference);
    const auto firstSeparator = std::find_if(v.begin(), v.end(), IsSeparator);
    if (firstSeparator == v.begin() && !v.empty())
        return std::u16string(v);  // absolute
    if (HasScheme(v))
        return std::u16string(v);  // not a part of the package

    std::u16string result;
    if (base) {
        const auto cut = base->find_last_of(u"/\\");
        result.assign(*base, 0, cut == std::u16string::npos ? 0 : cut);
    }

    const auto lastSlash = v.rfind(u'/');
    const auto lastBackslash = v.rfind(u'\\');
    std::size_t split = std::u16string_view::npos;
    if (lastSlash != std::u16string_view::npos && lastBackslash != std::u16string_view::npos)
        split = std::min(lastSlash, lastBackslash);
    else
        split = lastSlash != std::u16string_view::npos ? lastSlash : lastBackslash;
    if (split == std::u16string_view::npos || split == 0) {
        result += u'/';
        result += v;
        return result;
    }

    const std::u16string_view directory = v.substr(0, split);
    std::size_t i = 0;
    while (i < directory.size()) {
        const std::size_t next = directory.find_first_of(u"/\\", i);
        const bool last = next == std::u16string_view::npos;
        const std::u16string_view component = directory.substr(i, last ? std::u16string_view::npos : next - i);
        if (component == u"..") {
            const auto cut = result.find_last_of(u"/\\");
            if (cut == std::u16string::npos)
                return std::u16string(v);  // above the package root
            result.erase(cut);
        } else if (component != u".") {
            result += u'/';
            result += component;
        }
        if (last)
            break;
        i = next + 1;
    }
    result += u'/';
    result += v.substr(split + 1);
    return result;
}

void AppendEscaped(std::u16string& out, std::u16string_view value)
{
    for (const char16_t c : value) {
        switch (c) {
        case u'&': out += u"&amp;"; break;
        case u'<': out += u"&lt;"; break;
        case u'>': out += u"&gt;"; break;
        case u'"': out += u"&quot;"; break;
        case u'\'': out += u"&apos;"; break;
        case u'\t': out += u"&#x9;"; break;
        case u'\n': out += u"&#xA;"; break;
        case u'\r': out += u"&#xD;"; break;
        default: out += c; break;
        }
    }
}

HRESULT ParseWithHandler(IPrintReadStream* stream, ISAXContentHandler* handler, std::string& reason)
{
    ComPtr<ISAXXMLReader> reader;
    HRESULT hr = CoCreateInstance(CLSID_SAXXMLReader60, nullptr, CLSCTX_INPROC_SERVER, IID_ISAXXMLReader,
                                  reader.ReleaseAndGetVoidAddress());
    if (FAILED(hr))
        return hr;
    ComPtr<ParseErrors> errors = MakeComObject<ParseErrors>();
    ComPtr<ReadStreamAdapter> adapter = MakeComObject<ReadStreamAdapter>(stream);
    if (!errors || !adapter)
        return E_OUTOFMEMORY;
    hr = reader->putContentHandler(handler);
    if (SUCCEEDED(hr))
        hr = reader->putErrorHandler(errors.Get());
    if (FAILED(hr))
        return hr;
    VARIANT input;
    VariantInit(&input);
    input.vt = VT_UNKNOWN;
    input.punkVal = adapter->AsUnknown();
    hr = reader->parse(input);
    if (FAILED(hr) && !errors->Message().empty())
        reason = errors->Message();
    return hr;
}

// ---- The rewriter ---------------------------------------------------------------

PageRewriter::PageRewriter(IFixedPage* page, MarkupBuffer& buffer, std::optional<std::u16string> baseDirectory,
                           const JobRecord* job, const PageRecord* record, bool nested)
    : base_(std::move(baseDirectory)), buffer_(buffer), page_(page), nested_(nested), job_(job), record_(record)
{
}

HRESULT PageRewriter::Fail(std::string reason)
{
    if (reason_.empty())
        reason_ = std::move(reason);
    return E_FAIL;
}

HRESULT PageRewriter::WriteAscii(std::string_view text)
{
    scratch_.assign(text.begin(), text.end());
    return Write(scratch_);
}

HRESULT PageRewriter::startElement(const WCHAR*, int, const WCHAR*, int, const WCHAR* pwchQName, int cchQName,
                                   ISAXAttributes* pAttributes)
{
    if (!pwchQName || cchQName < 0 || !pAttributes)
        return E_POINTER;
    return CallGuarded([&] { return StartElement(std::u16string_view(pwchQName, static_cast<std::size_t>(cchQName)), pAttributes); });
}

HRESULT PageRewriter::endElement(const WCHAR*, int, const WCHAR*, int, const WCHAR* pwchQName, int cchQName)
{
    if (!pwchQName || cchQName < 0)
        return E_POINTER;
    return CallGuarded([&] { return EndElement(std::u16string_view(pwchQName, static_cast<std::size_t>(cchQName))); });
}

HRESULT PageRewriter::StartElement(std::u16string_view qualifiedName, ISAXAttributes* attributes)
{
    attributes_.clear();
    int count = 0;
    ThrowIfFailed(attributes->getLength(&count));
    for (int i = 0; i < count; ++i) {
        const WCHAR* name = nullptr;
        const WCHAR* value = nullptr;
        int nameLength = 0;
        int valueLength = 0;
        ThrowIfFailed(attributes->getQName(i, &name, &nameLength));
        ThrowIfFailed(attributes->getValue(i, &value, &valueLength));
        attributes_.push_back(MarkupAttribute{std::u16string_view(name, static_cast<std::size_t>(nameLength)),
                                              std::u16string_view(value, static_cast<std::size_t>(valueLength))});
    }

    MarkupCompatibility::Element decision;
    if (FAILED(compatibility_.StartElement(qualifiedName, attributes_, rootSeen_, decision)))
        return Fail(compatibility_.FailureReason());
    if (decision != MarkupCompatibility::Element::Write)
        return S_OK;

    const std::u16string_view local = LocalNameOf(qualifiedName);
    if (rootSeen_ && local == u"ResourceDictionary" &&
        std::any_of(attributes_.begin(), attributes_.end(), [](const MarkupAttribute& a) { return a.name == u"Source"; })) {
        remoteDictionary_ = true;
        buffer_.Enable(false);
    }
    std::u16string_view name = local;
    if (local == u"FixedPage.Resources") {
        name = u"Canvas><Canvas.Resources";
        resourcesMoved_ = true;
    }
    ThrowIfFailed(Write(u"<"));
    ThrowIfFailed(Write(name));
    if (!rootSeen_ && buffer_.Enabled() && (local == u"FixedPage" || local == u"ResourceDictionary")) {
        ThrowIfFailed(WriteRootDeclarations());
        rootSeen_ = true;
        rootTag_ = true;
    }
    ThrowIfFailed(WriteAttributes());
    if (rootTag_) {
        rootTag_ = false;
        ThrowIfFailed(job_ && record_ && !nested_ ? FinishRootTag() : Write(u">"));
    } else {
        ThrowIfFailed(Write(u">"));
    }
    buffer_.Enable(true);
    return S_OK;
}

HRESULT PageRewriter::WriteRootDeclarations()
{
    const NamespaceScopeStack& scope = compatibility_.Scope();
    if (scope.HasKind(kKindXps))
        ThrowIfFailed(Write(u" xmlns=\"http://schemas.microsoft.com/xps/2005/06\" "));
    if (scope.HasKind(kKindResourceKey))
        ThrowIfFailed(Write(u" xmlns:x=\"http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key\" "));
    if (const NamespaceScopeStack::Entry* lang = scope.NewestLanguage()) {
        scratch_ = u"xml:lang=\"";
        AppendEscaped(scratch_, lang->value);
        scratch_ += u"\" ";
        ThrowIfFailed(Write(scratch_));
    }
    return S_OK;
}

HRESULT PageRewriter::WriteAttributes()
{
    for (const MarkupAttribute& a : attributes_) {
        std::u16string_view name = a.name;
        if (name.substr(0, 5) == u"xmlns") {
            if (rootTag_ || a.value != kResourceKeyNamespace)
                continue;
            name = u"xmlns:x";
        } else if (!PrefixOf(name).empty()) {
            MarkupCompatibility::Attribute decision;
            if (FAILED(compatibility_.DecideAttribute(name, decision)))
                return Fail(compatibility_.FailureReason());
            if (decision == MarkupCompatibility::Attribute::Drop)
                continue;
            if (name != u"xml:lang") {  // the resource key
                if (remoteDictionary_)
                    return Fail("a resource dictionary with a Source carries a key");
                name = u"x:Key";
            } else if (rootTag_) {
                continue;  // the root declarations carry it
            }
        }
        if (remoteDictionary_ && name == u"Source") {
            buffer_.Enable(true);
            if (nested_)
                return Fail("a remote resource dictionary refers to another remote dictionary");
            const HRESULT hr = InlineDictionary(a.value);
            buffer_.Enable(false);
            if (FAILED(hr))
                return hr;
            continue;
        }

        std::u16string escaped;
        AppendEscaped(escaped, a.value);
        if (rootTag_) {
            if (name == u"Width" || name == u"Height") {
                double value = 0;
                if (!ParseNumber(escaped, value))
                    return Fail("the " + Narrow(name) + " of the page is not a number");
                (name == u"Width" ? width_ : height_) = value;
                (name == u"Width" ? widthSeen_ : heightSeen_) = true;
                continue;
            }
            if (name == u"ContentBox" || name == u"BleedBox") {
                Box& box = name == u"ContentBox" ? contentBox_ : bleedBox_;
                float v[4];
                if (!ParseBox(escaped, v))
                    return Fail("the " + Narrow(name) + " of the page is not four comma-separated numbers");
                box = Box{v[0], v[1], v[2], v[3], true};
                continue;
            }
            scratch_ = u" ";
            scratch_ += name;
            scratch_ += u"=\"";
            scratch_ += escaped;
            scratch_ += u"\"";
            ThrowIfFailed(Write(scratch_));
            continue;
        }
        ThrowIfFailed(WriteAttributeValue(name, escaped));
    }
    return S_OK;
}

HRESULT PageRewriter::WriteAttributeValue(std::u16string_view name, std::u16string_view escaped)
{
    scratch_ = u" ";
    scratch_ += name;
    scratch_ += u"=\"";
    if (name == u"FontUri" && base_) {
        scratch_ += RewriteReference(base_, escaped);
    } else if (name == u"ImageSource") {
        if (escaped.find(u'{') == std::u16string_view::npos) {
            scratch_ += RewriteReference(base_, escaped);
        } else if (const auto words = SplitAtBlanks(escaped); words.size() == 3) {
            // {ColorConvertedBitmap image profile}
            scratch_ += words[0];
            scratch_ += u' ';
            scratch_ += RewriteReference(base_, words[1]);
            scratch_ += u' ';
            scratch_ += RewriteReference(base_, words[2]);
        } else {
            scratch_ += escaped;
        }
    } else if ((name == u"Color" || name == u"Fill" || name == u"Stroke") &&
               escaped.find(u"ContextColor") != std::u16string_view::npos) {
        // ContextColor profile values...
        const auto words = SplitAtBlanks(escaped);
        if (words.size() < 2) {
            scratch_ += escaped;
        } else {
            scratch_ += words[0];
            scratch_ += u' ';
            scratch_ += RewriteReference(base_, words[1]);
            for (std::size_t i = 2; i < words.size(); ++i) {
                scratch_ += u' ';
                scratch_ += words[i];
            }
        }
    } else {
        scratch_ += escaped;
    }
    scratch_ += u"\"";
    return Write(scratch_);
}

HRESULT PageRewriter::FinishRootTag()
{
    if (!widthSeen_ || !heightSeen_)
        return Fail(std::string("the page has no ") + (widthSeen_ ? "Height" : "Width"));
    const double w = width_;
    const double h = height_;
    if (bleedBox_.present && (bleedBox_.x > 0 || bleedBox_.y > 0 || w > static_cast<double>(bleedBox_.x + bleedBox_.width) ||
                              h > static_cast<double>(bleedBox_.y + bleedBox_.height)))
        ThrowIfFailed(Write(u" BleedBox=\"1,0,0,0\""));
    if (contentBox_.present &&
        (contentBox_.x < 0 || contentBox_.y < 0 || w < static_cast<double>(contentBox_.x + contentBox_.width) ||
         h < static_cast<double>(contentBox_.y + contentBox_.height)))
        ThrowIfFailed(Write(u" ContentBox=\"-1,0,0,0\""));

    const PageRecord& r = *record_;
    std::int32_t outWidth;
    std::int32_t outHeight;
    if (r.fitToPage == 1) {
        outWidth = r.pagePortrait == 1 ? r.sheetWidth : r.sheetHeight;
        outHeight = r.pagePortrait == 1 ? r.sheetHeight : r.sheetWidth;
    } else {
        outWidth = r.pagePortrait == 1 ? r.pageWidth : r.pageHeight;
        outHeight = r.pagePortrait == 1 ? r.pageHeight : r.pageWidth;
    }
    ThrowIfFailed(WriteAscii(FormatClassic(" Width=\"%f\" Height=\"%f\">", outWidth * 96.0 / 600.0, outHeight * 96.0 / 600.0)));
    const PlacementMarkup placement = BuildPlacement(*job_, r, h, w);
    countedCanvases_ = placement.counted;
    return WriteAscii(placement.markup);
}

HRESULT PageRewriter::InlineDictionary(std::u16string_view source)
{
    const std::u16string name = RewriteReference(base_, source);
    const std::string where = "the resource dictionary " + Narrow(name);
    if (!page_)
        return Fail(where + " cannot be reached");
    ComPtr<IUnknown> related;
    HRESULT hr = page_->GetPagePart(name.c_str(), related.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return Fail(where + " is not a resource of the page");
    ComPtr<IPartBase> part;
    hr = related->QueryInterface(part.ReleaseAndGetAddressOf());
    if (FAILED(hr))
        return Fail(where + " is not a part");
    ComPtr<IPrintReadStream> stream;
    std::u16string partName;
    hr = part->GetStream(stream.ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr))
        hr = PartName(part.Get(), partName);
    if (FAILED(hr))
        return hr;
    if (partName.empty())
        partName = name;

    ComPtr<PageRewriter> nested =
        MakeComObject<PageRewriter>(page_.Get(), buffer_, BaseDirectoryOf(partName), nullptr, nullptr, true);
    if (!nested)
        return E_OUTOFMEMORY;
    std::string parseReason;
    hr = ParseWithHandler(stream.Get(), nested.Get(), parseReason);
    if (FAILED(hr)) {
        const std::string& why = nested->FailureReason().empty() ? parseReason : nested->FailureReason();
        if (!why.empty())
            Fail(where + ": " + why);
        return hr;
    }
    return S_OK;
}

HRESULT PageRewriter::EndElement(std::u16string_view qualifiedName)
{
    bool write = false;
    if (FAILED(compatibility_.EndElement(write)))
        return Fail(compatibility_.FailureReason());
    if (!write)
        return S_OK;
    const std::u16string_view local = LocalNameOf(qualifiedName);
    if (remoteDictionary_ && local == u"ResourceDictionary") {
        remoteDictionary_ = false;
        return S_OK;
    }
    if (local == u"FixedPage.Resources")
        return Write(u"</Canvas.Resources>");
    if (local == u"FixedPage") {
        if (resourcesMoved_)
            ThrowIfFailed(Write(u"</Canvas>"));
        return Write(u"</Canvas>");
    }
    scratch_ = u"</";
    scratch_ += local;
    scratch_ += u">";
    return Write(scratch_);
}

// ---- The page flow --------------------------------------------------------------

HRESULT RewriteFixedPage(IFixedPage* page, const JobRecord& job, const PageRecord& record, std::string_view watermark,
                         std::string& reason, std::size_t bufferSize)
{
    ComPtr<IPrintWriteStream> output;
    ThrowIfFailed(page->GetWriteStream(output.ReleaseAndGetAddressOf()));
    struct Closer {
        IPrintWriteStream* stream;
        ~Closer() { stream->Close(); }
    } closer{output.Get()};

    MarkupBuffer buffer(output.Get(), bufferSize);
    std::u16string name;
    ThrowIfFailed(PartName(page, name));

    ComPtr<PageRewriter> rewriter = MakeComObject<PageRewriter>(page, buffer, BaseDirectoryOf(name), &job, &record, false);
    if (!rewriter)
        return E_OUTOFMEMORY;
    ComPtr<IPrintReadStream> input;
    ThrowIfFailed(page->GetStream(input.ReleaseAndGetAddressOf()));
    const HRESULT hr = ParseWithHandler(input.Get(), rewriter.Get(), reason);
    if (FAILED(hr)) {
        if (!rewriter->FailureReason().empty())
            reason = rewriter->FailureReason();
        return hr;
    }
    ThrowIfFailed(buffer.Flush());
    // From here on the buffer takes 8-bit markup: the watermark over the
    // content (inside the placement canvases, not clipped), the closing tags.
    ThrowIfFailed(buffer.AppendBytes(watermark));
    std::string closing;
    for (std::int32_t i = 0; i < rewriter->CountedCanvases(); ++i)
        closing += "</Canvas>";
    closing += "</FixedPage>";
    ThrowIfFailed(buffer.AppendBytes(closing));
    return buffer.Flush();
}
