// Curves fitted to a region of a run by least squares, with the parameters' standard errors.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// The models and the order of their parameters:
//   Line         y = a·x + b                 {a, b}
//   Parabola     y = a·x² + b·x + c          {a, b, c}
//   Power        y = a·x^b                   {a, b}        (x > 0)
//   RiseToLimit  y = a·(1 − e^(−x/τ))        {a, τ}
//   ExpApproach  y = c + a·e^(−x/τ)          {a, τ, c}
//   Sine         y = A·sin(2π·f·x + φ) + c   {A, f, φ, c}  A > 0, f > 0, φ in (−π, π]
enum class tFitModel { Line, Parabola, Power, RiseToLimit, ExpApproach, Sine };

struct tFit {
    bool Ok = false;
    QString Error; // in Russian, for the user, when not Ok
    std::vector<double> Params, StdErrors;
    double ResidualSD = 0, RSquared = 0;
};

// The linear models are solved on x centred and scaled (by QR through an SVD), the others by a trust-region
// Levenberg–Marquardt from starting values found in the data. StdErrors: the residual variance times the
// diagonal of (JᵀJ)⁻¹. Bad input or a fit that does not converge gives Ok false and the reason, never an
// exception.
// A long region (over 100,000 points) is started on a sample of it and finished over all its points in
// passes that hold no more memory than a few of its points: told to `progress`, which cancels with false
// (the fit is then not Ok).
using tFitProgress = std::function<bool(int done, int total)>;
tFit FitCurve(tFitModel model, std::span<const double> x, std::span<const double> y,
              const tFitProgress& progress = {});

// The model's value at `x` with `params` as FitCurve gives them.
double FitValue(tFitModel model, const std::vector<double>& params, double x);
int FitParamCount(tFitModel model);
// The model's name in the menus («Прямая», …), its formula («y = a·x + b») and its key in experiment.txt
// ("Line", …).
QString FitModelName(tFitModel model);
QString FitModelFormula(tFitModel model);
QString FitModelKey(tFitModel model);
// The name of parameter `i` in the formula («τ»).
QString FitParamName(tFitModel model, int i);
std::optional<tFitModel> FitModelFromKey(const QString& key);
// «Числа в выбранной области слишком велики…»: why values whose sums exceed the largest double give no
// result.
QString TooLarge();
// Every model, in the order the menus show them.
const std::vector<tFitModel>& FitModels();
