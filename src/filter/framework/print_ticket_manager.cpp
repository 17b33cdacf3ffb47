#include "filter/framework/print_ticket_manager.h"

HRESULT PrintTicketManager::Prepare(IPrintPipelinePropertyBag* bag)
{
    if (!bag)
        return E_PENDING;
    bag_ = bag;
    return S_OK;
}

HRESULT PrintTicketManager::MergeJobTicket(IFixedDocumentSequence* sequence)
{
    if (!sequence)
        return E_POINTER;
    document_.Reset();
    page_.Reset();
    return sequence->GetPrintTicket(job_.ReleaseAndGetAddressOf());
}

HRESULT PrintTicketManager::MergeDocumentTicket(IFixedDocument* document)
{
    if (!document)
        return E_POINTER;
    page_.Reset();
    return document->GetPrintTicket(document_.ReleaseAndGetAddressOf());
}

HRESULT PrintTicketManager::MergePageTicket(IFixedPage* page)
{
    if (!page)
        return E_POINTER;
    return page->GetPrintTicket(page_.ReleaseAndGetAddressOf());
}

void PrintTicketManager::Reset() noexcept
{
    page_.Reset();
    document_.Reset();
    job_.Reset();
    bag_.Reset();
}
