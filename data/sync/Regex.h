#pragma once

#include "data/Namespace.h"

#include <QList>
#include <QString>
#include <QStringView>

#include <unicode/uversion.h>

#include <memory>

U_NAMESPACE_BEGIN
class RegexPattern;
U_NAMESPACE_END

namespace Tickerly::Data {

// ICU regular expressions over UTF-16 text, for the text utilities of this library.
//
// Every pattern is a fixed text of the program: each (pattern, case option) is compiled once
// per process and shared between threads (a compiled ICU pattern is immutable). A pattern that
// does not compile is a programming error and stops the process. Offsets are UTF-16 units;
// unpaired surrogates are matched as code points.
class Regex {
public:
    struct Match {
        qsizetype start = 0;
        qsizetype end = 0;
    };

    Regex(const QString& pattern, Qt::CaseSensitivity cs);

    // The first match inside [from, to) of `text` (to < 0: the end), or a match with start -1.
    Match firstMatch(QStringView text, qsizetype from = 0, qsizetype to = -1) const;

    // The match that starts exactly at `from` and ends by `to`, or a match with start -1.
    Match matchAt(QStringView text, qsizetype from, qsizetype to) const;

    // Every match, left to right, not overlapping.
    QList<Match> allMatches(QStringView text) const;

private:
    std::shared_ptr<const icu::RegexPattern> m_pattern;
};

} // namespace Tickerly::Data
