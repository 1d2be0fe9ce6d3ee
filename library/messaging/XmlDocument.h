#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace pugi {
class xml_document;
class xml_node;
} // namespace pugi

namespace cfb {

class XmlDocument;

// A light reference to an element of an XmlDocument; false when it refers to nothing. It stays
// valid while its document lives and is not parsed again.
class XmlElement {
public:
    XmlElement() = default;

    explicit operator bool() const { return node_ != nullptr; }
    QString name() const;

    // Text content of the element and its descendants, white space trimmed at both ends.
    QString text() const;
    void setText(const QString& text);

    // The first child element of that name, or nothing.
    XmlElement selectSingle(const QString& childName) const;

    // For an element typed "bin.base64" in the namespace urn:schemas-microsoft-com:datatypes
    // (whatever prefix binds it): the decoded bytes. Nothing when the element is not so typed, has
    // no content, or its text is not base64. White space inside the text is ignored.
    std::optional<QByteArray> typedValue() const;
    // Marks the element "bin.base64" (binding the dt prefix on the element itself).
    void setDataType(const QString& type);
    void setTypedValue(QByteArrayView bytes);

    XmlElement appendChild(XmlElement child);

private:
    friend class XmlDocument;
    explicit XmlElement(void* node)
        : node_(node)
    {
    }
    pugi::xml_node node() const;

    void* node_ = nullptr; // pugi::xml_node_struct*
};

// The XML document of a service reply or a peer datagram. Text comes in and goes out as
// Windows-1252 bytes unless the document declares another encoding.
class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;

    // Replaces the content with the parsed text; false (and an empty document) when the text is
    // not well-formed.
    bool parse(QByteArrayView text);
    void clear();
    bool hasContent() const;

    // An absolute path of element names ("/body/user_id") or a child name ("body").
    XmlElement selectSingle(const QString& path) const;
    QList<XmlElement> elementsByTagName(const QString& name) const;

    XmlElement documentElement() const;
    // A new element of this document; it stands at the top level until it is appended somewhere
    // or made the document element.
    XmlElement createElement(const QString& name);
    // Makes the element the only top-level element.
    void setDocumentElement(XmlElement element);

    // The document as Windows-1252 text without an XML declaration, element text escaped.
    QByteArray serialise() const;

private:
    std::unique_ptr<pugi::xml_document> doc_;
};

} // namespace cfb
