// PrintTicketQuery: the questions the filters ask of one effective ticket
// (which option of a feature, the value of a scored property or of a
// parameter), answered by XPath on its DOM.
//
// Every name argument is a namespace prefix and a local name together
// ("psk:PageMediaSize", "ns0000:PagePoster"). Every answer is S_OK,
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when the ticket lacks the item,
// E_INVALIDARG for an empty name, E_POINTER for a null out argument, or the
// DOM's failure. Text results are new BSTRs owned by the caller; an empty
// value leaves the result null with S_OK.
#pragma once

#include <string>

#include "platform/comptr.h"
#include "platform/msxml6.h"

inline constexpr char16_t kFrameworkNamespace[] = u"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework";
inline constexpr char16_t kKeywordsNamespace[] = u"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords";
inline constexpr char16_t kSchemaInstanceNamespace[] = u"http://www.w3.org/2001/XMLSchema-instance";
inline constexpr char16_t kSchemaNamespace[] = u"http://www.w3.org/2001/XMLSchema";

// Builds the XPath text of a query step by step.
class XPathBuilder {
public:
    // frameworkPrefix: the ticket's framework prefix with its colon, or empty.
    explicit XPathBuilder(std::u16string frameworkPrefix) : framework_(std::move(frameworkPrefix)) {}

    // "//<fw>Feature[@name = \"<name>\"]"; E_FAIL without a framework prefix.
    HRESULT AddFeature(const std::u16string& name);
    // "//<fw>ScoredProperty[@name = \"<name>\"]"; E_FAIL without a framework prefix.
    HRESULT AddScoredProperty(const std::u16string& name);
    // "//<fw>ParameterInit[@name = \"<name>\"]"; appends nothing without a framework prefix.
    HRESULT AddParameter(const std::u16string& name);
    // X becomes "X/<fw>Option | X/<fw>ScoredProperty[@name = \"<kw>OptionName\"]/<fw>Value".
    HRESULT AddOption(const std::u16string& keywordsPrefix);

    const std::u16string& Text() const noexcept { return text_; }

private:
    HRESULT AddStep(const char16_t* element, const std::u16string& name);

    std::u16string framework_;
    std::u16string text_;
};

class PrintTicketQuery {
public:
    // Prepares the DOM for queries and finds the ticket's prefixes; throws
    // CXDException (E_FAIL when the framework namespace has no prefix on the root).
    explicit PrintTicketQuery(IXMLDOMDocument2* ticket);

    HRESULT GetOptionName(const std::u16string& feature, BSTR* option);
    HRESULT GetSubFeatureOptionName(const std::u16string& feature, const std::u16string& subFeature, BSTR* option);
    HRESULT GetScoredPropertyText(const std::u16string& feature, const std::u16string& property, BSTR* text);
    HRESULT GetScoredPropertyInt(const std::u16string& feature, const std::u16string& property, LONG* value);
    HRESULT GetSubFeatureScoredPropertyText(const std::u16string& feature, const std::u16string& subFeature,
                                            const std::u16string& property, BSTR* text);
    HRESULT GetSubFeatureScoredPropertyInt(const std::u16string& feature, const std::u16string& subFeature,
                                           const std::u16string& property, LONG* value);
    HRESULT GetParameterText(const std::u16string& parameter, BSTR* text);

    // The prefixes found on the root, each with its colon, or empty.
    const std::u16string& FrameworkPrefix() const noexcept { return frameworkPrefix_; }
    const std::u16string& KeywordsPrefix() const noexcept { return keywordsPrefix_; }
    const std::u16string& SchemaInstancePrefix() const noexcept { return schemaInstancePrefix_; }
    const std::u16string& SchemaPrefix() const noexcept { return schemaPrefix_; }
    const std::u16string& PrivatePrefix() const noexcept { return privatePrefix_; }

private:
    std::u16string DiscoverPrefix(const char16_t* uri);
    HRESULT OptionName(XPathBuilder& path, BSTR* option);
    HRESULT ValueText(XPathBuilder& path, BSTR* text);
    HRESULT SelectSingle(const std::u16string& path, IXMLDOMNode* from, ComPtr<IXMLDOMNode>* node);

    ComPtr<IXMLDOMDocument2> dom_;
    std::u16string rootName_ = u"PrintTicket";
    std::u16string schemaPrefix_;
    std::u16string schemaInstancePrefix_;
    std::u16string frameworkPrefix_;
    std::u16string keywordsPrefix_;
    std::u16string privatePrefix_;
};

// Decimal conversion as the settings use it: leading blanks and a sign, up to
// the first character that is not a digit; 0 when there is no digit.
LONG DecimalValue(const std::u16string& text);
