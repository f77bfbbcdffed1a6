#include "platform/notificationcenter/WidgetPluginLoader.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>

namespace Tickerly::WidgetHost {

using namespace Tickerly::WidgetInterface;

using namespace Qt::Literals::StringLiterals;

namespace {

const QString pluginFileName = u"libTickerly_Widget_Mac.so"_s;

LoadedWidget failure(const QString& path, const QString& why)
{
    LoadedWidget result;
    result.error
        = u"Cannot load the widget plug-in %1: %2"_s.arg(QDir::toNativeSeparators(path), why);
    return result;
}

// The version a plug-in was built for, from its interface id; -1 when it is not ours.
int interfaceVersion(const QString& iid)
{
    const QString prefix = QString::fromLatin1(widgetInterfacePrefix);
    if (!iid.startsWith(prefix))
        return -1;
    bool ok = false;
    const int version = iid.mid(prefix.size()).toInt(&ok);
    return ok ? version : -1;
}

} // namespace

LoadedWidget LoadedWidget::load(const QString& path)
{
    const QFileInfo file(path);
    if (!file.exists())
        return failure(path, u"there is no such file."_s);
    if (!file.isFile() || !file.isReadable())
        return failure(path, u"it is not a readable file."_s);

    QPluginLoader loader(file.absoluteFilePath());
    // The metadata is read without loading the library, so a plug-in of another interface
    // never runs any of its code here.
    const QJsonObject meta = loader.metaData();
    if (meta.isEmpty())
        return failure(path, u"it is not a widget plug-in (%1)."_s.arg(loader.errorString()));
    const QString iid = meta.value(u"IID"_s).toString();
    const int version = interfaceVersion(iid);
    if (version < 0)
        return failure(path, u"it is not a widget plug-in (its interface is \"%1\")."_s.arg(iid));
    if (version != widgetInterfaceVersion) {
        return failure(path,
            u"it was built for widget interface version %1; this host speaks "
            "version %2."_s.arg(version)
                .arg(widgetInterfaceVersion));
    }
    const QJsonObject own = meta.value(u"MetaData"_s).toObject();
    const QString principalClass = own.value(u"PrincipalClass"_s).toString();
    if (principalClass.isEmpty())
        return failure(path, u"its metadata names no principal class."_s);

    QObject* root = loader.instance();
    if (!root)
        return failure(path, loader.errorString() + u'.');
    auto* plugin = qobject_cast<WidgetPlugin*>(root);
    if (!plugin)
        return failure(path, u"its root object does not offer the widget interface."_s);
    std::unique_ptr<WidgetViewController> controller = plugin->makeViewController(principalClass);
    if (!controller) {
        return failure(path, u"it cannot make its principal class \"%1\"."_s.arg(principalClass));
    }

    LoadedWidget result;
    result.controller = std::move(controller);
    result.principalClass = principalClass;
    result.displayName = own.value(u"DisplayName"_s).toString();
    return result;
}

QStringList widgetPluginCandidates(const QString& hostDirectory)
{
    const QDir host(hostDirectory);
    return {
        host.filePath(QStringLiteral(TICKERLY_WIDGET_PLUGIN_RELATIVE_DIR) + u'/' + pluginFileName),
        host.filePath(u"../lib/"_s + pluginFileName),
    };
}

QString defaultWidgetPluginPath(const QString& hostDirectory)
{
    const QStringList candidates = widgetPluginCandidates(hostDirectory);
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return QDir::cleanPath(candidate);
    }
    return QDir::cleanPath(candidates.constFirst());
}

} // namespace Tickerly::WidgetHost
