// SPDX-License-Identifier: GPL-3.0-or-later
// The curve models, one row each: a new model is a row of the table below and its name in tFitModel.
#include "analysis/FitSolver.h"

#include "analysis/Spectrum.h"

#include <algorithm>

namespace fit {

namespace {

// ---- The models: their values, and for those solved by iterations the value and gradient the solver sees,
// where it starts, and the way back to the model's own parameters.

double LineValue(const double* p, double x) {
    return p[0] * x + p[1];
}

double ParabolaValue(const double* p, double x) {
    return (p[0] * x + p[1]) * x + p[2];
}

double PowerValue(const double* p, double x) {
    return p[0] * std::pow(x, p[1]);
}

double PowerSolved(const tProblem& p, const double* q, std::size_t i, double* gradient) {
    // The logarithms taken once for a region solved many times; a long one's, as each pass needs them.
    const double log = p.LogX.empty() ? std::log(p.X[i]) : p.LogX[i];
    const double power = std::exp(q[1] * log);
    if (gradient) {
        gradient[0] = power;
        gradient[1] = q[0] * power * log;
    }
    return q[0] * power;
}

QString PowerStart(tProblem& problem, std::vector<double>& logs, std::vector<double>& q) {
    const auto x = problem.X;
    const auto y = problem.Y;
    const std::size_t n = x.size();
    if (*std::min_element(x.begin(), x.end()) <= 0)
        return QStringLiteral("Степенная зависимость подбирается только по точкам с x > 0.");
    logs.reserve(n);
    for (const double v : x) logs.push_back(std::log(v));
    problem.LogX = logs;
    // A straight line through ln |y| against ln x, on the points whose y has the sign of most.
    const std::size_t positive =
        std::size_t(std::count_if(y.begin(), y.end(), [](double v) { return v > 0; }));
    const double sign = positive * 2 >= n ? 1 : -1;
    std::vector<double> lx, ly;
    for (std::size_t i = 0; i < n; ++i)
        if (sign * y[i] > 0) {
            lx.push_back(std::log(x[i]));
            ly.push_back(std::log(sign * y[i]));
        }
    tLinear line;
    std::vector<std::vector<double>> columns{std::vector<double>(lx.size(), 1.0), lx};
    if (lx.size() < 3 || !SolveLinear(columns, ly, line)) return Diverged();
    q = {sign * std::exp(line.Coefficients[0]), line.Coefficients[1]};
    return {};
}

double RiseValue(const double* p, double x) {
    return p[0] * (1 - std::exp(-x / p[1]));
}

double RiseSolved(const tProblem& p, const double* q, std::size_t i, double* gradient) {
    const double x = p.X[i];
    const double e = std::exp(-x / q[1]);
    if (gradient) {
        gradient[0] = 1 - e;
        gradient[1] = -q[0] * x / (q[1] * q[1]) * e;
    }
    return q[0] * (1 - e);
}

QString RiseStart(tProblem& problem, std::vector<double>&, std::vector<double>& q) {
    const auto x = problem.X;
    const auto [lowest, highest] = std::minmax_element(x.begin(), x.end());
    double tau = 0;
    std::vector<double> a;
    const auto columns = [&](const std::vector<std::size_t>& sample, double t) {
        std::vector<std::vector<double>> c(1);
        for (const std::size_t i : sample) c[0].push_back(1 - std::exp(-x[i] / t));
        return c;
    };
    if (!BestTimeConstant(x, problem.Y, std::max(std::fabs(*lowest), std::fabs(*highest)), columns, tau, a))
        return Diverged();
    q = {a[0], tau};
    return {};
}

double ApproachValue(const double* p, double x) {
    return p[2] + p[0] * std::exp(-x / p[1]);
}

double ApproachSolved(const tProblem& p, const double* q, std::size_t i, double* gradient) {
    const double t = p.X[i] - p.Origin;
    const double e = std::exp(-t / q[1]);
    if (gradient) {
        gradient[0] = e;
        gradient[1] = q[0] * t / (q[1] * q[1]) * e;
        gradient[2] = 1;
    }
    return q[2] + q[0] * e;
}

QString ApproachStart(tProblem& problem, std::vector<double>&, std::vector<double>& q) {
    const auto x = problem.X;
    const auto [lowest, highest] = std::minmax_element(x.begin(), x.end());
    problem.Origin = *lowest;
    double tau = 0;
    std::vector<double> ac;
    const auto columns = [&](const std::vector<std::size_t>& sample, double t) {
        std::vector<std::vector<double>> c(2);
        for (const std::size_t i : sample) {
            c[0].push_back(std::exp(-(x[i] - problem.Origin) / t));
            c[1].push_back(1);
        }
        return c;
    };
    if (!BestTimeConstant(x, problem.Y, *highest - *lowest, columns, tau, ac)) return Diverged();
    q = {ac[0], tau, ac[1]};
    return {};
}

// The amplitude was solved for x counted from the origin.
void ApproachBack(const tProblem& problem, std::vector<double>& q, std::vector<double>& g,
                  std::vector<double>& params) {
    const double grow = std::exp(problem.Origin / q[1]);
    g[0] = grow;
    g[1] = -q[0] * problem.Origin / (q[1] * q[1]) * grow;
    params[0] = q[0] * grow;
}

double SineValue(const double* p, double x) {
    return p[0] * std::sin(kTwoPi * p[1] * x + p[2]) + p[3];
}

double SineSolved(const tProblem& p, const double* q, std::size_t i, double* gradient) {
    const double t = p.X[i] - p.Origin;
    const double angle = kTwoPi * q[1] * t + q[2];
    const double s = std::sin(angle), c = std::cos(angle);
    if (gradient) {
        gradient[0] = s;
        gradient[1] = q[0] * c * kTwoPi * t;
        gradient[2] = q[0] * c;
        gradient[3] = 1;
    }
    return q[0] * s + q[3];
}

QString SineStart(tProblem& problem, std::vector<double>&, std::vector<double>& q) {
    const auto x = problem.X;
    const auto y = problem.Y;
    const std::size_t n = x.size();
    const auto [lowest, highest] = std::minmax_element(x.begin(), x.end());
    problem.Origin = *lowest;
    // The spectrum's peak gives the frequency; a linear fit at it the amplitude and the phase.
    const double rate = double(n - 1) / (*highest - *lowest);
    // From the first minute or so at most: a start, refined below.
    const std::size_t head = std::min<std::size_t>(n, 65536);
    const double frequency = DominantFrequency(y.first(head), rate);
    if (!(frequency > 0)) return QStringLiteral("В выбранных точках не видно колебаний.");
    std::vector<std::vector<double>> columns(3);
    std::vector<double> ys;
    // On the first points, every one: points spread evenly may fall a whole number of periods apart and see
    // no oscillation at all (a perfect sine sampled at its zeros).
    for (std::size_t i = 0; i < std::min<std::size_t>(n, 2000); ++i) {
        const double angle = kTwoPi * frequency * (x[i] - problem.Origin);
        columns[0].push_back(std::sin(angle));
        columns[1].push_back(std::cos(angle));
        columns[2].push_back(1);
        ys.push_back(y[i]);
    }
    tLinear linear;
    if (!SolveLinear(columns, ys, linear)) return Diverged();
    const double p = linear.Coefficients[0], c = linear.Coefficients[1];
    q = {std::hypot(p, c), frequency, std::atan2(c, p), linear.Coefficients[2]};
    return {};
}

// A positive amplitude and frequency, the phase for x counted from 0 in (−π, π].
void SineBack(const tProblem& problem, std::vector<double>& q, std::vector<double>& g,
              std::vector<double>& params) {
    const std::size_t m = q.size();
    if (q[0] < 0) {
        q[0] = -q[0];
        q[2] += std::numbers::pi;
    }
    if (q[1] < 0) {
        q[1] = -q[1];
        q[2] = std::numbers::pi - q[2];
    }
    g[2 * m + 1] = -kTwoPi * problem.Origin;
    params = q;
    double phase = std::remainder(q[2] - kTwoPi * q[1] * problem.Origin, kTwoPi);
    if (phase <= -std::numbers::pi) phase += kTwoPi;
    params[2] = phase;
}

} // namespace

const tModelRow kModels[] = {
    {tFitModel::Line,
     "Прямая",
     "y = a·x + b",
     "Line",
     {"a", "b"},
     LineValue,
     1,
     nullptr,
     nullptr,
     nullptr,
     false},
    {tFitModel::Parabola,
     "Парабола",
     "y = a·x² + b·x + c",
     "Parabola",
     {"a", "b", "c"},
     ParabolaValue,
     2,
     nullptr,
     nullptr,
     nullptr,
     false},
    {tFitModel::Power,
     "Степенная",
     "y = a·xᵇ",
     "Power",
     {"a", "b"},
     PowerValue,
     0,
     PowerSolved,
     PowerStart,
     nullptr,
     false},
    {tFitModel::RiseToLimit,
     "Рост до предела",
     "y = a·(1 − e^(−x/τ))",
     "RiseToLimit",
     {"a", "τ"},
     RiseValue,
     0,
     RiseSolved,
     RiseStart,
     nullptr,
     false},
    {tFitModel::ExpApproach,
     "Экспонента к пределу",
     "y = c + a·e^(−x/τ)",
     "ExpApproach",
     {"a", "τ", "c"},
     ApproachValue,
     0,
     ApproachSolved,
     ApproachStart,
     ApproachBack,
     false},
    {tFitModel::Sine,
     "Синусоида",
     "y = A·sin(2π·f·x + φ) + c",
     "Sine",
     {"A", "f", "φ", "c"},
     SineValue,
     0,
     SineSolved,
     SineStart,
     SineBack,
     true},
};

const tModelRow& Row(tFitModel model) {
    for (const tModelRow& row : kModels)
        if (row.Model == model) return row;
    return kModels[0];
}

std::span<const tModelRow> Rows() {
    return kModels;
}

} // namespace fit
