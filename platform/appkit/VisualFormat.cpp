#include "platform/appkit/VisualFormat.h"

#include <QWidget>

#include <optional>
#include <vector>

namespace Tickerly::AppKit {

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr double kStandardSpacing = 8.0;
constexpr double kStandardSuperviewSpacing = 20.0;

struct Predicate {
    LayoutRelation relation = LayoutRelation::Equal;
    double constant = 0;
    QString viewName; // set when the predicate names another view
    LayoutPriority priority = LayoutPriorities::Required;
};

struct Connection {
    bool present = false; // false: views written side by side, touching
    bool standard = false;
    std::vector<Predicate> predicates;
};

struct ViewSpec {
    QString name;
    QWidget* view = nullptr;
    std::vector<Predicate> predicates;
};

class Parser {
public:
    Parser(const QString& text, const LayoutViews& views, const LayoutMetrics& metrics)
        : m_text(text)
        , m_views(views)
        , m_metrics(metrics)
    {
    }

    VisualFormatResult run()
    {
        VisualFormatResult result;
        if (!parse()) {
            result.error = u"Unable to parse visual format \"%1\" at position %2: %3"_s.arg(
                m_text, QString::number(m_pos), m_error);
            return result;
        }
        result.constraints = std::move(m_made);
        return result;
    }

private:
    bool fail(const QString& why)
    {
        if (m_error.isEmpty())
            m_error = why;
        return false;
    }

    QChar peek() const { return m_pos < m_text.size() ? m_text.at(m_pos) : QChar(); }
    bool atEnd() const { return m_pos >= m_text.size(); }
    bool accept(QChar c)
    {
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }
    bool expect(QChar c)
    {
        if (accept(c))
            return true;
        return fail(u"expected '%1'"_s.arg(c));
    }

    static bool isNameStart(QChar c) { return c.isLetter() || c == u'_'; }
    static bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

    std::optional<QString> name()
    {
        if (!isNameStart(peek()))
            return std::nullopt;
        const qsizetype start = m_pos;
        while (isNameChar(peek()))
            ++m_pos;
        return m_text.mid(start, m_pos - start);
    }

    std::optional<double> number(bool allowSign)
    {
        const qsizetype start = m_pos;
        if (allowSign && (peek() == u'-' || peek() == u'+'))
            ++m_pos;
        bool digits = false;
        while (peek().isDigit()) {
            ++m_pos;
            digits = true;
        }
        if (peek() == u'.') {
            ++m_pos;
            while (peek().isDigit()) {
                ++m_pos;
                digits = true;
            }
        }
        if (!digits) {
            m_pos = start;
            return std::nullopt;
        }
        bool ok = false;
        const double value = m_text.mid(start, m_pos - start).toDouble(&ok);
        if (!ok) {
            m_pos = start;
            return std::nullopt;
        }
        return value;
    }

    // A number or a metric name.
    std::optional<double> constant(bool allowSign)
    {
        if (auto n = number(allowSign))
            return n;
        const qsizetype start = m_pos;
        if (auto metric = name()) {
            auto it = m_metrics.find(*metric);
            if (it != m_metrics.end())
                return *it;
            m_pos = start;
        }
        return std::nullopt;
    }

    bool predicate(Predicate& p, bool allowViews)
    {
        if (accept(u'=')) {
            if (!expect(u'='))
                return false;
            p.relation = LayoutRelation::Equal;
        } else if (accept(u'<')) {
            if (!expect(u'='))
                return false;
            p.relation = LayoutRelation::LessThanOrEqual;
        } else if (accept(u'>')) {
            if (!expect(u'='))
                return false;
            p.relation = LayoutRelation::GreaterThanOrEqual;
        }
        if (auto c = constant(true)) {
            p.constant = *c;
        } else {
            const qsizetype start = m_pos;
            auto viewName = name();
            if (!viewName)
                return fail(u"expected a number, a metric or a view name"_s);
            if (!allowViews) {
                m_pos = start;
                return fail(u"unknown metric '%1'"_s.arg(*viewName));
            }
            if (!m_views.contains(*viewName)) {
                m_pos = start;
                return fail(u"unknown view or metric '%1'"_s.arg(*viewName));
            }
            p.viewName = *viewName;
        }
        if (accept(u'@')) {
            auto priority = constant(false);
            if (!priority)
                return fail(u"expected a priority"_s);
            if (*priority <= 0 || *priority > LayoutPriorities::Required)
                return fail(u"a priority lies between 1 and 1000"_s);
            p.priority = static_cast<LayoutPriority>(*priority);
        }
        return true;
    }

    bool predicateList(std::vector<Predicate>& list, bool allowViews)
    {
        if (!expect(u'('))
            return false;
        do {
            Predicate p;
            if (!predicate(p, allowViews))
                return false;
            list.push_back(p);
        } while (accept(u','));
        return expect(u')');
    }

    // What follows a view or a superview bar: nothing, "-", "-N-", "-metric-" or "-(...)-".
    bool connection(Connection& c)
    {
        if (!accept(u'-'))
            return true;
        c.present = true;
        if (peek() == u'(') {
            if (!predicateList(c.predicates, false))
                return false;
            return expect(u'-');
        }
        if (auto value = constant(false)) {
            c.predicates.push_back(
                Predicate { LayoutRelation::Equal, *value, {}, LayoutPriorities::Required });
            return expect(u'-');
        }
        if (peek() == u'[' || peek() == u'|') {
            c.standard = true;
            return true;
        }
        return fail(u"expected a spacing, '[' or '|' after '-'"_s);
    }

    bool view(ViewSpec& v)
    {
        if (!expect(u'['))
            return false;
        const qsizetype start = m_pos;
        auto viewName = name();
        if (!viewName)
            return fail(u"expected a view name"_s);
        auto it = m_views.find(*viewName);
        if (it == m_views.end() || !*it) {
            m_pos = start;
            return fail(u"no view is named '%1' in the views map"_s.arg(*viewName));
        }
        v.name = *viewName;
        v.view = *it;
        if (peek() == u'(' && !predicateList(v.predicates, true))
            return false;
        return expect(u']');
    }

    void relate(QWidget* first, LayoutAttribute firstAttribute, QWidget* second,
        LayoutAttribute secondAttribute, const Predicate& p)
    {
        auto c = LayoutConstraint::create(
            first, firstAttribute, p.relation, second, secondAttribute, 1.0, p.constant);
        c->setPriority(p.priority);
        m_made.append(c);
    }

    // "[a]-c-[b]": b.leading relation a.trailing + c, for each predicate of the connection.
    void connect(QWidget* before, LayoutAttribute beforeEdge, QWidget* after,
        LayoutAttribute afterEdge, const Connection& c, double standard)
    {
        if (!c.present || c.standard) {
            Predicate p;
            p.constant = c.standard ? standard : 0.0;
            relate(after, afterEdge, before, beforeEdge, p);
            return;
        }
        for (const Predicate& p : c.predicates)
            relate(after, afterEdge, before, beforeEdge, p);
    }

    bool parse()
    {
        bool vertical = false;
        if (m_text.startsWith(u"V:"_s)) {
            vertical = true;
            m_pos = 2;
        } else if (m_text.startsWith(u"H:"_s)) {
            m_pos = 2;
        }
        const LayoutAttribute leading = vertical ? LayoutAttribute::Top : LayoutAttribute::Leading;
        const LayoutAttribute trailing
            = vertical ? LayoutAttribute::Bottom : LayoutAttribute::Trailing;
        const LayoutAttribute size = vertical ? LayoutAttribute::Height : LayoutAttribute::Width;

        const bool leadingBar = accept(u'|');
        Connection first;
        if (leadingBar && !connection(first))
            return false;

        std::vector<ViewSpec> views;
        std::vector<Connection> between;
        Connection trailingConnection;
        bool trailingBar = false;
        for (;;) {
            ViewSpec v;
            const qsizetype viewStart = m_pos;
            if (!view(v))
                return false;
            views.push_back(v);
            if (leadingBar && views.size() == 1 && !v.view->parentWidget()) {
                m_pos = viewStart;
                return fail(u"'|' needs a superview, and '%1' has none"_s.arg(v.name));
            }
            Connection c;
            if (!connection(c))
                return false;
            if (peek() == u'[') {
                between.push_back(c);
                continue;
            }
            if (accept(u'|')) {
                trailingBar = true;
                trailingConnection = c;
                if (!v.view->parentWidget())
                    return fail(u"'|' needs a superview, and '%1' has none"_s.arg(v.name));
                break;
            }
            if (c.present)
                return fail(u"a spacing must be followed by a view or '|'"_s);
            break;
        }
        if (!atEnd())
            return fail(u"unexpected text after the format"_s);

        if (leadingBar) {
            QWidget* view = views.front().view;
            connect(view->parentWidget(), leading, view, leading, first, kStandardSuperviewSpacing);
        }
        for (std::size_t i = 0; i < views.size(); ++i) {
            const ViewSpec& v = views[i];
            for (const Predicate& p : v.predicates) {
                if (p.viewName.isEmpty()) {
                    relate(v.view, size, nullptr, LayoutAttribute::NotAnAttribute, p);
                } else {
                    Predicate q = p;
                    q.constant = 0;
                    relate(v.view, size, m_views.value(p.viewName), size, q);
                }
            }
            if (i + 1 < views.size())
                connect(v.view, trailing, views[i + 1].view, leading, between[i], kStandardSpacing);
        }
        if (trailingBar) {
            QWidget* view = views.back().view;
            connect(view, trailing, view->parentWidget(), trailing, trailingConnection,
                kStandardSuperviewSpacing);
        }
        return true;
    }

    const QString& m_text;
    const LayoutViews& m_views;
    const LayoutMetrics& m_metrics;
    qsizetype m_pos = 0;
    QString m_error;
    LayoutConstraintList m_made;
};

} // namespace

VisualFormatResult constraintsWithVisualFormat(
    const QString& format, const LayoutViews& views, const LayoutMetrics& metrics)
{
    return Parser(format, views, metrics).run();
}

} // namespace Tickerly::AppKit
