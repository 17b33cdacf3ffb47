// MarkupBuffer: the fixed-size output buffer through which a filter writes a
// page's markup into its IPrintWriteStream.
//
// Text appends (UTF-16, dropped while the buffer is disabled) are kept as
// UTF-16 and converted to UTF-8 when written; byte appends (8-bit, whatever
// the enabled flag) are written unchanged. An append that does not fit into
// the free space first writes what is buffered and empties the buffer; a
// piece at least as large as the whole buffer is then written straight to
// the stream. Flush writes what is buffered. The owner calls Flush before
// closing the stream; the buffer never closes it. One buffer may serve one
// stream after another (Attach), and its memory doubles as the transfer area
// when a part's bytes are copied into the stream (CopyFrom).
//
// Every failure of the stream (or of the conversion, E_FAIL) is answered by
// the append or flush that met it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/comptr.h"
#include "platform/filterpipeline.h"

class MarkupBuffer {
public:
    static constexpr std::size_t kDefaultSize = 0x100000;  // 1 MiB

    // size is in bytes; tests pass small ones so that every flush path runs.
    // Throws std::bad_alloc.
    explicit MarkupBuffer(IPrintWriteStream* stream, std::size_t size = kDefaultSize);

    // Writes into stream from now on; what was buffered for the previous
    // stream is dropped (flush it first).
    void Attach(IPrintWriteStream* stream) noexcept;

    MarkupBuffer(const MarkupBuffer&) = delete;
    MarkupBuffer& operator=(const MarkupBuffer&) = delete;

    void Enable(bool enabled) noexcept { enabled_ = enabled; }
    bool Enabled() const noexcept { return enabled_; }

    HRESULT AppendText(std::u16string_view text) noexcept;
    HRESULT AppendBytes(std::string_view bytes) noexcept;
    HRESULT Flush() noexcept;
    // Flushes, then copies count bytes from source into the stream through the
    // buffer memory, a buffer's worth at a time. A source ending early is
    // HRESULT_FROM_WIN32(ERROR_HANDLE_EOF).
    HRESULT CopyFrom(IPrintReadStream* source, std::uint64_t count) noexcept;

    // Writes bytes straight to the stream, as many calls as it takes.
    static HRESULT WriteAll(IPrintWriteStream* stream, const void* data, std::size_t size) noexcept;

private:
    enum class Mode { Text, Raw };
    HRESULT Append(Mode mode, const void* data, std::size_t size) noexcept;
    HRESULT WriteOut(Mode mode, const void* data, std::size_t size) noexcept;

    ComPtr<IPrintWriteStream> stream_;
    std::vector<unsigned char> buffer_;
    std::size_t used_ = 0;
    Mode mode_ = Mode::Text;  // of what is buffered
    bool enabled_ = true;
};
