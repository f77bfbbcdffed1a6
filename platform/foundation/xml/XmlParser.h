#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

#include <array>

namespace Tickerly::Foundation {

// Attributes of one element, in document order, values already decoded.
using XmlAttributes = QList<QPair<QString, QString>>;

// Receives the events of an XmlParser, in document order, on the parsing thread.
class TICKERLYFOUNDATION_EXPORT XmlParserDelegate {
public:
    virtual ~XmlParserDelegate();
    // `name` is the element name as written, prefix included ("dc:date").
    virtual void didStartElement(const QString& name, const XmlAttributes& attributes);
    virtual void didEndElement(const QString& name);
    // One or more chunks per run of text; CDATA sections arrive here too.
    virtual void foundCharacters(const QString& text);

    // The same events in the parser's own UTF-8, for delegates that look at few of them; by
    // default they are converted and passed on to the ones above. `attributes` holds name and
    // value pairs ended by a null name (a value may be null), or is null.
    virtual void didStartElementUtf8(QByteArrayView name, const char* const* attributes);
    virtual void didEndElementUtf8(QByteArrayView name);
    virtual void foundCharactersUtf8(QByteArrayView text);
};

// An event-driven XML parser for documents from anywhere.
//
// No namespace processing: names and "xmlns" attributes arrive as written. Predefined entities
// and character references are decoded in text and attribute values. It never touches the
// network or the file system (external entities and DTDs are refused) and bounds entity
// expansion, so a hostile document ends in an error, not in a hang or exhausted memory. In a
// document with an external DTD, an undeclared HTML entity ("&nbsp;") reads as its character
// and any other undeclared entity as nothing. White space before the XML declaration is
// skipped. Parsing stops at the first well-formedness error, or at a start tag with thousands of
// attributes or a megabyte long; no event follows it.
//
// One object per document, used on one thread.
class TICKERLYFOUNDATION_EXPORT XmlParser {
public:
    explicit XmlParser(QByteArray data);
    ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    void setDelegate(XmlParserDelegate* delegate) { m_delegate = delegate; }

    // Parses the whole document; true when it was well-formed to the end.
    bool parse();

    // A document read as it arrives, by a parser made without one: each piece goes to push()
    // as it comes, in order, and finish() ends it, with what parse() would say of the whole
    // and the same events (only text just before an error may be cut elsewhere). The parser
    // holds no more of the document than the markup still open at the end of what came.
    XmlParser()
        : XmlParser(QByteArray())
    {
    }
    void push(QByteArrayView piece);
    bool finish();
    // Called from a delegate callback: no further event is delivered.
    void abortParsing();

    // After a failed parse: a short description and the line of the first error.
    const QString& errorString() const { return m_errorString; }
    int errorLine() const { return m_errorLine; }

private:
    friend struct XmlParserCallbacks;
    bool startPushing(const char* data, qsizetype size);
    void pushChunks(const char* data, qsizetype size);
    bool endPushing(bool cut);
    bool endParsing();
    // Gives libxml2 what of `data` (all that is held) no oversized start tag can begin in; holds
    // the rest.
    void handOnHeld(const QByteArray& data, bool last);

    QByteArray m_data;
    // Of a document pushed piece by piece: what libxml2 has not been given yet, its size when it
    // was last scanned, whether the first unit that is no white space came (and whether the
    // text is in 16-bit units), and whether an oversized start tag cut the document.
    QByteArray m_held;
    qsizetype m_heldScanned = 0;
    bool m_started = false;
    bool m_wide = false;
    bool m_cut = false;
    XmlParserDelegate* m_delegate = nullptr;
    void* m_context = nullptr;
    bool m_stopped = false;
    QString m_errorString;
    int m_errorLine = 0;
    qsizetype m_entityExpansion = 0;
    // Element names are strings of libxml2's dictionary, one address per name for a whole
    // parse: their lengths are remembered by address rather than measured at every tag.
    struct NameLength {
        const void* name = nullptr;
        qsizetype length = 0;
    };
    static constexpr int nameLengthBits = 4;
    std::array<NameLength, 1 << nameLengthBits> m_nameLengths {};
};

} // namespace Tickerly::Foundation
