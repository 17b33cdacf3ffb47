// Small helpers over libxml2 for the package's own XML parts (content types,
// relationships, document sequences and documents). Internal to the host.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/pipeline/opc_package.h"
#include "platform/xml_text.h"

struct XmlDocFree {
    void operator()(xmlDoc* d) const noexcept { xmlFreeDoc(d); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;

// Parses a part (UTF-8 or UTF-16, with or without a byte-order mark) without
// network access or entity expansion; throws PackageError naming the part.
XmlDocPtr ParseXmlPart(const Bytes& bytes, std::string_view partName);

// The attribute's value, or empty when absent.
std::string XmlAttribute(const xmlNode* node, const char* name);
bool XmlHasAttribute(const xmlNode* node, const char* name);
// The element's local name equals name.
bool XmlIs(const xmlNode* node, const char* name);
// The namespace URI of the element, or empty.
std::string XmlNamespace(const xmlNode* node);
