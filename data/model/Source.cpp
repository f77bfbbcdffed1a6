#include "data/model/Source.h"

#include "data/model/SourceIconData.h"

#include <QHash>

#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {
const QString titleKey = u"title"_s;
const QString linkKey = u"link"_s;
const QString noIconKey = u"noIcon"_s;
const QString iconKey = u"icon"_s;
const QString className = u"TickerlyDataMac.Source"_s;
} // namespace

Source::Source(const QString& title, const QString& link)
    : m_title(title)
    , m_link(link)
{
}

std::shared_ptr<Source> Source::initWithCoder(const KeyedUnarchiver& coder)
{
    const auto title = coder.decodeString(titleKey);
    const auto link = coder.decodeString(linkKey);
    if (!title || !link)
        return nullptr;
    // Archives written before "noIcon" existed never had an icon search marked as failed.
    const bool noIcon = coder.decodeBool(noIconKey).value_or(true);
    if (const QImage icon = coder.decodeImage(iconKey); !icon.isNull())
        SourceIconData::setIconForSourceLink(*link, icon);
    auto source = std::make_shared<Source>(*title, *link);
    source->noIconFound = noIcon;
    return source;
}

void Source::encodeWithCoder(KeyedArchiver& coder) const
{
    coder.encodeString(m_title, titleKey);
    coder.encodeString(m_link, linkKey);
    coder.encodeBool(noIconFound, noIconKey);
}

QString Source::archivedClassName() const { return className; }

void Source::registerArchiveClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        KeyedUnarchiver::registerClass(
            className, [](const KeyedUnarchiver& coder) -> std::shared_ptr<Coding> {
                return initWithCoder(coder);
            });
    });
    KeyedUnarchiver::setClassForClassName(className, u"TickerlyShared.Source"_s);
}

std::size_t Source::hashValue() const
{
    return sourceLink ? qHash(sourceLink->absoluteString()) : qHash(m_title);
}

bool operator==(const Source& a, const Source& b)
{
    return a.title() == b.title() && a.link() == b.link();
}

} // namespace Tickerly::Data
