// FinishingFilter: the middle filter. It never touches a PrintTicket; it
// reads the records the preprocess filter published and turns the pages into
// sheets: unchanged, or N-up. All pages of the job travel on in the job's
// first FixedDocument, and the page record list is kept in step with the
// pages sent, one record for each.
#pragma once

#include <memory>
#include <vector>

#include "filter/filter_nongdi/finishing/nup_imposer.h"
#include "filter/framework/filter_base.h"
#include "filter/framework/inter_filter_records.h"

inline constexpr CLSID CLSID_FinishingFilter = MakeGuid("2C5D49BB-DAC5-47C8-A528-3CA5332CF24D");

class FinishingFilter final : public FilterBase {
public:
    FinishingFilter() : FilterBase(false) {}

protected:
    ~FinishingFilter() override;
    HRESULT ProcessOtherPart(ComPtr<IPartDiscardControl> part) override;
    HRESULT ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence) override;
    HRESULT ProcessFixedDocument(ComPtr<IFixedDocument> document) override;
    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override;
    HRESULT FinishOperation(HRESULT hr) override;

private:
    // The records are there and ask for booklet, N-up or poster.
    bool Imposing() const noexcept;
    // The next page's record node, its pageNumber set; false past the list's end.
    bool AdvanceRecord();
    HRESULT FirstPageSetup();
    // The page's part name for messages (its number when it has none).
    std::string PageName(IFixedPage* page);

    std::vector<ComPtr<IPartDiscardControl>> held_;  // arrived before the records were read
    bool propertiesRead_ = false;
    bool firstDocumentPending_ = true;
    JobRecord* job_ = nullptr;           // not owned
    PageRecordList* records_ = nullptr;  // not owned
    std::uint32_t inputPages_ = 0;
    PageRecordList::Node* currentNode_ = nullptr;
    std::unique_ptr<NUpImposer> nup_;
};
