// Curves fitted by least squares: the polynomials at once, the other models by iterations from where their
// row of the model table starts them.
#include "analysis/Fit.h"

#include <QLocale>

#include "analysis/FitSolver.h"
#include "analysis/Spectrum.h"
#include "analysis/Statistics.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <gsl/gsl_blas.h>
#include <gsl/gsl_errno.h>
#include <gsl/gsl_linalg.h>
#include <gsl/gsl_multifit.h>
#include <gsl/gsl_multifit_nlinear.h>
#include <memory>
#include <numbers>
#include <thread>

using namespace fit;

namespace {

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

} // namespace

QString TooLarge() {
    return QStringLiteral("Числа в выбранной области слишком велики: посчитать это нельзя.");
}

namespace {

tFit Failed(const QString& error) {
    tFit fit;
    fit.Error = error;
    return fit;
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
    if (!std::isfinite(residualSquares) || !std::isfinite(total) || !std::isfinite(fit.ResidualSD)) {
        fit.Ok = false;
        fit.Error = TooLarge();
        return;
    }
    // A curve that describes the points worse than their mean does is no answer.
    if (fit.RSquared < -1e-9) {
        fit.Ok = false;
        fit.Error = Diverged();
        return;
    }
    fit.Ok =
        std::all_of(fit.Params.begin(), fit.Params.end(), [](double v) { return std::isfinite(v); }) &&
        std::all_of(fit.StdErrors.begin(), fit.StdErrors.end(), [](double v) { return std::isfinite(v); });
    // Parameters beyond the largest double are numbers too large, not a failure to converge.
    const auto infinite = [](double v) { return std::isinf(v); };
    if (!fit.Ok)
        fit.Error = std::any_of(fit.Params.begin(), fit.Params.end(), infinite) ||
                            std::any_of(fit.StdErrors.begin(), fit.StdErrors.end(), infinite)
                        ? TooLarge()
                        : Diverged();
}

// A curved model's answer must explain the points: its residuals clearly smaller than the points' own
// spread about their mean (R² of 0.19 is residuals nine tenths of that spread). A line or a parabola is
// the best of its kind whatever the points, and a level one is the honest answer that there is no trend.
void Explains(tFit& fit) {
    if (!fit.Ok || fit.RSquared >= 0.19) return;
    fit.Ok = false;
    fit.Error = QStringLiteral("Подобранная кривая не объясняет точки: они отклоняются от неё почти так же, "
                               "как от своего среднего (R² = %1). Выберите другую кривую или область.")
                    .arg(QLocale().toString(fit.RSquared, 'f', 2));
}

// Which parameters of `model` are in the unit of y (they scale with it); the others (τ, a frequency, a
// phase, a power) do not.
bool ScalesWithY(tFitModel model, std::size_t i) {
    switch (model) {
    case tFitModel::Line:
    case tFitModel::Parabola:
        return true;
    case tFitModel::Power:
    case tFitModel::RiseToLimit:
        return i == 0;
    case tFitModel::ExpApproach:
        return i != 1;
    case tFitModel::Sine:
        return i == 0 || i == 3;
    }
    return false;
}

// The symmetric m × m matrix `a` (row by row) inverted in place; false when it is singular.
bool Invert(std::vector<double>& a, std::size_t m) {
    tMatrix matrix(gsl_matrix_alloc(m, m));
    for (std::size_t i = 0; i < m * m; ++i) matrix->data[i / m * matrix->tda + i % m] = a[i];
    if (gsl_linalg_cholesky_decomp1(matrix.get()) != GSL_SUCCESS ||
        gsl_linalg_cholesky_invert(matrix.get()) != GSL_SUCCESS)
        return false;
    for (std::size_t i = 0; i < m * m; ++i) a[i] = matrix->data[i / m * matrix->tda + i % m];
    return true;
}

// A long region's polynomial in t = (x − mx)/sx from its normal equations, summed in passes over the points
// (on t centred and scaled they are well conditioned): no matrix as long as the region.
bool SolveLongPolynomial(int degree, std::span<const double> x, std::span<const double> y, double mx,
                         double sx, tLinear& out) {
    const std::size_t n = x.size();
    const std::size_t m = std::size_t(degree) + 1;
    long double powers[5] = {}, moments[3] = {};
    for (std::size_t i = 0; i < n; ++i) {
        const long double t = (x[i] - mx) / sx;
        long double p = 1;
        for (std::size_t k = 0; k < 2 * m - 1; ++k, p *= t) {
            powers[k] += p;
            if (k < m) moments[k] += p * y[i];
        }
    }
    std::vector<double> normal(m * m);
    for (std::size_t a = 0; a < m; ++a)
        for (std::size_t b = 0; b < m; ++b) normal[a * m + b] = double(powers[a + b]);
    if (!Invert(normal, m)) return false;
    out.Coefficients.assign(m, 0.0);
    for (std::size_t a = 0; a < m; ++a)
        for (std::size_t b = 0; b < m; ++b) out.Coefficients[a] += normal[a * m + b] * double(moments[b]);
    long double squares = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = (x[i] - mx) / sx;
        double value = 0;
        for (std::size_t k = m; k-- > 0;) value = value * t + out.Coefficients[k];
        squares += (long double)(y[i] - value) * (y[i] - value);
    }
    out.SumOfSquares = double(squares);
    const double variance = out.SumOfSquares / double(n - m);
    out.Covariance.resize(m * m);
    for (std::size_t i = 0; i < m * m; ++i) out.Covariance[i] = normal[i] * variance;
    return std::all_of(out.Coefficients.begin(), out.Coefficients.end(),
                       [](double v) { return std::isfinite(v); });
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
    tLinear linear;
    if (n <= 100000) {
        std::vector<std::vector<double>> columns(std::size_t(degree) + 1, std::vector<double>(n));
        for (std::size_t i = 0; i < n; ++i) {
            const double t = (x[i] - mx) / sx;
            columns[0][i] = 1;
            columns[1][i] = t;
            if (degree == 2) columns[2][i] = t * t;
        }
        if (!SolveLinear(columns, y, linear)) return Failed(Diverged());
    } else if (!SolveLongPolynomial(degree, x, y, mx, sx, linear)) {
        return Failed(Diverged());
    }
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

int Residuals(const gsl_vector* q, void* data, gsl_vector* f) {
    const auto& p = *static_cast<const tProblem*>(data);
    for (std::size_t i = 0; i < p.X.size(); ++i)
        gsl_vector_set(f, i, p.Solved(p, q->data, i, nullptr) - p.Y[i]);
    return GSL_SUCCESS;
}

int Jacobian(const gsl_vector* q, void* data, gsl_matrix* J) {
    const auto& p = *static_cast<const tProblem*>(data);
    double gradient[4];
    for (std::size_t i = 0; i < p.X.size(); ++i) {
        p.Solved(p, q->data, i, gradient);
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

// Levenberg–Marquardt steps over every point of a long region from a start found on a sample of it: the
// normal equations are summed in one pass a step (on every core), so the memory does not grow with the
// points.
bool Refine(const tProblem& problem, std::vector<double>& q, std::vector<double>& covariance, double& squares,
            const tFitProgress& progress) {
    const std::size_t n = problem.X.size();
    const std::size_t m = q.size();
    struct tSums {
        std::vector<double> Normal, Gradient;
        long double Squares = 0;
    };
    // The sums over the points [from, to) at the parameters `at`.
    const auto part = [&](const std::vector<double>& at, std::size_t from, std::size_t to, tSums& sums) {
        sums.Normal.assign(m * m, 0.0);
        sums.Gradient.assign(m, 0.0);
        double g[4] = {};
        for (std::size_t i = from; i < to; ++i) {
            const double r = problem.Solved(problem, at.data(), i, g) - problem.Y[i];
            sums.Squares += (long double)r * r;
            for (std::size_t a = 0; a < m; ++a) {
                sums.Gradient[a] += g[a] * r;
                for (std::size_t b = 0; b <= a; ++b) sums.Normal[a * m + b] += g[a] * g[b];
            }
        }
    };
    const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
    const auto pass = [&](const std::vector<double>& at, tSums& sums) {
        std::vector<tSums> parts(threads);
        std::vector<std::thread> workers;
        for (std::size_t t = 1; t < threads; ++t)
            workers.emplace_back(part, std::cref(at), n * t / threads, n * (t + 1) / threads,
                                 std::ref(parts[t]));
        part(at, 0, n / threads, parts[0]);
        for (std::thread& worker : workers) worker.join();
        sums = std::move(parts[0]);
        for (std::size_t t = 1; t < threads; ++t) {
            sums.Squares += parts[t].Squares;
            for (std::size_t k = 0; k < m * m; ++k) sums.Normal[k] += parts[t].Normal[k];
            for (std::size_t k = 0; k < m; ++k) sums.Gradient[k] += parts[t].Gradient[k];
        }
        for (std::size_t a = 0; a < m; ++a)
            for (std::size_t b = 0; b < a; ++b) sums.Normal[b * m + a] = sums.Normal[a * m + b];
    };
    tSums now;
    pass(q, now);
    double lambda = 1e-4;
    // Steps that do not lower the squares: a start at the least squares already (or at their rounding) ends
    // after two.
    int fruitless = 0;
    for (int step = 0; step < 30 && fruitless < 2 && std::isfinite(double(now.Squares)); ++step) {
        if (progress && !progress(step, 30)) return false;
        // (JᵀJ + λ·diag JᵀJ) δ = −Jᵀr
        std::vector<double> a = now.Normal;
        for (std::size_t k = 0; k < m; ++k) a[k * m + k] *= 1 + lambda;
        std::vector<double> inverse = now.Normal;
        if (!Invert(a, m) || !Invert(inverse, m)) return false;
        std::vector<double> trial = q;
        // Done when the full step would move every parameter by less than a thousandth of its standard
        // error: no pass over the points can tell such a step from none.
        const double variance = double(now.Squares) / double(n - m);
        bool small = true;
        for (std::size_t r = 0; r < m; ++r) {
            double delta = 0, full = 0;
            for (std::size_t c = 0; c < m; ++c) {
                delta -= a[r * m + c] * now.Gradient[c];
                full -= inverse[r * m + c] * now.Gradient[c];
            }
            trial[r] += delta;
            small = small && std::fabs(full) <= 1e-3 * std::sqrt(variance * inverse[r * m + r]);
        }
        if (small) break;
        tSums next;
        pass(trial, next);
        const long double gain = now.Squares - next.Squares;
        if (std::isfinite(double(next.Squares)) && gain > 0) {
            q = trial;
            now = std::move(next);
            lambda = std::max(lambda / 10, 1e-12);
            if (gain <= 1e-10L * now.Squares) break;
            fruitless = 0;
        } else {
            lambda *= 10;
            ++fruitless;
        }
    }
    squares = double(now.Squares);
    if (!std::isfinite(squares) || !Invert(now.Normal, m)) return false;
    const double variance = squares / double(n - m);
    covariance.resize(m * m);
    for (std::size_t i = 0; i < m * m; ++i) covariance[i] = now.Normal[i] * variance;
    return true;
}

// Regions longer than this are fitted on a sample first and then refined over all their points in passes.
constexpr std::size_t kLong = 100000;

tFit FitNonlinear(tFitModel model, std::span<const double> x, std::span<const double> y,
                  const tFitProgress& progress) {
    const std::size_t n = x.size();
    const tModelRow& row = Row(model);
    tProblem problem{row.Solved, x, y, 0, {}};
    std::vector<double> logs;
    std::vector<double> q;
    std::vector<double> covariance;
    double squares = 0;
    if (n <= kLong) {
        if (const QString error = row.Start(problem, logs, q); !error.isEmpty()) return Failed(error);
        // An oscillation is solved on its first points, then on more, its phase never more than a little off.
        if (row.Oscillates)
            for (std::size_t part = 2000; part < n; part *= 10) {
                tProblem first{row.Solved, x.first(part), y.first(part), problem.Origin, {}};
                if (!Solve(first, q, covariance, squares, part == 2000 ? 200 : 10, false))
                    return Failed(Diverged());
            }
        if (!Solve(problem, q, covariance, squares, 200)) return Failed(Diverged());
    } else {
        // A long region: its start and a first solution from a sample, evenly spread over the whole of it;
        // an oscillation's sample as dense as its frequency needs (else its first points), so that it never
        // aliases.
        std::size_t stride = n / kLong + 1;
        std::size_t first = n;
        if (row.Oscillates) {
            const double rate = double(n - 1) / (x[n - 1] - x[0]);
            const double frequency = DominantFrequency(y.first(std::min<std::size_t>(n, 65536)), rate);
            if (frequency > 0)
                stride = std::clamp<std::size_t>(std::size_t(rate / (20 * frequency)), 1, stride);
            first = std::min(n, stride * kLong);
        }
        std::vector<double> sx, sy;
        for (std::size_t i = 0; i < first; i += stride) {
            sx.push_back(x[i]);
            sy.push_back(y[i]);
        }
        tProblem sample{row.Solved, sx, sy, 0, {}};
        if (const QString error = row.Start(sample, logs, q); !error.isEmpty()) return Failed(error);
        // First on a few thousand of the sample's points (an oscillation's first ones, else evenly spread):
        // a curve that explains nothing of them explains nothing of the whole, and is said at once.
        std::vector<double> fx, fy;
        const std::size_t few = row.Oscillates ? std::min<std::size_t>(sx.size(), 5000) : sx.size();
        for (std::size_t i = 0; i < few; i += row.Oscillates ? 1 : std::max<std::size_t>(1, few / 5000)) {
            fx.push_back(sx[i]);
            fy.push_back(sy[i]);
        }
        // An oscillation's phase never more than a little off: on its first 500 points, then on all of these.
        for (std::size_t part = row.Oscillates ? std::min<std::size_t>(500, fx.size()) : fx.size();;
             part = std::min(fx.size(), part * 10)) {
            tProblem start{row.Solved, std::span<const double>(fx).first(part),
                           std::span<const double>(fy).first(part), sample.Origin, {}};
            if (!Solve(start, q, covariance, squares, 200, false)) return Failed(Diverged());
            if (part == fx.size()) break;
        }
        tFit onStart;
        onStart.Ok = true;
        const tStatistics about = Describe(fy);
        const double total = about.StdDev * about.StdDev * double(about.Count - 1);
        onStart.RSquared = total > 0 ? 1 - squares / total : 0;
        Explains(onStart);
        if (!onStart.Ok) return onStart;
        if (!Solve(sample, q, covariance, squares, 200, false)) return Failed(Diverged());
        problem.Origin = sample.Origin;
        if (!Refine(problem, q, covariance, squares, progress)) return Failed(Diverged());
    }
    const std::size_t m = q.size();
    // Back from the solver's parameters to the model's.
    std::vector<double> g(m * m, 0.0);
    for (std::size_t i = 0; i < m; ++i) g[i * m + i] = 1;
    tFit fit;
    fit.Params = q;
    if (row.Back) row.Back(problem, q, g, fit.Params);
    fit.StdErrors = TransformedErrors(g, covariance, m);
    Finish(fit, squares, y);
    // An answer that cannot be true of the points is none: a frequency the sampling cannot show, or one
    // away from the spectrum's peak.
    if (fit.Ok && row.Oscillates) {
        const double rate = double(n - 1) / (x[n - 1] - x[0]);
        const std::size_t head = std::min<std::size_t>(n, 65536);
        const double peak = DominantFrequency(y.first(head), rate);
        const double bin = rate / double(head);
        if (!(fit.Params[1] < rate / 2) ||
            !(std::fabs(fit.Params[1] - peak) <= std::max(0.1 * peak, 3 * bin)))
            return Failed(Diverged());
    }
    return fit;
}

} // namespace

tFit FitCurve(tFitModel model, std::span<const double> x, std::span<const double> y,
              const tFitProgress& progress) {
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
    const tModelRow& row = Row(model);
    if (!(*high > *low) && row.Degree == 0)
        return Failed(QStringLiteral("Все значения y одинаковы: у этой кривой нечего подбирать."));
    // Values near the ends of the doubles (10³⁰⁰, 10⁻³⁰⁰) are fitted as values near 1, scaled by a power of
    // two (exactly), and the answer scaled back: their squares would overflow or vanish.
    double largest = 0;
    for (const double v : y) largest = std::max(largest, std::fabs(v));
    int exponent = 0;
    std::frexp(largest, &exponent);
    if (largest > 0 && std::abs(exponent) > 300) {
        std::vector<double> scaled(y.begin(), y.end());
        for (double& v : scaled) v = std::ldexp(v, -exponent);
        tFit fit = FitCurve(model, x, scaled, progress);
        if (!fit.Ok) return fit;
        for (std::size_t i = 0; i < fit.Params.size(); ++i)
            if (ScalesWithY(model, i)) {
                fit.Params[i] = std::ldexp(fit.Params[i], exponent);
                fit.StdErrors[i] = std::ldexp(fit.StdErrors[i], exponent);
            }
        fit.ResidualSD = std::ldexp(fit.ResidualSD, exponent);
        const auto finite = [](double v) { return std::isfinite(v); };
        if (!std::all_of(fit.Params.begin(), fit.Params.end(), finite) ||
            !std::all_of(fit.StdErrors.begin(), fit.StdErrors.end(), finite) || !std::isfinite(fit.ResidualSD))
            return Failed(TooLarge());
        return fit;
    }
    if (row.Degree > 0) return FitPolynomial(row.Degree, x, y);
    tFit fit = FitNonlinear(model, x, y, progress);
    Explains(fit);
    return fit;
}

double FitValue(tFitModel model, const std::vector<double>& p, double x) {
    if (p.size() != std::size_t(FitParamCount(model))) return NAN;
    return Row(model).Value(p.data(), x);
}

const std::vector<tFitModel>& FitModels() {
    static const std::vector<tFitModel> models = [] {
        std::vector<tFitModel> all;
        for (const tModelRow& row : Rows()) all.push_back(row.Model);
        return all;
    }();
    return models;
}

int FitParamCount(tFitModel model) {
    return int(Row(model).ParamNames.size());
}

QString FitModelName(tFitModel model) {
    return QString::fromUtf8(Row(model).Name);
}

QString FitModelFormula(tFitModel model) {
    return QString::fromUtf8(Row(model).Formula);
}

QString FitParamName(tFitModel model, int i) {
    return i >= 0 && i < FitParamCount(model) ? QString::fromUtf8(Row(model).ParamNames[std::size_t(i)])
                                              : QString();
}

QString FitModelKey(tFitModel model) {
    return QString::fromLatin1(Row(model).Key);
}

std::optional<tFitModel> FitModelFromKey(const QString& key) {
    for (const tModelRow& row : Rows())
        if (key.trimmed().compare(QLatin1String(row.Key), Qt::CaseInsensitive) == 0) return row.Model;
    return std::nullopt;
}

bool fit::SolveLinear(const std::vector<std::vector<double>>& columns, std::span<const double> y,
                      tLinear& out) {
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

// At most about two thousand points, evenly taken: enough to find where to start.
std::vector<std::size_t> fit::Sample(std::size_t n) {
    std::vector<std::size_t> indices;
    const std::size_t step = std::max<std::size_t>(1, n / 2000);
    for (std::size_t i = 0; i < n; i += step) indices.push_back(i);
    return indices;
}

const QString& fit::Diverged() {
    static const QString text =
        QStringLiteral("Подбор не сошёлся: эта кривая не подходит к выбранным точкам.");
    return text;
}
