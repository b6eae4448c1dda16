#include "onvif/xml_document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <mutex>

namespace ipcam {

namespace {

std::string_view view(const xmlChar *text) {
    return text ? std::string_view(reinterpret_cast<const char *>(text)) : std::string_view();
}

bool matches(const xmlNode *node, std::string_view ns, std::string_view local) {
    if (!node || node->type != XML_ELEMENT_NODE || view(node->name) != local) return false;
    if (ns == kAnyNamespace) return true;
    return view(node->ns ? node->ns->href : nullptr) == ns;
}

xmlNode *elementFrom(xmlNode *node) {
    while (node && node->type != XML_ELEMENT_NODE) node = node->next;
    return node;
}

void ignoreMessage(void *, const char *, ...) {}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string_view XmlElement::localName() const {
    return node_ ? view(node_->name) : std::string_view();
}

std::string_view XmlElement::namespaceUri() const {
    return node_ && node_->ns ? view(node_->ns->href) : std::string_view();
}

bool XmlElement::is(std::string_view ns, std::string_view local) const {
    return matches(node_, ns, local);
}

XmlElement XmlElement::child(std::string_view ns, std::string_view local) const {
    if (!node_) return {};
    for (xmlNode *c = node_->children; c; c = c->next)
        if (matches(c, ns, local)) return XmlElement(c);
    return {};
}

std::vector<XmlElement> XmlElement::children(std::string_view ns, std::string_view local) const {
    std::vector<XmlElement> out;
    if (!node_) return out;
    for (xmlNode *c = node_->children; c; c = c->next)
        if (matches(c, ns, local)) out.emplace_back(c);
    return out;
}

XmlElement XmlElement::firstChild() const {
    return XmlElement(node_ ? elementFrom(node_->children) : nullptr);
}

XmlElement XmlElement::next() const {
    return XmlElement(node_ ? elementFrom(node_->next) : nullptr);
}

XmlElement XmlElement::find(std::string_view ns, std::string_view local) const {
    if (!node_) return {};
    // Iterative, so a deeply nested message costs no stack.
    xmlNode *n = node_->children;
    while (n) {
        if (matches(n, ns, local)) return XmlElement(n);
        if (n->type == XML_ELEMENT_NODE && n->children) {
            n = n->children;
            continue;
        }
        while (n && !n->next) {
            n = n->parent;
            if (n == node_) return {};
        }
        if (n) n = n->next;
    }
    return {};
}

XmlElement XmlElement::path(std::string_view ns,
                            std::initializer_list<std::string_view> steps) const {
    XmlElement at = *this;
    for (std::string_view step : steps) at = at.child(ns, step);
    return at;
}

std::string XmlElement::text() const {
    std::string out;
    if (!node_) return out;
    for (xmlNode *c = node_->children; c; c = c->next)
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
            out += view(c->content);
    std::size_t first = 0, last = out.size();
    while (first < last && isBlank(out[first])) ++first;
    while (last > first && isBlank(out[last - 1])) --last;
    return out.substr(first, last - first);
}

std::optional<std::string> XmlElement::attribute(std::string_view name) const {
    if (!node_) return std::nullopt;
    for (xmlAttr *a = node_->properties; a; a = a->next) {
        if (a->ns || view(a->name) != name) continue;
        std::string value;
        for (xmlNode *c = a->children; c; c = c->next)
            if (c->type == XML_TEXT_NODE) value += view(c->content);
        return value;
    }
    return std::nullopt;
}

std::optional<std::string> XmlElement::namespaceOf(std::string_view prefix) const {
    for (xmlNode *n = node_; n && n->type == XML_ELEMENT_NODE; n = n->parent)
        for (xmlNs *d = n->nsDef; d; d = d->next)
            if (view(d->prefix) == prefix) return std::string(view(d->href));
    return std::nullopt;
}

void XmlDocument::Free::operator()(_xmlDoc *doc) const {
    xmlFreeDoc(doc);
}

std::optional<XmlDocument> XmlDocument::parse(std::string_view text) {
    if (text.empty() || text.size() > kMaxXmlBytes) return std::nullopt;
    static std::once_flag initialised;
    std::call_once(initialised, [] { xmlInitParser(); });
    // No network, no entity substitution, no messages on standard error: what a device sends
    // is not the user's business. Encoding errors bypass the parse options and go to the
    // generic handler, which is this thread's own and is put back afterwards.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    void *previousContext = xmlGenericErrorContext;
    const xmlGenericErrorFunc previous = xmlGenericError;
    xmlSetGenericErrorFunc(nullptr, &ignoreMessage);
    xmlDoc *doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                options);
    xmlSetGenericErrorFunc(previousContext, previous);
    if (!doc) return std::nullopt;
    XmlDocument out;
    out.doc_.reset(doc);
    if (doc->intSubset || doc->extSubset || !xmlDocGetRootElement(doc)) return std::nullopt;
    return out;
}

XmlElement XmlDocument::root() const {
    return XmlElement(doc_ ? xmlDocGetRootElement(doc_.get()) : nullptr);
}

}  // namespace ipcam
