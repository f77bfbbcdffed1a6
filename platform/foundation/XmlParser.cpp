#include "platform/foundation/XmlParser.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <cstdarg>
#include <mutex>

XmlParserDelegate::~XmlParserDelegate() = default;
void XmlParserDelegate::didStartElement(const QString&, const XmlAttributes&) { }
void XmlParserDelegate::didEndElement(const QString&) { }
void XmlParserDelegate::foundCharacters(const QString&) { }

namespace {

// Feeds are read in chunks: libxml2's push parser is markedly faster than the one-shot call.
constexpr qsizetype chunkSize = 64 * 1024;

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

QString text(const xmlChar* s, int length = -1)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(s), length);
}

} // namespace

struct XmlParserCallbacks {
    static XmlParser* self(void* ctx)
    {
        return static_cast<XmlParser*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
    }
    static bool live(XmlParser* p) { return p && !p->m_stopped && p->m_delegate; }

    static void startElement(void* ctx, const xmlChar* name, const xmlChar** atts)
    {
        XmlParser* p = self(ctx);
        if (!live(p))
            return;
        XmlAttributes attributes;
        for (int i = 0; atts && atts[i]; i += 2)
            attributes.append({ text(atts[i]), atts[i + 1] ? text(atts[i + 1]) : QString() });
        p->m_delegate->didStartElement(text(name), attributes);
    }
    static void endElement(void* ctx, const xmlChar* name)
    {
        XmlParser* p = self(ctx);
        if (live(p))
            p->m_delegate->didEndElement(text(name));
    }
    static void characters(void* ctx, const xmlChar* ch, int len)
    {
        XmlParser* p = self(ctx);
        if (live(p))
            p->m_delegate->foundCharacters(text(ch, len));
    }
    static void error(void* ctx, const char*, ...)
    {
        XmlParser* p = self(ctx);
        if (!p || p->m_stopped)
            return;
        const xmlError* e = xmlCtxtGetLastError(ctx);
        p->m_errorString = e && e->message ? QString::fromUtf8(e->message).trimmed() : QStringLiteral("XML error");
        p->m_errorLine = e ? e->line : 0;
        p->m_stopped = true;
        xmlStopParser(static_cast<xmlParserCtxtPtr>(ctx));
    }
    static void warning(void*, const char*, ...) { }

    static xmlEntityPtr getEntity(void* ctx, const xmlChar* name)
    {
        xmlEntityPtr entity = xmlSAX2GetEntity(ctx, name);
        XmlParser* p = self(ctx);
        if (!entity || !p || entity->etype == XML_INTERNAL_PREDEFINED_ENTITY)
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

bool XmlParser::parse()
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

    const qsizetype first = std::min<qsizetype>(m_data.size(), 4);
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&handler, nullptr, m_data.constData(),
                                                    static_cast<int>(first), nullptr);
    if (!ctxt) {
        m_errorString = QStringLiteral("Out of memory");
        return false;
    }
    ctxt->_private = this;
    m_context = ctxt;
    // Internal entities are substituted (expansion is bounded by libxml2); nothing is loaded
    // from outside, and the default size limits stay on.
    xmlCtxtUseOptions(ctxt, XML_PARSE_SAX1 | XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOWARNING);

    for (qsizetype at = first; at < m_data.size() && !m_stopped; at += chunkSize) {
        const qsizetype n = std::min(chunkSize, m_data.size() - at);
        xmlParseChunk(ctxt, m_data.constData() + at, static_cast<int>(n), 0);
    }
    if (!m_stopped)
        xmlParseChunk(ctxt, nullptr, 0, 1);
    const bool ok = !m_stopped && ctxt->wellFormed;
    if (!ok && m_errorString.isEmpty())
        m_errorString = QStringLiteral("Document is not well-formed");
    if (ctxt->myDoc)
        xmlFreeDoc(ctxt->myDoc);
    xmlFreeParserCtxt(ctxt);
    m_context = nullptr;
    return ok;
}
