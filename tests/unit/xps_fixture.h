// Small XPS packages built in a temporary folder for host tests.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/pipeline/zip_writer.h"

using Entries = std::vector<std::pair<std::string, std::string>>;

inline void WriteZip(const std::string& path, const Entries& entries)
{
    ZipWriter zip(path);
    for (const auto& [name, text] : entries)
        zip.Add(name, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    zip.Finish();
}

inline std::string Rels(const std::string& body)
{
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" + body +
           "</Relationships>";
}

inline std::string Rel(const std::string& id, const std::string& type, const std::string& target)
{
    return "<Relationship Id=\"" + id + "\" Type=\"" + type + "\" Target=\"" + target + "\"/>";
}

inline const std::string kXps = "http://schemas.microsoft.com/xps/2005/06";

// A PrintTicket with one feature.
inline std::string Ticket(const std::string& feature, const std::string& option)
{
    return "<psf:PrintTicket xmlns:psf=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemaframework\" "
           "xmlns:psk=\"http://schemas.microsoft.com/windows/2003/08/printing/printschemakeywords\" version=\"1\">"
           "<psf:Feature name=\"psk:" + feature + "\"><psf:Option name=\"psk:" + option + "\"/></psf:Feature></psf:PrintTicket>";
}

inline std::string Page(const std::string& body)
{
    return "<FixedPage xmlns=\"" + kXps + "\" Width=\"96\" Height=\"96\">" + body + "</FixedPage>";
}

// Two pages in one document: relative and percent-encoded relationship
// targets, tickets at every level, an image used by the first page, core
// properties, a DiscardControl part, and a PageContent carrying attributes
// of its own.
inline Entries TwoPageXps()
{
    const std::string brush =
        "<Path Data=\"M 0,0 L 96,0 96,96 0,96 Z\"><Path.Fill><ImageBrush ImageSource=\"/Resources/Image 1.png\" "
        "Viewbox=\"0,0,1,1\" ViewboxUnits=\"Absolute\" Viewport=\"0,0,96,96\" ViewportUnits=\"Absolute\"/></Path.Fill></Path>";
    // A 1x1 grey PNG.
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x00\x00\x00\x00\x3a\x7e\x9b\x55\0\0\0\x0a"
                          "IDAT\x08\xd7\x63\x60\x00\x00\x00\x02\x00\x01\xe2\x21\xbc\x33\0\0\0\0IEND\xae\x42\x60\x82",
                          67);
    return {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"fdseq\" ContentType=\"application/vnd.ms-package.xps-fixeddocumentsequence+xml\"/>"
         "<Default Extension=\"fdoc\" ContentType=\"application/vnd.ms-package.xps-fixeddocument+xml\"/>"
         "<Default Extension=\"fpage\" ContentType=\"application/vnd.ms-package.xps-fixedpage+xml\"/>"
         "<Default Extension=\"png\" ContentType=\"image/png\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/vnd.ms-printing.printticket+xml\"/>"
         "<Override PartName=\"/docProps/core.xml\" ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
         "</Types>"},
        {"_rels/.rels", Rels(Rel("R1", kXps + "/fixedrepresentation", "FixedDocumentSequence.fdseq") +
                             Rel("R2", "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
                                 "/docProps/core.xml") +
                             Rel("R3", kXps + "/discard-control", "/Discard.xml"))},
        {"Discard.xml", "<DiscardControl xmlns=\"http://schemas.microsoft.com/xps/2005/06/discard\">"
                        "<Discard SentinelPage=\"/Documents/1/Pages/2.fpage\" Target=\"/Resources/Image 1.png\"/>"
                        "</DiscardControl>"},
        {"docProps/core.xml", "<coreProperties/>"},
        {"FixedDocumentSequence.fdseq",
         "<FixedDocumentSequence xmlns=\"" + kXps + "\"><DocumentReference Source=\"Documents/1/FixedDocument.fdoc\"/>"
                                                   "</FixedDocumentSequence>"},
        {"_rels/FixedDocumentSequence.fdseq.rels", Rels(Rel("T", kXps + "/printticket", "Metadata/Job_PT.xml"))},
        {"Metadata/Job_PT.xml", Ticket("JobCopiesAllDocuments", "Two")},
        {"Documents/1/FixedDocument.fdoc",
         "<FixedDocument xmlns=\"" + kXps + "\"><PageContent Source=\"Pages/1.fpage\" Width=\"96\"/>"
                                           "<PageContent Source=\"Pages/2.fpage\"/></FixedDocument>"},
        {"Documents/1/_rels/FixedDocument.fdoc.rels", Rels(Rel("T", kXps + "/printticket", "Doc_PT.xml"))},
        {"Documents/1/Doc_PT.xml", Ticket("DocumentNUp", "One")},
        {"Documents/1/Pages/1.fpage", Page(brush)},
        {"Documents/1/Pages/_rels/1.fpage.rels",
         Rels(Rel("A", kXps + "/required-resource", "../../../Resources/Image%201.png") +
              Rel("B", kXps + "/printticket", "../Page_PT.xml"))},
        {"Documents/1/Page_PT.xml", Ticket("PageOrientation", "Landscape")},
        {"Resources/Image 1.png", png},
        {"Documents/1/Pages/2.fpage", Page("<Path Data=\"M 10,10 L 50,10 50,50 Z\" Fill=\"#FF000000\"/>")},
    };
}

// A folder removed with everything in it.
struct TempFolder {
    std::filesystem::path path;
    TempFolder()
    {
        char name[] = "/tmp/zntr-test-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& file) const { return (path / file).string(); }
};
