// PrintTicketManager: the PrintTicket levels of one job (job, document, page).
// At this stage it collects each level's ticket part; merging the levels into
// the effective page ticket is built on these entry points.
#pragma once

#include "platform/comptr.h"
#include "platform/filterpipeline.h"

class PrintTicketManager {
public:
    // Prepares the job's ticket state from the property bag.
    HRESULT Prepare(IPrintPipelinePropertyBag* bag);
    // Takes the job-level ticket of the FixedDocumentSequence.
    HRESULT MergeJobTicket(IFixedDocumentSequence* sequence);
    // Takes the document-level ticket of a FixedDocument.
    HRESULT MergeDocumentTicket(IFixedDocument* document);
    // Takes the page-level ticket of a FixedPage.
    HRESULT MergePageTicket(IFixedPage* page);
    // Drops everything held for the job.
    void Reset() noexcept;

private:
    ComPtr<IPrintPipelinePropertyBag> bag_;
    ComPtr<IPartPrintTicket> job_;
    ComPtr<IPartPrintTicket> document_;
    ComPtr<IPartPrintTicket> page_;
};
