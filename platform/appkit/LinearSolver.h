#pragma once

#include "platform/appkit/Namespace.h"
#include "tickerlyappkit_export.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Tickerly::AppKit {

// An incremental linear constraint solver (the Cassowary algorithm: a simplex tableau kept
// in solved form, required constraints that must hold and weighted ones that hold as far as
// their weights allow, and edit variables whose suggested values are taken in one dual
// simplex step each).
//
// Plain value code: no Qt, no threads. One solver belongs to one thread.
namespace Linear {

// A solver variable: a handle to a value that the solver writes on updateVariables().
class TICKERLYAPPKIT_EXPORT Variable {
public:
    Variable();
    double value() const { return m_data->value; }
    void setValue(double v) { m_data->value = v; }
    std::uint64_t id() const { return m_data->id; }
    bool operator==(const Variable& other) const { return m_data == other.m_data; }

private:
    struct Data {
        std::uint64_t id;
        double value = 0;
    };
    std::shared_ptr<Data> m_data;
};

// c0 + sum(ci * vi)
struct TICKERLYAPPKIT_EXPORT Expression {
    std::vector<std::pair<Variable, double>> terms;
    double constant = 0;

    Expression() = default;
    Expression(double c)
        : constant(c)
    {
    }
    Expression(const Variable& v)
        : terms { { v, 1.0 } }
    {
    }
    Expression& add(const Variable& v, double coefficient)
    {
        terms.emplace_back(v, coefficient);
        return *this;
    }
    Expression& add(const Expression& e, double factor = 1.0);
};

enum class Relation { LessOrEqual, Equal, GreaterOrEqual };

// Weights of non-required constraints. Anything at or above `required` must hold.
namespace Strength {
inline constexpr double required = 1.0e12;
inline bool isRequired(double s) { return s >= required; }
}

enum class SolverError {
    None,
    DuplicateConstraint,
    UnknownConstraint,
    // A required constraint contradicts the required ones already held; nothing changed.
    UnsatisfiableConstraint,
    DuplicateEditVariable,
    UnknownEditVariable,
    // Edit variables cannot be required.
    RequiredEditVariable,
};

class TICKERLYAPPKIT_EXPORT Solver {
public:
    using ConstraintId = std::uint64_t;

    Solver();
    ~Solver();
    Solver(const Solver&) = delete;
    Solver& operator=(const Solver&) = delete;

    // Holds `expression relation 0` with the given strength. On success `id` names it.
    SolverError addConstraint(const Expression& expression, Relation relation, double strength,
        ConstraintId* id = nullptr);
    SolverError removeConstraint(ConstraintId id);
    bool hasConstraint(ConstraintId id) const { return m_constraints.count(id) != 0; }

    SolverError addEditVariable(const Variable& v, double strength);
    SolverError removeEditVariable(const Variable& v);
    bool hasEditVariable(const Variable& v) const { return m_edits.count(v.id()) != 0; }
    SolverError suggestValue(const Variable& v, double value);
    // Forgets a variable that no constraint mentions any more, with the row holding its last
    // value, so that a solver whose views come and go does not grow. False (and kept) while
    // the tableau still needs it.
    bool removeVariable(const Variable& v);

    // Writes the current solution into every variable the solver knows.
    void updateVariables();

    std::size_t constraintCount() const { return m_constraints.size(); }
    std::size_t rowCount() const { return m_rows.size(); }
    std::size_t variableCount() const { return m_vars.size(); }

private:
    struct Symbol {
        enum Kind : std::uint8_t { Invalid, External, Slack, Error, Dummy };
        std::uint64_t id = 0;
        Kind kind = Invalid;
        bool valid() const { return kind != Invalid; }
        bool restricted() const { return kind == Slack || kind == Error; }
        bool operator==(const Symbol& o) const { return id == o.id; }
        bool operator<(const Symbol& o) const { return id < o.id; }
    };
    class Row;
    struct Tag {
        Symbol marker;
        Symbol other;
        double strength = 0;
    };
    struct Edit {
        ConstraintId constraint;
        Tag tag;
        double constant = 0;
    };

    Symbol newSymbol(Symbol::Kind kind);
    Symbol symbolFor(const Variable& v);
    Row makeRow(const Expression& e, Relation r, double strength, Tag& tag);
    static Symbol chooseSubject(const Row& row, const Tag& tag);
    bool addWithArtificial(const Row& row);
    void substitute(const Symbol& s, const Row& row);
    bool optimize(const Row& objective);
    void dualOptimize();
    Symbol enteringFor(const Row& objective) const;
    Symbol leavingFor(const Symbol& entering) const;
    Symbol markerLeavingRow(const Symbol& marker) const;
    void pivot(const Symbol& leaving, const Symbol& entering);
    void removeErrorEffects(const Symbol& error, double strength);

    std::uint64_t m_nextSymbol = 1;
    ConstraintId m_nextConstraint = 1;
    std::unordered_map<std::uint64_t, std::pair<Symbol, std::unique_ptr<Row>>> m_rows;
    std::unordered_map<std::uint64_t, std::pair<Variable, Symbol>> m_vars;
    std::unordered_map<ConstraintId, Tag> m_constraints;
    std::unordered_map<std::uint64_t, Edit> m_edits;
    std::vector<Symbol> m_infeasible;
    std::unique_ptr<Row> m_objective;
    std::unique_ptr<Row> m_artificial;
};

} // namespace Linear

} // namespace Tickerly::AppKit
