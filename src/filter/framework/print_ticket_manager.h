// PrintTicketManager: the PrintTicket levels of one job. The effective ticket
// of a level is its parent's merged with the level's own ticket by the
// PrintTicket provider; a part without a usable ticket gets a copy of its
// parent's. Levels are numbered as the provider's merge scopes.
//
// Used only on the thread that runs StartOperation.
#pragma once

#include "platform/comptr.h"
#include "platform/filterpipeline.h"
#include "platform/msxml6.h"
#include "platform/prntvpt.h"

class PrintTicketManager {
public:
    enum Level : int { kPageLevel = 0, kDocumentLevel = 1, kJobLevel = 2 };

    PrintTicketManager() = default;
    ~PrintTicketManager();
    PrintTicketManager(const PrintTicketManager&) = delete;
    PrintTicketManager& operator=(const PrintTicketManager&) = delete;

    // Reads "PerUserPrintTicket" and "PrinterName" from the bag and opens the tickets.
    HRESULT Prepare(IPrintPipelinePropertyBag* bag);
    // Opens the provider for the printer and loads the user's ticket as the base.
    HRESULT OpenTickets(IPrintReadStream* userTicket, BSTR printerName);
    // Merges the ticket of part (the sequence for the job level, a document,
    // a page) into its parent level's.
    HRESULT MergeLevel(Level level, IUnknown* part);
    // The effective page ticket (borrowed), every missing level copied from its parent.
    HRESULT GetPageTicket(IXMLDOMDocument2** ticket);
    // Closes the provider and drops every level.
    void Close() noexcept;

private:
    HRESULT ResetLevel(Level level);
    // Makes every missing level numbered above `below` a copy of its parent.
    HRESULT EnsureLevels(int below);
    ComPtr<IXMLDOMDocument2>& Ticket(Level level);
    // The level a level is merged onto (the user's ticket for the job level).
    IXMLDOMDocument2* Parent(Level level) const;

    ComPtr<IXMLDOMDocument2> base_;
    ComPtr<IXMLDOMDocument2> job_;
    ComPtr<IXMLDOMDocument2> document_;
    ComPtr<IXMLDOMDocument2> page_;
    HPTPROVIDER provider_ = nullptr;
};

// A new DOM loaded from stream; seekFirst seeks the stream to its start.
// E_FAIL unless the stream holds well-formed XML.
HRESULT LoadTicketDom(IUnknown* stream, bool seekFirst, ComPtr<IXMLDOMDocument2>* dom);
