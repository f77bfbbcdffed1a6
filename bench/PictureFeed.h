#pragma once

// A loopback feed of twenty stories whose pictures are all of one kind, for the benchmarks that
// run a whole program over it.

#include "testsupport/LoopbackServer.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>

enum class PictureKind { Small, CameraPhoto, ProgressivePhoto };

inline constexpr int pictureStoryCount = 20;

inline QString picturePath(int story) { return QStringLiteral("/picture/%1.jpg").arg(story); }

// A 6000 by 4000 photo with grain, sequential as a camera writes it or progressive as sites'
// optimisers do (some 2.5 MB); or a 1024 by 1024 PNG of soft shades.
inline QByteArray picture(PictureKind kind)
{
    const bool photo = kind != PictureKind::Small;
    QImage image(photo ? 6000 : 1024, photo ? 4000 : 1024, QImage::Format_RGB32);
    QRandomGenerator noise(53);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = photo ? int(noise.bounded(24)) : 0;
            line[x] = qRgb((x / 24 + grain) & 0xFF, (y / 16 + grain) & 0xFF, (x + y) / 40 & 0xFF);
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, photo ? "JPEG" : "PNG");
    writer.setProgressiveScanWrite(kind == PictureKind::ProgressivePhoto);
    writer.setQuality(photo ? 60 : -1);
    writer.write(image);
    return bytes;
}

// Serves at "/feed" twenty stories of the last hours, each naming `bytes` in an enclosure.
inline void servePictureFeed(Tickerly::TestSupport::LoopbackServer& server, const QByteArray& bytes)
{
    Tickerly::TestSupport::ScriptedReply image = Tickerly::TestSupport::bodyReply(bytes);
    image.headers = { { "Content-Type", "image/jpeg" } };
    QByteArray feed = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Feed</title>";
    for (int i = 0; i < pictureStoryCount; ++i) {
        server.reply(picturePath(i), image);
        const QByteArray date = QDateTime::currentDateTimeUtc()
                                    .addSecs(-600 * (i + 1))
                                    .toString(Qt::RFC2822Date)
                                    .toUtf8();
        feed += "<item><title>Story " + QByteArray::number(i) + "</title><link>http://news.example/"
            + QByteArray::number(i) + "</link><pubDate>" + date + "</pubDate><enclosure url=\""
            + server.url(picturePath(i)).toUtf8() + "\" type=\"image/jpeg\"/></item>";
    }
    Tickerly::TestSupport::ScriptedReply reply
        = Tickerly::TestSupport::bodyReply(feed + "</channel></rss>");
    reply.headers = { { "Content-Type", "application/rss+xml" } };
    server.reply(QStringLiteral("/feed"), reply);
}

inline bool everyPictureAsked(const Tickerly::TestSupport::LoopbackServer& server)
{
    for (int i = 0; i < pictureStoryCount; ++i)
        if (server.requestCount(picturePath(i)) == 0)
            return false;
    return true;
}
