// SPDX-License-Identifier: GPL-3.0-or-later
// Inside the curve fits: the least-squares pieces the models start from, the problem the iterations solve,
// and the table of models (one row a model).
#pragma once

#include "analysis/Fit.h"

#include <QString>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace fit {

inline constexpr double kTwoPi = 2 * std::numbers::pi;

// Least squares over columns: the coefficients, their covariance (with the residual variance) and the sum of
// squared residuals. False when the system cannot be solved.
struct tLinear {
    std::vector<double> Coefficients;
    std::vector<double> Covariance; // m × m, row by row
    double SumOfSquares = 0;
};

bool SolveLinear(const std::vector<std::vector<double>>& columns, std::span<const double> y, tLinear& out);

// At most about two thousand points, evenly taken: enough to find where to start.
std::vector<std::size_t> Sample(std::size_t n);

// The best τ of a model linear in its other parameters, on a logarithmic grid of time constants from a
// thousandth of the run's span to a thousand spans; `columns` gives the linear model's columns for a τ.
template <typename tColumns>
bool BestTimeConstant(std::span<const double> x, std::span<const double> y, double span, tColumns columns,
                      double& tau, std::vector<double>& linear) {
    const std::vector<std::size_t> sample = Sample(x.size());
    std::vector<double> ys;
    for (const std::size_t i : sample) ys.push_back(y[i]);
    double best = INFINITY;
    for (int k = 0; k <= 60; ++k) {
        const double t = span * std::pow(10.0, -3 + 6.0 * k / 60);
        tLinear fit;
        if (!SolveLinear(columns(sample, t), ys, fit) || !(fit.SumOfSquares < best)) continue;
        best = fit.SumOfSquares;
        tau = t;
        linear = fit.Coefficients;
    }
    return std::isfinite(best);
}

// The nonlinear models as the solver sees them: x taken from `Origin` (ExpApproach and Sine), the parameters
// in the model's own order.
struct tProblem {
    // The model's value at point i with the parameters q, and with `gradient` its derivatives by them.
    double (*Solved)(const tProblem& problem, const double* q, std::size_t i, double* gradient);
    std::span<const double> X, Y;
    double Origin = 0;
    std::span<const double> LogX; // Power: ln x of every point, taken once
};

// «Подбор не сошёлся…»: the reason when the iterations find nothing.
const QString& Diverged();

// The models, one row each: a new model is a row here and its name in tFitModel.
struct tModelRow {
    tFitModel Model;
    const char* Name;
    const char* Formula;
    const char* Key; // in experiment.txt (Fit=) and analysis.txt
    std::vector<const char*> ParamNames;
    double (*Value)(const double* p, double x);
    // A polynomial is solved at once by linear least squares: its degree; 0 for a curve solved by iterations.
    int Degree;
    // The value at point i the solver sees, with its gradient by the solver's parameters.
    double (*Solved)(const tProblem& problem, const double* q, std::size_t i, double* gradient);
    // Where the iterations start; the reason for the user when they cannot.
    QString (*Start)(tProblem& problem, std::vector<double>& logs, std::vector<double>& q);
    // Back from the solver's parameters to the model's (null: they are the same): the change's Jacobian `g`
    // (identity on entry) for the errors, and the parameters.
    void (*Back)(const tProblem& problem, std::vector<double>& q, std::vector<double>& g,
                 std::vector<double>& params);
    // An oscillation cannot be sampled sparsely (it would alias): it is solved on its first points, then on
    // ten times as many at each round.
    bool Oscillates;
};

const tModelRow& Row(tFitModel model);
std::span<const tModelRow> Rows();

} // namespace fit
