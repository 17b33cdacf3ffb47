// FilterBase: the XPS pipeline filter every filter derives from.
//
// On its own it is a complete pass-through filter: StartOperation pulls every
// part from the reader, dispatches it by kind to one of five handlers and each
// handler sends it on unchanged, merging the PrintTicket levels on the way.
// Derived filters override handlers and the hooks around the part loop.
//
// Every handler is given the one counted reference to its part (already
// queried for the handler's interface) as a ComPtr, so it is released on
// every path when the handler returns. No exception leaves a COM method.
#pragma once

#include <atomic>
#include <string>

#include "filter/framework/print_ticket_manager.h"
#include "platform/comptr.h"
#include "platform/filterpipeline.h"

class FilterBase : public IPrintPipelineFilter {
public:
    FilterBase(const FilterBase&) = delete;
    FilterBase& operator=(const FilterBase&) = delete;

    // IUnknown: answers IUnknown and IPrintPipelineFilter only.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPrintPipelineFilter.
    HRESULT STDMETHODCALLTYPE InitializeFilter(IInterFilterCommunicator* pINegotiation,
                                               IPrintPipelinePropertyBag* pIPropertyBag,
                                               IPrintPipelineManagerControl* pIPipelineControl) override;
    // Sets the stop flag, tested before each part; always S_OK. Any thread.
    HRESULT STDMETHODCALLTYPE ShutdownOperation() override;
    // Runs the whole job on the calling thread.
    HRESULT STDMETHODCALLTYPE StartOperation() override;

protected:
    // mergesTickets: whether the default handlers merge the PrintTicket levels
    // (filters that never read a ticket pass false).
    explicit FilterBase(bool mergesTickets = true) : mergesTickets_(mergesTickets) {}
    virtual ~FilterBase();

    // Part handlers, in the filter's slot order.
    virtual HRESULT ProcessOtherPart(ComPtr<IPartDiscardControl> part);
    virtual HRESULT ProcessFixedPage(ComPtr<IFixedPage> page);
    virtual HRESULT ProcessXpsDocument(ComPtr<IXpsDocument> document);
    virtual HRESULT ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence);
    virtual HRESULT ProcessFixedDocument(ComPtr<IFixedDocument> document);
    // Finds the part's kind and calls its handler; unknown kinds go to SendXpsUnknown.
    virtual HRESULT DispatchPart(IUnknown* part);

    // Hooks around the part loop of StartOperation.
    // Before the loop, once COM is entered (default: nothing to prepare).
    virtual HRESULT PrepareOperation() { return S_OK; }
    // After the loop, before CloseSender; given the loop's result, answers the
    // operation's result (default: releases the per-job buffers, keeps hr).
    virtual HRESULT FinishOperation(HRESULT hr)
    {
        ReleaseJobBuffers();
        return hr;
    }
    // After CloseSender (the preprocess filter waits for the end of the job
    // here); given the operation's result, answers it (default: unchanged).
    virtual HRESULT AfterCloseSender(HRESULT hr) { return hr; }
    // Frees what the filter allocated for the job.
    virtual void ReleaseJobBuffers() {}

    IXpsDocumentProvider* Reader() const noexcept { return reader_.Get(); }
    IXpsDocumentConsumer* Writer() const noexcept { return writer_.Get(); }
    IPrintPipelinePropertyBag* PropertyBag() const noexcept { return bag_.Get(); }
    HANDLE PrinterHandle() const noexcept { return printerHandle_; }
    PrintTicketManager& Tickets() noexcept { return tickets_; }
    bool StopRequested() const noexcept { return stop_.load(); }
    // Says in one line (UTF-8) why the job is failing; handed to the pipeline
    // with the failure. The first description given stays.
    void DescribeFailure(std::string description) noexcept;

private:
    HRESULT RunPartLoop();
    // Queries part for I and, when it answers, calls handler with it; false when
    // the part is not of that kind. result is the query's failure or the handler's.
    template <class I>
    bool Offer(IUnknown* part, HRESULT (FilterBase::*handler)(ComPtr<I>), HRESULT& result);

    LONG refs_ = 1;
    ComPtr<IPrintPipelineManagerControl> control_;
    ComPtr<IXpsDocumentProvider> reader_;
    ComPtr<IXpsDocumentConsumer> writer_;
    ComPtr<IPrintPipelinePropertyBag> bag_;
    std::atomic<bool> stop_{false};
    HANDLE printerHandle_ = nullptr;
    PrintTicketManager tickets_;
    const bool mergesTickets_;
    std::string failureDescription_;
};

// The pointer-sized value of a VARIANT (VT_I8, VT_UI8, VT_INT, VT_UINT, VT_I4,
// VT_UI4 or any by-reference value); nullptr for other kinds.
void* PointerSizedValue(const VARIANT& value) noexcept;
