#include "platform/pipeline/xml_util.h"

#include <cstring>

XmlDocPtr ParseXmlPart(const Bytes& bytes, std::string_view partName)
{
    constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS;
    xmlDoc* doc = xmlReadMemory(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), nullptr,
                                nullptr, kOptions);
    if (!doc || !xmlDocGetRootElement(doc)) {
        xmlFreeDoc(doc);
        throw PackageError("part " + std::string(partName) + " is not well-formed XML");
    }
    if (doc->intSubset || doc->extSubset) {
        xmlFreeDoc(doc);
        throw PackageError("part " + std::string(partName) + " has a document type declaration, which a package may not use");
    }
    return XmlDocPtr(doc);
}

std::string XmlAttribute(const xmlNode* node, const char* name)
{
    for (const xmlAttr* a = node->properties; a; a = a->next) {
        if (a->ns == nullptr && std::strcmp(reinterpret_cast<const char*>(a->name), name) == 0) {
            xmlChar* value = xmlNodeListGetString(node->doc, a->children, 1);
            std::string out = value ? reinterpret_cast<const char*>(value) : "";
            xmlFree(value);
            return out;
        }
    }
    return {};
}

bool XmlHasAttribute(const xmlNode* node, const char* name)
{
    for (const xmlAttr* a = node->properties; a; a = a->next)
        if (a->ns == nullptr && std::strcmp(reinterpret_cast<const char*>(a->name), name) == 0)
            return true;
    return false;
}

bool XmlIs(const xmlNode* node, const char* name)
{
    return node && node->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

std::string XmlNamespace(const xmlNode* node)
{
    return node && node->ns && node->ns->href ? reinterpret_cast<const char*>(node->ns->href) : "";
}

