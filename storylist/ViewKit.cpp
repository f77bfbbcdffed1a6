#include "storylist/ViewKit.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace Tickerly::StoryList {

using namespace Tickerly::AppKit;
using namespace Qt::Literals::StringLiterals;

namespace {

// A borderless button that draws its image, centred and scaled down to fit, under its title.
class ImageBackedButton : public QPushButton {
public:
    ImageBackedButton(const QImage& image, QWidget* parent)
        : QPushButton(parent)
        , m_image(image)
    {
        setFlat(true);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        if (!m_image.isNull()) {
            const QSize fitted = m_image.size().boundedTo(size()).isValid()
                ? m_image.size().scaled(m_image.size().boundedTo(size()), Qt::KeepAspectRatio)
                : QSize();
            const QRect target(
                QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(target, m_image);
        }
        QStyleOptionButton option;
        initStyleOption(&option);
        painter.drawControl(QStyle::CE_PushButtonLabel, option);
    }

private:
    QImage m_image;
};

} // namespace

LayoutConstraintList constraints(QWidget* view, const std::optional<QString>& vertical,
    const std::optional<QString>& horizontal, const LayoutViews& views)
{
    LayoutConstraintList made;
    const auto make = [&](const QString& prefix, const std::optional<QString>& format) {
        if (!format)
            return;
        const VisualFormatResult result = constraintsWithVisualFormat(prefix + *format, views);
        if (!result.ok())
            qFatal("%s", qPrintable(result.error));
        made += result.constraints;
    };
    make(u"V:"_s, vertical);
    make(u"H:"_s, horizontal);
    AppKit::addConstraints(view, made);
    for (QWidget* v : views)
        AppKit::setTranslatesAutoresizingMaskIntoConstraints(v, false);
    return made;
}

LayoutConstraintRef constraint(QWidget* view, QWidget* item, LayoutAttribute attribute,
    LayoutRelation relation, QWidget* toItem, LayoutAttribute toAttribute, double multiplier,
    double constant, LayoutPriority priority)
{
    if (!item)
        qFatal("constraint: the first item must be a view");
    AppKit::setTranslatesAutoresizingMaskIntoConstraints(item, false);
    if (toItem)
        AppKit::setTranslatesAutoresizingMaskIntoConstraints(toItem, false);
    auto made = LayoutConstraint::create(
        item, attribute, relation, toItem, toAttribute, multiplier, constant);
    made->setPriority(priority);
    AppKit::addConstraint(view, made);
    return made;
}

void addSubviews(QWidget* view, const QList<QWidget*>& views)
{
    for (QWidget* v : views) {
        if (!v)
            continue;
        // A reparented view keeps its visibility as a child gets it: shown unless hidden.
        const bool hidden = v->isHidden() && v->testAttribute(Qt::WA_WState_ExplicitShowHide);
        v->setParent(view);
        v->setVisible(!hidden);
    }
}

std::shared_ptr<NSViewAnimation> animate(
    QWidget*, const std::function<void(AnimationContext&)>& changes)
{
    auto animation = std::make_shared<NSViewAnimation>();
    // The handler holds the object until the group ends, so callers need not keep it.
    AnimationContext::runAnimationGroup(changes, [animation] {
        const std::function<void()> completion = animation->completion();
        if (completion)
            completion();
    });
    return animation;
}

QLabel* initTextField(const QString& title, std::optional<QColor> textColor,
    std::optional<QFont> font, QWidget* parent)
{
    auto* field = new QLabel(parent);
    // Text from feeds and servers is never read as markup.
    field->setTextFormat(Qt::PlainText);
    field->setText(title);
    if (textColor) {
        QPalette palette = field->palette();
        palette.setColor(QPalette::WindowText, *textColor);
        palette.setColor(QPalette::Text, *textColor);
        field->setPalette(palette);
    }
    if (font)
        field->setFont(*font);
    field->setAlignment(Qt::AlignCenter);
    field->setAutoFillBackground(false);
    field->setFrameShape(QFrame::NoFrame);
    field->setTextInteractionFlags(Qt::NoTextInteraction);
    return field;
}

QPushButton* initButton(const QString& title, std::optional<QColor> textColor,
    std::optional<QColor>, ButtonCorners, std::optional<QImage> backImage, QWidget* parent)
{
    QPushButton* button
        = backImage ? new ImageBackedButton(*backImage, parent) : new QPushButton(parent);
    // A push button shows its text literally apart from '&', which would mark a shortcut.
    QString shown = title;
    button->setText(shown.replace(u'&', u"&&"_s));
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, textColor.value_or(QColor(Qt::white)));
    button->setPalette(palette);
    return button;
}

} // namespace Tickerly::StoryList
