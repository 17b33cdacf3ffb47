// NUpImposer: puts N consecutive pages on one new sheet.
//
// A sheet is started by the first page that finds none open, or whose
// printable sheet size differs from the open sheet's; it is finished (border
// lines, closed, sent) when its N-th page is placed, when a page of another
// size starts the next one, and at the end of the job. The sheet takes the
// PrintTicket of its first page, and that page's record is copied over the
// record of the sheet's position in the list: sheet s into node s, so the
// rotation filter finds one record for each sheet.
#pragma once

#include <cstdint>
#include <string>

#include "filter/filter_nongdi/finishing/nup_layout.h"
#include "filter/filter_nongdi/finishing/page_copy.h"
#include "filter/framework/inter_filter_records.h"
#include "filter/framework/markup_buffer.h"
#include "platform/comptr.h"
#include "platform/filterpipeline.h"

class NUpImposer {
public:
    // firstNode: the record node of the job's first page. Throws std::bad_alloc.
    NUpImposer(IXpsDocumentConsumer* consumer, const JobRecord& job, PageRecordList::Node* firstNode,
               std::size_t bufferSize = MarkupBuffer::kDefaultSize);
    ~NUpImposer();
    NUpImposer(const NUpImposer&) = delete;
    NUpImposer& operator=(const NUpImposer&) = delete;

    // Places page (record: its record in the list) on the current sheet.
    // Failures while opening a sheet or writing a cell leave the page out or
    // the cell as far as it got, and the job goes on (S_OK). Two failures are
    // answered: a finished sheet that could not be sent (SendFixedPage's
    // result), and a page whose markup is no FixedPage as the preprocess
    // filter writes it (HRESULT_FROM_WIN32(ERROR_INVALID_DATA), Failure()
    // says why), refused before anything of it is written.
    HRESULT AddPage(IFixedPage* page, PageRecord& record) noexcept;
    // Finishes and sends the open sheet, if any; the result is SendFixedPage's.
    HRESULT FinishSheet() noexcept;

    const std::string& Failure() const noexcept { return failure_; }
    std::uint32_t SheetsSent() const noexcept { return sheetsSent_; }

private:
    // A UUID name, or the sheet's number when no UUID can be made.
    std::u16string NextSheetName();
    // Opens a sheet of that name for page, its first; moves the record node on.
    HRESULT OpenSheet(const std::u16string& name, IFixedPage* page, PageRecord& record, const NUpPageGeometry& geometry);
    HRESULT WriteCell(IFixedPage* page, const NUpPageGeometry& geometry);

    ComPtr<IXpsDocumentConsumer> consumer_;
    NUpLayout layout_;
    MarkupBuffer buffer_;
    PageBodyCopier copier_;
    ComPtr<IFixedPage> sheet_;
    ComPtr<IPrintWriteStream> sheetStream_;
    std::uint32_t placed_ = 0;
    float printableWidth_ = 0;
    float printableHeight_ = 0;
    PageRecordList::Node* recordNode_;
    std::uint32_t sheetsOpened_ = 0;
    std::uint32_t sheetsSent_ = 0;
    std::string failure_;
};
