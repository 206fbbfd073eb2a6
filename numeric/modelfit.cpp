#include "numeric/modelfit.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"

namespace kesta {

namespace {

constexpr float kMachinePrecision = 2.3842e-7f;
constexpr float kSmallest = 1.7e-38f;
// The normalised free values start at this, each a step of its scale factor
// from the next; the minimiser's steps and tests take them so. They are held
// as their change from it, which single precision resolves far more finely
// near 0 than near this: a parameter of a large scale factor (the level of
// data on a huge offset) would otherwise move by steps coarser than its
// noise.
constexpr float kOrigin = 100.0f;
// The largest relative reduction of the sum of squares predicted for a step
// that may still end the fit as too small to matter.
constexpr float kSettledReduction = 1.0e-4f;
// The part of the first residuals' norm below which they are taken as those
// of a model that fits the data exactly.
constexpr float kExactFit = 1.0e-5f;

// Sum of products in double, in eight independent partial sums so that the
// loop vectorises.
double dot(Index num, const float* a, const float* b) {
  double part[8] = {};
  Index i = 0;
  for (; i + 8 <= num; i += 8) {
    for (int k = 0; k < 8; ++k) part[k] += double(a[i + k]) * double(b[i + k]);
  }
  double sum = 0.0;
  for (; i < num; ++i) sum += double(a[i]) * double(b[i]);
  for (double p : part) sum += p;
  return sum;
}

// Euclidean norm; the squares are summed in double, which neither overflows
// nor underflows for single-precision values.
float MA_EUCLIDEANNORM(Index num, const float* vector) {
  return static_cast<float>(std::sqrt(dot(num, vector, vector)));
}

// One fit: the caller's arguments, the free-parameter bookkeeping and the work
// storage.
struct Fit {
  // Arguments.
  int info_level;
  const ModelFunction& model_function;
  bool mask_data, weighted, subtract_data;
  Index xmaxdat, ymaxdat;
  std::span<const float> data;
  std::span<const std::uint8_t> mask;
  std::span<const float> sigmas;
  Index xs, ys, xe, ye;
  void* pass[4];
  int num_parameters;
  std::span<const float> scales;
  Index xmaxmod, ymaxmod;
  bool model_in_data_frame;
  std::span<float> model;
  int& num_calls;
  double& sum_squares;
  Status& status;

  // Counts and work storage.
  Index m = 0, n = 0;
  std::vector<int> free_index{};  // parameter number of each free parameter
  std::vector<float> fjac{};      // M x N, column per free parameter
  std::vector<int> ipvt{};
  std::vector<float> fvec{}, diag{}, qtf{}, p0{}, wa1{}, wa2{}, wa3{}, wa4{}, trial{};
  // Model values (used elements, residual order) and sum of squares of the
  // accepted point, put back when the last evaluation was a rejected trial.
  std::vector<float> kept_model{};
  double kept_sum = 0.0;
  // The residuals the minimiser sees are the caller's times this power of
  // two, set at the first evaluation so that their norm lies near 1: single
  // precision holds neither the squares of data of 1e30 nor those of 1e-30,
  // nor the Levenberg-Marquardt parameter, which goes as those squares.
  double residual_factor = 0.0;

  int terminate = 0;
  // An evaluation gave a sum of squares that is not a finite number.
  bool not_finite = false;

  // Calls VISIT(i, model element) for each used data element, i counting in
  // residual order.
  template <typename Visit>
  void each_used_model(Visit visit) {
    Index i = 0;
    for (Index y = ys; y <= ye; ++y) {
      const std::uint8_t* mrow = mask_data ? mask.data() + element(1, y, xmaxdat) : nullptr;
      float* model_row = model.data() + (model_in_data_frame ? element(xs, y, xmaxmod)
                                                             : element(1, y - ys + 1, xmaxmod));
      for (Index x = xs; x <= xe; ++x) {
        if (mrow != nullptr && mrow[x - 1] != 0) continue;
        visit(i++, model_row[x - xs]);
      }
    }
  }

  // Calls VISIT(i, residual) for each used data element in residual order:
  // the model value, less the data value with SUBTRACT_DATA, divided by the
  // element's sigma with WEIGHTED, in double precision, where the difference
  // of two single-precision values always lies.
  template <typename Visit>
  void each_residual(Visit visit) const {
    Index i = 0;
    for (Index y = ys; y <= ye; ++y) {
      const float* drow = data.data() + element(1, y, xmaxdat);
      const std::uint8_t* mrow = mask_data ? mask.data() + element(1, y, xmaxdat) : nullptr;
      const float* srow = weighted ? sigmas.data() + element(1, y, xmaxdat) : nullptr;
      // Model element of data column xs in this row.
      const float* model_row = model.data() + (model_in_data_frame
                                                    ? element(xs, y, xmaxmod)
                                                    : element(1, y - ys + 1, xmaxmod));
      for (Index x = xs; x <= xe; ++x) {
        if (mrow != nullptr && mrow[x - 1] != 0) continue;
        double r = model_row[x - xs];
        if (subtract_data) r -= drow[x - 1];
        if (srow != nullptr) r /= srow[x - 1];
        visit(i++, r);
      }
    }
  }

  void keep_model() {
    each_used_model([this](Index i, float& value) { kept_model[i] = value; });
    kept_sum = sum_squares;
  }

  // The accepted point Q becomes the last evaluation again: its parameters in
  // caller units, its model values and its sum of squares.
  void restore_accepted(const float* q) {
    for (Index j = 0; j < n; ++j) {
      const auto k = static_cast<std::size_t>(free_index[j]);
      trial[k] = caller_value(k, q[j]);
    }
    each_used_model([this](Index i, float& value) { value = kept_model[i]; });
    sum_squares = kept_sum;
  }

  // Parameter K in the caller's units at the normalised free value Q, in
  // double until rounded once: the parameter resolves what its own single
  // precision value does, whatever its scale.
  float caller_value(std::size_t k, float q) const {
    return static_cast<float>(static_cast<double>(q) * scales[k] + p0[k]);
  }

  // Evaluates the model at the normalised free values Q (N values) into
  // RESIDUALS; TRIAL receives the full parameter vector in caller units.
  void MA_MODELRESID(const float* q, float* residuals) {
    if (st_bad(status, "Subroutine MA_MODELRESID V0.5")) return;
    for (Index j = 0; j < n; ++j) {
      const auto k = static_cast<std::size_t>(free_index[j]);
      trial[k] = caller_value(k, q[j]);
    }
    terminate = 0;
    model_function(mask_data, xmaxdat, ymaxdat, data, mask, xs, ys, xe, ye, pass[0], pass[1],
                   pass[2], pass[3], num_parameters, trial, xmaxmod, ymaxmod, model_in_data_frame,
                   terminate, model, status);
    if (status != kStatusGood) return;
    if (residual_factor == 0.0) {
      double first = 0.0;
      each_residual([&](Index, double r) { first += r * r; });
      const double norm = std::sqrt(first);
      residual_factor =
          norm > 0.0 && std::isfinite(norm) ? std::ldexp(1.0, -std::ilogb(norm)) : 1.0;
    }
    double sum = 0.0;
    each_residual([&](Index i, double r) {
      sum += r * r;
      residuals[i] = static_cast<float>(r * residual_factor);
      if (!std::isfinite(residuals[i])) not_finite = true;
    });
    sum_squares = sum;
    if (!std::isfinite(sum)) not_finite = true;
    if (info_level >= 2) {
      IO_WRITE("INFO: Sum of squares = " + format_g(sum_squares, 14, 7), status);
    }
  }

  // Forward-difference Jacobian over the free parameters at Q.
  void MA_JACOBIAN(float* q, float diff_step) {
    const float eps = std::sqrt(std::max(diff_step, kMachinePrecision));
    for (Index j = 0; j < n; ++j) {
      const float temp = q[j];
      float h = eps * std::fabs(temp + kOrigin);
      if (h == 0.0f) h = eps;
      q[j] = temp + h;
      MA_MODELRESID(q, wa4.data());
      ++num_calls;
      q[j] = temp;
      if (terminate != 0 || status != kStatusGood) return;
      float* column = fjac.data() + j * m;
      for (Index i = 0; i < m; ++i) column[i] = (wa4[i] - fvec[i]) / h;
    }
    // A column below the square of single precision's resolution of the
    // largest holds nothing the factorisation can use, and its tiny pivot
    // would send its parameter beyond any value (a peak evaluated at the
    // height 1e-37 has such columns for its position and widths). It is
    // taken as zero: the parameter stays where it is until its column
    // counts. A column merely below that resolution is still the
    // parameter's own: the factorisation keeps each column to its own
    // precision, and a parameter of a scale factor far below its effect (a
    // slope started at 0 with a scale of a tenth under a peak of 1e8) has
    // its whole gradient in one some 1e-8 of the largest.
    float largest = 0.0f;
    for (Index j = 0; j < n; ++j) {
      wa1[j] = MA_EUCLIDEANNORM(m, col(j));
      largest = std::max(largest, wa1[j]);
    }
    const float negligible = kMachinePrecision * kMachinePrecision * largest;
    for (Index j = 0; j < n; ++j) {
      if (wa1[j] > 0.0f && wa1[j] <= negligible) std::fill_n(col(j), m, 0.0f);
    }
  }

  float* col(Index j) { return fjac.data() + j * m; }
  float& r(Index i, Index j) { return fjac[static_cast<std::size_t>(i + j * m)]; }

  // QR factorisation of the Jacobian with column pivoting: R in the upper
  // triangle, the Householder vectors below, RDIAG the diagonal of R, ACNORM
  // the column norms of the Jacobian.
  void MA_QR(float* rdiag, float* acnorm, float* wa) {
    for (Index j = 0; j < n; ++j) {
      acnorm[j] = MA_EUCLIDEANNORM(m, col(j));
      rdiag[j] = acnorm[j];
      wa[j] = rdiag[j];
      ipvt[j] = static_cast<int>(j);
    }
    const Index minmn = std::min(m, n);
    for (Index j = 0; j < minmn; ++j) {
      Index kmax = j;
      for (Index k = j; k < n; ++k) {
        if (rdiag[k] > rdiag[kmax]) kmax = k;
      }
      if (kmax != j) {
        std::swap_ranges(col(j), col(j) + m, col(kmax));
        rdiag[kmax] = rdiag[j];
        wa[kmax] = wa[j];
        std::swap(ipvt[j], ipvt[kmax]);
      }
      float* cj = col(j);
      float ajnorm = MA_EUCLIDEANNORM(m - j, cj + j);
      if (ajnorm != 0.0f) {
        if (cj[j] < 0.0f) ajnorm = -ajnorm;
        for (Index i = j; i < m; ++i) cj[i] /= ajnorm;
        cj[j] += 1.0f;
        for (Index k = j + 1; k < n; ++k) {
          float* ck = col(k);
          const float temp = static_cast<float>(dot(m - j, cj + j, ck + j) / double(cj[j]));
          for (Index i = j; i < m; ++i) ck[i] -= temp * cj[i];
          if (rdiag[k] != 0.0f) {
            const float t = ck[j] / rdiag[k];
            rdiag[k] *= std::sqrt(std::max(0.0f, 1.0f - t * t));
            const float ratio = rdiag[k] / wa[k];
            if (0.05f * ratio * ratio <= kMachinePrecision) {
              rdiag[k] = MA_EUCLIDEANNORM(m - j - 1, ck + j + 1);
              wa[k] = rdiag[k];
            }
          }
        }
      }
      rdiag[j] = -ajnorm;
    }
  }

  // Solves the scaled least-squares system with the diagonal DIAG added to R.
  void MA_MATSOLVE(const float* dg, const float* qtb, float* x, float* sdiag, float* wa) {
    for (Index j = 0; j < n; ++j) {
      for (Index i = j; i < n; ++i) r(i, j) = r(j, i);
      x[j] = r(j, j);
      wa[j] = qtb[j];
    }
    for (Index j = 0; j < n; ++j) {
      const Index l = ipvt[j];
      if (dg[l] != 0.0f) {
        for (Index k = j; k < n; ++k) sdiag[k] = 0.0f;
        sdiag[j] = dg[l];
        float qtbpj = 0.0f;
        for (Index k = j; k < n; ++k) {
          if (sdiag[k] == 0.0f) continue;
          float sn, cs;
          if (std::fabs(r(k, k)) < std::fabs(sdiag[k])) {
            const float cotan = r(k, k) / sdiag[k];
            sn = 0.5f / std::sqrt(0.25f + 0.25f * cotan * cotan);
            cs = sn * cotan;
          } else {
            const float tn = sdiag[k] / r(k, k);
            cs = 0.5f / std::sqrt(0.25f + 0.25f * tn * tn);
            sn = cs * tn;
          }
          r(k, k) = cs * r(k, k) + sn * sdiag[k];
          const float temp = cs * wa[k] + sn * qtbpj;
          qtbpj = -sn * wa[k] + cs * qtbpj;
          wa[k] = temp;
          for (Index i = k + 1; i < n; ++i) {
            const float t = cs * r(i, k) + sn * sdiag[i];
            sdiag[i] = -sn * r(i, k) + cs * sdiag[i];
            r(i, k) = t;
          }
        }
      }
      sdiag[j] = r(j, j);
      r(j, j) = x[j];
    }
    Index nsing = n;
    for (Index j = 0; j < n; ++j) {
      if (sdiag[j] == 0.0f && nsing == n) nsing = j;
      if (nsing < n) wa[j] = 0.0f;
    }
    for (Index k = 0; k < nsing; ++k) {
      const Index j = nsing - 1 - k;
      double sum = 0.0;
      for (Index i = j + 1; i < nsing; ++i) sum += double(r(i, j)) * double(wa[i]);
      wa[j] = static_cast<float>((double(wa[j]) - sum) / double(sdiag[j]));
    }
    for (Index j = 0; j < n; ++j) x[ipvt[j]] = wa[j];
  }

  // The Levenberg-Marquardt parameter PAR and the step X for the trust-region
  // bound DELTA.
  void MA_LMPAR(const float* dg, const float* qtb, float delta, float& par, float* x,
                float* sdiag, float* w1, float* w2) {
    Index nsing = n;
    for (Index j = 0; j < n; ++j) {
      w1[j] = qtb[j];
      if (r(j, j) == 0.0f && nsing == n) nsing = j;
      if (nsing < n) w1[j] = 0.0f;
    }
    for (Index k = 0; k < nsing; ++k) {
      const Index j = nsing - 1 - k;
      w1[j] /= r(j, j);
      const float temp = w1[j];
      for (Index i = 0; i < j; ++i) w1[i] -= r(i, j) * temp;
    }
    for (Index j = 0; j < n; ++j) x[ipvt[j]] = w1[j];

    int iter = 0;
    for (Index j = 0; j < n; ++j) w2[j] = dg[j] * x[j];
    float dxnorm = MA_EUCLIDEANNORM(n, w2);
    float fp = dxnorm - delta;
    if (fp <= 0.1f * delta) {
      par = 0.0f;
      return;
    }
    float parl = 0.0f;
    if (nsing >= n) {
      for (Index j = 0; j < n; ++j) {
        const Index l = ipvt[j];
        w1[j] = dg[l] * (w2[l] / dxnorm);
      }
      for (Index j = 0; j < n; ++j) {
        double sum = 0.0;
        for (Index i = 0; i < j; ++i) sum += double(r(i, j)) * double(w1[i]);
        w1[j] = static_cast<float>((double(w1[j]) - sum) / double(r(j, j)));
      }
      const float temp = MA_EUCLIDEANNORM(n, w1);
      parl = ((fp / delta) / temp) / temp;
    }
    for (Index j = 0; j < n; ++j) {
      double sum = 0.0;
      for (Index i = 0; i <= j; ++i) sum += double(r(i, j)) * double(qtb[i]);
      w1[j] = static_cast<float>(sum / double(dg[ipvt[j]]));
    }
    const float gnorm = MA_EUCLIDEANNORM(n, w1);
    float paru = gnorm / delta;
    if (paru == 0.0f) paru = kSmallest / std::min(delta, 0.1f);
    par = std::max(par, parl);
    par = std::min(par, paru);
    if (par == 0.0f) par = gnorm / dxnorm;
    for (;;) {
      ++iter;
      if (par == 0.0f) par = std::max(kSmallest, 0.001f * paru);
      const float temp = std::sqrt(par);
      for (Index j = 0; j < n; ++j) w1[j] = temp * dg[j];
      MA_MATSOLVE(w1, qtb, x, sdiag, w2);
      for (Index j = 0; j < n; ++j) w2[j] = dg[j] * x[j];
      dxnorm = MA_EUCLIDEANNORM(n, w2);
      const float previous = fp;
      fp = dxnorm - delta;
      if (std::fabs(fp) <= 0.1f * delta || (parl == 0.0f && fp <= previous && previous < 0.0f) ||
          iter == 10) {
        break;
      }
      for (Index j = 0; j < n; ++j) {
        const Index l = ipvt[j];
        w1[j] = dg[l] * (w2[l] / dxnorm);
      }
      for (Index j = 0; j < n; ++j) {
        w1[j] /= sdiag[j];
        const float t = w1[j];
        for (Index i = j + 1; i < n; ++i) w1[i] -= r(i, j) * t;
      }
      const float t = MA_EUCLIDEANNORM(n, w1);
      const float parc = ((fp / delta) / t) / t;
      if (fp > 0.0f) parl = std::max(parl, par);
      if (fp < 0.0f) paru = std::min(paru, par);
      par = std::max(parl, par + parc);
    }
  }
};

// The minimisation loop. Returns the END_CODE; Q holds the accepted
// normalised free values, as their change from kOrigin.
int MA_MODELMIN(Fit& f, int max_calls, float tolerance, float step_bound, float diff_step,
                std::vector<float>& q) {
  const Index n = f.n, m = f.m;
  const float ftol = tolerance, xtol = tolerance, gtol = tolerance;
  std::fill(q.begin(), q.end(), 0.0f);

  // Whether the model array and residuals hold the evaluation at Q.
  bool current = true;
  f.num_calls = 1;
  f.MA_MODELRESID(q.data(), f.fvec.data());
  if (f.terminate != 0 || f.status != kStatusGood) return 3;
  if (f.not_finite) return 8;
  f.keep_model();
  float fnorm = MA_EUCLIDEANNORM(m, f.fvec.data());
  const float first_norm = fnorm;
  float par = 0.0f;
  int iteration = 1;
  if (f.info_level > 0) IO_WRITE("INFO: Iteration = " + format_i(1, 6), f.status);

  float delta = 0.0f, xnorm = 0.0f;
  int end_code = -999;
  while (end_code == -999) {
    f.MA_JACOBIAN(q.data(), diff_step);
    current = false;
    if (f.terminate != 0 || f.status != kStatusGood) return 3;
    if (f.not_finite) {
      end_code = 8;
      break;
    }
    f.MA_QR(f.wa1.data(), f.wa2.data(), f.wa3.data());

    if (iteration == 1) {
      for (Index j = 0; j < n; ++j) {
        f.diag[j] = f.wa2[j] == 0.0f ? 1.0f : f.wa2[j];
        f.wa3[j] = f.diag[j] * (q[j] + kOrigin);
      }
      xnorm = MA_EUCLIDEANNORM(n, f.wa3.data());
      delta = step_bound * xnorm;
      if (delta == 0.0f) delta = step_bound;
    }

    // Q-transpose times the residuals.
    std::copy(f.fvec.begin(), f.fvec.end(), f.wa4.begin());
    for (Index j = 0; j < n; ++j) {
      float* cj = f.col(j);
      if (cj[j] != 0.0f) {
        const float temp = static_cast<float>(-dot(m - j, cj + j, f.wa4.data() + j) / double(cj[j]));
        for (Index i = j; i < m; ++i) f.wa4[i] += cj[i] * temp;
      }
      cj[j] = f.wa1[j];
      f.qtf[j] = f.wa4[j];
    }

    float gnorm = 0.0f;
    if (fnorm != 0.0f) {
      for (Index j = 0; j < n; ++j) {
        const Index l = f.ipvt[j];
        if (f.wa2[l] == 0.0f) continue;
        double sum = 0.0;
        for (Index i = 0; i <= j; ++i) sum += double(f.r(i, j)) * (double(f.qtf[i]) / fnorm);
        gnorm = std::max(gnorm, static_cast<float>(std::fabs(sum / f.wa2[l])));
      }
    }
    if (gnorm <= gtol) {
      end_code = -3;
      break;
    }
    for (Index j = 0; j < n; ++j) f.diag[j] = std::max(f.diag[j], f.wa2[j]);

    float ratio = 0.0f;
    do {
      f.MA_LMPAR(f.diag.data(), f.qtf.data(), delta, par, f.wa1.data(), f.wa2.data(),
                 f.wa3.data(), f.wa4.data());
      for (Index j = 0; j < n; ++j) {
        f.wa1[j] = -f.wa1[j];
        f.wa2[j] = q[j] + f.wa1[j];
        f.wa3[j] = f.diag[j] * f.wa1[j];
      }
      const float pnorm = MA_EUCLIDEANNORM(n, f.wa3.data());
      if (iteration == 1) delta = std::min(delta, pnorm);

      f.MA_MODELRESID(f.wa2.data(), f.wa4.data());
      ++f.num_calls;
      current = false;
      if (f.terminate != 0 || f.status != kStatusGood) return 3;
      if (f.not_finite) {
        end_code = 8;
        break;
      }
      const float fnorm1 = MA_EUCLIDEANNORM(m, f.wa4.data());

      float actred = -1.0f;
      if (0.1f * fnorm1 < fnorm) {
        const float t = fnorm1 / fnorm;
        actred = 1.0f - t * t;
      }
      for (Index j = 0; j < n; ++j) {
        f.wa3[j] = 0.0f;
        const float temp = f.wa1[f.ipvt[j]];
        for (Index i = 0; i <= j; ++i) f.wa3[i] += f.r(i, j) * temp;
      }
      const float temp1 = MA_EUCLIDEANNORM(n, f.wa3.data()) / fnorm;
      const float temp2 = (std::sqrt(par) * pnorm) / fnorm;
      const float prered = temp1 * temp1 + temp2 * temp2 / 0.5f;
      const float dirder = -(temp1 * temp1 + temp2 * temp2);
      ratio = prered != 0.0f ? actred / prered : 0.0f;

      if (ratio <= 0.25f) {
        float temp = actred >= 0.0f ? 0.5f : 0.5f * dirder / (dirder + 0.5f * actred);
        if (0.1f * fnorm1 >= fnorm || temp < 0.1f) temp = 0.1f;
        delta = temp * std::min(delta, pnorm / 0.1f);
        par = par / temp;
      } else if (par == 0.0f || ratio >= 0.75f) {
        delta = pnorm / 0.5f;
        par = 0.5f * par;
      }

      if (ratio >= 1.0e-4f) {
        for (Index j = 0; j < n; ++j) {
          q[j] = f.wa2[j];
          f.wa2[j] = f.diag[j] * (q[j] + kOrigin);
        }
        std::copy(f.wa4.begin(), f.wa4.end(), f.fvec.begin());
        f.keep_model();
        current = true;
        xnorm = MA_EUCLIDEANNORM(n, f.wa2.data());
        fnorm = fnorm1;
        ++iteration;
        if (f.info_level == 1) {
          IO_WRITE("INFO: Iteration = " + format_i(iteration, 6) + " Sum of squares = " +
                       format_g(f.sum_squares, 14, 7),
                   f.status);
        } else if (f.info_level >= 2) {
          IO_WRITE("INFO: Iteration = " + format_i(iteration, 6), f.status);
        }
      }

      // The step is judged against the scaled parameters as a whole, which
      // one parameter of a far larger scaled slope than the rest (the level
      // of data on a huge offset) can dominate: a step that still lowers the
      // sum of squares by more than a little is no converged one, however
      // small beside that parameter.
      const bool small_reduction =
          std::fabs(actred) <= ftol && prered <= ftol && 0.5f * ratio <= 1.0f;
      // Residuals gone down to the rounding of data the model fits exactly
      // have reductions of no meaning left.
      const bool settled = prered <= kSettledReduction || fnorm1 <= kExactFit * first_norm;
      const bool small_step = delta <= xtol * xnorm && settled;
      if (small_reduction) end_code = 0;
      if (small_step) end_code = -1;
      if (small_reduction && small_step) end_code = -2;
      if (end_code != -999) break;

      if (f.num_calls >= max_calls) end_code = 4;
      if (std::fabs(actred) <= kMachinePrecision && prered <= kMachinePrecision &&
          0.5f * ratio <= 1.0f) {
        end_code = 5;
      }
      if (delta <= kMachinePrecision * xnorm && settled) end_code = 6;
      if (gnorm <= kMachinePrecision) end_code = 7;
      if (end_code != -999) break;
    } while (ratio < 1.0e-4f);
  }

  // The model and sum of squares go back with the parameters they belong to.
  if (!current) f.restore_accepted(q.data());
  if (f.info_level > 0) {
    const double misfit = std::sqrt(f.sum_squares / double(m));
    IO_WRITE("INFO: Average mis-fit per element = " + format_g(misfit, 14, 7), f.status);
  }
  return end_code;
}

}  // namespace

void MA_MODELFIT(int info_level, const ModelFunction& model_function, bool mask_data,
                 bool weighted, bool subtract_data, Index xmaxdat, Index ymaxdat,
                 std::span<const float> data, std::span<const std::uint8_t> mask,
                 std::span<const float> sigmas, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, int mode, int max_calls, float tolerance, float step_bound,
                 float diff_step, void* pass_1, void* pass_2, void* pass_3, void* pass_4,
                 int num_parameters, std::span<const bool> constrained,
                 std::span<const float> scales, Index xmaxmod, Index ymaxmod,
                 bool model_in_data_frame, std::span<float> params, std::span<float> model,
                 int& end_code, int& num_calls, double& sum_squares, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_MODELFIT V0.7";
  if (st_bad(status, kPosition)) return;
  Status code = region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, 0);
  if (code == 0 && (max_calls < 1 || mode != 1)) code = 17;
  if (code == 0) {
    const Index need_x = model_in_data_frame ? xendelm : xendelm - xstrelm + 1;
    const Index need_y = model_in_data_frame ? yendelm : yendelm - ystrelm + 1;
    if (xmaxmod < need_x) {
      code = 5;
    } else if (ymaxmod < need_y) {
      code = 6;
    }
  }
  if (code == 0) {
    const Index np = std::max(num_parameters, 0);
    const Status e = span_error({{xmaxdat, ymaxdat, data.size()},
                                 {mask_data ? xmaxdat : 0, ymaxdat, mask.size()},
                                 {weighted ? xmaxdat : 0, ymaxdat, sigmas.size()},
                                 {xmaxmod, ymaxmod, model.size()}, {np, 1, constrained.size()},
                                 {np, 1, scales.size()}, {np, 1, params.size()}});
    if (e != 0) code = e - kBaseMath;
  }
  // Zero divisors would turn the residuals into infinities, and a value that
  // is not a finite number would make every sum of squares one too.
  if (code == 0) {
    for (int k = 0; k < num_parameters; ++k) {
      if (!constrained[k] && (scales[k] == 0.0f || !std::isfinite(scales[k]))) code = 21;
    }
  }
  if (code == 0 && (weighted || subtract_data)) {
    for (Index y = ystrelm; y <= yendelm && code == 0; ++y) {
      for (Index x = xstrelm; x <= xendelm; ++x) {
        const Index e = element(x, y, xmaxdat);
        if (mask_data && mask[e] != 0) continue;
        if ((subtract_data && !std::isfinite(data[e])) ||
            (weighted && (sigmas[e] == 0.0f || !std::isfinite(sigmas[e])))) {
          code = 21;
          break;
        }
      }
    }
  }
  if (code != 0) return st_fail(status, kBaseMath + code, kPosition);

  Index m = 0;
  for (Index y = ystrelm; y <= yendelm; ++y) {
    if (!mask_data) {
      m += xendelm - xstrelm + 1;
      continue;
    }
    const std::uint8_t* row = mask.data() + element(1, y, xmaxdat);
    for (Index x = xstrelm; x <= xendelm; ++x) m += row[x - 1] == 0 ? 1 : 0;
  }
  std::vector<int> free_index;
  for (int k = 0; k < num_parameters; ++k) {
    if (!constrained[k]) free_index.push_back(k);
  }
  const auto n = static_cast<Index>(free_index.size());
  if (n == 0) {
    end_code = -10;
    return;
  }
  if (n > m) {
    end_code = 1;
    return;
  }

  Fit f{info_level, model_function, mask_data, weighted, subtract_data, xmaxdat, ymaxdat, data,
        mask, sigmas, xstrelm, ystrelm, xendelm, yendelm, {pass_1, pass_2, pass_3, pass_4},
        num_parameters, scales, xmaxmod, ymaxmod, model_in_data_frame, model, num_calls,
        sum_squares, status};
  f.m = m;
  f.n = n;
  f.free_index = std::move(free_index);
  std::vector<float> q;
  // Work storage: released by the vectors whichever allocation fails.
  Index jacobian = 0, total = 0;
  const bool sizes_ok = checked_product(m, n, jacobian) &&
                        checked_product(jacobian + 3 * m + 6 * n + 2 * num_parameters, 4, total) &&
                        static_cast<std::size_t>(total) <= modelfit_work_limit;
  try {
    if (!sizes_ok) throw std::bad_alloc();
    f.fjac.resize(static_cast<std::size_t>(jacobian));
    f.ipvt.resize(static_cast<std::size_t>(n));
    f.fvec.resize(static_cast<std::size_t>(m));
    f.diag.resize(static_cast<std::size_t>(n));
    f.qtf.resize(static_cast<std::size_t>(n));
    f.p0.assign(params.begin(), params.begin() + num_parameters);
    f.wa1.resize(static_cast<std::size_t>(n));
    f.wa2.resize(static_cast<std::size_t>(n));
    f.wa3.resize(static_cast<std::size_t>(n));
    f.wa4.resize(static_cast<std::size_t>(m));
    f.trial.assign(params.begin(), params.begin() + num_parameters);
    f.kept_model.resize(static_cast<std::size_t>(m));
    q.resize(static_cast<std::size_t>(n));
  } catch (const std::bad_alloc&) {
    end_code = 2;
    return st_fail(status, kBaseCore + 1002, kPosition);
  }

  end_code = MA_MODELMIN(f, max_calls, tolerance, step_bound, diff_step, q);
  // The parameters of the last evaluation, in the caller's units.
  std::copy(f.trial.begin(), f.trial.end(), params.begin());

  Status write_status = ST_GOOD();
  switch (end_code) {
    case 3:
      if (status == kStatusGood && f.terminate != 0) {
        IO_WRITE("ERROR: The model function has set termination", write_status);
      }
      break;
    case 4: IO_WRITE("WARNING: Too many calls to the calculating function", status); break;
    case 5:
      IO_WRITE("WARNING: 'tolerance' is too small. No further minimisation is possible", status);
      break;
    case 6: IO_WRITE("WARNING: No further improvement in solution is possible", status); break;
    case 7:
      IO_WRITE("WARNING: 'RESIDUALS' is orthogonal to the Jacobian (to machine precision)", status);
      break;
    case 8: IO_WRITE("WARNING: The sum of squares is not a finite number", status); break;
    default: break;
  }
}

void MA_MODELFIT(int info_level, const ModelFunction& model_function, bool mask_data,
                 bool weighted, bool subtract_data, Index xmaxdat, Index ymaxdat,
                 std::span<const float> data, std::span<const std::uint8_t> mask,
                 std::span<const float> sigmas, Index xstrelm, Index ystrelm, Index xendelm,
                 Index yendelm, int mode, int max_calls, float tolerance, float step_bound,
                 float diff_step, void* pass_1, void* pass_2, void* pass_3, void* pass_4,
                 int num_parameters, std::span<const bool> constrained,
                 std::span<const float> scales, Index xmaxmod, Index ymaxmod,
                 bool model_in_data_frame, std::span<float> params, std::span<float> model,
                 int& end_code, int& num_calls, float& sum_squares, Status& status) {
  double sum = sum_squares;
  MA_MODELFIT(info_level, model_function, mask_data, weighted, subtract_data, xmaxdat, ymaxdat,
              data, mask, sigmas, xstrelm, ystrelm, xendelm, yendelm, mode, max_calls, tolerance,
              step_bound, diff_step, pass_1, pass_2, pass_3, pass_4, num_parameters, constrained,
              scales, xmaxmod, ymaxmod, model_in_data_frame, params, model, end_code, num_calls,
              sum, status);
  sum_squares = static_cast<float>(sum);
  // Only a fit that ran (codes 1 and 2 did nothing, 3 is the model's own
  // failure) has a sum of its own to pass on.
  if (std::isfinite(sum) && !std::isfinite(sum_squares) && end_code != 1 && end_code != 2 &&
      end_code != 3) {
    end_code = 8;
    IO_WRITE("WARNING: The sum of squares is not a finite number", status);
  }
}

}  // namespace kesta
