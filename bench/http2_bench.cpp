// 240 sources on one host (the channel feeds of a video site, the blogs of a blog platform), each
// answer delayed 200 ms. Over HTTP/2 with TLS the transfers share the host's connection; beside
// it, the same 240 over HTTP/1.1, six connections at a time, and the floor: one answer alone.
//
// The HTTP/2 side is nghttpx (Debian package nghttp2-proxy) with a throwaway certificate, in front
// of the delayed loopback server; http2_bench.sh installs it. Without it the HTTP/2 cases skip.

#include "platform/foundation/network/UrlSession.h"
#include "platform/foundation/network/UrlSessionTesting.h"
#include "testsupport/LoopbackServer.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>

using namespace Tickerly;
using namespace Tickerly::Foundation;
using namespace Tickerly::TestSupport;

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int sourceCount = 240;

TestSupport::LoopbackServer& backend()
{
    static TestSupport::LoopbackServer* server = [] {
        auto* s = new TestSupport::LoopbackServer(sourceCount + 16);
        for (int i = 0; i < sourceCount; ++i) {
            TestSupport::ScriptedReply reply;
            reply.body = "<rss version=\"2.0\"><channel><title>Channel " + QByteArray::number(i)
                + "</title></channel></rss>";
            reply.delayMs = 200;
            s->reply(u"/channel%1.xml"_s.arg(i), reply);
        }
        return s;
    }();
    return *server;
}

// nghttpx speaking HTTP/2 over TLS on a free loopback port, passing every request to the backend.
struct Http2Front {
    QTemporaryDir dir;
    QProcess process;
    int port = 0;

    bool start()
    {
        const QString nghttpx
            = QStandardPaths::findExecutable(u"nghttpx"_s, { u"/usr/sbin"_s, u"/usr/bin"_s });
        if (nghttpx.isEmpty())
            return false;
        const QString key = dir.filePath(u"key.pem"_s);
        const QString cert = dir.filePath(u"cert.pem"_s);
        QProcess openssl;
        openssl.setStandardOutputFile(QProcess::nullDevice());
        openssl.setStandardErrorFile(QProcess::nullDevice());
        openssl.start(u"openssl"_s,
            { u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-keyout"_s, key,
                u"-out"_s, cert, u"-days"_s, u"1"_s, u"-subj"_s, u"/CN=localhost"_s, u"-addext"_s,
                u"subjectAltName=DNS:localhost"_s });
        if (!openssl.waitForFinished(30'000) || openssl.exitCode() != 0)
            return false;
        {
            QTcpServer probe;
            if (!probe.listen(QHostAddress::LocalHost))
                return false;
            port = probe.serverPort();
        }
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(nghttpx,
            { u"--conf=/dev/null"_s, u"--frontend=127.0.0.1,%1"_s.arg(port),
                u"--backend=127.0.0.1,%1"_s.arg(backend().port()),
                u"--backend-connections-per-host=512"_s, u"--workers=1"_s, u"--no-ocsp"_s,
                u"--errorlog-file=/dev/null"_s, key, cert });
        QDeadlineTimer deadline(10'000);
        while (!deadline.hasExpired()) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, quint16(port));
            if (socket.waitForConnected(200)) {
                UrlSessionTesting::trustCertificates(cert);
                return true;
            }
            QThread::msleep(50);
        }
        return false;
    }
    ~Http2Front()
    {
        UrlSessionTesting::trustCertificates({});
        process.terminate();
        process.waitForFinished(5000);
    }
};

// Fetches `count` channels from `base`; false when any failed.
bool fetch(const QString& base, int count)
{
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0;
    bool ok = true;
    auto session = UrlSession::create();
    for (int i = 0; i < count; ++i) {
        session
            ->dataTask(UrlRequest(*Url::fromString(base + u"/channel%1.xml"_s.arg(i))),
                [&](std::optional<QByteArray> data, std::optional<UrlResponse> response,
                    std::optional<Error>) {
                    std::lock_guard lock(mutex);
                    ++done;
                    ok = ok && data && response && response->statusCode == 200;
                    finished.notify_all();
                })
            ->resume();
    }
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return done == count; });
    return ok;
}

void run(benchmark::State& state, const QString& base, int count)
{
    for (auto _ : state) {
        if (!fetch(base, count)) {
            state.SkipWithError("a transfer failed");
            break;
        }
        state.PauseTiming();
        UrlSessionTesting::closeIdleConnections(); // every round starts cold
        state.ResumeTiming();
    }
}

void BM_OneHostOverHttp2(benchmark::State& state)
{
    Http2Front front;
    if (!front.start()) {
        state.SkipWithError("no nghttpx (run http2_bench.sh)");
        return;
    }
    run(state, u"https://localhost:%1"_s.arg(front.port), int(state.range(0)));
}
BENCHMARK(BM_OneHostOverHttp2)
    ->ArgName("transfers")
    ->Arg(1)
    ->Arg(sourceCount)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_OneHostOverHttp1(benchmark::State& state)
{
    run(state, u"http://127.0.0.1:%1"_s.arg(backend().port()), int(state.range(0)));
}
BENCHMARK(BM_OneHostOverHttp1)
    ->ArgName("transfers")
    ->Arg(1)
    ->Arg(sourceCount)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
