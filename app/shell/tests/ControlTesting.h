#pragma once

#include "app/Namespace.h"
#include "testsupport/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <memory>

namespace Tickerly::App {

// Helpers for driving the self-drawn controls with synthesised pointer events and sampling
// what they paint.
namespace ControlTesting {

inline bool activate(QWidget* window)
{
    window->activateWindow();
    return TestSupport::waitFor([&] { return window->isActiveWindow(); });
}

// A shown, active window with a white background holding `control` at `frame`.
inline std::unique_ptr<QWidget> hostInActiveWindow(QWidget* control, const QRect& frame)
{
    auto host = std::make_unique<QWidget>();
    host->setAutoFillBackground(true);
    QPalette palette = host->palette();
    palette.setColor(QPalette::Window, Qt::white);
    host->setPalette(palette);
    host->resize(frame.right() + 20, frame.bottom() + 20);
    control->setParent(host.get());
    control->setGeometry(frame);
    control->show();
    host->show();
    // A window that never became active would fail the test later, as a missing hover.
    EXPECT_TRUE(activate(host.get())) << "the host window never became active";
    return host;
}

inline void enter(QWidget* w, QPointF at)
{
    QEnterEvent event(at, w->mapTo(w->window(), at), w->mapToGlobal(at));
    QApplication::sendEvent(w, &event);
}

inline void leave(QWidget* w)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(w, &event);
}

inline void move(QWidget* w, QPointF at, Qt::MouseButtons held = Qt::NoButton)
{
    QMouseEvent event(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, held, {});
    QApplication::sendEvent(w, &event);
}

inline void press(QWidget* w, QPoint at) { QTest::mousePress(w, Qt::LeftButton, {}, at); }

inline void release(QWidget* w, QPoint at) { QTest::mouseRelease(w, Qt::LeftButton, {}, at); }

// The widget and its children painted over white at `scale` device pixels per point.
inline QImage render(QWidget* w, qreal scale = 1.0)
{
    QImage image(w->size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// A colour as eight-bit pixels hold it, so colours given in fractions compare with samples.
inline QColor opaque(const QColor& color) { return QColor(color.rgba()); }

// The colour of the device pixel under the point (x, y) given in points.
inline QColor at(const QImage& image, qreal x, qreal y)
{
    const qreal scale = image.devicePixelRatio();
    return image.pixelColor(int(x * scale), int(y * scale));
}

inline void saveScreenshot(const QImage& image, const QString& name)
{
    const QString dir = QStringLiteral(TICKERLY_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    image.save(dir + QStringLiteral("/") + name + QStringLiteral(".png"));
}

// How many pixels of the rectangle (in points) are (nearly) white.
inline int whitePixels(const QImage& image, const QRectF& inPoints)
{
    const qreal scale = image.devicePixelRatio();
    const QRect r((inPoints.topLeft() * scale).toPoint(), (inPoints.size() * scale).toSize());
    int count = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 240 && c.green() > 240 && c.blue() > 240;
        }
    return count;
}

} // namespace ControlTesting

} // namespace Tickerly::App

inline void PrintTo(const QColor& c, std::ostream* os)
{
    *os << "QColor(" << c.red() << ", " << c.green() << ", " << c.blue() << ", " << c.alpha()
        << ")";
}
