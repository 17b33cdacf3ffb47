// Markup compatibility on the page rewriter's SAX events: the scope table of
// namespace declarations and markup-compatibility attribute tokens, how each
// element is classified, and the AlternateContent / Choice / Fallback state.
// It writes nothing; it tells the rewriter whether an element is written,
// dropped alone (its content processed) or dropped with its content, and
// whether an attribute is kept. Every E_FAIL comes with a one-line reason.
//
// One MarkupCompatibility per parsed part (a page, or a remote dictionary
// inlined into it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/winerror.h"

inline constexpr std::u16string_view kXpsNamespace = u"http://schemas.microsoft.com/xps/2005/06";
inline constexpr std::u16string_view kResourceKeyNamespace =
    u"http://schemas.microsoft.com/xps/2005/06/resourcedictionary-key";
inline constexpr std::u16string_view kMarkupCompatibilityNamespace =
    u"http://schemas.openxmlformats.org/markup-compatibility/2006";

// What a scope entry or a prefix stands for.
enum NamespaceKind : std::int32_t {
    kKindXps = 0,                 // the XPS namespace
    kKindCompatibility = 1,       // the markup-compatibility namespace
    kKindIgnorable = 2,           // a namespace listed as Ignorable, none of the three known ones
    kKindPreserveAttributes = 3,  // a PreserveAttributes token
    kKindPreserveElements = 4,    // a PreserveElements token
    kKindProcessContent = 5,      // a ProcessContent token
    kKindResourceKey = 7,         // the resource-key namespace
    kKindOther = 8,               // anything else
};

// One attribute of a start tag, as the parser gave it.
struct MarkupAttribute {
    std::u16string_view name;   // qualified name
    std::u16string_view value;
};

// The words of a list, split at blanks, tabs, carriage returns and line feeds.
std::vector<std::u16string_view> SplitAtBlanks(std::u16string_view text);

// The qualified name's part before the first colon (empty without one) and after it.
std::u16string_view PrefixOf(std::u16string_view qualifiedName) noexcept;
std::u16string_view LocalNameOf(std::u16string_view qualifiedName) noexcept;

class NamespaceScopeStack {
public:
    struct Entry {
        std::u16string prefix;  // before the colon; "xmlns" for an unprefixed xmlns
        std::u16string local;   // after the colon; empty for an unprefixed xmlns
        std::u16string value;   // a namespace URI or one list token
        std::int32_t depth = 0;
        std::int32_t kind = kKindOther;
    };

    // Adds the entries an element's attributes declare (depth 1 before the
    // root was seen, else 0) and classifies when any was added.
    HRESULT Declare(std::span<const MarkupAttribute> attributes, bool rootSeen, std::string& reason);
    // The depth update at an element's start and at its end; the end removes
    // the entries whose depth falls below 1 (and every newer one), then classifies.
    void Enter() noexcept;
    HRESULT Leave(std::string& reason);

    // The newest entry whose local part is prefix; kKindOther without one.
    std::int32_t KindOfPrefix(std::u16string_view prefix) const noexcept;
    // The value of the newest entry whose local part is prefix and whose depth
    // is at least minDepth; null without one.
    const std::u16string* NamespaceOfPrefix(std::u16string_view prefix, std::int32_t minDepth) const noexcept;
    // The kind of the newest entry whose value matches the qualified name (a
    // value "p:*" matches every name beginning "p:"); kKindOther without one.
    std::int32_t ProcessContentMatch(std::u16string_view qualifiedName) const noexcept;

    std::int32_t DefaultKind() const noexcept { return defaultKind_; }
    bool HasKind(std::int32_t kind) const noexcept;
    // The newest entry whose local part is "lang" (an xml:lang); null without one.
    const Entry* NewestLanguage() const noexcept;
    const std::vector<Entry>& Entries() const noexcept { return entries_; }

private:
    HRESULT Classify(std::string& reason);

    std::vector<Entry> entries_;
    std::int32_t defaultKind_ = kKindOther;
};

// Whether one of the three known namespaces (XPS, resource key, markup compatibility).
bool IsKnownNamespace(std::u16string_view uri) noexcept;

class MarkupCompatibility {
public:
    enum class Element {
        Write,            // written by the rewriter
        DropTag,          // not written; its content is processed
        DropWithContent,  // neither it nor its content is written
    };
    enum class Attribute { Keep, Drop };

    // An element's start: updates the scope and the AlternateContent state
    // and decides. E_FAIL, with the reason, for markup that cannot be resolved.
    HRESULT StartElement(std::u16string_view qualifiedName, std::span<const MarkupAttribute> attributes,
                         bool rootSeen, Element& decision);
    // Whether an element's end tag is written.
    HRESULT EndElement(bool& write);
    // The decision for a prefixed attribute (not an xmlns one) of a written element.
    HRESULT DecideAttribute(std::u16string_view qualifiedName, Attribute& decision);

    const NamespaceScopeStack& Scope() const noexcept { return scope_; }
    // Why the last E_FAIL was answered.
    const std::string& FailureReason() const noexcept { return reason_; }

private:
    // One per open AlternateContent, so a block nested in a taken Choice or
    // in a Fallback does not reset the block around it.
    struct AlternateContentState {
        bool choiceSelected = false;
        bool inside = true;
        bool choiceSeen = false;
        bool fallbackSeen = false;
    };

    HRESULT Fail(std::string reason);
    HRESULT DecideCompatibilityElement(std::u16string_view local, std::span<const MarkupAttribute> attributes,
                                       Element& decision);
    HRESULT CheckCompatibilityAttributes(std::u16string_view element, std::span<const MarkupAttribute> attributes);
    HRESULT TakeChoice(std::u16string_view required, bool& taken);

    NamespaceScopeStack scope_;
    std::vector<AlternateContentState> blocks_;
    std::int32_t skipDepth_ = 0;
    // For each open element that was not dropped with its content: its kind
    // and whether it is AlternateContent, Choice or Fallback.
    struct OpenElement {
        std::int32_t kind;
        bool alternateContent;
        bool branch;
    };
    std::vector<OpenElement> open_;
    std::string reason_;
};
