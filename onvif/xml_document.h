// A parsed XML document and read-only views of its elements, over libxml2.
//
// Devices write the same message with any prefixes they like, so elements are always matched
// by namespace URI and local name, never by prefix. kAnyNamespace matches the local name in
// whatever namespace: the inner fields of ONVIF messages sit in the schema's or the service's
// namespace depending on the device, while envelopes and operations are matched exactly.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace ipcam {

inline constexpr std::string_view kAnyNamespace = "*";

// The largest message read as XML.
inline constexpr std::size_t kMaxXmlBytes = 1 << 20;

class XmlElement {
  public:
    XmlElement() = default;
    explicit XmlElement(_xmlNode *node) : node_(node) {}

    explicit operator bool() const { return node_ != nullptr; }
    std::string_view localName() const;
    std::string_view namespaceUri() const;  // "" when the element is in no namespace
    bool is(std::string_view ns, std::string_view local) const;

    // The first child element of that name, or an empty element.
    XmlElement child(std::string_view ns, std::string_view local) const;
    // Every child element of that name, in order.
    std::vector<XmlElement> children(std::string_view ns, std::string_view local) const;
    // The first child element of any name, and the next sibling element.
    XmlElement firstChild() const;
    XmlElement next() const;
    // The first element of that name below this one, depth first.
    XmlElement find(std::string_view ns, std::string_view local) const;
    // A chain of child steps, each in ns: path(ns, {"A", "B"}) is child A's child B.
    XmlElement path(std::string_view ns, std::initializer_list<std::string_view> steps) const;

    // The element's own text (its text and CDATA children joined), blanks at both ends dropped.
    std::string text() const;
    // An attribute without namespace by name; nullopt when absent.
    std::optional<std::string> attribute(std::string_view name) const;
    // The namespace URI bound to prefix where this element stands ("" prefix: the default
    // namespace); nullopt when nothing is bound to it. QName values such as discovery's Types
    // are resolved through this.
    std::optional<std::string> namespaceOf(std::string_view prefix) const;

  private:
    _xmlNode *node_ = nullptr;
};

class XmlDocument {
  public:
    // nullopt for text that is not well-formed XML, is larger than kMaxXmlBytes, or carries a
    // document type declaration (no SOAP message may; refusing it keeps entity tricks out).
    static std::optional<XmlDocument> parse(std::string_view text);

    XmlElement root() const;

  private:
    struct Free {
        void operator()(_xmlDoc *doc) const;
    };
    std::unique_ptr<_xmlDoc, Free> doc_;
};

}  // namespace ipcam
