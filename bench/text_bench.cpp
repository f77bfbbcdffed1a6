// Text cleaning and date reading, per feed item and over whole pages.

#include "data/discovery/FeedLinkRules.h"
#include "data/sync/DateParser.h"
#include "data/sync/HTMLEntities.h"
#include "data/sync/StringExtensions.h"

#include <benchmark/benchmark.h>

using namespace Tickerly::Foundation;
using namespace Tickerly::Data;

using namespace Qt::Literals::StringLiterals;

namespace {

QString page()
{
    return u"<p>Caf&eacute; &amp; <b>news</b> &#8217;quoted&#8217; <img src=\"https://e.com/i.png\"></p>\n"_s
        .repeated(10000);
}

void unescape(benchmark::State& state)
{
    const QString text = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(gtm_stringByUnescapingFromHTML(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(unescape);

void fixEncodings(benchmark::State& state)
{
    const QString text = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(fixHTMLEncodings(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(fixEncodings);

void removeTags(benchmark::State& state)
{
    const QString text = page();
    for (auto _ : state)
        benchmark::DoNotOptimize(removingTags(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(removeTags);

void imageLinkOfPage(benchmark::State& state)
{
    const QString text = page() + u"<img src=\"http://e.com/last.jpg\">"_s;
    for (auto _ : state)
        benchmark::DoNotOptimize(getImageLink(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(imageLinkOfPage);

void dateReadFirstAttempt(benchmark::State& state)
{
    DateParser parser;
    for (auto _ : state)
        benchmark::DoNotOptimize(parser.parseDate(u"Tue, 19 Oct 2004 11:08:56 -0400"_s));
}
BENCHMARK(dateReadFirstAttempt);

void dateReadIsoOffset(benchmark::State& state)
{
    DateParser parser;
    for (auto _ : state)
        benchmark::DoNotOptimize(parser.parseDate(u"2009-12-08T16:59:02.544-08:00"_s));
}
BENCHMARK(dateReadIsoOffset);

void dateUnreadable(benchmark::State& state)
{
    DateParser parser;
    for (auto _ : state)
        benchmark::DoNotOptimize(parser.parseDate(u"sometime last week"_s));
}
BENCHMARK(dateUnreadable);

// A page that names no feed: every stage of the feed link search reads all of it.
void feedLinkOfPageWithoutFeed(benchmark::State& state)
{
    const QString text = page()
        + u"<a href='/about'>About</a> <a href=\"http://e.com/story.html\">x</a>\n"_s.repeated(
            2000);
    const Url from = *Url::fromString(u"http://e.com/"_s);
    for (auto _ : state)
        benchmark::DoNotOptimize(FeedLinkRules::findRssLink(text, from));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(feedLinkOfPageWithoutFeed);

// One long quoted address full of "rss" and no feed extension: the worst backtracking of the
// quoted-address patterns, bounded by the pattern engine's time limit.
void feedLinkOfHostilePage(benchmark::State& state)
{
    const QString text
        = u"'http://e.com/"_s + u"rss/"_s.repeated(static_cast<qsizetype>(state.range(0))) + u"'"_s;
    const Url from = *Url::fromString(u"http://e.com/"_s);
    for (auto _ : state)
        benchmark::DoNotOptimize(FeedLinkRules::findRssLink(text, from));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(feedLinkOfHostilePage)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Megabytes of unmatched tag openers and ampersands: the cleaning stays one pass, its time
// growing with the length (the argument, in MiB), not with its square.
void cleanHostileText(benchmark::State& state)
{
    const qsizetype length = state.range(0) * 1024 * 1024;
    const QString opens(length, u'<');
    const QString amps(length, u'&');
    for (auto _ : state) {
        benchmark::DoNotOptimize(removingTags(opens));
        benchmark::DoNotOptimize(gtm_stringByUnescapingFromHTML(amps));
        benchmark::DoNotOptimize(fixHTMLEncodings(amps));
    }
    state.SetBytesProcessed(state.iterations() * length * 3 * 2);
}
BENCHMARK(cleanHostileText)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
