#include "platform/pipeline/xps_model.h"

#include <libxml/xmlsave.h>

#include <new>
#include <set>

#include "platform/pipeline/xml_util.h"

const XpsFlavour& XpsFlavour::Original()
{
    static const XpsFlavour f{"http://schemas.microsoft.com/xps/2005/06", "http://schemas.microsoft.com/xps/2005/06"};
    return f;
}

const XpsFlavour& XpsFlavour::Open()
{
    static const XpsFlavour f{"http://schemas.openxps.org/oxps/v1.0", "http://schemas.openxps.org/oxps/v1.0"};
    return f;
}

std::size_t PackageModel::PageCount() const
{
    std::size_t n = 0;
    for (const auto& d : documents)
        n += d.pages.size();
    return n;
}

namespace {

class ModelReader {
public:
    explicit ModelReader(const Package& package) : package_(package) {}

    PackageModel Read()
    {
        PackageModel model;
        for (const Relationship& r : package_.Relationships("")) {
            if (!r.external && (r.type == XpsFlavour::Original().RelationshipType("fixedrepresentation") ||
                                r.type == XpsFlavour::Open().RelationshipType("fixedrepresentation"))) {
                if (model.sequenceName.empty()) {
                    model.flavour = r.type.starts_with(XpsFlavour::Open().relationshipBase) ? &XpsFlavour::Open()
                                                                                            : &XpsFlavour::Original();
                    model.sequenceName = Require(r.target, "the package relationship");
                    Claim(model.sequenceName, "the package relationship");
                }
            } else if (r.type == kThumbnailRelationship && !r.external) {
                model.thumbnail = Require(r.target, "the package relationship");
            } else if (IsType(r, model, "discard-control")) {
                model.discardControl = Require(r.target, "the package relationship");
            } else {
                model.packageExtras.push_back(r);
            }
        }
        if (model.sequenceName.empty())
            throw PackageError("no FixedDocumentSequence");

        for (const Relationship& r : package_.Relationships(model.sequenceName)) {
            if (IsType(r, model, "printticket"))
                model.sequencePrintTicket = Require(r.target, model.sequenceName);
            else
                model.sequenceExtras.push_back(r);
        }

        const XmlDocPtr seq = ParseXmlPart(package_.ReadPart(model.sequenceName), model.sequenceName);
        const xmlNode* root = xmlDocGetRootElement(seq.get());
        if (!XmlIs(root, "FixedDocumentSequence"))
            throw PackageError("part " + model.sequenceName + " is not a FixedDocumentSequence");
        for (const xmlNode* n = root->children; n; n = n->next) {
            if (!XmlIs(n, "DocumentReference"))
                continue;
            const std::string source = XmlAttribute(n, "Source");
            if (source.empty())
                throw PackageError("a DocumentReference in " + model.sequenceName + " has no Source");
            const std::string docName = Require(ResolvePartUri(model.sequenceName, source), model.sequenceName);
            Claim(docName, model.sequenceName);
            model.documents.push_back(ReadDocument(docName, model));
        }
        CheckRelatedParts(model);
        return model;
    }

private:
    // Each structural part may be listed once.
    void Claim(const std::string& name, std::string_view referrer)
    {
        if (!structural_.insert(PartKey(name)).second)
            throw PackageError(std::string(referrer) + " lists " + name + " a second time");
    }

    // Tickets, resources and thumbnails are parts of their own: never the
    // package's content types, a relationships part or a structural part.
    void CheckRelatedParts(const PackageModel& model) const
    {
        auto check = [this](const std::string& name) {
            if (name.empty())
                return;
            const std::string key = PartKey(name);
            if (structural_.count(key) || key == PartKey("/[Content_Types].xml") || key.find("/_rels/") != std::string::npos)
                throw PackageError("a relationship names " + name + ", which is not a resource");
        };
        check(model.sequencePrintTicket);
        check(model.thumbnail);
        check(model.discardControl);
        for (const DocumentModel& d : model.documents) {
            check(d.printTicket);
            for (const PageModel& p : d.pages) {
                check(p.printTicket);
                check(p.thumbnail);
                for (const std::string& r : p.resources)
                    check(r);
            }
        }
    }

    bool IsType(const Relationship& r, const PackageModel& model, std::string_view suffix) const
    {
        return !r.external && r.type == model.flavour->RelationshipType(suffix);
    }

    // The part's spelling in the package; throws when it is missing.
    std::string Require(const std::string& name, std::string_view referrer) const
    {
        if (!package_.HasPart(name))
            throw PackageError(std::string(referrer) + " names a missing part " + name);
        return package_.PartName(name);
    }

    DocumentModel ReadDocument(const std::string& name, const PackageModel& model)
    {
        DocumentModel doc;
        doc.name = name;
        for (const Relationship& r : package_.Relationships(name)) {
            if (IsType(r, model, "printticket"))
                doc.printTicket = Require(r.target, name);
            else
                doc.extras.push_back(r);
        }
        const XmlDocPtr xml = ParseXmlPart(package_.ReadPart(name), name);
        const xmlNode* root = xmlDocGetRootElement(xml.get());
        if (!XmlIs(root, "FixedDocument"))
            throw PackageError("part " + name + " is not a FixedDocument");
        for (xmlNode* n = root->children; n; n = n->next) {
            if (!XmlIs(n, "PageContent"))
                continue;
            const std::string source = XmlAttribute(n, "Source");
            if (source.empty())
                throw PackageError("a PageContent in " + name + " has no Source");
            const std::string pageName = Require(ResolvePartUri(name, source), "a PageContent of " + name);
            Claim(pageName, "a PageContent of " + name);
            PageModel page = ReadPage(pageName, model);
            page.content = Markup(n);
            doc.pages.push_back(std::move(page));
        }
        return doc;
    }

    PageModel ReadPage(const std::string& name, const PackageModel& model)
    {
        PageModel page;
        page.name = name;
        for (const Relationship& r : package_.Relationships(name)) {
            if (IsType(r, model, "required-resource"))
                page.resources.push_back(Require(r.target, "a relationship of " + name));
            else if (IsType(r, model, "printticket"))
                page.printTicket = Require(r.target, name);
            else if (r.type == kThumbnailRelationship && !r.external)
                page.thumbnail = Require(r.target, name);
            else
                page.extras.push_back(r);
        }
        return page;
    }

    // The PageContent without its Source, as an element that stands on its own.
    static PageContentMarkup Markup(xmlNode* pageContent)
    {
        xmlDoc* scratch = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
        xmlNode* copy = xmlDocCopyNode(pageContent, scratch, 1);
        if (!scratch || !copy) {
            xmlFreeDoc(scratch);
            throw std::bad_alloc();
        }
        xmlDocSetRootElement(scratch, copy);
        xmlReconciliateNs(scratch, copy);
        xmlUnsetProp(copy, reinterpret_cast<const xmlChar*>("Source"));
        xmlBuffer* buffer = xmlBufferCreate();
        xmlNodeDump(buffer, scratch, copy, 0, 0);
        const std::string element(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<std::size_t>(xmlBufferLength(buffer)));
        xmlBufferFree(buffer);
        PageContentMarkup m;
        m.name = copy->ns && copy->ns->prefix ? std::string(reinterpret_cast<const char*>(copy->ns->prefix)) + ":PageContent"
                                              : "PageContent";
        xmlFreeDoc(scratch);
        if (!element.starts_with("<" + m.name))
            throw PackageError("a PageContent cannot be kept");
        m.rest = element.substr(1 + m.name.size());
        return m;
    }

    const Package& package_;
    std::set<std::string> structural_;  // keys of the sequence, documents and pages
};

} // namespace

PackageModel ReadPackageModel(const Package& package) { return ModelReader(package).Read(); }
