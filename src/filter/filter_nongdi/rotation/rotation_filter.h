// RotationFilter: the last filter. It never touches a PrintTicket.
#pragma once

#include "filter/framework/filter_base.h"

inline constexpr CLSID CLSID_RotationFilter = MakeGuid("DD2AAA28-9B8D-4C44-A5BE-B9F059B6D0C2");

class RotationFilter final : public FilterBase {
public:
    RotationFilter() = default;

protected:
    HRESULT ProcessFixedPage(ComPtr<IFixedPage> page) override;
    HRESULT ProcessFixedDocumentSequence(ComPtr<IFixedDocumentSequence> sequence) override;
    HRESULT ProcessFixedDocument(ComPtr<IFixedDocument> document) override;
};
