#include "filter/filter_nongdi/finishing/nup_imposer.h"

#include "filter/framework/classic_format.h"
#include "filter/framework/cxd_exception.h"
#include "platform/rpc.h"
#include "platform/stringapiset.h"

NUpImposer::NUpImposer(IXpsDocumentConsumer* consumer, const JobRecord& job, PageRecordList::Node* firstNode,
                       std::size_t bufferSize)
    : consumer_(consumer), layout_(MakeNUpLayout(job)), buffer_(nullptr, bufferSize), copier_(bufferSize),
      recordNode_(firstNode)
{
}

NUpImposer::~NUpImposer() = default;

std::u16string NUpImposer::NextSheetName()
{
    UUID id{};
    RPC_WSTR text = nullptr;
    std::u16string name;
    if (UuidCreate(&id) == RPC_S_OK && UuidToStringW(&id, &text) == RPC_S_OK && text)
        name = u"/NUpPage_" + std::u16string(text) + u".xml";
    else  // no UUID on this machine: the sheet's number in the job is as unique
        name = Utf8ToWide(FormatClassic("/NUpPage_sheet-%u.xml", sheetsOpened_ + 1));
    if (text)
        RpcStringFreeW(&text);
    return name;
}

HRESULT NUpImposer::OpenSheet(const std::u16string& name, IFixedPage* page, PageRecord& record,
                              const NUpPageGeometry& geometry)
{
    ComPtr<IFixedPage> sheet;
    ComPtr<IPrintWriteStream> stream;
    ThrowIfFailed(consumer_->GetNewEmptyPart(name.c_str(), uuidof<IFixedPage>(), sheet.ReleaseAndGetVoidAddress(),
                                             stream.ReleaseAndGetAddressOf()));
    if (!sheet || !stream)
        return E_POINTER;
    buffer_.Attach(stream.Get());
    buffer_.AppendBytes(NUpSheetHeader(layout_, geometry));  // a failure shows when the sheet is flushed

    ComPtr<IPartPrintTicket> ticket;
    if (SUCCEEDED(page->GetPrintTicket(ticket.ReleaseAndGetAddressOf())) && ticket)
        sheet->SetPrintTicket(ticket.Get());

    // Sheet s takes node s; the first sheet writes into the first page's node.
    if (sheetsOpened_ > 0)
        recordNode_ = recordNode_->next;
    if (&recordNode_->record != &record)
        recordNode_->record = record;
    ++sheetsOpened_;

    sheet_ = std::move(sheet);
    sheetStream_ = std::move(stream);
    printableWidth_ = geometry.printableWidth;
    printableHeight_ = geometry.printableHeight;
    placed_ = 0;
    return S_OK;
}

HRESULT NUpImposer::WriteCell(IFixedPage* page, const NUpPageGeometry& geometry)
{
    ComPtr<IPrintReadStream> source;
    ThrowIfFailed(page->GetStream(source.ReleaseAndGetAddressOf()));
    const CellTransform transform = NUpCellTransform(layout_, geometry);
    return copier_.Copy(
        source.Get(), buffer_,
        [&](std::string_view startTag) {
            return buffer_.AppendBytes(NUpCellStartTag(transform, geometry, CollectNamespaceDeclarations(startTag)));
        },
        "</Canvas>");
}

HRESULT NUpImposer::AddPage(IFixedPage* page, PageRecord& record) noexcept
{
    if (!page)
        return E_POINTER;
    failure_.clear();
    return CallGuarded([&]() -> HRESULT {
        const NUpPageGeometry geometry = PageGeometryOf(record);
        if (!sheet_ || geometry.printableWidth != printableWidth_ || geometry.printableHeight != printableHeight_) {
            const std::u16string name = NextSheetName();
            const HRESULT sent = FinishSheet();
            if (FAILED(sent))
                return sent;  // a sheet that cannot be handed on is lost: the job fails
            if (FAILED(CallGuarded([&] { return OpenSheet(name, page, record, geometry); })))
                return S_OK;  // the page is not placed; the next page tries a new sheet
        }

        layout_.usableWidth = layout_.rotatedSheet ? printableHeight_ : printableWidth_;
        layout_.usableHeight = layout_.rotatedSheet ? printableWidth_ : printableHeight_;
        layout_.sequence = placed_;
        const HRESULT written = CallGuarded([&] { return WriteCell(page, geometry); });
        if (!copier_.Malformed().empty()) {
            failure_ = copier_.Malformed();
            return written;
        }
        CopyRelatedParts(page, sheet_.Get());  // a page whose parts fail still takes its cell
        if (++placed_ < layout_.pagesPerSheet)
            return S_OK;
        placed_ = 0;
        return FinishSheet();
    });
}

HRESULT NUpImposer::FinishSheet() noexcept
{
    if (!sheet_)
        return S_OK;
    // The sheet is given up whatever happens here.
    const ComPtr<IFixedPage> sheet = std::move(sheet_);
    const ComPtr<IPrintWriteStream> stream = std::move(sheetStream_);
    CallGuarded([&] {
        if (layout_.borderStyle != 0)
            buffer_.AppendBytes(NUpBorderLines(layout_, printableWidth_, printableHeight_));
        return S_OK;
    });
    buffer_.AppendBytes("</Canvas></FixedPage>");
    buffer_.Flush();
    buffer_.Attach(nullptr);
    stream->Close();
    const HRESULT hr = consumer_->SendFixedPage(sheet.Get());
    if (SUCCEEDED(hr))
        ++sheetsSent_;
    return hr;
}
