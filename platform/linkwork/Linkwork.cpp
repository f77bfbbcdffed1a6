#include "platform/linkwork/Result.h"

namespace Tickerly::Linkwork {

using namespace Tickerly::Foundation;

using namespace Qt::Literals::StringLiterals;

Error noValueError()
{
    return Error::withMessage(
        u"LinkworkErrorDomain"_s, NoValueErrorCode, u"The mapping gave no value."_s);
}

} // namespace Tickerly::Linkwork
