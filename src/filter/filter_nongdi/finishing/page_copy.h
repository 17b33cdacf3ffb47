// Copying a source page into a new page without parsing it.
//
// The preprocess filter writes every page as one FixedPage element whose
// markup ends with exactly "</FixedPage>". A new page takes such a page's
// body: the start tag is found by the first ">", the caller writes its own
// wrapper in place of it (seeing the start tag, to take the namespace
// declarations along), and everything between the start tag and the closing
// tag is copied as raw bytes, the rest of the page streamed through the
// output buffer's memory.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "filter/framework/markup_buffer.h"
#include "platform/filterpipeline.h"

inline constexpr std::string_view kFixedPageEnd = "</FixedPage>";

// The prefixed namespace declarations of a start tag, each as
// xmlns:PREFIX="URI" (with the quote it was written with), separated by one
// space; the default declaration is not among them.
std::string CollectNamespaceDeclarations(std::string_view startTag);

class PageBodyCopier {
public:
    // windowSize: the first window read for the start tag (doubled until the
    // tag is found); tests pass small ones.
    explicit PageBodyCopier(std::size_t windowSize = MarkupBuffer::kDefaultSize) noexcept : windowSize_(windowSize) {}

    using OpeningWriter = std::function<HRESULT(std::string_view startTag)>;

    // Copies the body of the page markup in source into out: writeOpening is
    // called with the start tag (through its ">"), then the body follows,
    // then closing. A source that is not such a page (shorter than the
    // closing tag, not ending with it, or without a ">" before it) is
    // refused before anything is written: HRESULT_FROM_WIN32(ERROR_INVALID_DATA)
    // with Malformed() saying why. Other failures are those of the streams.
    HRESULT Copy(IPrintReadStream* source, MarkupBuffer& out, const OpeningWriter& writeOpening,
                 std::string_view closing) noexcept;

    // Why the last source was refused; empty when it was not.
    const std::string& Malformed() const noexcept { return malformed_; }

private:
    HRESULT ReadWindow(IPrintReadStream* source, std::uint64_t body, std::size_t& tagEnd);

    std::size_t windowSize_;
    std::string window_;  // kept between pages
    std::string malformed_;
};

// Puts every related part of source except its thumbnail on target.
HRESULT CopyRelatedParts(IFixedPage* source, IFixedPage* target) noexcept;
