#include "storylist/StoryShareServices.h"

#include "data/discovery/ShareLinks.h"
#include "data/model/NewsStory.h"
#include "platform/appkit/SharingService.h"
#include "platform/appkit/Workspace.h"
#include "storylist/RowStyle.h"

#include <QPainter>
#include <QUrl>

namespace Tickerly::StoryList {

using namespace Tickerly::Foundation;
using namespace Tickerly::AppKit;
using namespace Tickerly::Data;
using namespace Qt::Literals::StringLiterals;

namespace {

std::optional<Url> urlOf(const QVariant& item)
{
    if (item.metaType() != QMetaType::fromType<QUrl>())
        return std::nullopt;
    return Url::fromString(item.toUrl().toString(QUrl::FullyEncoded));
}

// The story that share items stand for: the text as headline, the last address as link and an
// address before it as image link.
std::shared_ptr<NewsStory> storyFromItems(const QVariantList& items)
{
    std::optional<QString> text;
    QList<Url> urls;
    for (const QVariant& item : items) {
        if (item.metaType() == QMetaType::fromType<QString>() && !text)
            text = item.toString();
        else if (const auto url = urlOf(item))
            urls.append(*url);
    }
    if (urls.isEmpty())
        return nullptr;
    auto story
        = std::make_shared<NewsStory>(text, std::nullopt, urls.last(), std::nullopt, nullptr);
    if (urls.size() > 1)
        story->setImageLink(urls.first());
    return story;
}

std::shared_ptr<const SharingService> pageService(
    const QString& title, const QString& glyph, std::optional<Url> (*page)(const NewsStory&))
{
    return std::make_shared<SharingService>(
        title, menuGlyph(glyph),
        // A service whose page cannot be built (no identifier of the maker's there) is left out.
        [page](const QVariantList& items) {
            const auto story = storyFromItems(items);
            return story && page(*story);
        },
        [page](const QVariantList& items) {
            if (const auto story = storyFromItems(items)) {
                if (const auto url = page(*story))
                    Workspace::sharedWorkspace().openURL(*url);
            }
        });
}

} // namespace

QImage menuGlyph(const QString& name)
{
    QImage image = RowStyle::drawnGlyph(name);
    if (image.isNull())
        return image;
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(), image.deviceIndependentSize()), RowStyle::grayTextColor());
    return image;
}

void registerStoryShareServices()
{
    static const bool registered = [] {
        SharingService::registerService(SharingService::mailService(menuGlyph(u"share mail"_s)));
        SharingService::registerService(
            pageService(u"Twitter"_s, u"twitter icon"_s, twitterShareURL));
        SharingService::registerService(
            pageService(u"Facebook"_s, u"facebook icon"_s, facebookShareURL));
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace Tickerly::StoryList
