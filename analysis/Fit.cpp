#include "analysis/Fit.h"

#include "analysis/Spectrum.h"
#include "analysis/Statistics.h"

#include <algorithm>
#include <cmath>
#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_multifit.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <memory>
#include <numbers>

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// GSL reports its errors through a handler that aborts by default: they come back as status codes instead.
void QuietGsl() {
    static const bool quiet = [] {
        gsl_set_error_handler_off();
        return true;
    }();
    (void)quiet;
}

struct tMatrixFree {
    void operator()(gsl_matrix* m) const { gsl_matrix_free(m); }
};
struct tVectorFree {
    void operator()(gsl_vector* v) const { gsl_vector_free(v); }
};
using tMatrix = std::unique_ptr<gsl_matrix, tMatrixFree>;
using tVector = std::unique_ptr<gsl_vector, tVectorFree>;

tFit Failed(const QString& error) {
    tFit fit;
    fit.Error = error;
    return fit;
}

// Least squares over columns: the coefficients, their covariance (with the residual variance) and the sum of
// squared residuals. False when the system cannot be solved.
struct tLinear {
    std::vector<double> Coefficients;
    std::vector<double> Covariance; // m × m, row by row
    double SumOfSquares = 0;
};

bool SolveLinear(const std::vector<std::vector<double>>& columns, std::span<const double> y, tLinear& out) {
    QuietGsl();
    const std::size_t n = y.size();
    const std::size_t m = columns.size();
    if (n <= m) return false;
    tMatrix X(gsl_matrix_alloc(n, m));
    tMatrix cov(gsl_matrix_alloc(m, m));
    tVector c(gsl_vector_alloc(m));
    gsl_vector_const_view yv = gsl_vector_const_view_array(y.data(), n);
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t i = 0; i < n; ++i) gsl_matrix_set(X.get(), i, j, columns[j][i]);
    std::unique_ptr<gsl_multifit_linear_workspace, decltype(&gsl_multifit_linear_free)> work(
        gsl_multifit_linear_alloc(n, m), &gsl_multifit_linear_free);
    double chisq = 0;
    if (!work ||
        gsl_multifit_linear(X.get(), &yv.vector, c.get(), cov.get(), &chisq, work.get()) != GSL_SUCCESS)
        return false;
    out.Coefficients.assign(c->data, c->data + m);
    out.Covariance.resize(m * m);
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < m; ++j) out.Covariance[i * m + j] = gsl_matrix_get(cov.get(), i, j);
    out.SumOfSquares = chisq;
    return std::all_of(out.Coefficients.begin(), out.Coefficients.end(),
                       [](double v) { return std::isfinite(v); });
}

// The parameters q = G·p (G given row by row, m × m) with their covariance G·C·Gᵀ: their standard errors.
std::vector<double> Transformed(const std::vector<double>& g, const std::vector<double>& p, std::size_t m) {
    std::vector<double> q(m, 0.0);
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < m; ++j) q[i] += g[i * m + j] * p[j];
    return q;
}

std::vector<double> TransformedErrors(const std::vector<double>& g, const std::vector<double>& cov,
                                      std::size_t m) {
    std::vector<double> errors(m, 0.0);
    for (std::size_t i = 0; i < m; ++i) {
        double v = 0;
        for (std::size_t j = 0; j < m; ++j)
            for (std::size_t k = 0; k < m; ++k) v += g[i * m + j] * cov[j * m + k] * g[i * m + k];
        errors[i] = std::sqrt(std::max(0.0, v));
    }
    return errors;
}

void Finish(tFit& fit, double residualSquares, std::span<const double> y) {
    const std::size_t p = fit.Params.size();
    fit.ResidualSD = std::sqrt(residualSquares / double(y.size() - p));
    // The squares about the mean, from the sample deviation.
    const tStatistics about = Describe(y);
    const double total = about.StdDev * about.StdDev * double(about.Count - 1);
    fit.RSquared = total > 0 ? 1 - residualSquares / total : 0;
    fit.Ok =
        std::all_of(fit.Params.begin(), fit.Params.end(), [](double v) { return std::isfinite(v); }) &&
        std::all_of(fit.StdErrors.begin(), fit.StdErrors.end(), [](double v) { return std::isfinite(v); });
    if (!fit.Ok) fit.Error = QStringLiteral("Подбор не сошёлся: эта кривая не подходит к выбранным точкам.");
}

// A polynomial of degree 1 or 2 on x centred and scaled; its coefficients back in x, highest power first.
tFit FitPolynomial(int degree, std::span<const double> x, std::span<const double> y) {
    const std::size_t n = x.size();
    double mx = 0;
    for (const double v : x) mx += v;
    mx /= double(n);
    double spread = 0;
    for (const double v : x) spread += (v - mx) * (v - mx);
    const double sx = std::sqrt(spread / double(n));
    std::vector<std::vector<double>> columns(std::size_t(degree) + 1, std::vector<double>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const double t = (x[i] - mx) / sx;
        columns[0][i] = 1;
        columns[1][i] = t;
        if (degree == 2) columns[2][i] = t * t;
    }
    tLinear linear;
    if (!SolveLinear(columns, y, linear))
        return Failed(QStringLiteral("Подбор не сошёлся: эта кривая не подходит к выбранным точкам."));
    // y = γ + β·t (+ α·t²), t = (x − mx)/sx.
    const std::size_t m = std::size_t(degree) + 1;
    std::vector<double> g;
    if (degree == 1)
        g = {0, 1 / sx, //
             1, -mx / sx};
    else
        g = {0, 0,        1 / (sx * sx),       //
             0, 1 / sx,   -2 * mx / (sx * sx), //
             1, -mx / sx, mx * mx / (sx * sx)};
    tFit fit;
    fit.Params = Transformed(g, linear.Coefficients, m);
    fit.StdErrors = TransformedErrors(g, linear.Covariance, m);
    Finish(fit, linear.SumOfSquares, y);
    return fit;
}

// The nonlinear models as the solver sees them: x taken from `Origin` (ExpApproach and Sine), the parameters
// in the model's own order.
struct tProblem {
    tFitModel Model;
    std::span<const double> X, Y;
    double Origin = 0;
    std::span<const double> LogX; // Power: ln x of every point, taken once
};

double Model(const tProblem& p, const double* q, std::size_t i, double* gradient) {
    const double x = p.X[i];
    const double t = x - p.Origin;
    switch (p.Model) {
    case tFitModel::Power: {
        const double power = std::exp(q[1] * p.LogX[i]);
        if (gradient) {
            gradient[0] = power;
            gradient[1] = q[0] * power * p.LogX[i];
        }
        return q[0] * power;
    }
    case tFitModel::RiseToLimit: {
        const double e = std::exp(-x / q[1]);
        if (gradient) {
            gradient[0] = 1 - e;
            gradient[1] = -q[0] * x / (q[1] * q[1]) * e;
        }
        return q[0] * (1 - e);
    }
    case tFitModel::ExpApproach: {
        const double e = std::exp(-t / q[1]);
        if (gradient) {
            gradient[0] = e;
            gradient[1] = q[0] * t / (q[1] * q[1]) * e;
            gradient[2] = 1;
        }
        return q[2] + q[0] * e;
    }
    case tFitModel::Sine: {
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
    default:
        return 0;
    }
}

int Residuals(const gsl_vector* q, void* data, gsl_vector* f) {
    const auto& p = *static_cast<const tProblem*>(data);
    for (std::size_t i = 0; i < p.X.size(); ++i) gsl_vector_set(f, i, Model(p, q->data, i, nullptr) - p.Y[i]);
    return GSL_SUCCESS;
}

int Jacobian(const gsl_vector* q, void* data, gsl_matrix* J) {
    const auto& p = *static_cast<const tProblem*>(data);
    double gradient[4];
    for (std::size_t i = 0; i < p.X.size(); ++i) {
        Model(p, q->data, i, gradient);
        for (std::size_t j = 0; j < J->size2; ++j) gsl_matrix_set(J, i, j, gradient[j]);
    }
    return GSL_SUCCESS;
}

// Least squares from `start`; the parameters, their covariance and the residual sum of squares.
bool Solve(tProblem& problem, std::vector<double>& q, std::vector<double>& covariance, double& squares,
           std::size_t iterations, bool withCovariance = true) {
    QuietGsl();
    const std::size_t n = problem.X.size();
    const std::size_t m = q.size();
    gsl_multifit_nlinear_fdf fdf{};
    fdf.f = Residuals;
    fdf.df = Jacobian;
    fdf.n = n;
    fdf.p = m;
    fdf.params = &problem;
    gsl_multifit_nlinear_parameters parameters = gsl_multifit_nlinear_default_parameters();
    parameters.scale = gsl_multifit_nlinear_scale_more;
    // A long region: the normal equations, one pass over the points a step instead of one a parameter.
    if (n > 5000) parameters.solver = gsl_multifit_nlinear_solver_cholesky;
    std::unique_ptr<gsl_multifit_nlinear_workspace, decltype(&gsl_multifit_nlinear_free)> work(
        gsl_multifit_nlinear_alloc(gsl_multifit_nlinear_trust, &parameters, n, m),
        &gsl_multifit_nlinear_free);
    if (!work) return false;
    gsl_vector_view start = gsl_vector_view_array(q.data(), m);
    if (gsl_multifit_nlinear_init(&start.vector, &fdf, work.get()) != GSL_SUCCESS) return false;
    int info = 0;
    // Small regions to the last digits (the certified reference data ask for them); a long one, whose
    // parameters are known far better than their noise allows, to ten.
    const double tolerance = n > 5000 ? 1e-10 : 1e-14;
    int status = gsl_multifit_nlinear_driver(iterations, tolerance, tolerance, 0.0, nullptr, nullptr, &info,
                                             work.get());
    if (status != GSL_SUCCESS) {
        // Stopped without its tight tolerances met: accepted where it stands at looser ones.
        status = gsl_multifit_nlinear_test(1e-9, 1e-9, 0.0, &info, work.get());
        if (status != GSL_SUCCESS || info == 0) return false;
    }
    const gsl_vector* position = gsl_multifit_nlinear_position(work.get());
    q.assign(position->data, position->data + m);
    const gsl_vector* residual = gsl_multifit_nlinear_residual(work.get());
    gsl_blas_ddot(residual, residual, &squares);
    if (!withCovariance) return std::isfinite(squares);
    tMatrix cov(gsl_matrix_alloc(m, m));
    const gsl_matrix* J = gsl_multifit_nlinear_jac(work.get());
    if (n <= 5000) {
        if (gsl_multifit_nlinear_covar(J, 0.0, cov.get()) != GSL_SUCCESS) return false;
    } else {
        // (JᵀJ)⁻¹ from the normal matrix summed in one pass: a QR of a long Jacobian costs more than the fit.
        std::vector<double> normal(m * m, 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            const double* row = gsl_matrix_const_ptr(J, i, 0);
            for (std::size_t a = 0; a < m; ++a)
                for (std::size_t b = 0; b <= a; ++b) normal[a * m + b] += row[a] * row[b];
        }
        for (std::size_t a = 0; a < m; ++a)
            for (std::size_t b = 0; b <= a; ++b) {
                gsl_matrix_set(cov.get(), a, b, normal[a * m + b]);
                gsl_matrix_set(cov.get(), b, a, normal[a * m + b]);
            }
        if (gsl_linalg_cholesky_decomp1(cov.get()) != GSL_SUCCESS ||
            gsl_linalg_cholesky_invert(cov.get()) != GSL_SUCCESS)
            return false;
    }
    const double variance = squares / double(n - m);
    covariance.resize(m * m);
    for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < m; ++j)
            covariance[i * m + j] = gsl_matrix_get(cov.get(), i, j) * variance;
    return std::isfinite(squares);
}

// At most about two thousand points, evenly taken: enough to find where to start.
std::vector<std::size_t> Sample(std::size_t n) {
    std::vector<std::size_t> indices;
    const std::size_t step = std::max<std::size_t>(1, n / 2000);
    for (std::size_t i = 0; i < n; i += step) indices.push_back(i);
    return indices;
}

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

tFit FitNonlinear(tFitModel model, std::span<const double> x, std::span<const double> y) {
    const std::size_t n = x.size();
    const auto [lowest, highest] = std::minmax_element(x.begin(), x.end());
    const double span = *highest - *lowest;
    tProblem problem{model, x, y, 0, {}};
    std::vector<double> logs;
    std::vector<double> q;
    const QString diverged = QStringLiteral("Подбор не сошёлся: эта кривая не подходит к выбранным точкам.");
    switch (model) {
    case tFitModel::Power: {
        if (*lowest <= 0)
            return Failed(QStringLiteral("Степенная зависимость подбирается только по точкам с x > 0."));
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
        if (lx.size() < 3 || !SolveLinear(columns, ly, line)) return Failed(diverged);
        q = {sign * std::exp(line.Coefficients[0]), line.Coefficients[1]};
        break;
    }
    case tFitModel::RiseToLimit: {
        double tau = 0;
        std::vector<double> a;
        const auto columns = [&](const std::vector<std::size_t>& sample, double t) {
            std::vector<std::vector<double>> c(1);
            for (const std::size_t i : sample) c[0].push_back(1 - std::exp(-x[i] / t));
            return c;
        };
        if (!BestTimeConstant(x, y, std::max(std::fabs(*lowest), std::fabs(*highest)), columns, tau, a))
            return Failed(diverged);
        q = {a[0], tau};
        break;
    }
    case tFitModel::ExpApproach: {
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
        if (!BestTimeConstant(x, y, span, columns, tau, ac)) return Failed(diverged);
        q = {ac[0], tau, ac[1]};
        break;
    }
    case tFitModel::Sine: {
        problem.Origin = *lowest;
        // The spectrum's peak gives the frequency; a linear fit at it the amplitude and the phase.
        const double rate = double(n - 1) / span;
        // From the first minute or so at most: a start, refined below.
        const std::size_t head = std::min<std::size_t>(n, 65536);
        const double frequency = DominantFrequency(y.first(head), rate);
        if (!(frequency > 0)) return Failed(QStringLiteral("В выбранных точках не видно колебаний."));
        std::vector<std::vector<double>> columns(3);
        std::vector<double> ys;
        for (const std::size_t i : Sample(n)) {
            const double angle = kTwoPi * frequency * (x[i] - problem.Origin);
            columns[0].push_back(std::sin(angle));
            columns[1].push_back(std::cos(angle));
            columns[2].push_back(1);
            ys.push_back(y[i]);
        }
        tLinear linear;
        if (!SolveLinear(columns, ys, linear)) return Failed(diverged);
        const double p = linear.Coefficients[0], c = linear.Coefficients[1];
        q = {std::hypot(p, c), frequency, std::atan2(c, p), linear.Coefficients[2]};
        break;
    }
    default:
        return Failed(diverged);
    }
    std::vector<double> covariance;
    double squares = 0;
    // A long region is solved on a sample of it first; the whole of it then needs only a few steps more.
    // An oscillation cannot be sampled sparsely (it would alias): it is solved on its first points, then on
    // ten times as many at each round, its phase never more than a little off.
    if (model == tFitModel::Sine) {
        for (std::size_t part = 2000; part < n; part *= 10) {
            tProblem first{model, x.first(part), y.first(part), problem.Origin, {}};
            if (!Solve(first, q, covariance, squares, part == 2000 ? 200 : 10, false))
                return Failed(diverged);
        }
    } else if (n > 5000) {
        std::vector<double> sx, sy, slogs;
        for (const std::size_t i : Sample(n)) {
            sx.push_back(x[i]);
            sy.push_back(y[i]);
            if (!logs.empty()) slogs.push_back(logs[i]);
        }
        tProblem sample{model, sx, sy, problem.Origin, slogs};
        if (!Solve(sample, q, covariance, squares, 200, false)) return Failed(diverged);
    }
    if (!Solve(problem, q, covariance, squares, n > 5000 ? 10 : 200)) return Failed(diverged);
    const std::size_t m = q.size();
    // Back from the solver's parameters to the model's.
    std::vector<double> g(m * m, 0.0);
    for (std::size_t i = 0; i < m; ++i) g[i * m + i] = 1;
    if (model == tFitModel::ExpApproach) {
        const double grow = std::exp(problem.Origin / q[1]);
        g[0] = grow;
        g[1] = -q[0] * problem.Origin / (q[1] * q[1]) * grow;
    } else if (model == tFitModel::Sine) {
        if (q[0] < 0) {
            q[0] = -q[0];
            q[2] += std::numbers::pi;
        }
        if (q[1] < 0) {
            q[1] = -q[1];
            q[2] = std::numbers::pi - q[2];
        }
        g[2 * m + 1] = -kTwoPi * problem.Origin;
    }
    tFit fit;
    fit.StdErrors = TransformedErrors(g, covariance, m);
    fit.Params = q;
    if (model == tFitModel::ExpApproach) fit.Params[0] = q[0] * std::exp(problem.Origin / q[1]);
    if (model == tFitModel::Sine) {
        double phase = std::remainder(q[2] - kTwoPi * q[1] * problem.Origin, kTwoPi);
        if (phase <= -std::numbers::pi) phase += kTwoPi;
        fit.Params[2] = phase;
    }
    Finish(fit, squares, y);
    return fit;
}

} // namespace

tFit FitCurve(tFitModel model, std::span<const double> x, std::span<const double> y) {
    if (x.size() != y.size()) return Failed(QStringLiteral("Разное число значений x и y."));
    const std::size_t parameters = std::size_t(FitParamCount(model));
    if (x.size() <= parameters)
        return Failed(
            QStringLiteral("Слишком мало точек: для этой кривой нужно не меньше %1.").arg(parameters + 1));
    const auto finite = [](double v) { return std::isfinite(v); };
    if (!std::all_of(x.begin(), x.end(), finite) || !std::all_of(y.begin(), y.end(), finite))
        return Failed(QStringLiteral("Среди значений есть нечисловые."));
    const auto [lowest, highest] = std::minmax_element(x.begin(), x.end());
    if (!(*highest > *lowest))
        return Failed(QStringLiteral("У всех точек одно и то же значение x: кривую подобрать нельзя."));
    // A level line leaves a curve's shape (its τ, its frequency, its power) undetermined.
    const auto [low, high] = std::minmax_element(y.begin(), y.end());
    if (!(*high > *low) && model != tFitModel::Line && model != tFitModel::Parabola)
        return Failed(QStringLiteral("Все значения y одинаковы: у этой кривой нечего подбирать."));
    switch (model) {
    case tFitModel::Line:
        return FitPolynomial(1, x, y);
    case tFitModel::Parabola:
        return FitPolynomial(2, x, y);
    default:
        return FitNonlinear(model, x, y);
    }
}

double FitValue(tFitModel model, const std::vector<double>& p, double x) {
    if (p.size() != std::size_t(FitParamCount(model))) return NAN;
    switch (model) {
    case tFitModel::Line:
        return p[0] * x + p[1];
    case tFitModel::Parabola:
        return (p[0] * x + p[1]) * x + p[2];
    case tFitModel::Power:
        return p[0] * std::pow(x, p[1]);
    case tFitModel::RiseToLimit:
        return p[0] * (1 - std::exp(-x / p[1]));
    case tFitModel::ExpApproach:
        return p[2] + p[0] * std::exp(-x / p[1]);
    case tFitModel::Sine:
        return p[0] * std::sin(kTwoPi * p[1] * x + p[2]) + p[3];
    }
    return NAN;
}

namespace {

struct tModelInfo {
    int Params;
    const char* Name;
    const char* Formula;
    const char* Key;
    const char* ParamNames[4];
};

const tModelInfo& Info(tFitModel model) {
    static const tModelInfo models[] = {
        {2, "Прямая", "y = a·x + b", "Line", {"a", "b"}},
        {3, "Парабола", "y = a·x² + b·x + c", "Parabola", {"a", "b", "c"}},
        {2, "Степенная", "y = a·xᵇ", "Power", {"a", "b"}},
        {2, "Рост до предела", "y = a·(1 − e^(−x/τ))", "RiseToLimit", {"a", "τ"}},
        {3, "Экспонента к пределу", "y = c + a·e^(−x/τ)", "ExpApproach", {"a", "τ", "c"}},
        {4, "Синусоида", "y = A·sin(2π·f·x + φ) + c", "Sine", {"A", "f", "φ", "c"}},
    };
    return models[std::clamp(int(model), 0, int(std::size(models)) - 1)];
}

} // namespace

int FitParamCount(tFitModel model) {
    return Info(model).Params;
}

QString FitModelName(tFitModel model) {
    return QString::fromUtf8(Info(model).Name);
}

QString FitModelFormula(tFitModel model) {
    return QString::fromUtf8(Info(model).Formula);
}

QString FitParamName(tFitModel model, int i) {
    return i >= 0 && i < Info(model).Params ? QString::fromUtf8(Info(model).ParamNames[i]) : QString();
}

QString FitModelKey(tFitModel model) {
    return QString::fromLatin1(Info(model).Key);
}

std::optional<tFitModel> FitModelFromKey(const QString& key) {
    for (const tFitModel model : kFitModels)
        if (key.trimmed().compare(FitModelKey(model), Qt::CaseInsensitive) == 0) return model;
    return std::nullopt;
}
