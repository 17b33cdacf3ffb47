#include "filter/filter_nongdi/preprocess/markup_compatibility.h"

#include <algorithm>

#include "platform/stringapiset.h"

namespace {

bool IsListAttribute(std::u16string_view local) noexcept
{
    return local == u"Ignorable" || local == u"MustUnderstand" || local == u"ProcessContent" ||
           local == u"PreserveAttributes" || local == u"PreserveElements";
}

std::string Narrow(std::u16string_view text) { return WideToUtf8(text); }

} // namespace

std::vector<std::u16string_view> SplitAtBlanks(std::u16string_view text)
{
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
    std::vector<std::u16string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && blank(text[i]))
            ++i;
        std::size_t end = i;
        while (end < text.size() && !blank(text[end]))
            ++end;
        if (end > i)
            words.push_back(text.substr(i, end - i));
        i = end;
    }
    return words;
}

std::u16string_view PrefixOf(std::u16string_view qualifiedName) noexcept
{
    const auto colon = qualifiedName.find(u':');
    return colon == std::u16string_view::npos ? std::u16string_view() : qualifiedName.substr(0, colon);
}

std::u16string_view LocalNameOf(std::u16string_view qualifiedName) noexcept
{
    const auto colon = qualifiedName.find(u':');
    return colon == std::u16string_view::npos ? qualifiedName : qualifiedName.substr(colon + 1);
}

bool IsKnownNamespace(std::u16string_view uri) noexcept
{
    return uri == kXpsNamespace || uri == kResourceKeyNamespace || uri == kMarkupCompatibilityNamespace;
}

// ---- Scope table ----------------------------------------------------------------

HRESULT NamespaceScopeStack::Declare(std::span<const MarkupAttribute> attributes, bool rootSeen, std::string& reason)
{
    const std::int32_t depth = rootSeen ? 0 : 1;
    const std::size_t before = entries_.size();
    for (const MarkupAttribute& a : attributes) {
        if (a.name == u"xmlns") {
            entries_.push_back(Entry{u"xmlns", {}, std::u16string(a.value), depth, kKindOther});
            continue;
        }
        const auto colon = a.name.find(u':');
        if (colon == std::u16string_view::npos || colon == 0 || colon + 1 == a.name.size())
            continue;  // no prefix, or a name no namespace reader would take
        const std::u16string_view prefix = a.name.substr(0, colon);
        const std::u16string_view local = a.name.substr(colon + 1);
        if (IsListAttribute(local)) {
            for (const std::u16string_view token : SplitAtBlanks(a.value))
                entries_.push_back(Entry{std::u16string(prefix), std::u16string(local), std::u16string(token), depth,
                                         kKindOther});
        } else {
            entries_.push_back(
                Entry{std::u16string(prefix), std::u16string(local), std::u16string(a.value), depth, kKindOther});
        }
    }
    return entries_.size() == before ? S_OK : Classify(reason);
}

void NamespaceScopeStack::Enter() noexcept
{
    for (Entry& e : entries_)
        ++e.depth;
}

HRESULT NamespaceScopeStack::Leave(std::string& reason)
{
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (--entries_[i].depth < 1) {
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i), entries_.end());
            return Classify(reason);
        }
    }
    return S_OK;
}

std::int32_t NamespaceScopeStack::KindOfPrefix(std::u16string_view prefix) const noexcept
{
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (!it->local.empty() && it->local == prefix)
            return it->kind;
    return kKindOther;
}

const std::u16string* NamespaceScopeStack::NamespaceOfPrefix(std::u16string_view prefix,
                                                             std::int32_t minDepth) const noexcept
{
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (!it->local.empty() && it->local == prefix && it->depth >= minDepth)
            return &it->value;
    return nullptr;
}

std::int32_t NamespaceScopeStack::ProcessContentMatch(std::u16string_view qualifiedName) const noexcept
{
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        const std::u16string_view value = it->value;
        const auto star = value.find(u'*');
        const bool matches = star != std::u16string_view::npos && star > 0
                                 ? qualifiedName.substr(0, star) == value.substr(0, star)
                                 : qualifiedName == value;
        if (matches)
            return it->kind;
    }
    return kKindOther;
}

bool NamespaceScopeStack::HasKind(std::int32_t kind) const noexcept
{
    return std::any_of(entries_.begin(), entries_.end(), [kind](const Entry& e) { return e.kind == kind; });
}

const NamespaceScopeStack::Entry* NamespaceScopeStack::NewestLanguage() const noexcept
{
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->local == u"lang")
            return &*it;
    return nullptr;
}

HRESULT NamespaceScopeStack::Classify(std::string& reason)
{
    // Without any default declaration left, unprefixed names are in no namespace.
    defaultKind_ = kKindOther;
    std::vector<std::u16string_view> compatibilityPrefixes;
    for (Entry& e : entries_)
        e.kind = kKindOther;
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (it->value == kXpsNamespace) {
            it->kind = kKindXps;
        } else if (it->value == kResourceKeyNamespace) {
            it->kind = kKindResourceKey;
        } else if (it->value == kMarkupCompatibilityNamespace) {
            it->kind = kKindCompatibility;
            if (std::find(compatibilityPrefixes.begin(), compatibilityPrefixes.end(), it->local) ==
                compatibilityPrefixes.end())
                compatibilityPrefixes.push_back(it->local);
        }
        if (it->local.empty())
            defaultKind_ = it->kind;  // the walk goes backwards: the oldest declaration decides
    }

    for (const std::u16string_view mc : compatibilityPrefixes) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            Entry& token = entries_[i];
            if (token.prefix != mc)
                continue;
            const std::string where = Narrow(token.prefix) + ":" + Narrow(token.local) + " token \"" +
                                      Narrow(token.value) + "\"";
            if (token.local == u"Ignorable") {
                const std::u16string* ns = NamespaceOfPrefix(token.value, token.depth);
                if (!ns) {
                    reason = where + " names an undeclared prefix";
                    return E_FAIL;
                }
                if (!IsKnownNamespace(*ns)) {
                    const std::u16string uri = *ns;
                    for (Entry& e : entries_)
                        if (e.value == uri && e.depth >= token.depth)
                            e.kind = kKindIgnorable;
                }
            } else if (token.local == u"MustUnderstand") {
                const std::u16string* ns = NamespaceOfPrefix(token.value, token.depth);
                if (!ns || !IsKnownNamespace(*ns)) {
                    reason = where + (ns ? " requires the namespace " + Narrow(*ns) + ", which is not understood"
                                         : " names an undeclared prefix");
                    return E_FAIL;
                }
            } else if (token.local == u"ProcessContent" || token.local == u"PreserveAttributes" ||
                       token.local == u"PreserveElements") {
                const Entry* ignorable = nullptr;
                for (std::size_t j = entries_.size(); j-- > 0;) {
                    const Entry& e = entries_[j];
                    if (e.depth == token.depth && e.local == u"Ignorable" &&
                        std::u16string_view(token.value).substr(0, e.value.size()) == e.value) {
                        ignorable = &e;
                        break;
                    }
                }
                const std::u16string* ns = ignorable ? NamespaceOfPrefix(ignorable->value, ignorable->depth) : nullptr;
                if (!ns || IsKnownNamespace(*ns)) {
                    reason = where + " is not in a namespace made Ignorable on the same element";
                    return E_FAIL;
                }
                token.kind = token.local == u"ProcessContent"       ? kKindProcessContent
                             : token.local == u"PreserveAttributes" ? kKindPreserveAttributes
                                                                    : kKindPreserveElements;
            } else {
                reason = "the markup-compatibility attribute " + Narrow(token.prefix) + ":" + Narrow(token.local) +
                         " is not supported";
                return E_FAIL;
            }
        }
    }
    return S_OK;
}

// ---- Elements -------------------------------------------------------------------

HRESULT MarkupCompatibility::Fail(std::string reason)
{
    reason_ = std::move(reason);
    return E_FAIL;
}

HRESULT MarkupCompatibility::StartElement(std::u16string_view qualifiedName, std::span<const MarkupAttribute> attributes,
                                          bool rootSeen, Element& decision)
{
    decision = Element::DropWithContent;
    if (skipDepth_ == 0) {
        const HRESULT hr = scope_.Declare(attributes, rootSeen, reason_);
        if (FAILED(hr))
            return hr;
    }
    scope_.Enter();
    if (skipDepth_ != 0) {
        ++skipDepth_;
        return S_OK;
    }

    const std::u16string_view prefix = PrefixOf(qualifiedName);
    const std::int32_t kind = prefix.empty() ? scope_.DefaultKind() : scope_.KindOfPrefix(prefix);
    const std::u16string_view local = LocalNameOf(qualifiedName);
    switch (kind) {
    case kKindCompatibility: {
        const HRESULT hr = DecideCompatibilityElement(local, attributes, decision);
        if (FAILED(hr))
            return hr;
        break;
    }
    case kKindIgnorable:
        if (scope_.ProcessContentMatch(qualifiedName) == kKindProcessContent) {
            for (const MarkupAttribute& a : attributes)
                if (a.name == u"xml:space" || a.name == u"xml:lang")
                    return Fail("the ignorable element " + Narrow(qualifiedName) + " whose content is processed carries " +
                                Narrow(a.name));
            decision = Element::DropTag;
        } else {
            decision = Element::DropWithContent;
        }
        break;
    case kKindResourceKey:
    case kKindOther: {
        std::string ns;
        if (const std::u16string* uri = prefix.empty() ? nullptr : scope_.NamespaceOfPrefix(prefix, 0))
            ns = Narrow(*uri);
        else if (prefix.empty())
            for (const auto& e : scope_.Entries())
                if (e.local.empty()) {
                    ns = Narrow(e.value);
                    break;  // the oldest default declaration
                }
        return Fail("the element " + Narrow(qualifiedName) +
                    (ns.empty() ? std::string(" is in no known namespace") : " is in the namespace " + ns) +
                    ", not in the XPS namespace " + Narrow(kXpsNamespace));
    }
    default:
        decision = Element::Write;
        break;
    }

    if (decision == Element::DropWithContent) {
        skipDepth_ = 1;
        return S_OK;
    }
    open_.push_back(OpenElement{kind, kind == kKindCompatibility && local == u"AlternateContent",
                                kind == kKindCompatibility && local != u"AlternateContent"});
    return S_OK;
}

HRESULT MarkupCompatibility::DecideCompatibilityElement(std::u16string_view local,
                                                        std::span<const MarkupAttribute> attributes, Element& decision)
{
    if (local == u"AlternateContent") {
        HRESULT hr = CheckCompatibilityAttributes(local, attributes);
        if (FAILED(hr))
            return hr;
        if (!blocks_.empty() && blocks_.back().inside)
            return Fail("an AlternateContent directly inside an AlternateContent");
        blocks_.push_back(AlternateContentState{});
        decision = Element::DropTag;
        return S_OK;
    }
    if (local == u"Choice" || local == u"Fallback") {
        if (blocks_.empty() || !blocks_.back().inside)
            return Fail("a " + Narrow(local) + " outside an AlternateContent");
    }
    if (local == u"Choice") {
        AlternateContentState& block = blocks_.back();
        if (block.fallbackSeen)
            return Fail("a Choice after the Fallback of its AlternateContent");
        if (block.choiceSelected) {
            decision = Element::DropWithContent;
            return S_OK;
        }
        block.choiceSeen = true;
        HRESULT hr = CheckCompatibilityAttributes(local, attributes);
        if (FAILED(hr))
            return hr;
        const auto required = std::find_if(attributes.begin(), attributes.end(),
                                           [](const MarkupAttribute& a) { return a.name == u"Requires"; });
        if (required == attributes.end())
            return Fail("a Choice without Requires");
        bool taken = false;
        hr = TakeChoice(required->value, taken);
        if (FAILED(hr))
            return hr;
        if (taken) {
            block.choiceSelected = true;
            block.inside = false;
            decision = Element::DropTag;
        } else {
            decision = Element::DropWithContent;
        }
        return S_OK;
    }
    if (local == u"Fallback") {
        HRESULT hr = CheckCompatibilityAttributes(local, attributes);
        if (FAILED(hr))
            return hr;
        AlternateContentState& block = blocks_.back();
        if (!block.choiceSeen)
            return Fail("a Fallback before any Choice");
        if (block.fallbackSeen)
            return Fail("a second Fallback in one AlternateContent");
        block.fallbackSeen = true;
        if (block.choiceSelected) {
            decision = Element::DropWithContent;
        } else {
            block.inside = false;
            decision = Element::DropTag;
        }
        return S_OK;
    }
    // Nothing in a page can stand for the other elements of the vocabulary.
    return Fail("the markup-compatibility element " + Narrow(local) + " is not supported in a page");
}

HRESULT MarkupCompatibility::TakeChoice(std::u16string_view required, bool& taken)
{
    taken = true;
    for (const std::u16string_view token : SplitAtBlanks(required)) {
        const std::u16string* ns = scope_.NamespaceOfPrefix(token, 0);
        if (!ns)
            return Fail("a Choice requires the undeclared prefix " + Narrow(token));
        if (!IsKnownNamespace(*ns)) {
            taken = false;
            return S_OK;  // the remaining tokens are not looked at
        }
    }
    return S_OK;
}

HRESULT MarkupCompatibility::CheckCompatibilityAttributes(std::u16string_view element,
                                                          std::span<const MarkupAttribute> attributes)
{
    for (const MarkupAttribute& a : attributes) {
        bool allowed;
        if (a.name == u"xml:lang" || a.name == u"xml:space") {
            allowed = false;
        } else if (const std::u16string_view prefix = PrefixOf(a.name); !prefix.empty()) {
            const std::int32_t kind = scope_.KindOfPrefix(prefix);
            allowed = prefix == u"xml" || prefix == u"xmlns" || kind == kKindXps || kind == kKindCompatibility ||
                      kind == kKindIgnorable || kind == kKindResourceKey;
        } else {
            allowed = a.name == u"xmlns" || (a.name == u"Requires" && element == u"Choice");
        }
        if (!allowed)
            return Fail("the attribute " + Narrow(a.name) + " is not allowed on " + Narrow(element));
    }
    return S_OK;
}

HRESULT MarkupCompatibility::EndElement(bool& write)
{
    write = false;
    HRESULT hr = scope_.Leave(reason_);
    if (FAILED(hr))
        return hr;
    if (skipDepth_ != 0) {
        --skipDepth_;
        return S_OK;
    }
    if (open_.empty())
        return Fail("an end tag without its start");
    const OpenElement element = open_.back();
    open_.pop_back();
    if (element.kind == kKindCompatibility) {
        if (element.alternateContent) {
            if (!blocks_.empty())
                blocks_.pop_back();
        } else if (element.branch && !blocks_.empty()) {
            blocks_.back().inside = true;
        }
        return S_OK;
    }
    if (element.kind == kKindIgnorable)
        return S_OK;
    write = true;
    return S_OK;
}

HRESULT MarkupCompatibility::DecideAttribute(std::u16string_view qualifiedName, Attribute& decision)
{
    decision = Attribute::Keep;
    const std::int32_t kind = scope_.KindOfPrefix(PrefixOf(qualifiedName));
    switch (kind) {
    case kKindCompatibility:
    case kKindIgnorable:
        decision = Attribute::Drop;
        return S_OK;
    case kKindXps:
        return Fail("the attribute " + Narrow(qualifiedName) + " is qualified with the XPS namespace");
    case kKindResourceKey:
        return LocalNameOf(qualifiedName) == u"Key"
                   ? S_OK
                   : Fail("the attribute " + Narrow(qualifiedName) + " is not a resource key");
    default:
        return qualifiedName == u"xml:lang" ? S_OK
                                             : Fail("the attribute " + Narrow(qualifiedName) + " is in no known namespace");
    }
}
