#include "platform/foundation/base/Bundle.h"

#include "platform/foundation/base/PreferredLanguages.h"

#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

namespace Tickerly::Foundation {

using namespace Qt::Literals::StringLiterals;

namespace {

QMutex& stateMutex()
{
    // Never destroyed, as the state below: workers may read the bundle while the process ends.
    static auto& mutex = *new QMutex;
    return mutex;
}

QString& mainRoot()
{
    static auto& root = *new QString(u":/bundle"_s);
    return root;
}

// Resource files parsed so far, by path; a file that is missing or no JSON object is kept as
// nothing, so it is looked for only once.
QHash<QString, std::optional<QJsonObject>>& parsedFiles()
{
    static auto& files = *new QHash<QString, std::optional<QJsonObject>>;
    return files;
}

std::optional<QJsonObject> jsonObjectAt(const QString& path)
{
    QMutexLocker lock(&stateMutex());
    auto& files = parsedFiles();
    if (const auto it = files.constFind(path); it != files.constEnd())
        return *it;
    std::optional<QJsonObject> object;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
        if (error.error == QJsonParseError::NoError && document.isObject())
            object = document.object();
    }
    files.insert(path, object);
    return object;
}

} // namespace

Bundle::Bundle(const QString& resourceRoot)
    : m_root(resourceRoot.endsWith(u'/') ? resourceRoot.chopped(1) : resourceRoot)
{
}

Bundle Bundle::mainBundle()
{
    QMutexLocker lock(&stateMutex());
    return Bundle(mainRoot());
}

void Bundle::setMainBundle(const Bundle& bundle)
{
    QMutexLocker lock(&stateMutex());
    mainRoot() = bundle.m_root;
}

QString Bundle::defaultTable() { return u"Localizable"_s; }

std::optional<QVariantMap> Bundle::infoDictionary() const
{
    const auto object = jsonObjectAt(m_root + u"/Info.json"_s);
    if (!object)
        return std::nullopt;
    return object->toVariantMap();
}

QString Bundle::pathForResource(const QString& name, const QString& type) const
{
    const QString path = m_root + u'/' + name + (type.isEmpty() ? QString() : u'.' + type);
    return QFile::exists(path) ? path : QString();
}

QStringList Bundle::preferredLanguages()
{
    QStringList languages;
    const auto add = [&languages](const QString& language) {
        if (!language.isEmpty() && !languages.contains(language))
            languages.append(language);
    };
    for (const QString& tag : Tickerly::Foundation::preferredLanguages()) {
        add(tag);
        add(tag.section(u'-', 0, 0));
    }
    add(u"en"_s);
    return languages;
}

QString Bundle::localizedString(
    const QString& key, const QString& value, const QString& table) const
{
    const QString tableName = table.isEmpty() ? defaultTable() : table;
    for (const QString& language : preferredLanguages()) {
        const auto entries = jsonObjectAt(m_root + u'/' + language + u'/' + tableName + u".json"_s);
        if (!entries)
            continue;
        const auto it = entries->constFind(key);
        if (it != entries->constEnd() && it->isString())
            return it->toString();
        break;
    }
    return value.isEmpty() ? key : value;
}

} // namespace Tickerly::Foundation
