// Escaping for the XML the platform stand-ins write (internal to src/platform).
#pragma once

#include <string>
#include <string_view>

// For character data.
std::string XmlEscapeText(std::string_view text);
// For an attribute value in double quotes; white space other than the space
// is escaped so that it is read back as written.
std::string XmlEscapeAttribute(std::string_view text);
