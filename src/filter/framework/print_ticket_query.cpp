#include "filter/framework/print_ticket_query.h"

#include "filter/framework/cxd_exception.h"

namespace {

// A BSTR for the length of one call.
class TempBstr {
public:
    explicit TempBstr(const std::u16string& text) : b_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
        if (!b_)
            throw CXDException(E_OUTOFMEMORY);
    }
    ~TempBstr() { SysFreeString(b_); }
    TempBstr(const TempBstr&) = delete;
    TempBstr& operator=(const TempBstr&) = delete;
    operator BSTR() const noexcept { return b_; }

private:
    BSTR b_;
};

std::u16string Take(BSTR b)
{
    std::u16string out = b ? std::u16string(b, SysStringLen(b)) : std::u16string();
    SysFreeString(b);
    return out;
}

HRESULT OutText(const std::u16string& text, BSTR* out)
{
    if (text.empty())
        return S_OK;  // an empty value leaves the result null
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

// The attribute's value, or nullopt when absent.
bool Attribute(IXMLDOMNode* node, const char16_t* name, std::u16string* value)
{
    ComPtr<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(element.GetAddressOf())))
        return false;
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = element->getAttribute(TempBstr(name), &v);
    const bool found = hr == S_OK && v.vt == VT_BSTR;
    if (found)
        *value = std::u16string(v.bstrVal, SysStringLen(v.bstrVal));
    VariantClear(&v);
    return found;
}

HRESULT TypedText(IXMLDOMNode* node, BSTR* out)
{
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = node->get_nodeTypedValue(&v);
    if (SUCCEEDED(hr))
        hr = OutText(v.vt == VT_BSTR ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : std::u16string(), out);
    VariantClear(&v);
    return hr;
}

void SetProperty(IXMLDOMDocument2* dom, const char16_t* name, const std::u16string& value)
{
    TempBstr text(value);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text;  // borrowed
    ThrowIfFailed(dom->setProperty(TempBstr(name), v));
}

std::u16string Declaration(const std::u16string& prefix, const char16_t* uri)
{
    return u"xmlns:" + prefix + u"='" + uri + u"'";  // "xmlns:%s='%s'"
}

template <class Body>
HRESULT Guarded(Body&& body) noexcept
{
    return CallGuarded(std::forward<Body>(body));
}

} // namespace

HRESULT XPathBuilder::AddStep(const char16_t* element, const std::u16string& name)
{
    text_ += u"//" + framework_ + element + u"[@name = \"" + name + u"\"]";
    return S_OK;
}

HRESULT XPathBuilder::AddFeature(const std::u16string& name)
{
    return framework_.empty() ? E_FAIL : AddStep(u"Feature", name);
}

HRESULT XPathBuilder::AddScoredProperty(const std::u16string& name)
{
    return framework_.empty() ? E_FAIL : AddStep(u"ScoredProperty", name);
}

HRESULT XPathBuilder::AddParameter(const std::u16string& name)
{
    return framework_.empty() ? S_OK : AddStep(u"ParameterInit", name);
}

HRESULT XPathBuilder::AddOption(const std::u16string& keywordsPrefix)
{
    const std::u16string x = text_;
    text_ = x + u"/" + framework_ + u"Option" + u" | " + x + u"/" + framework_ + u"ScoredProperty[@name = \"" +
            keywordsPrefix + u"OptionName\"]/" + framework_ + u"Value";
    return S_OK;
}

PrintTicketQuery::PrintTicketQuery(IXMLDOMDocument2* ticket) : dom_(ticket)
{
    if (!dom_)
        throw CXDException(E_POINTER);
    SetProperty(dom_.Get(), u"SelectionLanguage", u"XPath");
    SetProperty(dom_.Get(), u"SelectionNamespaces", Declaration(u"psf", kFrameworkNamespace));
    frameworkPrefix_ = DiscoverPrefix(kFrameworkNamespace);
    keywordsPrefix_ = DiscoverPrefix(kKeywordsNamespace);
    schemaInstancePrefix_ = DiscoverPrefix(kSchemaInstanceNamespace);
    schemaPrefix_ = DiscoverPrefix(kSchemaNamespace);
    privatePrefix_ = u"ns0000:";
    if (frameworkPrefix_.empty())
        throw CXDException(E_FAIL);
    SetProperty(dom_.Get(), u"SelectionNamespaces",
                Declaration(frameworkPrefix_.substr(0, frameworkPrefix_.size() - 1), kFrameworkNamespace));
}

std::u16string PrintTicketQuery::DiscoverPrefix(const char16_t* uri)
{
    ComPtr<IXMLDOMNode> root;
    ThrowIfFailed(dom_->selectSingleNode(TempBstr(u"//psf:" + rootName_), root.GetAddressOf()));
    if (!root)
        return {};
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    ThrowIfFailed(root->get_attributes(attributes.GetAddressOf()));
    if (!attributes)
        return {};
    LONG count = 0;
    ThrowIfFailed(attributes->get_length(&count));
    for (LONG i = 0; i < count; ++i) {
        ComPtr<IXMLDOMNode> attribute;
        ThrowIfFailed(attributes->get_item(i, attribute.GetAddressOf()));
        BSTR value = nullptr;
        ThrowIfFailed(attribute->get_text(&value));
        if (Take(value) != uri)
            continue;
        BSTR name = nullptr;
        ThrowIfFailed(attribute->get_nodeName(&name));
        const std::u16string qualified = Take(name);
        if (!qualified.starts_with(u"xmlns:"))
            throw CXDException(E_FAIL);
        return qualified.substr(6) + u":";
    }
    return {};
}

HRESULT PrintTicketQuery::SelectSingle(const std::u16string& path, IXMLDOMNode* from, ComPtr<IXMLDOMNode>* node)
{
    IXMLDOMNode* context = from ? from : static_cast<IXMLDOMNode*>(dom_.Get());
    HRESULT hr = context->selectSingleNode(TempBstr(path), node->ReleaseAndGetAddressOf());
    if (SUCCEEDED(hr) && !*node)
        hr = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return hr;
}

HRESULT PrintTicketQuery::OptionName(XPathBuilder& path, BSTR* option)
{
    HRESULT hr = path.AddOption(keywordsPrefix_);
    ComPtr<IXMLDOMNode> node;
    if (SUCCEEDED(hr))
        hr = SelectSingle(path.Text(), nullptr, &node);
    if (FAILED(hr))
        return hr;
    std::u16string name;
    if (!Attribute(node.Get(), u"name", &name)) {
        BSTR text = nullptr;
        if (FAILED(hr = node->get_text(&text)))
            return hr;
        name = Take(text);
    }
    // The option without its keywords prefix, or else without the private one.
    if (const auto at = keywordsPrefix_.empty() ? std::u16string::npos : name.find(keywordsPrefix_); at != std::u16string::npos)
        name.erase(at, keywordsPrefix_.size());
    else if (const auto priv = name.find(privatePrefix_); priv != std::u16string::npos)
        name.erase(priv, privatePrefix_.size());
    return OutText(name, option);
}

HRESULT PrintTicketQuery::ValueText(XPathBuilder& path, BSTR* text)
{
    ComPtr<IXMLDOMNode> node;
    HRESULT hr = SelectSingle(path.Text(), nullptr, &node);
    if (FAILED(hr))
        return hr;
    ComPtr<IXMLDOMNode> value;
    hr = node->selectSingleNode(TempBstr(frameworkPrefix_ + u"Value"), value.GetAddressOf());
    if (FAILED(hr))
        return hr;
    if (value)
        return TypedText(value.Get(), text);

    // A value given by reference to a ParameterInit.
    ComPtr<IXMLDOMNode> reference;
    hr = SelectSingle(frameworkPrefix_ + u"ParameterRef", node.Get(), &reference);
    if (FAILED(hr))
        return hr;
    std::u16string wanted;
    Attribute(reference.Get(), u"name", &wanted);
    ComPtr<IXMLDOMNodeList> inits;
    if (FAILED(hr = dom_->selectNodes(TempBstr(u"//" + frameworkPrefix_ + u"ParameterInit"), inits.GetAddressOf())))
        return hr;
    for (ComPtr<IXMLDOMNode> init; inits->nextNode(init.ReleaseAndGetAddressOf()) == S_OK;) {
        std::u16string name;
        if (Attribute(init.Get(), u"name", &name) && name == wanted)
            return TypedText(init.Get(), text);
    }
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT PrintTicketQuery::GetOptionName(const std::u16string& feature, BSTR* option)
{
    if (!option)
        return E_POINTER;
    if (feature.empty())
        return E_INVALIDARG;
    return Guarded([&] {
        XPathBuilder path(frameworkPrefix_);
        const HRESULT hr = path.AddFeature(feature);
        return FAILED(hr) ? hr : OptionName(path, option);
    });
}

HRESULT PrintTicketQuery::GetSubFeatureOptionName(const std::u16string& feature, const std::u16string& subFeature, BSTR* option)
{
    if (!option)
        return E_POINTER;
    if (feature.empty() || subFeature.empty())
        return E_INVALIDARG;
    return Guarded([&] {
        XPathBuilder path(frameworkPrefix_);
        HRESULT hr = path.AddFeature(feature);
        if (SUCCEEDED(hr))
            hr = path.AddFeature(subFeature);
        return FAILED(hr) ? hr : OptionName(path, option);
    });
}

HRESULT PrintTicketQuery::GetScoredPropertyText(const std::u16string& feature, const std::u16string& property, BSTR* text)
{
    if (!text)
        return E_POINTER;
    if (feature.empty() || property.empty())
        return E_INVALIDARG;
    return Guarded([&] {
        XPathBuilder path(frameworkPrefix_);
        HRESULT hr = path.AddFeature(feature);
        if (SUCCEEDED(hr))
            hr = path.AddScoredProperty(property);
        return FAILED(hr) ? hr : ValueText(path, text);
    });
}

HRESULT PrintTicketQuery::GetSubFeatureScoredPropertyText(const std::u16string& feature, const std::u16string& subFeature,
                                                          const std::u16string& property, BSTR* text)
{
    if (!text)
        return E_POINTER;
    if (feature.empty() || subFeature.empty() || property.empty())
        return E_INVALIDARG;
    return Guarded([&] {
        XPathBuilder path(frameworkPrefix_);
        HRESULT hr = path.AddFeature(feature);
        if (SUCCEEDED(hr))
            hr = path.AddFeature(subFeature);
        if (SUCCEEDED(hr))
            hr = path.AddScoredProperty(property);
        return FAILED(hr) ? hr : ValueText(path, text);
    });
}

HRESULT PrintTicketQuery::GetParameterText(const std::u16string& parameter, BSTR* text)
{
    if (!text)
        return E_POINTER;
    if (parameter.empty())
        return E_INVALIDARG;
    return Guarded([&] {
        XPathBuilder path(frameworkPrefix_);
        const HRESULT hr = path.AddParameter(parameter);
        return FAILED(hr) ? hr : ValueText(path, text);
    });
}

namespace {

template <class Query>
HRESULT AsInt(LONG* value, Query&& query)
{
    if (!value)
        return E_POINTER;
    BSTR text = nullptr;
    const HRESULT hr = query(&text);
    if (SUCCEEDED(hr))
        *value = DecimalValue(Take(text));
    return hr;
}

} // namespace

HRESULT PrintTicketQuery::GetScoredPropertyInt(const std::u16string& feature, const std::u16string& property, LONG* value)
{
    return AsInt(value, [&](BSTR* text) { return GetScoredPropertyText(feature, property, text); });
}

HRESULT PrintTicketQuery::GetSubFeatureScoredPropertyInt(const std::u16string& feature, const std::u16string& subFeature,
                                                         const std::u16string& property, LONG* value)
{
    return AsInt(value, [&](BSTR* text) { return GetSubFeatureScoredPropertyText(feature, subFeature, property, text); });
}

LONG DecimalValue(const std::u16string& text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r' ||
                               text[i] == u'\v' || text[i] == u'\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        if (value <= 0x80000000LL)
            value = value * 10 + (text[i] - u'0');
    if (negative)
        value = -value;
    // Out-of-range values are clamped, as the C library's conversion does.
    if (value > 0x7FFFFFFFLL)
        return 0x7FFFFFFF;
    if (value < -0x80000000LL)
        return static_cast<LONG>(-0x7FFFFFFF - 1);
    return static_cast<LONG>(value);
}
