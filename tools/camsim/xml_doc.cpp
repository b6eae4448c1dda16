#include "tools/camsim/xml_doc.h"

#include <libxml/parser.h>

#include <climits>
#include <mutex>

namespace camsim {

namespace {

const char *text(const xmlChar *s) {
    return reinterpret_cast<const char *>(s);
}

bool xmlBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

XmlDocPtr parseXml(std::string_view bytes) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    // No XML_PARSE_NOENT: entities stay references; no DTD loading, no network.
    constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> context(xmlNewParserCtxt(),
                                                                       xmlFreeParserCtxt);
    if (!context) return nullptr;
    XmlDocPtr doc(xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()),
                                    nullptr, nullptr, kOptions));
    // An undeclared prefix leaves the document namespace-ill-formed, which libxml2 reports
    // without failing the parse.
    if (!doc || !context->wellFormed || !context->nsWellFormed ||
        xmlGetIntSubset(doc.get()) != nullptr || !xmlDocGetRootElement(doc.get()))
        return nullptr;
    return doc;
}

std::string_view namespaceOf(const xmlNode *node) {
    return node && node->ns && node->ns->href ? text(node->ns->href) : "";
}

std::string_view localName(const xmlNode *node) {
    return node && node->name ? text(node->name) : "";
}

bool isElement(const xmlNode *node, std::string_view ns, std::string_view name) {
    return node && node->type == XML_ELEMENT_NODE && namespaceOf(node) == ns &&
           localName(node) == name;
}

xmlNode *firstElement(xmlNode *parent) {
    if (!parent) return nullptr;
    for (xmlNode *child = parent->children; child; child = child->next)
        if (child->type == XML_ELEMENT_NODE) return child;
    return nullptr;
}

xmlNode *nextElement(xmlNode *node) {
    for (node = node ? node->next : nullptr; node; node = node->next)
        if (node->type == XML_ELEMENT_NODE) return node;
    return nullptr;
}

xmlNode *childElement(xmlNode *parent, std::string_view ns, std::string_view name) {
    for (xmlNode *child = firstElement(parent); child; child = nextElement(child))
        if (isElement(child, ns, name)) return child;
    return nullptr;
}

std::string elementText(const xmlNode *node) {
    std::string out;
    if (!node) return out;
    for (const xmlNode *child = node->children; child; child = child->next)
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
            child->content)
            out += text(child->content);
    std::size_t first = 0, last = out.size();
    while (first < last && xmlBlank(out[first])) ++first;
    while (last > first && xmlBlank(out[last - 1])) --last;
    return out.substr(first, last - first);
}

std::optional<std::string> attribute(xmlNode *node, const char *name) {
    if (!node) return std::nullopt;
    xmlChar *value = xmlGetNoNsProp(node, reinterpret_cast<const xmlChar *>(name));
    if (!value) return std::nullopt;
    std::string out(text(value));
    xmlFree(value);
    return out;
}

std::optional<std::string> attribute(xmlNode *node, const char *name, std::string_view ns) {
    if (!node) return std::nullopt;
    const std::string uri(ns);
    xmlChar *value = xmlGetNsProp(node, reinterpret_cast<const xmlChar *>(name),
                                  reinterpret_cast<const xmlChar *>(uri.c_str()));
    if (!value) return std::nullopt;
    std::string out(text(value));
    xmlFree(value);
    return out;
}

std::optional<std::string> resolvePrefix(xmlNode *node, std::string_view prefix) {
    if (!node) return std::nullopt;
    const std::string p(prefix);
    xmlNs *ns = xmlSearchNs(node->doc, node,
                            p.empty() ? nullptr : reinterpret_cast<const xmlChar *>(p.c_str()));
    if (!ns || !ns->href) return std::nullopt;
    return std::string(text(ns->href));
}

std::string xmlEscape(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    for (char c : in) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace camsim
