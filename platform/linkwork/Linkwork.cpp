#include "platform/linkwork/Result.h"

using namespace Qt::Literals::StringLiterals;

namespace Linkwork {

Error noValueError()
{
    return Error::withMessage(
        u"LinkworkErrorDomain"_s, NoValueErrorCode, u"The mapping gave no value."_s);
}

} // namespace Linkwork
