#include "data/sync/UrlSessionExtensions.h"

#include "data/sync/MobileUserAgent.h"
#include "data/sync/UrlLoadingDecoders_p.h"
#include "platform/foundation/images/ImageDecoding.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>
#include <QSet>
#include <QStringDecoder>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <mutex>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {
Q_LOGGING_CATEGORY(lcPictures, "tickerly.pictures")
}

namespace UrlLoadingDecoders {

std::optional<QString> text(const QByteArray& bytes)
{
    // FIXME: use the shared text reading of the string utilities once it is in the library.
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString decoded = utf8(bytes);
    if (!utf8.hasError())
        return decoded;
    // Pages in an 8-bit encoding stay readable.
    return QString::fromLatin1(bytes);
}

std::optional<nlohmann::json> dictionary(const QByteArray& bytes)
{
    nlohmann::json value = nlohmann::json::parse(bytes.cbegin(), bytes.cend(), nullptr, false);
    if (value.is_discarded() || !value.is_object())
        return std::nullopt;
    return value;
}

std::optional<QImage> image(const QByteArray& bytes, qreal pixelRatio, ImageRefusal* refusal)
{
    // A ratio no screen has must not let a picture grow past what a row could draw.
    const qreal ratio = std::isfinite(pixelRatio) ? std::clamp<qreal>(pixelRatio, 1, 4) : 1;
    const QSize cover(int(std::ceil(storyPictureSize.width() * ratio)),
        int(std::ceil(storyPictureSize.height() * ratio)));
    // Held whole only for the moment it is scaled, one picture at a time on a session's queue.
    constexpr qint64 maxWholeStoryPicturePixels = 2048 * 2048;
    QImage decoded = decodeImage(
        bytes, { .cover = cover, .maxWholePixels = maxWholeStoryPicturePixels }, refusal);
    if (decoded.isNull())
        return std::nullopt;
    // A row shows the middle of the picture cut to the row's shape; the rest is never drawn, and
    // a long strip read whole would keep all of it. A picture no larger than the row is kept.
    const QSize shown = cover.scaled(decoded.size(), Qt::KeepAspectRatio);
    if (shown.isEmpty() || shown == decoded.size()
        || qint64(decoded.width()) * decoded.height() <= qint64(cover.width()) * cover.height())
        return decoded;
    return decoded.copy(QRect(
        QPoint((decoded.width() - shown.width()) / 2, (decoded.height() - shown.height()) / 2),
        shown));
}

std::optional<QImage> icon(const QByteArray& bytes, ImageRefusal* refusal)
{
    // Icons are stored 96 points square, cut from the middle of the picture; twice that keeps
    // the scaling smooth. Pictures of ordinary icon sizes are read whole, as before; a larger
    // one that cannot be read at a smaller size is no icon.
    constexpr int drawn = 2 * 96;
    QImage decoded = decodeImage(bytes,
        { .cover = QSize(drawn, drawn),
            .readWholeUpTo = maxWholePixelsForSmallUse,
            .maxWholePixels = maxWholePixelsForSmallUse },
        refusal);
    if (decoded.isNull())
        return std::nullopt;
    return decoded;
}

} // namespace UrlLoadingDecoders

namespace {

std::shared_ptr<UrlSessionDataTask> start(UrlSession& session, UrlRequest request,
    std::function<void(std::optional<QByteArray>)> completion)
{
    auto task = session.dataTask(request,
        [completion = std::move(completion)](
            std::optional<QByteArray> data, std::optional<UrlResponse>, std::optional<Error>) {
            if (completion)
                completion(std::move(data));
        });
    task->resume();
    return task;
}

UrlRequest pageRequest(SiteVersion version, const Url& url, qint64 bodyLimit)
{
    UrlRequest request(url);
    request.maximumBodySize = bodyLimit;
    if (version == SiteVersion::Mobile)
        request.setValue(iOSUserAgentString(), u"User-Agent"_s);
    return request;
}

// The most pixels a point of any screen holds. The screens are read on the GUI thread only; other
// threads take what was last read there, or a high-density screen's ratio before that.
qreal screenPixelRatio()
{
    static std::atomic<double> lastRead { 2.0 };
    const auto* app = qobject_cast<const QGuiApplication*>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return lastRead.load(std::memory_order_relaxed);
    double most = 1.0;
    for (const QScreen* screen : QGuiApplication::screens())
        most = std::max(most, double(screen->devicePixelRatio()));
    lastRead.store(most, std::memory_order_relaxed);
    return most;
}

// The story pictures whose bytes the process holds at once: downloading, or downloaded and
// waiting to be decoded. Over a fast network every answer would otherwise be in before the first
// is decoded (twenty camera photos are some 60 MB); the loads past the first few wait unstarted,
// in the order they were asked for. Thread-safe.
class PictureTurns {
public:
    static constexpr int maximumHeld = 4;

    static PictureTurns& shared()
    {
        // Never destroyed: session queues still hand turns back while the process ends.
        static auto& turns = *new PictureTurns;
        return turns;
    }

    // Where a load stands. Its completion moves it to Done, and hands the turn back when it had
    // one; a waiting load whose completion came first (it was cancelled) gets no turn.
    enum Stage { Waiting, Started, Done };
    using Progress = std::atomic<Stage>;

    // Resumes `task` now or once an earlier picture is decoded; `stage` is Started first.
    void start(std::shared_ptr<UrlSessionDataTask> task, std::shared_ptr<Progress> stage)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_held >= maximumHeld) {
                m_waiting.push_back({ std::move(task), std::move(stage) });
                return;
            }
            ++m_held;
            *stage = Started;
        }
        task->resume();
    }

    // Called by every load's completion.
    void ended(Progress& stage)
    {
        if (stage.exchange(Done) == Started)
            finished();
    }

private:
    // A started picture's bytes are gone: the next waiting load that has not ended starts.
    void finished()
    {
        WaitingLoad next;
        {
            std::lock_guard lock(m_mutex);
            --m_held;
            while (!m_waiting.empty() && !next.task) {
                next = std::move(m_waiting.front());
                m_waiting.pop_front();
                Stage waiting = Waiting;
                if (!next.stage->compare_exchange_strong(waiting, Started))
                    next = {};
            }
            if (!next.task)
                return;
            ++m_held;
        }
        next.task->resume();
    }

    struct WaitingLoad {
        std::shared_ptr<UrlSessionDataTask> task;
        std::shared_ptr<Progress> stage;
    };
    std::mutex m_mutex;
    int m_held = 0;
    std::deque<WaitingLoad> m_waiting;
};

// A picture refused for its size is said once per address: a list shows the same ones at every
// refresh.
void noteRefusedForSize(const Url& url)
{
    struct Told {
        std::mutex mutex;
        QSet<QString> addresses;
    };
    // Never destroyed: pictures may still be decoded on a worker while the process ends.
    static auto& told = *new Told;
    const QString address = url.absoluteString();
    {
        std::lock_guard lock(told.mutex);
        if (told.addresses.size() >= 4096)
            told.addresses.clear();
        if (told.addresses.contains(address))
            return;
        told.addresses.insert(address);
    }
    qCWarning(lcPictures) << "the picture at" << address << "costs too much to read; not shown";
}

// Story pictures are photos of megabytes and take turns; icons are small, and a sweep of many
// sources loads them all at once.
enum class PictureTurn { Taken, None };

std::shared_ptr<UrlSessionDataTask> loadPicture(UrlSession& session, const Url& fromURL,
    std::function<std::optional<QImage>(const QByteArray&, ImageRefusal*)> decode,
    std::function<void(std::optional<QImage>)> completion, PictureTurn turn)
{
    auto stage = std::make_shared<PictureTurns::Progress>(PictureTurns::Waiting);
    auto task
        = session.dataTask(pageRequest(SiteVersion::Desktop, fromURL, UrlRequest::imageBodyLimit),
            [fromURL, stage, decode = std::move(decode), completion = std::move(completion)](
                std::optional<QByteArray> data, std::optional<UrlResponse>, std::optional<Error>) {
                std::optional<QImage> image;
                if (data) {
                    // The bytes go as soon as they are decoded, before the next picture starts.
                    const QByteArray bytes = std::move(*data);
                    data.reset();
                    ImageRefusal refusal = ImageRefusal::None;
                    image = decode(bytes, &refusal);
                    if (refusal == ImageRefusal::TooLarge)
                        noteRefusedForSize(fromURL);
                }
                if (completion)
                    completion(std::move(image));
                PictureTurns::shared().ended(*stage);
            });
    if (turn == PictureTurn::Taken)
        PictureTurns::shared().start(task, std::move(stage));
    else
        task->resume();
    return task;
}

} // namespace

std::shared_ptr<UrlSessionDataTask> loadData(UrlSession& session, SiteVersion version,
    const Url& url, std::function<void(std::optional<QByteArray>)> completion)
{
    return start(
        session, pageRequest(version, url, UrlRequest::pageBodyLimit), std::move(completion));
}

std::shared_ptr<UrlSessionDataTask> loadData(
    UrlSession& session, const Url& url, std::function<void(std::optional<QByteArray>)> completion)
{
    return loadData(session, SiteVersion::Mobile, url, std::move(completion));
}

std::shared_ptr<UrlSessionDataTask> loadFeedOrPage(
    UrlSession& session, const Url& url, std::function<void(std::optional<QByteArray>)> completion)
{
    return start(session, pageRequest(SiteVersion::Desktop, url, UrlRequest::feedBodyLimit),
        std::move(completion));
}

std::shared_ptr<UrlSessionDataTask> loadSource(UrlSession& session, SiteVersion version,
    const Url& url, std::function<void(std::optional<QString>)> completion)
{
    if (url.absoluteString().contains(u".mp4"_s)) {
        if (completion)
            completion(std::nullopt);
        return nullptr;
    }
    return loadData(session, version, url,
        [completion = std::move(completion)](std::optional<QByteArray> data) {
            if (completion)
                completion(data ? UrlLoadingDecoders::text(*data) : std::nullopt);
        });
}

std::shared_ptr<UrlSessionDataTask> loadJSON(UrlSession& session, const Url& url,
    std::function<void(std::optional<nlohmann::json>)> completion)
{
    return start(session, pageRequest(SiteVersion::Mobile, url, UrlRequest::jsonBodyLimit),
        [completion = std::move(completion)](std::optional<QByteArray> data) {
            if (completion)
                completion(data ? UrlLoadingDecoders::dictionary(*data) : std::nullopt);
        });
}

std::shared_ptr<UrlSessionDataTask> loadImage(
    UrlSession& session, const Url& fromURL, std::function<void(std::optional<QImage>)> completion)
{
    const qreal ratio = screenPixelRatio();
    return loadPicture(
        session, fromURL,
        [ratio](const QByteArray& bytes, ImageRefusal* refusal) {
            return UrlLoadingDecoders::image(bytes, ratio, refusal);
        },
        std::move(completion), PictureTurn::Taken);
}

std::shared_ptr<UrlSessionDataTask> loadIcon(
    UrlSession& session, const Url& fromURL, std::function<void(std::optional<QImage>)> completion)
{
    return loadPicture(
        session, fromURL,
        [](const QByteArray& bytes, ImageRefusal* refusal) {
            return UrlLoadingDecoders::icon(bytes, refusal);
        },
        std::move(completion), PictureTurn::None);
}

} // namespace Tickerly::Data
