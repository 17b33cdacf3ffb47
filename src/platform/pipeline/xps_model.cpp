#include "platform/pipeline/xps_model.h"

#include <libxml/xmlsave.h>

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
            model.documents.push_back(ReadDocument(Require(ResolvePartUri(model.sequenceName, source), model.sequenceName), model));
        }
        return model;
    }

private:
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
            PageModel page = ReadPage(Require(ResolvePartUri(name, source), "a PageContent of " + name), model);
            page.content = Markup(xml.get(), n);
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

    // The PageContent's attributes other than Source and its child markup.
    static PageContentMarkup Markup(xmlDoc* doc, xmlNode* pageContent)
    {
        PageContentMarkup m;
        for (const xmlAttr* a = pageContent->properties; a; a = a->next) {
            const std::string name = reinterpret_cast<const char*>(a->name);
            if (name == "Source" && !a->ns)
                continue;
            xmlChar* value = xmlNodeListGetString(doc, a->children, 1);
            m.attributes += " ";
            if (a->ns && a->ns->prefix) {
                m.attributes += reinterpret_cast<const char*>(a->ns->prefix);
                m.attributes += ":";
            }
            m.attributes += name + "=\"" + XmlEscape(value ? reinterpret_cast<const char*>(value) : "") + "\"";
            xmlFree(value);
        }
        xmlBuffer* buffer = xmlBufferCreate();
        for (xmlNode* c = pageContent->children; c; c = c->next)
            if (c->type == XML_ELEMENT_NODE)
                xmlNodeDump(buffer, doc, c, 0, 0);
        m.children.assign(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<std::size_t>(xmlBufferLength(buffer)));
        xmlBufferFree(buffer);
        return m;
    }

    const Package& package_;
};

} // namespace

PackageModel ReadPackageModel(const Package& package) { return ModelReader(package).Read(); }
