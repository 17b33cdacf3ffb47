// FilterBase against a scripted pipeline: the part loop, dispatch, the
// default handlers and how a job ends.
#include <gtest/gtest.h>

#include "fake_pipeline.h"
#include "filter/framework/cxd_exception.h"
#include "filter/framework/filter_base.h"

namespace {

// A filter whose page handler can be told to fail, throw or give up.
class TestFilter final : public FilterBase {
public:
    HRESULT pageResult = S_OK;
    bool throwOnPage = false;

protected:
    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override
    {
        if (throwOnPage)
            throw CXDException(E_UNEXPECTED);
        if (pageResult != S_OK)
            return pageResult;
        return FilterBase::ProcessFixedPage(std::move(page));
    }
};

struct Pipeline {
    ComPtr<FakeReader> reader = MakeComObject<FakeReader>();
    ComPtr<FakeWriter> writer = MakeComObject<FakeWriter>();
    ComPtr<FakeControl> control = MakeComObject<FakeControl>();
    ComPtr<FakeBag> bag = MakeComObject<FakeBag>();
    ComPtr<FakeCommunicator> communicator = MakeComObject<FakeCommunicator>();
    TestFilter* filter = new TestFilter;  // reference count 1, released by the destructor

    Pipeline()
    {
        communicator->reader = reader.Get();
        communicator->writer = writer.Get();
        VARIANT handle;
        VariantInit(&handle);
        handle.vt = VT_UI8;
        handle.ullVal = 0x1234;
        bag->AddProperty(u"PrinterHandle", &handle);
    }
    ~Pipeline() { filter->Release(); }

    HRESULT Initialize() { return filter->InitializeFilter(communicator.Get(), bag.Get(), control.Get()); }
    HRESULT Run()
    {
        EXPECT_EQ(Initialize(), S_OK);
        return filter->StartOperation();
    }

    // A small job: the XPS document, the sequence, one document of two pages, a font.
    void StandardJob()
    {
        reader->parts = {
            Unknown(MakeXpsDocument(nullptr, NamedCore("/")).Get()),
            Unknown(MakeFixedDocumentSequence(NamedCore("/seq.fdseq"), nullptr).Get()),
            Unknown(MakeFixedDocument(NamedCore("/doc.fdoc"), nullptr).Get()),
            Unknown(MakeFixedPage(NamedCore("/1.fpage"), nullptr, {}).Get()),
            MakeResourcePart(ResourceKind::Font, NamedCore("/font.odttf")),
            Unknown(MakeFixedPage(NamedCore("/2.fpage"), nullptr, {}).Get()),
        };
    }
};

using Calls = std::vector<std::string>;

TEST(FilterBase, PassesEveryPartOnInOrderAndEndsTheJob)
{
    Pipeline p;
    p.StandardJob();
    EXPECT_EQ(p.Run(), S_OK);
    EXPECT_EQ(p.writer->calls, (Calls{"xps", "sequence /seq.fdseq", "document /doc.fdoc", "page /1.fpage",
                                       "unknown /font.odttf", "page /2.fpage", "close"}));
    EXPECT_TRUE(p.control->shutdowns.empty());
    EXPECT_EQ(p.control->finished, 1);
}

TEST(FilterBase, EmptyDocumentStillClosesAndFinishes)
{
    Pipeline p;
    EXPECT_EQ(p.Run(), S_OK);
    EXPECT_EQ(p.writer->calls, (Calls{"close"}));
    EXPECT_TRUE(p.control->shutdowns.empty());
    EXPECT_EQ(p.control->finished, 1);
}

TEST(FilterBase, DiscardControlGoesToTheOtherPartHandler)
{
    Pipeline p;
    p.reader->parts = {Unknown(MakeDiscardControlPart(NamedCore("/discard.xml")).Get())};
    EXPECT_EQ(p.Run(), S_OK);
    EXPECT_EQ(p.writer->calls, (Calls{"unknown /discard.xml", "close"}));
}

TEST(FilterBase, FailuresEndTheLoopAndReachRequestShutdown)
{
    struct Case {
        const char* what;
        std::function<void(Pipeline&)> arrange;
        HRESULT expected;
        Calls calls;
    };
    const Calls untilFirstPage{"xps", "sequence /seq.fdseq", "document /doc.fdoc"};
    const HRESULT custom = static_cast<HRESULT>(0x80041234);
    const Case cases[] = {
        {"handler failure", [&](Pipeline& p) { p.filter->pageResult = custom; }, custom, untilFirstPage},
        {"exception in a handler", [](Pipeline& p) { p.filter->throwOnPage = true; }, E_UNEXPECTED, untilFirstPage},
        {"failed send", [&](Pipeline& p) { p.writer->pageResult = custom; }, custom,
         {"xps", "sequence /seq.fdseq", "document /doc.fdoc", "page /1.fpage"}},
        {"failed read", [&](Pipeline& p) { p.reader->failAtEnd = custom; }, custom,
         {"xps", "sequence /seq.fdseq", "document /doc.fdoc", "page /1.fpage", "unknown /font.odttf", "page /2.fpage"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pipeline p;
        p.StandardJob();
        c.arrange(p);
        EXPECT_EQ(p.Run(), c.expected);
        Calls expected = c.calls;
        expected.push_back("close");
        EXPECT_EQ(p.writer->calls, expected);
        EXPECT_EQ(p.control->shutdowns, std::vector<HRESULT>{c.expected});
        EXPECT_EQ(p.control->finished, 1);
    }
}

TEST(FilterBase, HandlerGivingUpSendsThePartAsUnknown)
{
    Pipeline p;
    p.StandardJob();
    p.filter->pageResult = E_NOINTERFACE;
    EXPECT_EQ(p.Run(), S_OK);
    EXPECT_EQ(p.writer->calls, (Calls{"xps", "sequence /seq.fdseq", "document /doc.fdoc", "unknown /1.fpage",
                                       "unknown /font.odttf", "unknown /2.fpage", "close"}));
}

// A part whose QueryInterface fails outright.
struct BrokenPart final : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_ACCESSDENIED;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

TEST(FilterBase, QueryFailureOtherThanNoInterfaceStopsTheJob)
{
    Pipeline p;
    BrokenPart broken;
    p.reader->parts = {ComPtr<IUnknown>(&broken)};
    EXPECT_EQ(p.Run(), E_ACCESSDENIED);
    EXPECT_EQ(p.writer->calls, (Calls{"close"}));
    EXPECT_EQ(p.control->shutdowns, std::vector<HRESULT>{E_ACCESSDENIED});
}

TEST(FilterBase, ShutdownOperationStopsBeforeTheNextPartWithoutRequestShutdown)
{
    Pipeline p;
    p.StandardJob();
    p.reader->onGet = [&](std::size_t index) {
        if (index == 3) {
            EXPECT_EQ(p.filter->ShutdownOperation(), S_OK);
        }
    };
    EXPECT_EQ(p.Run(), S_OK);
    // The request for part 3 was already under way; nothing after it is read.
    EXPECT_EQ(p.writer->calls, (Calls{"xps", "sequence /seq.fdseq", "document /doc.fdoc", "page /1.fpage", "close"}));
    EXPECT_EQ(p.reader->next, 4u);
    EXPECT_TRUE(p.control->shutdowns.empty());
    EXPECT_EQ(p.control->finished, 1);
}

TEST(FilterBase, InitializeFilterKeepsThePrinterHandleAndReportsTheFirstFailure)
{
    {
        Pipeline p;
        EXPECT_EQ(p.Initialize(), S_OK);
    }
    {
        Pipeline p;
        p.communicator->readerResult = E_ACCESSDENIED;
        EXPECT_EQ(p.Initialize(), E_ACCESSDENIED);
        EXPECT_EQ(p.communicator->writerRequests, 0);
        // Without a reader the job cannot run, but it still ends properly.
        EXPECT_EQ(p.filter->StartOperation(), E_PENDING);
        EXPECT_EQ(p.control->shutdowns, std::vector<HRESULT>{E_PENDING});
        EXPECT_EQ(p.control->finished, 1);
    }
    {
        Pipeline p;
        p.bag->DeleteProperty(u"PrinterHandle");
        EXPECT_EQ(p.Initialize(), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    }
    {
        Pipeline p;
        EXPECT_EQ(p.filter->InitializeFilter(p.communicator.Get(), nullptr, p.control.Get()), E_PENDING);
    }
}

TEST(FilterBase, AnswersOnlyItsTwoInterfaces)
{
    TestFilter* filter = new TestFilter;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(filter->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(filter->QueryInterface(IID_IPrintPipelineFilter, &out), S_OK);
    EXPECT_EQ(out, static_cast<IPrintPipelineFilter*>(filter));
    EXPECT_EQ(filter->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(filter->Release(), 1u);
    EXPECT_EQ(filter->Release(), 0u);
}

TEST(PointerSizedValue, ReadsEveryKindThePipelineMayUse)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI8;
    v.ullVal = 0x123456789ull;
    EXPECT_EQ(PointerSizedValue(v), reinterpret_cast<void*>(0x123456789ull));
    BYTE b = 0;
    v.vt = VT_BYREF | VT_UI1;
    v.pbVal = &b;
    EXPECT_EQ(PointerSizedValue(v), &b);
    v.vt = VT_BSTR;
    EXPECT_EQ(PointerSizedValue(v), nullptr);
}

} // namespace
