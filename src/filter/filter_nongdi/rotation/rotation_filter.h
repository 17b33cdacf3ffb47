// RotationFilter: the last filter. It never touches a PrintTicket; it takes
// the published records out of the property bag, reads one page record for
// every page it receives, and signals the end of the job when its part loop
// is over.
#pragma once

#include "filter/framework/filter_base.h"
#include "filter/framework/inter_filter_records.h"

inline constexpr CLSID CLSID_RotationFilter = MakeGuid("DD2AAA28-9B8D-4C44-A5BE-B9F059B6D0C2");

class RotationFilter final : public FilterBase {
public:
    RotationFilter() : FilterBase(false) {}

protected:
    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override;
    HRESULT ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence) override;
    HRESULT FinishOperation(HRESULT hr) override;

private:
    // Gets and deletes the job record, then the page records.
    HRESULT TakeProperties();

    JobRecord* job_ = nullptr;  // not owned
    PageRecordCursor records_;  // over the preprocess filter's list
    PageRecord current_{};      // the record of the page being handled
};
