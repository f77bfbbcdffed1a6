#include "data/sync/MobileUserAgent.h"

namespace Tickerly::Data {

using namespace Qt::Literals::StringLiterals;

const QString& iOSUserAgentString()
{
    static const QString text
        = u"Mozilla/5.0(iPhone;U;CPUiPhoneOS4_0likeMacOSX;en-us)AppleWebKit/532.9(KHTML,likeGecko)Version/4.0.5Mobile/8A293Safari/6531.22.7"_s;
    return text;
}

} // namespace Tickerly::Data
