// FinishingFilter: the middle filter. It never touches a PrintTicket; it
// reads the records the preprocess filter published, and all pages of the
// job travel on in the job's first FixedDocument.
#pragma once

#include "filter/framework/filter_base.h"
#include "filter/framework/inter_filter_records.h"

inline constexpr CLSID CLSID_FinishingFilter = MakeGuid("2C5D49BB-DAC5-47C8-A528-3CA5332CF24D");

class FinishingFilter final : public FilterBase {
public:
    FinishingFilter() : FilterBase(false) {}

protected:
    HRESULT ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence) override;
    HRESULT ProcessFixedDocument(ComPtr<IFixedDocument> document) override;

private:
    bool firstDocumentPending_ = true;
    JobRecord* job_ = nullptr;              // not owned
    PageRecordList* records_ = nullptr;     // not owned
};
