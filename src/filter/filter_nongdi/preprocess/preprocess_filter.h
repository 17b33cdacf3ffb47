// PreprocessFilter: the first filter of the pipeline. It prepares the job's
// PrintTicket state before the part loop and merges the ticket levels as the
// parts pass.
#pragma once

#include "filter/framework/filter_base.h"

inline constexpr CLSID CLSID_PreprocessFilter = MakeGuid("71AEA54A-9F57-4829-827C-1764A32B79E7");

class PreprocessFilter final : public FilterBase {
public:
    PreprocessFilter() = default;

protected:
    HRESULT PrepareOperation() override;
    void ReleaseJobBuffers() override;
};
