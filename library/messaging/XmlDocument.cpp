#include "messaging/XmlDocument.h"

#include "protocol/Cp1252.h"
#include "protocol/XmlText.h"

#include <pugixml.hpp>

#include <algorithm>
#include <array>
#include <string_view>

namespace cfb {
namespace {

using XmlText::DataTypesNamespace;

std::string utf8(const QString& text)
{
    return text.toStdString();
}

QString qs(const pugi::char_t* text)
{
    return QString::fromUtf8(text);
}

// All character data below node, in document order; iterative so deep nesting is harmless.
void collectText(const pugi::xml_node& root, std::string& out)
{
    pugi::xml_node n = root.first_child();
    while (n) {
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata)
            out += n.value();
        if (n.type() == pugi::node_element && n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && n != root && !n.next_sibling())
            n = n.parent();
        if (!n || n == root)
            break;
        n = n.next_sibling();
    }
}

// The namespace a prefix is bound to at this element, looking outwards.
std::string namespaceOf(pugi::xml_node node, const std::string& prefix)
{
    const std::string attr = "xmlns:" + prefix;
    for (; node; node = node.parent()) {
        if (pugi::xml_attribute a = node.attribute(attr.c_str()))
            return a.value();
    }
    return {};
}

bool isBase64Typed(const pugi::xml_node& node)
{
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const std::string name = a.name();
        const auto colon = name.find(':');
        if (colon == std::string::npos || name.compare(colon + 1, std::string::npos, "dt") != 0)
            continue;
        const std::string prefix = name.substr(0, colon);
        if (prefix != "xmlns" && namespaceOf(node, prefix) == DataTypesNamespace
            && std::string_view(a.value()) == "bin.base64")
            return true;
    }
    return false;
}

// Standard base64; white space anywhere is skipped and the padding may be left off. Nothing when
// there is no data, when any other character appears, when data follows padding, or when the
// length leaves a lone character over. Frames arrive through here, so it is one pass with no
// per-character allocation.
std::optional<QByteArray> decodeBase64(std::string_view text)
{
    enum : int8_t { Bad = -1, Space = -2, Pad = -3 };
    static const std::array<int8_t, 256> table = [] {
        std::array<int8_t, 256> t;
        t.fill(Bad);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            t[static_cast<unsigned char>(alphabet[i])] = int8_t(i);
        for (unsigned char c : {' ', '\t', '\r', '\n'})
            t[c] = Space;
        t['='] = Pad;
        return t;
    }();

    QByteArray out(qsizetype(text.size() / 4 * 3 + 3), Qt::Uninitialized);
    char* p = out.data();
    uint32_t bitsHeld = 0;
    int bitCount = 0;
    qsizetype digits = 0;
    int pads = 0;
    for (const unsigned char c : text) {
        const int8_t v = table[c];
        if (v >= 0) {
            if (pads)
                return std::nullopt;
            bitsHeld = ((bitsHeld << 6) | uint32_t(v)) & 0xFFFFFF;
            bitCount += 6;
            ++digits;
            if (bitCount >= 8) {
                bitCount -= 8;
                *p++ = char(bitsHeld >> bitCount);
            }
        } else if (v == Pad) {
            if (++pads > 2)
                return std::nullopt;
        } else if (v != Space) {
            return std::nullopt;
        }
    }
    if (digits == 0 || digits % 4 == 1 || (pads && (digits + pads) % 4 != 0))
        return std::nullopt;
    out.truncate(p - out.data());
    return out;
}

// Declared encoding of the document, lower-cased, or empty.
QByteArray declaredEncoding(QByteArrayView text)
{
    if (!text.startsWith("<?xml"))
        return {};
    const qsizetype end = text.indexOf("?>");
    const QByteArray decl = text.first(end < 0 ? qMin<qsizetype>(text.size(), 200) : end).toByteArray().toLower();
    const qsizetype at = decl.indexOf("encoding");
    if (at < 0)
        return {};
    qsizetype q = at + 8;
    while (q < decl.size() && (decl[q] == ' ' || decl[q] == '=' || decl[q] == '\t'))
        ++q;
    if (q >= decl.size() || (decl[q] != '"' && decl[q] != '\''))
        return {};
    const qsizetype close = decl.indexOf(decl[q], q + 1);
    return close < 0 ? QByteArray() : decl.mid(q + 1, close - q - 1);
}

} // namespace

pugi::xml_node XmlElement::node() const
{
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node_));
}

QString XmlElement::name() const
{
    return node_ ? qs(node().name()) : QString();
}

QString XmlElement::text() const
{
    if (!node_)
        return {};
    std::string out;
    collectText(node(), out);
    return QString::fromUtf8(out).trimmed();
}

void XmlElement::setText(const QString& text)
{
    if (!node_)
        return;
    pugi::xml_node n = node();
    while (pugi::xml_node child = n.first_child())
        n.remove_child(child);
    if (!text.isEmpty())
        n.append_child(pugi::node_pcdata).set_value(utf8(text).c_str());
}

XmlElement XmlElement::selectSingle(const QString& childName) const
{
    if (!node_)
        return {};
    return XmlElement(node().child(utf8(childName).c_str()).internal_object());
}

std::optional<QByteArray> XmlElement::typedValue() const
{
    if (!node_ || !isBase64Typed(node()))
        return std::nullopt;
    // The usual element holds one run of text; read it in place.
    const pugi::xml_node only = node().first_child();
    if (only && !only.next_sibling() && only.type() == pugi::node_pcdata)
        return decodeBase64(only.value());
    std::string raw;
    collectText(node(), raw);
    return decodeBase64(raw);
}

void XmlElement::setDataType(const QString& type)
{
    if (!node_)
        return;
    pugi::xml_node n = node();
    if (!n.attribute("xmlns:dt"))
        n.append_attribute("xmlns:dt").set_value(DataTypesNamespace);
    pugi::xml_attribute dt = n.attribute("dt:dt");
    if (!dt)
        dt = n.append_attribute("dt:dt");
    dt.set_value(utf8(type).c_str());
}

void XmlElement::setTypedValue(QByteArrayView bytes)
{
    if (!node_)
        return;
    pugi::xml_node n = node();
    while (pugi::xml_node child = n.first_child())
        n.remove_child(child);
    if (!bytes.isEmpty())
        n.append_child(pugi::node_pcdata).set_value(bytes.toByteArray().toBase64().constData());
}

XmlElement XmlElement::appendChild(XmlElement child)
{
    if (!node_ || !child.node_)
        return {};
    return XmlElement(node().append_move(child.node()).internal_object());
}

XmlDocument::XmlDocument()
    : doc_(std::make_unique<pugi::xml_document>())
{
}
XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

bool XmlDocument::parse(QByteArrayView text)
{
    doc_->reset();
    const unsigned options = (pugi::parse_default | pugi::parse_fragment) & ~pugi::parse_doctype;
    pugi::xml_parse_result result;
    const QByteArray encoding = declaredEncoding(text);
    const bool hasBom = text.startsWith("\xEF\xBB\xBF") || text.startsWith("\xFF\xFE") || text.startsWith("\xFE\xFF");
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x80; });
    if (hasBom || encoding == "utf-8" || encoding == "utf8") {
        result = doc_->load_buffer(text.data(), size_t(text.size()), options, pugi::encoding_auto);
    } else if (ascii) {
        // Plain ASCII reads the same in both encodings (frames are almost all base64).
        result = doc_->load_buffer(text.data(), size_t(text.size()), options, pugi::encoding_utf8);
    } else {
        const QByteArray asUtf8 = fromCp1252(text).toUtf8();
        result = doc_->load_buffer(asUtf8.constData(), size_t(asUtf8.size()), options, pugi::encoding_utf8);
    }
    // pugixml also takes fragments; a document has exactly one top-level element and no text.
    int elements = 0;
    bool stray = false;
    for (pugi::xml_node n = doc_->first_child(); n; n = n.next_sibling()) {
        elements += n.type() == pugi::node_element;
        stray |= n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata;
    }
    if (!result || elements != 1 || stray) {
        doc_->reset();
        return false;
    }
    return true;
}

void XmlDocument::clear()
{
    doc_->reset();
}

bool XmlDocument::hasContent() const
{
    return bool(doc_->first_child());
}

XmlElement XmlDocument::selectSingle(const QString& path) const
{
    // From the document, a relative name and an absolute path select alike. Steps are matched one
    // name at a time without building a list: arrivals read several paths per datagram.
    const std::string steps = utf8(path);
    pugi::xml_node node = *doc_;
    std::string step;
    size_t at = 0;
    bool any = false;
    while (at <= steps.size()) {
        const size_t slash = std::min(steps.find('/', at), steps.size());
        if (slash > at) {
            step.assign(steps, at, slash - at);
            node = node.child(step.c_str());
            if (!node)
                return {};
            any = true;
        }
        at = slash + 1;
    }
    return any ? XmlElement(node.internal_object()) : XmlElement();
}

QList<XmlElement> XmlDocument::elementsByTagName(const QString& name) const
{
    QList<XmlElement> found;
    const std::string wanted = utf8(name);
    // Depth-first, in document order, without recursion so deep nesting cannot exhaust the stack.
    pugi::xml_node n = doc_->first_child();
    while (n) {
        if (n.type() == pugi::node_element && wanted == n.name())
            found.append(XmlElement(n.internal_object()));
        if (n.first_child()) {
            n = n.first_child();
            continue;
        }
        while (n && !n.next_sibling())
            n = n.parent() == *doc_ ? pugi::xml_node() : n.parent();
        if (n)
            n = n.next_sibling();
    }
    return found;
}

XmlElement XmlDocument::documentElement() const
{
    return XmlElement(doc_->document_element().internal_object());
}

XmlElement XmlDocument::createElement(const QString& name)
{
    return XmlElement(doc_->append_child(utf8(name).c_str()).internal_object());
}

void XmlDocument::setDocumentElement(XmlElement element)
{
    if (!element)
        return;
    pugi::xml_node keep = element.node();
    if (keep.parent() != *doc_)
        keep = doc_->prepend_move(keep);
    for (pugi::xml_node n = doc_->first_child(); n;) {
        pugi::xml_node next = n.next_sibling();
        if (n != keep && n.type() == pugi::node_element)
            doc_->remove_child(n);
        n = next;
    }
}

QByteArray XmlDocument::serialise() const
{
    struct Writer : pugi::xml_writer {
        std::string out;
        void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
    } writer;
    doc_->save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return toCp1252(QString::fromStdString(writer.out));
}

} // namespace cfb
