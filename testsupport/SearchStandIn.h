#pragma once

#include "testsupport/Namespace.h"
#include "data/discovery/Bing.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <functional>

namespace Tickerly::TestSupport {

// A loopback stand-in of the web-search endpoint: answers "/Bing/Search/Web" with whatever
// `answer` makes of the search words, and reads back the words of every search it received.
class SearchStandIn {
public:
    explicit SearchStandIn(TestSupport::LoopbackServer& server)
        : m_server(server)
    {
        Foundation::UrlSessionTesting::mapToLoopback(
            QStringLiteral("https"), Data::Bing::searchHost(), 443, server.port());
    }

    // The key in its stored form, where the deployment puts it.
    static void installKey(const QByteArray& storedKey)
    {
        const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/tickerly");
        QDir().mkpath(dir);
        QFile file(dir + QStringLiteral("/search-key"));
        file.open(QIODevice::WriteOnly);
        file.write(storedKey + "\n");
    }

    void answer(std::function<QByteArray(const QString& words)> fn)
    {
        m_server.replyWith(
            QStringLiteral("/Bing/Search/Web"), [fn](const TestSupport::RecordedRequest& request) {
                TestSupport::ScriptedReply reply;
                reply.headers = { { "Content-Type", "application/json" } };
                reply.body = fn(wordsOf(request.path));
                return reply;
            });
    }

    // {"d":{"results":[{"Url":...}, ...]}}
    static QByteArray results(const QStringList& urls)
    {
        QByteArray items;
        for (const QString& url : urls)
            items += (items.isEmpty() ? "" : ",") + QByteArray("{\"Title\":\"x\",\"Url\":\"")
                + url.toUtf8() + "\"}";
        return "{\"d\":{\"results\":[" + items + "],\"__next\":\"x\"}}";
    }

    // The search words of a request path: the decoded "Query" item without its quotes.
    static QString wordsOf(const QByteArray& path)
    {
        const QString text = QString::fromLatin1(path);
        const qsizetype at = text.indexOf(QStringLiteral("&Query="));
        if (at < 0)
            return {};
        QString words = Foundation::Url::percentDecoded(text.mid(at + 7));
        if (words.startsWith(u'\'') && words.endsWith(u'\'') && words.size() >= 2)
            words = words.mid(1, words.size() - 2);
        return words;
    }

    QStringList searches() const
    {
        QStringList out;
        for (const auto& request : m_server.requests()) {
            if (request.path.startsWith("/Bing/Search/Web"))
                out.append(wordsOf(request.path));
        }
        return out;
    }

private:
    TestSupport::LoopbackServer& m_server;
};

} // namespace Tickerly::TestSupport
