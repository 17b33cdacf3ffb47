#include "filter/framework/markup_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/stringapiset.h"

MarkupBuffer::MarkupBuffer(IPrintWriteStream* stream, std::size_t size) : stream_(stream), buffer_(size) {}

void MarkupBuffer::Attach(IPrintWriteStream* stream) noexcept
{
    stream_ = stream;
    used_ = 0;
}

HRESULT MarkupBuffer::AppendText(std::u16string_view text) noexcept
{
    if (!enabled_)
        return S_OK;
    return Append(Mode::Text, text.data(), text.size() * sizeof(char16_t));
}

HRESULT MarkupBuffer::AppendBytes(std::string_view bytes) noexcept
{
    return Append(Mode::Raw, bytes.data(), bytes.size());
}

HRESULT MarkupBuffer::Append(Mode mode, const void* data, std::size_t size) noexcept
{
    if (size == 0)
        return S_OK;
    if (used_ != 0 && mode != mode_) {
        const HRESULT hr = Flush();
        if (FAILED(hr))
            return hr;
    }
    if (size > buffer_.size() - used_) {
        const HRESULT hr = Flush();
        if (FAILED(hr))
            return hr;
        if (size >= buffer_.size())
            return WriteOut(mode, data, size);
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
    mode_ = mode;
    return S_OK;
}

HRESULT MarkupBuffer::Flush() noexcept
{
    if (used_ == 0)
        return S_OK;
    const HRESULT hr = WriteOut(mode_, buffer_.data(), used_);
    used_ = 0;
    return hr;
}

HRESULT MarkupBuffer::CopyFrom(IPrintReadStream* source, std::uint64_t count) noexcept
{
    if (!source)
        return E_POINTER;
    HRESULT hr = Flush();
    while (SUCCEEDED(hr) && count > 0) {
        const std::size_t room = std::min<std::size_t>(buffer_.size(), 0x40000000);
        const ULONG want = static_cast<ULONG>(std::min<std::uint64_t>(count, room));
        ULONG got = 0;
        BOOL end = FALSE;
        hr = source->ReadBytes(buffer_.data(), want, &got, &end);
        if (SUCCEEDED(hr) && (got == 0 || got > want))
            hr = HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
        if (SUCCEEDED(hr))
            hr = WriteAll(stream_.Get(), buffer_.data(), got);
        if (SUCCEEDED(hr))
            count -= got;
    }
    return hr;
}

HRESULT MarkupBuffer::WriteOut(Mode mode, const void* data, std::size_t size) noexcept
{
    if (mode == Mode::Raw)
        return WriteAll(stream_.Get(), data, size);
    // Buffered text holds whole appends, so no surrogate pair is ever split.
    std::string utf8;
    try {
        utf8 = WideToUtf8(std::u16string_view(static_cast<const char16_t*>(data), size / sizeof(char16_t)));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return WriteAll(stream_.Get(), utf8.data(), utf8.size());
}

HRESULT MarkupBuffer::WriteAll(IPrintWriteStream* stream, const void* data, std::size_t size) noexcept
{
    if (!stream)
        return E_POINTER;
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ULONG chunk = size > 0x40000000 ? 0x40000000UL : static_cast<ULONG>(size);
        ULONG written = 0;
        const HRESULT hr = stream->WriteBytes(p, chunk, &written);
        if (FAILED(hr))
            return hr;
        if (written == 0 || written > chunk)
            return E_FAIL;
        p += written;
        size -= written;
    }
    return S_OK;
}
