#pragma once

#include "testsupport/Namespace.h"

#include <QByteArray>
#include <QtGlobal>

#include <initializer_list>
#include <map>
#include <string>
#include <utility>

namespace Tickerly::TestSupport {

// Sets the locale variables (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) for the length of one scope:
// those named get the given values, the others are unset; the old values come back afterwards.
class LocaleEnvironment {
public:
    explicit LocaleEnvironment(std::initializer_list<std::pair<const char*, const char*>> values)
    {
        for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" }) {
            if (qEnvironmentVariableIsSet(name))
                m_saved[name] = qgetenv(name);
            qunsetenv(name);
        }
        for (const auto& [name, value] : values)
            qputenv(name, value);
    }
    ~LocaleEnvironment()
    {
        for (const char* name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" }) {
            const auto it = m_saved.find(name);
            if (it != m_saved.end())
                qputenv(name, it->second);
            else
                qunsetenv(name);
        }
    }
    LocaleEnvironment(const LocaleEnvironment&) = delete;
    LocaleEnvironment& operator=(const LocaleEnvironment&) = delete;

private:
    std::map<std::string, QByteArray> m_saved;
};

} // namespace Tickerly::TestSupport
