// The COM stream adapters over a part's read stream.
#include <gtest/gtest.h>

#include <cstring>

#include "filter/framework/stream_adapters.h"
#include "platform/objbase.h"
#include "platform/pipeline/host_parts.h"

namespace {

ComPtr<IPrintReadStream> StreamOver(const std::string& text)
{
    return MakeMemoryReadStream(std::make_shared<const Bytes>(text.begin(), text.end()));
}

FILETIME g_now{100, 1};
FILETIME TestClock() { return g_now; }

TEST(ReadStreamAsIStream, StatDescribesTheStreamWithoutMovingIt)
{
    SetFileTimeSourceForTesting(TestClock);
    g_now = FILETIME{100, 1};
    ComPtr<ReadStreamAsIStream> stream = MakeComObject<ReadStreamAsIStream>(StreamOver("<FixedPage/>").Get());

    char buf[4];
    ULONG read = 0;
    g_now = FILETIME{200, 1};
    ASSERT_EQ(stream->Read(buf, 4, &read), S_OK);
    EXPECT_EQ(read, 4u);

    STATSTG st;
    ASSERT_EQ(stream->Stat(&st, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(std::u16string(st.pwcsName), u"PrintReadStream");
    CoTaskMemFree(st.pwcsName);
    EXPECT_EQ(st.type, 2u);
    EXPECT_EQ(st.cbSize.QuadPart, 12u);
    EXPECT_EQ(st.grfMode, 32u);
    EXPECT_EQ(st.grfLocksSupported, 1u);
    EXPECT_EQ(st.ctime.dwLowDateTime, 100u);
    EXPECT_EQ(st.mtime.dwLowDateTime, 100u);
    EXPECT_EQ(st.atime.dwLowDateTime, 200u);  // renewed by the read

    // Stat left the position where the read did.
    ASSERT_EQ(stream->Read(buf, 4, &read), S_OK);
    EXPECT_EQ(std::string(buf, 4), "edPa");

    ASSERT_EQ(stream->Stat(&st, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(st.pwcsName, nullptr);
    EXPECT_EQ(stream->Stat(nullptr, 0), E_POINTER);
    SetFileTimeSourceForTesting(nullptr);
}

TEST(ReadStreamAsIStream, SeeksThroughAndRefusesTheRest)
{
    ComPtr<ReadStreamAsIStream> stream = MakeComObject<ReadStreamAsIStream>(StreamOver("0123456789").Get());
    ULARGE_INTEGER pos{};
    ASSERT_EQ(stream->Seek(LARGE_INTEGER{-3}, STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 7u);
    char c = 0;
    ASSERT_EQ(stream->Read(&c, 1, nullptr), S_OK);
    EXPECT_EQ(c, '7');
    EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);

    EXPECT_EQ(stream->Write("x", 1, nullptr), E_NOTIMPL);
    EXPECT_EQ(stream->SetSize(ULARGE_INTEGER{1}), E_NOTIMPL);
    EXPECT_EQ(stream->CopyTo(nullptr, ULARGE_INTEGER{1}, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(stream->Commit(0), E_NOTIMPL);
    EXPECT_EQ(stream->Revert(), E_NOTIMPL);
    EXPECT_EQ(stream->LockRegion(ULARGE_INTEGER{0}, ULARGE_INTEGER{1}, 1), E_NOTIMPL);
    EXPECT_EQ(stream->UnlockRegion(ULARGE_INTEGER{0}, ULARGE_INTEGER{1}, 1), E_NOTIMPL);
    IStream* clone = nullptr;
    EXPECT_EQ(stream->Clone(&clone), E_NOTIMPL);

    ComPtr<ISequentialStream> sequential;
    EXPECT_EQ(stream.As(&sequential), S_OK);  // an IStream is an ISequentialStream
}

TEST(ReadStreamAdapter, ReadsAndRefusesWrites)
{
    ComPtr<IPrintReadStream> source = StreamOver("abc");
    ComPtr<ReadStreamAdapter> adapter = MakeComObject<ReadStreamAdapter>(source.Get());
    char buf[8];
    ULONG read = 0;
    ASSERT_EQ(adapter->Read(buf, sizeof buf, &read), S_OK);
    EXPECT_EQ(std::string(buf, read), "abc");
    EXPECT_EQ(adapter->Write("x", 1, nullptr), E_NOTIMPL);
    ComPtr<IStream> notAStream;
    EXPECT_EQ(adapter.As(&notAStream), E_NOINTERFACE);
    adapter.Reset();
    // The adapter released its reference to the read stream.
    EXPECT_EQ(source->AddRef(), 2u);
    source->Release();
}

} // namespace
