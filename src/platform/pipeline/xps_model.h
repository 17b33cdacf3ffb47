// The structure of an XPS package as the pipeline hands it out: the
// FixedDocumentSequence, its FixedDocuments and FixedPages with their
// PrintTickets, resources and thumbnails. Reading it checks that every part
// the structure names exists.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/pipeline/opc_package.h"

// The two XPS vocabularies: the original one and OpenXPS.
struct XpsFlavour {
    std::string markupNamespace;  // of FixedDocumentSequence and FixedDocument markup
    std::string relationshipBase;  // relationship types are this plus "/required-resource" etc.

    std::string RelationshipType(std::string_view suffix) const { return relationshipBase + "/" + std::string(suffix); }
    static const XpsFlavour& Original();
    static const XpsFlavour& Open();
};

inline constexpr const char* kThumbnailRelationship =
    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/thumbnail";

// A PageContent element apart from its Source: what a FixedDocument written
// anew keeps of it. "<" + name + rest is the element, well-formed on its own
// (it declares the namespaces it uses).
struct PageContentMarkup {
    std::string name = "PageContent";  // the element's qualified name
    std::string rest = "/>";           // e.g. ` xmlns="..." Width="816"/>`
};

struct PageModel {
    std::string name;
    std::string printTicket;             // empty when none
    std::vector<std::string> resources;  // required resources, in relationship order
    std::string thumbnail;               // empty when none
    std::vector<Relationship> extras;    // relationships the pipeline does not model
    PageContentMarkup content;
};

struct DocumentModel {
    std::string name;
    std::string printTicket;
    std::vector<Relationship> extras;
    std::vector<PageModel> pages;
};

struct PackageModel {
    const XpsFlavour* flavour = &XpsFlavour::Original();
    std::string sequenceName;
    std::string sequencePrintTicket;
    std::vector<Relationship> sequenceExtras;
    std::vector<DocumentModel> documents;
    std::string thumbnail;       // the package thumbnail, empty when none
    std::string discardControl;  // empty when none
    std::vector<Relationship> packageExtras;  // other package relationships (core properties...)
    std::size_t PageCount() const;
};

// Reads and checks the structure; throws PackageError.
PackageModel ReadPackageModel(const Package& package);
