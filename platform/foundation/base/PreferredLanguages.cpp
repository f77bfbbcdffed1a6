#include "platform/foundation/base/PreferredLanguages.h"

#include <QtGlobal>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

// "ll_CC.encoding@modifier" as the tag "ll-CC"; empty for the C locale and for nothing.
QString languageTag(const QString& localeName)
{
    QString name = localeName.trimmed();
    name.truncate(name.indexOf(u'@') < 0 ? name.size() : name.indexOf(u'@'));
    name.truncate(name.indexOf(u'.') < 0 ? name.size() : name.indexOf(u'.'));
    if (name == u"C"_s || name == u"POSIX"_s)
        return {};
    name.replace(u'_', u'-');
    return name;
}

} // namespace

QStringList preferredLanguages()
{
    QStringList names = qEnvironmentVariable("LANGUAGE").split(u':');
    for (const char* variable : { "LC_ALL", "LC_MESSAGES", "LANG" })
        names.append(qEnvironmentVariable(variable));
    QStringList languages;
    for (const QString& name : names) {
        const QString tag = languageTag(name);
        if (!tag.isEmpty() && !languages.contains(tag))
            languages.append(tag);
    }
    return languages;
}

} // namespace Tickerly::Foundation
