#pragma once

#include "storylist/Namespace.h"

#include <QByteArray>
#include <QLocale>
#include <QtGlobal>

#include <ctime>
#include <optional>

namespace Tickerly::StoryList {

namespace RowTest {

// Pins the user's locale to US English and the time zone to Berlin for one scope. Rows make
// their date formatters once per process, so every test that shows a date pins the same pair.
class PinnedLocale {
public:
    PinnedLocale()
        : m_locale(QLocale())
    {
        if (qEnvironmentVariableIsSet("TZ"))
            m_tz = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    ~PinnedLocale()
    {
        QLocale::setDefault(m_locale);
        if (m_tz)
            qputenv("TZ", *m_tz);
        else
            qunsetenv("TZ");
        tzset();
    }
    PinnedLocale(const PinnedLocale&) = delete;
    PinnedLocale& operator=(const PinnedLocale&) = delete;

private:
    QLocale m_locale;
    std::optional<QByteArray> m_tz;
};

} // namespace RowTest

} // namespace Tickerly::StoryList
