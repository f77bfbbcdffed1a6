#pragma once

// The phases of a refresh, timed from the debug lines the refresh engine and the story store
// write when asked for (categories tickerly.data.sync.phases and tickerly.data.stories): the
// benchmarks time a refresh as it runs, with nothing added to the programs for it.

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <vector>

namespace RefreshPhases {

enum Phase { DownloadsEnded, FeedsRead, Sorted, PutTogether, Written, PhaseCount };

// Notes, from any thread, when each phase of the refresh under way ended, in ms from start().
// One at a time, for the life of a benchmark.
class Recorder {
public:
    Recorder()
    {
        QLoggingCategory::setFilterRules(QStringLiteral(
            "tickerly.data.sync.phases.debug=true\ntickerly.data.stories.debug=true"));
        current() = this;
        m_previous = qInstallMessageHandler(&Recorder::handle);
    }
    ~Recorder()
    {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
        QLoggingCategory::setFilterRules(QString());
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void start()
    {
        m_start = now();
        for (auto& at : m_at)
            at = -1;
    }
    // Since start(), or a negative number when the phase has not ended.
    double ms(Phase phase) const
    {
        const qint64 at = m_at[phase];
        return at < 0 ? -1 : double(at - m_start) / 1e6;
    }
    double msNow() const { return double(now() - m_start) / 1e6; }

private:
    static qint64 now()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    static std::atomic<Recorder*>& current()
    {
        static std::atomic<Recorder*> recorder = nullptr;
        return recorder;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        Recorder* self = current();
        if (type == QtDebugMsg && self && context.category) {
            const QByteArray category(context.category);
            const qint64 at = now();
            if (message.startsWith(u"downloads ended"))
                self->m_at[DownloadsEnded] = at;
            else if (message == u"feeds read")
                self->m_at[FeedsRead] = at;
            else if (message == u"stories sorted")
                self->m_at[Sorted] = at;
            else if (message == u"stories put together")
                self->m_at[PutTogether] = at;
            else if (message == u"stories written")
                self->m_at[Written] = at;
            if (category.startsWith("tickerly.data.sync.phases")
                || category == "tickerly.data.stories")
                return;
        }
        if (self && self->m_previous)
            self->m_previous(type, context, message);
    }

    QtMessageHandler m_previous = nullptr;
    qint64 m_start = 0;
    std::array<std::atomic<qint64>, PhaseCount> m_at {};
};

inline double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace RefreshPhases
