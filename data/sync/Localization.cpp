#include "data/sync/Localization.h"

#include "platform/foundation/base/Bundle.h"

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

QString operator~(const QString& key)
{
    const Bundle bundle = Bundle::mainBundle();
    QString table;
    if (const auto info = bundle.infoDictionary()) {
        const QVariant name = info->value(u"Localization file"_s);
        if (name.typeId() == QMetaType::QString)
            table = name.toString();
    }
    return bundle.localizedString(key, QString(), table);
}

} // namespace Tickerly::Data
