// Reading untrusted XML with libxml2: documents owned by RAII, parsed without network access,
// messages or entity substitution, and elements found by namespace URI and local name, never
// by prefix.
#pragma once

#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace camsim {

struct XmlDocFree {
    void operator()(xmlDoc *doc) const { xmlFreeDoc(doc); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocFree>;

// The document in bytes; nothing when they are not well-formed XML, or declare a document
// type (which SOAP forbids, and which is where entity expansion attacks live).
XmlDocPtr parseXml(std::string_view bytes);

// The namespace URI of an element or attribute; "" when it has none.
std::string_view namespaceOf(const xmlNode *node);
std::string_view localName(const xmlNode *node);
bool isElement(const xmlNode *node, std::string_view ns, std::string_view name);

// Element children in order, skipping text, comments and processing instructions.
xmlNode *firstElement(xmlNode *parent);
xmlNode *nextElement(xmlNode *node);
// The first child element of that namespace and local name; nullptr when none.
xmlNode *childElement(xmlNode *parent, std::string_view ns, std::string_view name);

// The text and CDATA directly inside node, XML white space trimmed at both ends. Entity
// references are not followed.
std::string elementText(const xmlNode *node);
// The value of an attribute without a namespace; nothing when absent.
std::optional<std::string> attribute(xmlNode *node, const char *name);
// The value of an attribute in namespace ns; nothing when absent.
std::optional<std::string> attribute(xmlNode *node, const char *name, std::string_view ns);

// The namespace a QName's prefix stands for where node is ("" prefix: the default namespace);
// nothing when it is not declared there.
std::optional<std::string> resolvePrefix(xmlNode *node, std::string_view prefix);

// Text made safe for element content and double-quoted attribute values.
std::string xmlEscape(std::string_view text);

}  // namespace camsim
