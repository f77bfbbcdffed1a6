#include "platform/appkit/LinearSolver.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace Tickerly::AppKit {

namespace Linear {

namespace {

constexpr double kEpsilon = 1.0e-8;

bool nearZero(double v) { return std::fabs(v) < kEpsilon; }

std::uint64_t nextVariableId()
{
    static std::atomic<std::uint64_t> next { 1 };
    return next.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

Variable::Variable()
    : m_data(std::make_shared<Data>(Data { nextVariableId(), 0.0 }))
{
}

Expression& Expression::add(const Expression& e, double factor)
{
    for (const auto& [v, c] : e.terms)
        terms.emplace_back(v, c * factor);
    constant += e.constant * factor;
    return *this;
}

// One row of the tableau: basic = constant + sum(coefficient * symbol), the symbols kept
// sorted by id so that lookups are binary searches over a short vector.
class Solver::Row {
public:
    Row() = default;
    explicit Row(double c)
        : m_constant(c)
    {
    }

    double constant() const { return m_constant; }
    const std::vector<std::pair<Symbol, double>>& cells() const { return m_cells; }

    // Adds `value` to the constant and returns the new constant.
    double add(double value) { return m_constant += value; }

    void insert(const Symbol& s, double coefficient)
    {
        auto it = find(s);
        if (it != m_cells.end() && it->first == s) {
            it->second += coefficient;
            if (nearZero(it->second))
                m_cells.erase(it);
        } else if (!nearZero(coefficient)) {
            m_cells.insert(it, { s, coefficient });
        }
    }

    void insert(const Row& other, double factor = 1.0)
    {
        m_constant += other.m_constant * factor;
        for (const auto& [s, c] : other.m_cells)
            insert(s, c * factor);
    }

    void remove(const Symbol& s)
    {
        auto it = find(s);
        if (it != m_cells.end() && it->first == s)
            m_cells.erase(it);
    }

    double coefficientFor(const Symbol& s) const
    {
        auto it = std::lower_bound(m_cells.begin(), m_cells.end(), s,
            [](const auto& cell, const Symbol& k) { return cell.first < k; });
        return it != m_cells.end() && it->first == s ? it->second : 0.0;
    }

    void reverseSign()
    {
        m_constant = -m_constant;
        for (auto& cell : m_cells)
            cell.second = -cell.second;
    }

    // Rewrites "0 = this" so that `s` is the subject: s = ... (s leaves the cells).
    void solveFor(const Symbol& s)
    {
        const double factor = -1.0 / coefficientFor(s);
        remove(s);
        m_constant *= factor;
        for (auto& cell : m_cells)
            cell.second *= factor;
    }

    // Rewrites "lhs = this" as "rhs = ...".
    void solveFor(const Symbol& lhs, const Symbol& rhs)
    {
        insert(lhs, -1.0);
        solveFor(rhs);
    }

    // Replaces `s` by the expression `row` stands for.
    void substitute(const Symbol& s, const Row& row)
    {
        auto it = find(s);
        if (it == m_cells.end() || !(it->first == s))
            return;
        const double coefficient = it->second;
        m_cells.erase(it);
        insert(row, coefficient);
    }

    bool allDummies() const
    {
        return std::all_of(m_cells.begin(), m_cells.end(),
            [](const auto& cell) { return cell.first.kind == Symbol::Dummy; });
    }

private:
    std::vector<std::pair<Symbol, double>>::iterator find(const Symbol& s)
    {
        return std::lower_bound(m_cells.begin(), m_cells.end(), s,
            [](const auto& cell, const Symbol& k) { return cell.first < k; });
    }

    double m_constant = 0;
    std::vector<std::pair<Symbol, double>> m_cells;
};

Solver::Solver()
    : m_objective(std::make_unique<Row>())
{
}

Solver::~Solver() = default;

Solver::Symbol Solver::newSymbol(Symbol::Kind kind) { return Symbol { m_nextSymbol++, kind }; }

Solver::Symbol Solver::symbolFor(const Variable& v)
{
    auto it = m_vars.find(v.id());
    if (it != m_vars.end())
        return it->second.second;
    const Symbol s = newSymbol(Symbol::External);
    m_vars.emplace(v.id(), std::make_pair(v, s));
    return s;
}

Solver::Row Solver::makeRow(const Expression& e, Relation r, double strength, Tag& tag)
{
    Row row(e.constant);
    for (const auto& [v, c] : e.terms) {
        if (nearZero(c))
            continue;
        const Symbol s = symbolFor(v);
        auto basic = m_rows.find(s.id);
        if (basic != m_rows.end())
            row.insert(*basic->second.second, c);
        else
            row.insert(s, c);
    }
    const bool required = Strength::isRequired(strength);
    if (r != Relation::Equal) {
        // e <= 0 becomes e + slack = 0, e >= 0 becomes e - slack = 0, slack >= 0.
        const double sign = r == Relation::LessOrEqual ? 1.0 : -1.0;
        tag.marker = newSymbol(Symbol::Slack);
        row.insert(tag.marker, sign);
        if (!required) {
            tag.other = newSymbol(Symbol::Error);
            row.insert(tag.other, -sign);
            m_objective->insert(tag.other, strength);
        }
    } else if (!required) {
        // e = eplus - eminus, both errors weighed in the objective.
        tag.marker = newSymbol(Symbol::Error);
        tag.other = newSymbol(Symbol::Error);
        row.insert(tag.marker, -1.0);
        row.insert(tag.other, 1.0);
        m_objective->insert(tag.marker, strength);
        m_objective->insert(tag.other, strength);
    } else {
        tag.marker = newSymbol(Symbol::Dummy);
        row.insert(tag.marker, 1.0);
    }
    if (row.constant() < 0)
        row.reverseSign();
    return row;
}

Solver::Symbol Solver::chooseSubject(const Row& row, const Tag& tag)
{
    for (const auto& [s, c] : row.cells()) {
        if (s.kind == Symbol::External)
            return s;
    }
    if (tag.marker.restricted() && row.coefficientFor(tag.marker) < 0)
        return tag.marker;
    if (tag.other.restricted() && row.coefficientFor(tag.other) < 0)
        return tag.other;
    return {};
}

SolverError Solver::addConstraint(
    const Expression& expression, Relation relation, double strength, ConstraintId* id)
{
    Tag tag;
    tag.strength = strength;
    Row row = makeRow(expression, relation, strength, tag);
    Symbol subject = chooseSubject(row, tag);
    if (!subject.valid() && row.allDummies()) {
        if (!nearZero(row.constant())) {
            // Undo the objective terms the row added; nothing else was touched.
            removeErrorEffects(tag.marker, strength);
            removeErrorEffects(tag.other, strength);
            return SolverError::UnsatisfiableConstraint;
        }
        subject = tag.marker;
    }
    if (!subject.valid()) {
        if (!addWithArtificial(row)) {
            // The row was entered into the tableau; take it out again by its marker.
            const ConstraintId undo = m_nextConstraint++;
            m_constraints.emplace(undo, tag);
            removeConstraint(undo);
            return SolverError::UnsatisfiableConstraint;
        }
    } else {
        row.solveFor(subject);
        substitute(subject, row);
        m_rows.emplace(subject.id, std::make_pair(subject, std::make_unique<Row>(std::move(row))));
    }
    const ConstraintId newId = m_nextConstraint++;
    m_constraints.emplace(newId, tag);
    if (id)
        *id = newId;
    optimize(*m_objective);
    return SolverError::None;
}

bool Solver::addWithArtificial(const Row& row)
{
    const Symbol art = newSymbol(Symbol::Slack);
    m_rows.emplace(art.id, std::make_pair(art, std::make_unique<Row>(row)));
    m_artificial = std::make_unique<Row>(row);
    optimize(*m_artificial);
    const bool success = nearZero(m_artificial->constant());
    m_artificial.reset();

    auto it = m_rows.find(art.id);
    if (it != m_rows.end()) {
        std::unique_ptr<Row> artRow = std::move(it->second.second);
        m_rows.erase(it);
        if (artRow->cells().empty())
            return success;
        Symbol entering;
        for (const auto& [s, c] : artRow->cells()) {
            if (s.restricted()) {
                entering = s;
                break;
            }
        }
        if (!entering.valid())
            return false;
        artRow->solveFor(art, entering);
        substitute(entering, *artRow);
        m_rows.emplace(entering.id, std::make_pair(entering, std::move(artRow)));
    }
    for (auto& [id, entry] : m_rows)
        entry.second->remove(art);
    m_objective->remove(art);
    return success;
}

void Solver::substitute(const Symbol& s, const Row& row)
{
    for (auto& [id, entry] : m_rows) {
        entry.second->substitute(s, row);
        if (entry.first.kind != Symbol::External && entry.second->constant() < 0)
            m_infeasible.push_back(entry.first);
    }
    m_objective->substitute(s, row);
    if (m_artificial)
        m_artificial->substitute(s, row);
}

Solver::Symbol Solver::enteringFor(const Row& objective) const
{
    for (const auto& [s, c] : objective.cells()) {
        if (s.kind != Symbol::Dummy && c < -kEpsilon)
            return s;
    }
    return {};
}

Solver::Symbol Solver::leavingFor(const Symbol& entering) const
{
    double best = std::numeric_limits<double>::max();
    Symbol found;
    for (const auto& [id, entry] : m_rows) {
        if (entry.first.kind == Symbol::External)
            continue;
        const double c = entry.second->coefficientFor(entering);
        if (c < 0) {
            const double ratio = -entry.second->constant() / c;
            if (ratio < best || (ratio == best && entry.first < found)) {
                best = ratio;
                found = entry.first;
            }
        }
    }
    return found;
}

void Solver::pivot(const Symbol& leaving, const Symbol& entering)
{
    auto it = m_rows.find(leaving.id);
    std::unique_ptr<Row> row = std::move(it->second.second);
    m_rows.erase(it);
    row->solveFor(leaving, entering);
    substitute(entering, *row);
    m_rows.emplace(entering.id, std::make_pair(entering, std::move(row)));
}

bool Solver::optimize(const Row& objective)
{
    // Bland-style guard: the tableau is small, so a generous bound only catches a fault.
    for (int guard = 0; guard < 100000; ++guard) {
        const Symbol entering = enteringFor(objective);
        if (!entering.valid())
            return true;
        const Symbol leaving = leavingFor(entering);
        if (!leaving.valid())
            return false; // unbounded: the objective is bounded below by construction
        pivot(leaving, entering);
    }
    return false;
}

void Solver::dualOptimize()
{
    while (!m_infeasible.empty()) {
        const Symbol leaving = m_infeasible.back();
        m_infeasible.pop_back();
        auto it = m_rows.find(leaving.id);
        if (it == m_rows.end() || nearZero(it->second.second->constant())
            || it->second.second->constant() >= 0)
            continue;
        const Row& row = *it->second.second;
        Symbol entering;
        double best = std::numeric_limits<double>::max();
        for (const auto& [s, c] : row.cells()) {
            if (c > 0 && s.kind != Symbol::Dummy) {
                const double ratio = m_objective->coefficientFor(s) / c;
                if (ratio < best) {
                    best = ratio;
                    entering = s;
                }
            }
        }
        if (!entering.valid())
            continue; // cannot happen for a feasible system
        pivot(leaving, entering);
    }
}

void Solver::removeErrorEffects(const Symbol& error, double strength)
{
    if (error.kind != Symbol::Error)
        return;
    auto it = m_rows.find(error.id);
    if (it != m_rows.end())
        m_objective->insert(*it->second.second, -strength);
    else
        m_objective->insert(error, -strength);
}

Solver::Symbol Solver::markerLeavingRow(const Symbol& marker) const
{
    double r1 = std::numeric_limits<double>::max();
    double r2 = r1;
    Symbol first, second, third;
    for (const auto& [id, entry] : m_rows) {
        const double c = entry.second->coefficientFor(marker);
        if (c == 0.0)
            continue;
        if (entry.first.kind == Symbol::External) {
            third = entry.first;
        } else if (c < 0) {
            const double ratio = -entry.second->constant() / c;
            if (ratio < r1) {
                r1 = ratio;
                first = entry.first;
            }
        } else {
            const double ratio = entry.second->constant() / c;
            if (ratio < r2) {
                r2 = ratio;
                second = entry.first;
            }
        }
    }
    if (first.valid())
        return first;
    if (second.valid())
        return second;
    return third;
}

SolverError Solver::removeConstraint(ConstraintId id)
{
    auto found = m_constraints.find(id);
    if (found == m_constraints.end())
        return SolverError::UnknownConstraint;
    const Tag tag = found->second;
    m_constraints.erase(found);

    removeErrorEffects(tag.marker, tag.strength);
    removeErrorEffects(tag.other, tag.strength);

    auto it = m_rows.find(tag.marker.id);
    if (it != m_rows.end()) {
        m_rows.erase(it);
    } else {
        const Symbol leaving = markerLeavingRow(tag.marker);
        if (leaving.valid()) {
            auto row = m_rows.find(leaving.id);
            std::unique_ptr<Row> r = std::move(row->second.second);
            m_rows.erase(row);
            r->solveFor(leaving, tag.marker);
            substitute(tag.marker, *r);
        }
    }
    optimize(*m_objective);
    return SolverError::None;
}

SolverError Solver::addEditVariable(const Variable& v, double strength)
{
    if (m_edits.count(v.id()))
        return SolverError::DuplicateEditVariable;
    if (Strength::isRequired(strength))
        return SolverError::RequiredEditVariable;
    Expression e(v);
    ConstraintId id = 0;
    const SolverError error = addConstraint(e, Relation::Equal, strength, &id);
    if (error != SolverError::None)
        return error;
    m_edits.emplace(v.id(), Edit { id, m_constraints.at(id), 0.0 });
    return SolverError::None;
}

SolverError Solver::removeEditVariable(const Variable& v)
{
    auto it = m_edits.find(v.id());
    if (it == m_edits.end())
        return SolverError::UnknownEditVariable;
    const ConstraintId id = it->second.constraint;
    m_edits.erase(it);
    return removeConstraint(id);
}

SolverError Solver::suggestValue(const Variable& v, double value)
{
    auto it = m_edits.find(v.id());
    if (it == m_edits.end())
        return SolverError::UnknownEditVariable;
    Edit& edit = it->second;
    const double delta = value - edit.constant;
    edit.constant = value;
    if (delta == 0.0)
        return SolverError::None;

    // The edit row reads v - c = eplus - eminus; moving c moves whichever error is basic,
    // or else every row that mentions eplus.
    auto plus = m_rows.find(edit.tag.marker.id);
    auto minus = m_rows.find(edit.tag.other.id);
    if (plus != m_rows.end()) {
        if (plus->second.second->add(-delta) < 0)
            m_infeasible.push_back(plus->second.first);
    } else if (minus != m_rows.end()) {
        if (minus->second.second->add(delta) < 0)
            m_infeasible.push_back(minus->second.first);
    } else {
        for (auto& [id, entry] : m_rows) {
            const double c = entry.second->coefficientFor(edit.tag.marker);
            if (c != 0.0 && entry.second->add(delta * c) < 0
                && entry.first.kind != Symbol::External)
                m_infeasible.push_back(entry.first);
        }
    }
    dualOptimize();
    return SolverError::None;
}

bool Solver::removeVariable(const Variable& v)
{
    auto it = m_vars.find(v.id());
    if (it == m_vars.end())
        return true;
    if (m_edits.count(v.id()))
        return false;
    const Symbol s = it->second.second;
    // A basic variable appears in its own row only; a parametric one still in a row is a
    // degree of freedom of the others and stays.
    auto row = m_rows.find(s.id);
    if (row != m_rows.end()) {
        m_rows.erase(row);
    } else if (std::any_of(m_rows.begin(), m_rows.end(), [&](const auto& entry) {
                   return entry.second.second->coefficientFor(s) != 0.0;
               })) {
        return false;
    }
    m_vars.erase(it);
    return true;
}

void Solver::updateVariables()
{
    for (auto& [id, entry] : m_vars) {
        auto row = m_rows.find(entry.second.id);
        entry.first.setValue(row != m_rows.end() ? row->second.second->constant() : 0.0);
    }
}

} // namespace Linear

} // namespace Tickerly::AppKit
