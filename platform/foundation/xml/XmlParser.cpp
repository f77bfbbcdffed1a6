#include "platform/foundation/xml/XmlParser.h"

#include "platform/foundation/xml/XmlMarkupScan_p.h"

#include <libxml/HTMLparser.h>
#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

namespace Tickerly::Foundation {

XmlParserDelegate::~XmlParserDelegate() = default;
void XmlParserDelegate::didStartElement(const QString&, const XmlAttributes&) { }
void XmlParserDelegate::didEndElement(const QString&) { }
void XmlParserDelegate::foundCharacters(const QString&) { }

void XmlParserDelegate::didStartElementUtf8(QByteArrayView name, const char* const* atts)
{
    XmlAttributes attributes;
    for (int i = 0; atts && atts[i]; i += 2)
        attributes.append({ QString::fromUtf8(atts[i]),
            atts[i + 1] ? QString::fromUtf8(atts[i + 1]) : QString() });
    didStartElement(QString::fromUtf8(name), attributes);
}

void XmlParserDelegate::didEndElementUtf8(QByteArrayView name)
{
    didEndElement(QString::fromUtf8(name));
}

void XmlParserDelegate::foundCharactersUtf8(QByteArrayView text)
{
    foundCharacters(QString::fromUtf8(text));
}

namespace {

// A document that is pushed goes in chunks of this size.
constexpr qsizetype chunkSize = 64 * 1024;
// The largest document read in one call rather than pushed; see XmlParser::parse.
constexpr qsizetype oneShotMaxBytes = 4 * 1024 * 1024;

// How much text the entities a document declares may add in all. libxml2 stops nested
// expansion ("billion laughs") itself, but not one entity referenced over and over, which
// turns a small document into gigabytes of text.
constexpr qsizetype entityExpansionLimit = 1024 * 1024;

xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr)
{
    return nullptr;
}

void initialiseLibxml()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
    });
}

bool isXmlSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// White space before the XML declaration is an error to libxml2, yet common in real feeds
// (a blank line left by a template). It is dropped, after any byte-order mark.
QByteArray withoutLeadingSpace(const QByteArray& data)
{
    const XmlUnits u(data);
    qsizetype mark = 0; // in bytes
    if (data.startsWith("\xEF\xBB\xBF"))
        mark = 3;
    else if (u.width == 2 && u[0] == 0xFEFF)
        mark = 2;
    qsizetype end = mark / u.width;
    while (end < u.size && isXmlSpace(u[end]))
        ++end;
    if (end == mark / u.width)
        return data;
    return data.left(mark) + data.mid(end * u.width);
}

} // namespace

struct XmlParserCallbacks {
    static XmlParser* self(void* ctx)
    {
        return static_cast<XmlParser*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
    }
    static bool live(XmlParser* p) { return p && !p->m_stopped && p->m_delegate; }
    // SAX1 element names, start and end, are dictionary strings that live as long as the parse.
    static QByteArrayView elementName(XmlParser* p, const xmlChar* name)
    {
        if (!name)
            return {};
        const auto address = reinterpret_cast<std::uintptr_t>(name);
        XmlParser::NameLength& slot = p->m_nameLengths[(address * 0x9E3779B97F4A7C15ULL)
            >> (64 - XmlParser::nameLengthBits)];
        if (slot.name != name)
            slot = { name, qsizetype(std::strlen(reinterpret_cast<const char*>(name))) };
        Q_ASSERT(qsizetype(std::strlen(reinterpret_cast<const char*>(name))) == slot.length);
        return QByteArrayView(reinterpret_cast<const char*>(name), slot.length);
    }

    static void startElement(void* ctx, const xmlChar* name, const xmlChar** atts)
    {
        XmlParser* p = self(ctx);
        if (live(p))
            p->m_delegate->didStartElementUtf8(
                elementName(p, name), reinterpret_cast<const char* const*>(atts));
    }
    static void endElement(void* ctx, const xmlChar* name)
    {
        XmlParser* p = self(ctx);
        if (live(p))
            p->m_delegate->didEndElementUtf8(elementName(p, name));
    }
    static void characters(void* ctx, const xmlChar* ch, int len)
    {
        XmlParser* p = self(ctx);
        if (live(p))
            p->m_delegate->foundCharactersUtf8(
                QByteArrayView(reinterpret_cast<const char*>(ch), len));
    }
    static void error(void* ctx, const char*, ...)
    {
        XmlParser* p = self(ctx);
        if (!p || p->m_stopped)
            return;
        const xmlError* e = xmlCtxtGetLastError(ctx);
        // Recoverable diagnostics (an entity an unread external DTD may declare) come here
        // too; only a fatal error breaks well-formedness.
        if (e && e->level < XML_ERR_FATAL)
            return;
        p->m_errorString = e && e->message ? QString::fromUtf8(e->message).trimmed()
                                           : QStringLiteral("XML error");
        p->m_errorLine = e ? e->line : 0;
        p->m_stopped = true;
        xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
    }
    static void warning(void*, const char*, ...) { }

    // An entity the document uses without declaring it, in a document whose external DTD is
    // not read: HTML's named characters (which the DTDs of old RSS and XHTML declare) read as
    // themselves; anything else reads as nothing.
    static xmlEntityPtr htmlEntity(xmlParserCtxtPtr ctxt, const xmlChar* name)
    {
        if (!ctxt->hasExternalSubset || ctxt->standalone == 1 || ctxt->inSubset || !ctxt->myDoc)
            return nullptr;
        const htmlEntityDesc* html = htmlEntityLookup(name);
        if (!html)
            return nullptr;
        const char32_t character = html->value;
        const QByteArray content = QString::fromUcs4(&character, 1).toUtf8();
        return xmlAddDocEntity(ctxt->myDoc, name, XML_INTERNAL_GENERAL_ENTITY, nullptr, nullptr,
            reinterpret_cast<const xmlChar*>(content.constData()));
    }

    static xmlEntityPtr getEntity(void* ctx, const xmlChar* name)
    {
        xmlEntityPtr entity = xmlSAX2GetEntity(ctx, name);
        XmlParser* p = self(ctx);
        if (!entity)
            return htmlEntity(static_cast<xmlParserCtxtPtr>(ctx), name);
        if (!p || entity->etype == XML_INTERNAL_PREDEFINED_ENTITY)
            return entity;
        p->m_entityExpansion += std::max(entity->length, 1);
        if (p->m_entityExpansion > entityExpansionLimit) {
            if (!p->m_stopped) {
                p->m_errorString = QStringLiteral("Entity expansion limit exceeded");
                p->m_errorLine = xmlSAX2GetLineNumber(ctx);
                p->m_stopped = true;
                xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
            }
            return nullptr;
        }
        return entity;
    }
};

XmlParser::XmlParser(QByteArray data)
    : m_data(std::move(data))
{
    initialiseLibxml();
}

XmlParser::~XmlParser() = default;

void XmlParser::abortParsing()
{
    m_stopped = true;
    if (m_context)
        xmlStopParser(static_cast<xmlParserCtxtPtr>(m_context));
    if (m_errorString.isEmpty())
        m_errorString = QStringLiteral("Parsing aborted");
}

namespace {

xmlSAXHandler saxHandler()
{
    xmlSAXHandler handler {};
    xmlSAXVersion(&handler, 1);
    handler.startElement = XmlParserCallbacks::startElement;
    handler.endElement = XmlParserCallbacks::endElement;
    handler.characters = XmlParserCallbacks::characters;
    handler.cdataBlock = XmlParserCallbacks::characters;
    handler.ignorableWhitespace = XmlParserCallbacks::characters;
    handler.error = XmlParserCallbacks::error;
    handler.fatalError = XmlParserCallbacks::error;
    handler.warning = XmlParserCallbacks::warning;
    handler.getEntity = XmlParserCallbacks::getEntity;
    handler.comment = nullptr;
    handler.processingInstruction = nullptr;
    handler.reference = nullptr;
    return handler;
}

// Internal entities are substituted (expansion is bounded by libxml2); nothing is loaded from
// outside, and the default size limits stay on.
constexpr int parseOptions
    = XML_PARSE_SAX1 | XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOWARNING;

} // namespace

bool XmlParser::startPushing(const char* data, qsizetype size)
{
    xmlSAXHandler handler = saxHandler();
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(
        &handler, nullptr, data, static_cast<int>(std::min<qsizetype>(size, 4)), nullptr);
    if (!ctxt) {
        m_errorString = QStringLiteral("Out of memory");
        m_stopped = true;
        return false;
    }
    ctxt->_private = this;
    m_context = ctxt;
    xmlCtxtUseOptions(ctxt, parseOptions);
    pushChunks(data + std::min<qsizetype>(size, 4), size - std::min<qsizetype>(size, 4));
    return true;
}

void XmlParser::pushChunks(const char* data, qsizetype size)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(m_context);
    for (qsizetype at = 0; at < size && !m_stopped; at += chunkSize)
        xmlParseChunk(ctxt, data + at, static_cast<int>(std::min(chunkSize, size - at)), 0);
}

bool XmlParser::endPushing(bool cut)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(m_context);
    if (!m_stopped && cut) {
        m_stopped = true;
        m_errorString = QStringLiteral("Start tag too large");
        m_errorLine = xmlSAX2GetLineNumber(ctxt);
    }
    if (!m_stopped)
        xmlParseChunk(ctxt, nullptr, 0, 1);
    return endParsing();
}

bool XmlParser::endParsing()
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(m_context);
    const bool ok = !m_stopped && ctxt->wellFormed;
    if (!ok && m_errorString.isEmpty())
        m_errorString = QStringLiteral("Document is not well-formed");
    if (ctxt->myDoc)
        xmlFreeDoc(ctxt->myDoc);
    xmlFreeParserCtxt(ctxt);
    m_context = nullptr;
    return ok;
}

bool XmlParser::parse()
{
    m_nameLengths = {};
    m_data = withoutLeadingSpace(m_data);
    // libxml2 only sees the document up to a start tag it would take too long over.
    const XmlMarkup markup = scanXmlMarkup(m_data);
    const qsizetype oversized = markup.oversizedStartTag;
    const qsizetype end = oversized < 0 ? m_data.size() : oversized;

    // A whole document goes to libxml2's one-shot parser, which reads markup-dense feeds faster
    // than its push parser, with the same events, but CDATA sections at half the speed. It first
    // copies the whole document, which past a few megabytes costs more than it saves (a 20 MB
    // channel reads in two thirds of the time pushed). One cut short before an oversized start
    // tag is pushed in chunks, so that the cut is no error of its own, and so are large ones and
    // those that are mostly CDATA.
    const bool whole
        = oversized < 0 && end > 0 && end <= oneShotMaxBytes && markup.cdataBytes * 4 <= end;
    if (!whole)
        return startPushing(m_data.constData(), end) && endPushing(oversized >= 0);
    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(m_data.constData(), static_cast<int>(end));
    if (!ctxt) {
        m_errorString = QStringLiteral("Out of memory");
        return false;
    }
    *ctxt->sax = saxHandler();
    ctxt->userData = ctxt;
    ctxt->_private = this;
    m_context = ctxt;
    xmlCtxtUseOptions(ctxt, parseOptions);
    xmlParseDocument(ctxt);
    return endParsing();
}

void XmlParser::push(QByteArrayView piece)
{
    if (m_stopped || m_cut)
        return;
    // Most pieces end in plain text or in a short tag: they are read where they are, and only
    // the markup left open at their end is kept.
    if (m_held.isEmpty() && m_started && !m_wide) {
        handOnHeld(QByteArray::fromRawData(piece.data(), piece.size()), false);
        return;
    }
    m_held.append(piece);
    if (!m_context && !m_started) {
        // Nothing is read before the first unit that is no white space, nor before four bytes
        // tell the encoding.
        const QByteArray trimmed = withoutLeadingSpace(m_held);
        const qsizetype mark = trimmed.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        if (trimmed.size() < 4 || trimmed.size() <= mark)
            return;
        m_held = trimmed;
        m_started = true;
        // Text in 16-bit units is scanned whole: a piece may begin inside a unit.
        m_wide = XmlUnits(m_held).width == 2;
    }
    if (m_wide)
        return;
    // What is held is scanned again each time it doubles, so a long comment or section arriving
    // in small pieces is scanned a bounded number of times over.
    if (m_held.size() < 2 * m_heldScanned)
        return;
    handOnHeld(std::exchange(m_held, QByteArray()), false);
}

void XmlParser::handOnHeld(const QByteArray& data, bool last)
{
    const XmlMarkup markup = scanXmlMarkup(data);
    qsizetype safe = last ? data.size() : markup.resumeAt;
    if (markup.oversizedStartTag >= 0) {
        safe = markup.oversizedStartTag;
        m_cut = true;
    }
    // libxml2 tells the encoding by the first four bytes.
    if (m_cut || last || safe >= (m_context ? 1 : 4)) {
        if (!m_context)
            startPushing(data.constData(), safe);
        else
            pushChunks(data.constData(), safe);
    } else {
        safe = 0;
    }
    // The markup still open stays held, and is scanned again from its start.
    if (m_cut || m_stopped || safe == data.size())
        m_held = QByteArray();
    else if (safe == 0 && !data.isDetached())
        m_held = QByteArray(data.constData(), data.size());
    else
        m_held = safe == 0 ? data : data.sliced(safe);
    m_heldScanned = m_held.size();
}

bool XmlParser::finish()
{
    if (!m_stopped && !m_cut) {
        if (!m_started)
            m_held = withoutLeadingSpace(m_held);
        m_started = true;
        handOnHeld(std::exchange(m_held, QByteArray()), true);
    }
    if (!m_context) {
        if (m_errorString.isEmpty())
            m_errorString = QStringLiteral("Document is not well-formed");
        return false;
    }
    return endPushing(m_cut);
}

} // namespace Tickerly::Foundation
