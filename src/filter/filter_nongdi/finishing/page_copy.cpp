#include "filter/filter_nongdi/finishing/page_copy.h"

#include <algorithm>

#include "filter/framework/classic_format.h"
#include "filter/framework/cxd_exception.h"
#include "platform/objidl.h"
#include "platform/oleauto.h"

namespace {

constexpr HRESULT kMalformedPage = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads exactly size bytes into data; a stream ending early fails.
HRESULT ReadExactly(IPrintReadStream* source, char* data, std::size_t size)
{
    while (size > 0) {
        const ULONG want = static_cast<ULONG>(std::min<std::size_t>(size, 0x40000000));
        ULONG got = 0;
        BOOL end = FALSE;
        const HRESULT hr = source->ReadBytes(data, want, &got, &end);
        if (FAILED(hr))
            return hr;
        if (got == 0 || got > want)
            return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        data += got;
        size -= got;
    }
    return S_OK;
}

HRESULT SeekTo(IPrintReadStream* source, std::uint64_t position)
{
    return source->Seek(static_cast<LONGLONG>(position), STREAM_SEEK_SET, nullptr);
}

} // namespace

std::string CollectNamespaceDeclarations(std::string_view tag)
{
    std::string out;
    std::size_t i = tag.find_first_of(" \t\r\n");  // past the element name
    while (i < tag.size()) {
        while (i < tag.size() && IsBlank(tag[i]))
            ++i;
        const std::size_t nameStart = i;
        while (i < tag.size() && tag[i] != '=' && !IsBlank(tag[i]) && tag[i] != '>' && tag[i] != '/')
            ++i;
        const std::string_view name = tag.substr(nameStart, i - nameStart);
        while (i < tag.size() && IsBlank(tag[i]))
            ++i;
        if (name.empty() || i >= tag.size() || tag[i] != '=')
            break;  // the end of the tag (or something that is no attribute)
        ++i;
        while (i < tag.size() && IsBlank(tag[i]))
            ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\''))
            break;
        const char quote = tag[i];
        const std::size_t close = tag.find(quote, i + 1);
        if (close == std::string_view::npos)
            break;
        if (name.size() > 6 && name.starts_with("xmlns:")) {
            if (!out.empty())
                out += ' ';
            out.append(name).append("=").append(tag.substr(i, close + 1 - i));
        }
        i = close + 1;
    }
    return out;
}

HRESULT PageBodyCopier::ReadWindow(IPrintReadStream* source, std::uint64_t body, std::size_t& tagEnd)
{
    std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(body, std::max<std::size_t>(windowSize_, 1)));
    for (;;) {
        window_.resize(length);
        HRESULT hr = SeekTo(source, 0);
        if (SUCCEEDED(hr))
            hr = ReadExactly(source, window_.data(), length);
        if (FAILED(hr))
            return hr;
        tagEnd = window_.find('>');
        if (tagEnd != std::string::npos)
            return S_OK;
        if (length == body) {
            malformed_ = "no \">\" ends its start tag";
            return kMalformedPage;
        }
        length = static_cast<std::size_t>(std::min<std::uint64_t>(body, std::uint64_t{length} * 2));
    }
}

HRESULT PageBodyCopier::Copy(IPrintReadStream* source, MarkupBuffer& out, const OpeningWriter& writeOpening,
                             std::string_view closing) noexcept
{
    malformed_.clear();
    if (!source)
        return E_POINTER;
    return CallGuarded([&]() -> HRESULT {
        // The size, and the closing tag at the very end.
        ULONGLONG size = 0;
        ThrowIfFailed(source->Seek(0, STREAM_SEEK_END, &size));
        if (size < kFixedPageEnd.size()) {
            malformed_ = FormatClassic("its markup is %llu bytes long, too short for a FixedPage",
                                       static_cast<unsigned long long>(size));
            return kMalformedPage;
        }
        const std::uint64_t body = size - kFixedPageEnd.size();
        char end[kFixedPageEnd.size()];
        ThrowIfFailed(SeekTo(source, body));
        ThrowIfFailed(ReadExactly(source, end, sizeof end));
        if (std::string_view(end, sizeof end) != kFixedPageEnd) {
            malformed_ = "its markup does not end with \"</FixedPage>\"";
            return kMalformedPage;
        }

        std::size_t tagEnd = 0;
        const HRESULT read = ReadWindow(source, body, tagEnd);
        if (FAILED(read))
            return read;
        const std::string_view window = window_;
        ThrowIfFailed(writeOpening(window.substr(0, tagEnd + 1)));
        ThrowIfFailed(out.AppendBytes(window.substr(tagEnd + 1)));
        ThrowIfFailed(out.CopyFrom(source, body - window.size()));  // the source stands right after the window
        return out.AppendBytes(closing);
    });
}

HRESULT CopyRelatedParts(IFixedPage* source, IFixedPage* target) noexcept
{
    if (!source || !target)
        return E_POINTER;
    return CallGuarded([&]() -> HRESULT {
        ComPtr<IXpsPartIterator> parts;
        ThrowIfFailed(source->GetXpsPartIterator(parts.ReleaseAndGetAddressOf()));
        if (!parts)
            return E_POINTER;
        ThrowIfFailed(parts->Reset());
        for (; !parts->IsDone(); ThrowIfFailed(parts->Next())) {
            BSTR uri = nullptr;
            ComPtr<IUnknown> part;
            const HRESULT hr = parts->Current(&uri, part.ReleaseAndGetAddressOf());
            SysFreeString(uri);
            ThrowIfFailed(hr);
            ComPtr<IPartThumbnail> thumbnail;
            if (!part || SUCCEEDED(part->QueryInterface(uuidof<IPartThumbnail>(), thumbnail.ReleaseAndGetVoidAddress())))
                continue;  // thumbnails stay with their own page
            ThrowIfFailed(target->SetPagePart(part.Get()));
        }
        return S_OK;
    });
}
