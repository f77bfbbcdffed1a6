#pragma once

#include "platform/appkit/Namespace.h"
#include "platform/appkit/LayoutConstraint.h"
#include "tickerlyappkit_export.h"

#include <QMap>
#include <QString>

class QWidget;

namespace Tickerly::AppKit {

using LayoutViews = QMap<QString, QWidget*>;
using LayoutMetrics = QMap<QString, double>;

struct VisualFormatResult {
    LayoutConstraintList constraints;
    // Empty on success; otherwise what is wrong and where (nothing is made then).
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Makes the constraints a visual format string describes, over the named views:
//
//   format     := ("H:" | "V:")? ("|" connection)? view (connection view)* (connection "|")?
//   connection := "" | "-" | "-" number "-" | "-" metric "-" | "-(" predicates ")-"
//   view       := "[" name ("(" predicates ")")? "]"
//   predicates := predicate ("," predicate)*
//   predicate  := ("==" | "<=" | ">=")? (number | metric | view name) ("@" (number | metric))?
//
// "|" is the superview of the view next to it; a bare "-" is the standard spacing (8 between
// views, 20 to the superview); views written side by side ("[a][b]") touch. Horizontal
// formats relate leading and trailing edges and widths, vertical ones tops, bottoms and
// heights. The constraints are made, not added to any view. A malformed format, an unknown
// name or a "|" next to a view without a parent gives an error and no constraints.
TICKERLYAPPKIT_EXPORT VisualFormatResult constraintsWithVisualFormat(
    const QString& format, const LayoutViews& views, const LayoutMetrics& metrics = {});

} // namespace Tickerly::AppKit
