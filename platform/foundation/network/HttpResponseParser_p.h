#pragma once

#include "platform/foundation/Namespace.h"
#include "platform/foundation/network/UrlRequest.h"
#include "tickerlyfoundation_export.h"

#include <QByteArrayView>

namespace Tickerly::Foundation {

// Reads the header lines of an HTTP response as the network library hands them over, one line
// at a time (status line, fields, the empty line; again for each interim or redirected answer).
// Server input: every line is accepted without failing, odd lines are skipped.
struct TICKERLYFOUNDATION_EXPORT HttpResponseParser {
    int statusCode = 0;
    HttpHeaderFields fields;
    bool complete = false; // the empty line after a final (non-1xx) status was seen

    void feedLine(QByteArrayView line);
};

} // namespace Tickerly::Foundation
