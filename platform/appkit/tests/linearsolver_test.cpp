#include "platform/appkit/LinearSolver.h"

#include <gtest/gtest.h>

using namespace Tickerly::AppKit;

using namespace Linear;

namespace {

// a - b (handy for "a == b + c" written as "a - b - c == 0")
Expression minus(const Variable& a, const Variable& b, double c = 0)
{
    Expression e(a);
    e.add(b, -1.0);
    e.constant = -c;
    return e;
}

Expression equalsConstant(const Variable& v, double c)
{
    Expression e(v);
    e.constant = -c;
    return e;
}

} // namespace

TEST(LinearSolver, HoldsRequiredEqualitiesAndInequalities)
{
    Solver s;
    Variable left, width, right;
    // right == left + width, left == 10, width >= 50, right <= 200
    Expression r(right);
    r.add(left, -1).add(width, -1);
    ASSERT_EQ(s.addConstraint(r, Relation::Equal, Strength::required), SolverError::None);
    ASSERT_EQ(s.addConstraint(equalsConstant(left, 10), Relation::Equal, Strength::required),
        SolverError::None);
    ASSERT_EQ(
        s.addConstraint(equalsConstant(width, 50), Relation::GreaterOrEqual, Strength::required),
        SolverError::None);
    ASSERT_EQ(
        s.addConstraint(equalsConstant(right, 200), Relation::LessOrEqual, Strength::required),
        SolverError::None);
    // A weak wish for a wide view is capped by the required bound.
    ASSERT_EQ(
        s.addConstraint(equalsConstant(width, 1000), Relation::Equal, 1.0), SolverError::None);
    s.updateVariables();
    EXPECT_DOUBLE_EQ(left.value(), 10);
    EXPECT_DOUBLE_EQ(width.value(), 190);
    EXPECT_DOUBLE_EQ(right.value(), 200);
}

TEST(LinearSolver, ResolvesConflictingWishesByWeight)
{
    Solver s;
    Variable x;
    Solver::ConstraintId strong = 0;
    ASSERT_EQ(s.addConstraint(equalsConstant(x, 10), Relation::Equal, 10.0), SolverError::None);
    ASSERT_EQ(
        s.addConstraint(equalsConstant(x, 20), Relation::Equal, 100.0, &strong), SolverError::None);
    s.updateVariables();
    EXPECT_DOUBLE_EQ(x.value(), 20);

    // Taking the stronger one away lets the weaker one hold.
    ASSERT_EQ(s.removeConstraint(strong), SolverError::None);
    s.updateVariables();
    EXPECT_DOUBLE_EQ(x.value(), 10);
    EXPECT_EQ(s.removeConstraint(strong), SolverError::UnknownConstraint);

    // An inequality wish only pulls when it is violated.
    Variable y;
    ASSERT_EQ(s.addConstraint(equalsConstant(y, 5), Relation::Equal, 1.0), SolverError::None);
    ASSERT_EQ(
        s.addConstraint(equalsConstant(y, 30), Relation::GreaterOrEqual, 50.0), SolverError::None);
    s.updateVariables();
    EXPECT_DOUBLE_EQ(y.value(), 30);
}

TEST(LinearSolver, ReportsAnUnsatisfiableRequiredConstraintAndKeepsTheRest)
{
    Solver s;
    Variable a, b;
    ASSERT_EQ(s.addConstraint(equalsConstant(a, 10), Relation::Equal, Strength::required),
        SolverError::None);
    ASSERT_EQ(
        s.addConstraint(minus(b, a, 5), Relation::Equal, Strength::required), SolverError::None);
    EXPECT_EQ(s.addConstraint(equalsConstant(b, 100), Relation::Equal, Strength::required),
        SolverError::UnsatisfiableConstraint);
    EXPECT_EQ(s.addConstraint(equalsConstant(a, 3), Relation::LessOrEqual, Strength::required),
        SolverError::UnsatisfiableConstraint);
    EXPECT_EQ(s.constraintCount(), 2u);
    s.updateVariables();
    EXPECT_DOUBLE_EQ(a.value(), 10);
    EXPECT_DOUBLE_EQ(b.value(), 15);

    // The solver still takes sound constraints afterwards.
    Variable c;
    ASSERT_EQ(
        s.addConstraint(minus(c, b, 1), Relation::Equal, Strength::required), SolverError::None);
    s.updateVariables();
    EXPECT_DOUBLE_EQ(c.value(), 16);
}

TEST(LinearSolver, FollowsSuggestedValuesOfEditVariables)
{
    Solver s;
    Variable hostWidth, left, width;
    // left == 20, left + width == hostWidth - 20, width >= 100
    ASSERT_EQ(s.addConstraint(equalsConstant(left, 20), Relation::Equal, Strength::required),
        SolverError::None);
    Expression e(left);
    e.add(width, 1).add(hostWidth, -1);
    e.constant = 20;
    ASSERT_EQ(s.addConstraint(e, Relation::Equal, Strength::required), SolverError::None);
    ASSERT_EQ(
        s.addConstraint(equalsConstant(width, 100), Relation::GreaterOrEqual, Strength::required),
        SolverError::None);
    ASSERT_EQ(s.addEditVariable(hostWidth, 1000.0), SolverError::None);
    EXPECT_EQ(s.addEditVariable(hostWidth, 1000.0), SolverError::DuplicateEditVariable);
    EXPECT_EQ(s.addEditVariable(width, Strength::required), SolverError::RequiredEditVariable);

    for (double w : { 300.0, 500.0, 320.0, 100.0 }) {
        ASSERT_EQ(s.suggestValue(hostWidth, w), SolverError::None);
        s.updateVariables();
        // Below 140 the required minimum width wins over the suggestion.
        const double expectedHost = std::max(w, 140.0);
        EXPECT_DOUBLE_EQ(hostWidth.value(), expectedHost) << w;
        EXPECT_DOUBLE_EQ(width.value(), expectedHost - 40) << w;
    }
    ASSERT_EQ(s.removeEditVariable(hostWidth), SolverError::None);
    EXPECT_EQ(s.suggestValue(hostWidth, 10), SolverError::UnknownEditVariable);
    EXPECT_EQ(s.removeEditVariable(hostWidth), SolverError::UnknownEditVariable);
}

TEST(LinearSolver, KeepsManyChainedConstraintsConsistentWhileEditing)
{
    // A chain of 50 boxes, each 10 wide with a gap of at least 2, inside an edited width.
    Solver s;
    Variable host;
    std::vector<Variable> lefts(50);
    Variable previousRight;
    ASSERT_EQ(
        s.addConstraint(equalsConstant(previousRight, 0), Relation::Equal, Strength::required),
        SolverError::None);
    for (auto& l : lefts) {
        ASSERT_EQ(s.addConstraint(
                      minus(l, previousRight, 2), Relation::GreaterOrEqual, Strength::required),
            SolverError::None);
        ASSERT_EQ(
            s.addConstraint(minus(l, previousRight, 2), Relation::Equal, 1.0), SolverError::None);
        Variable right;
        ASSERT_EQ(s.addConstraint(minus(right, l, 10), Relation::Equal, Strength::required),
            SolverError::None);
        previousRight = right;
    }
    ASSERT_EQ(
        s.addConstraint(minus(host, previousRight), Relation::GreaterOrEqual, Strength::required),
        SolverError::None);
    ASSERT_EQ(s.addEditVariable(host, 100.0), SolverError::None);
    ASSERT_EQ(s.suggestValue(host, 1000), SolverError::None);
    s.updateVariables();
    EXPECT_DOUBLE_EQ(lefts.back().value(), 49 * 12 + 2);
    EXPECT_DOUBLE_EQ(host.value(), 1000);
    ASSERT_EQ(s.suggestValue(host, 10), SolverError::None);
    s.updateVariables();
    EXPECT_DOUBLE_EQ(host.value(), 600);
}
