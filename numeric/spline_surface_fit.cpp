// The smoothing bicubic spline surface fit to scattered data and its use
// over an image region. Observation rows are reduced to an upper-triangular
// band matrix by Givens rotations; knots are added one at a time in the knot
// interval with the largest residual sum until the residual reaches the
// smoothing factor, then the smoothing parameter p is found by rational
// interpolation so that the residual equals it.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "core/extremes.hpp"
#include "core/format.hpp"
#include "core/io_output.hpp"
#include "core/region.hpp"
#include "core/status.hpp"
#include "numeric/region_ops.hpp"
#include "numeric/splines.hpp"

namespace kesta {

namespace {

// Givens rotation that zeroes PIV against WW (WW becomes the new diagonal).
void fpgivs(float piv, float& ww, float& cs, float& sn) {
  const float store = std::fabs(piv);
  float dd;
  if (store >= ww) {
    dd = store * std::sqrt(1.0f + (ww / piv) * (ww / piv));
  } else {
    dd = ww * std::sqrt(1.0f + (piv / ww) * (piv / ww));
  }
  cs = ww / dd;
  sn = piv / dd;
  ww = dd;
}

void fprota(float cs, float sn, float& a, float& b) {
  const float stor1 = a, stor2 = b;
  b = cs * stor2 + sn * stor1;
  a = cs * stor1 - sn * stor2;
}

// The K + 1 non-zero B-splines of degree K at X in knot interval L (1-based:
// T(L) <= X < T(L + 1)); T is 0-based storage of the 1-based knots.
void fpbspl(const float* t, int k, float x, Index l, float* h) {
  float hh[6];
  h[0] = 1.0f;
  for (int j = 1; j <= k; ++j) {
    for (int i = 0; i < j; ++i) hh[i] = h[i];
    h[0] = 0.0f;
    for (int i = 1; i <= j; ++i) {
      const Index li = l + i, lj = li - j;
      const float span = t[li - 1] - t[lj - 1];
      const float f = span != 0.0f ? hh[i - 1] / span : 0.0f;
      h[i - 1] += f * (t[li - 1] - x);
      h[i] = f * (x - t[lj - 1]);
    }
  }
}

// An upper-triangular band matrix, row-major: element (i, j) (1-based, j the
// position within the band) of row i.
struct Band {
  float* data;
  Index width;
  float& operator()(Index i, Index j) const { return data[(i - 1) * width + (j - 1)]; }
};

// Back substitution of the band system A c = Z of N rows and bandwidth K.
void fpback(const Band& a, const float* z, Index n, Index k, float* c) {
  c[n - 1] = z[n - 1] / a(n, 1);
  for (Index i = n - 1; i >= 1; --i) {
    float store = z[i - 1];
    const Index i1 = std::min(k - 1, n - i);
    for (Index l = 1; l <= i1; ++l) store -= c[i + l - 1] * a(i, l + 1);
    c[i - 1] = store / a(i, 1);
  }
}

// Minimum-norm least-squares solution of the band system A c = F (N rows,
// bandwidth M) whose diagonal elements up to TOL count as zero.
//
// 1. A row with such a diagonal is dropped: the rest of it is rotated into
//    the rows below by Givens rotations, so that what remains of it is its
//    small diagonal alone, with the right-hand side Y it carried along.
// 2. The kept rows B (RANK of them, full row rank) are made triangular from
//    the right, B Q = [R 0] with Q orthogonal, by rotating each dropped
//    column into the kept ones from the last row up.
// 3. The shortest c with B c = g (the right-hand sides of the kept rows) is
//    Q applied to R^-1 g padded with zeros at the dropped columns; applying
//    the rotations rather than forming B' (R R')^-1 g keeps the condition of
//    B, not its square.
// SQ is what the dropped rows add to the residual: the sum of
// (diagonal x c - Y)^2 over them.
void fprank(const Band& a, float* f, Index n, Index m, float tol, float* c, float& sq,
            Index& rank) {
  struct Dropped {
    Index row;  // 1-based
    float diagonal, rhs;
  };
  std::vector<Dropped> dropped;
  std::vector<float> h(static_cast<std::size_t>(m));
  for (Index i = 1; i <= n; ++i) {
    if (a(i, 1) > tol) continue;
    float yi = f[i - 1];
    for (Index j = 1; j < m; ++j) h[j - 1] = a(i, j + 1);
    h[m - 1] = 0.0f;
    // h[j] stands at column ii + j while row ii takes it.
    for (Index ii = i + 1; ii <= n; ++ii) {
      const Index reach = std::min(n - ii, m - 1);
      if (h[0] != 0.0f) {
        float cs, sn;
        fpgivs(h[0], a(ii, 1), cs, sn);
        fprota(cs, sn, yi, f[ii - 1]);
        for (Index j = 1; j <= reach; ++j) fprota(cs, sn, h[j], a(ii, j + 1));
      }
      for (Index j = 0; j < reach; ++j) h[j] = h[j + 1];
      h[reach] = 0.0f;
    }
    dropped.push_back({i, a(i, 1), yi});
  }
  rank = n - static_cast<Index>(dropped.size());
  std::fill(c, c + n, 0.0f);

  // Kept rows in order: kept[k] is the row (and diagonal column) of R's row k;
  // position[col] gives k for a kept column, -1 for a dropped one.
  std::vector<Index> kept, position(static_cast<std::size_t>(n + 1), -1);
  kept.reserve(static_cast<std::size_t>(rank));
  for (Index i = 1, d = 0; i <= n; ++i) {
    if (d < static_cast<Index>(dropped.size()) && dropped[static_cast<std::size_t>(d)].row == i) {
      ++d;
      continue;
    }
    position[i] = static_cast<Index>(kept.size());
    kept.push_back(i);
  }

  if (rank > 0) {
    // Element of B in kept row K and column COL (1-based).
    auto b_entry = [&](Index k, Index col) -> double {
      const Index offset = col - kept[static_cast<std::size_t>(k)];
      return offset >= 0 && offset < m ? a(kept[static_cast<std::size_t>(k)], offset + 1) : 0.0;
    };
    // R in band form, R(k, k + t) at r[k * m + t]: B without its dropped
    // columns, which is upper triangular with diagonal above TOL.
    std::vector<double> r(static_cast<std::size_t>(rank * m), 0.0);
    for (Index k = 0; k < rank; ++k) {
      const Index row = kept[static_cast<std::size_t>(k)];
      for (Index col = row; col < row + m && col <= n; ++col) {
        if (position[col] >= 0)
          r[static_cast<std::size_t>(k * m + position[col] - k)] = b_entry(k, col);
      }
    }
    // Each dropped column joins R by rotations of column pairs (kept column
    // k, dropped column) from the last row up: window w[t] holds the dropped
    // column's element in R's row k - t. The rotations make up Q.
    struct Rotation {
      Index k, column;
      double cs, sn;
    };
    std::vector<Rotation> q;
    std::vector<double> w(static_cast<std::size_t>(m));
    for (const Dropped& d : dropped) {
      Index k = -1;  // last kept row above the dropped column
      for (Index row = d.row - 1; row >= 1 && row > d.row - m; --row) {
        if (position[row] >= 0) {
          k = position[row];
          break;
        }
      }
      if (k < 0) continue;  // no kept row reaches this column
      for (Index t = 0; t < m; ++t) w[t] = k - t >= 0 ? b_entry(k - t, d.row) : 0.0;
      for (; k >= 0; --k) {
        if (w[0] != 0.0) {
          double& diagonal = r[static_cast<std::size_t>(k * m)];
          const double norm = std::hypot(diagonal, w[0]);
          const double cs = diagonal / norm, sn = w[0] / norm;
          diagonal = norm;
          for (Index t = 1; t < m && t <= k; ++t) {
            double& above = r[static_cast<std::size_t>((k - t) * m + t)];  // R(k - t, k)
            const double v = above;
            above = cs * v + sn * w[t];
            w[t] = cs * w[t] - sn * v;
          }
          q.push_back({k, d.row, cs, sn});
        }
        bool rest = false;
        for (Index t = 0; t + 1 < m; ++t) {
          w[t] = w[t + 1];
          rest = rest || w[t] != 0.0;
        }
        w[m - 1] = 0.0;
        if (!rest) break;
      }
    }
    // R u = g, u in the kept columns of x, zero in the dropped ones.
    std::vector<double> x(static_cast<std::size_t>(n), 0.0);
    for (Index k = rank - 1; k >= 0; --k) {
      double sum = f[kept[static_cast<std::size_t>(k)] - 1];
      for (Index t = 1; t < m && k + t < rank; ++t)
        sum -= r[static_cast<std::size_t>(k * m + t)] * x[kept[static_cast<std::size_t>(k + t)] - 1];
      x[kept[static_cast<std::size_t>(k)] - 1] = sum / r[static_cast<std::size_t>(k * m)];
    }
    // c = Q x, the last rotation first.
    for (auto g = q.rbegin(); g != q.rend(); ++g) {
      double& xk = x[kept[static_cast<std::size_t>(g->k)] - 1];
      double& xd = x[g->column - 1];
      const double u = xk;
      xk = g->cs * u - g->sn * xd;
      xd = g->sn * u + g->cs * xd;
    }
    for (Index i = 0; i < n; ++i) c[i] = static_cast<float>(x[i]);
  }
  double sum = 0.0;
  for (const Dropped& d : dropped) {
    const double e = double(d.diagonal) * c[d.row - 1] - d.rhs;
    sum += e * e;
  }
  sq = static_cast<float>(sum);
}

// Coefficients C from the reduced band system (A, F) of NCOF rows: back
// substitution at full rank, else the minimum-norm solution on copies, whose
// rank reduction adds SQ to the residual. Diagonal elements up to ETA times
// the largest count as zero. Returns 0, or the work length needed when LWRK2
// is too short for the rank-deficient case.
Index solve_reduced(const Band& a, const float* f, Index ncof, Index band, float eta, Index lwrk2,
                    float* c, float& sq, Index& rank) {
  float dmax = 0.0f;
  for (Index i = 1; i <= ncof; ++i) dmax = std::max(dmax, a(i, 1));
  const float sigma = eta * dmax;
  sq = 0.0f;
  bool full_rank = true;
  for (Index i = 1; i <= ncof && full_rank; ++i) full_rank = a(i, 1) > sigma;
  if (full_rank) {
    fpback(a, f, ncof, band, c);
    rank = ncof;
    return 0;
  }
  const Index lwest = ncof * band + ncof + band;
  if (lwrk2 < lwest) return lwest;
  std::vector<float> acopy(a.data, a.data + ncof * band), fcopy(f, f + ncof);
  fprank(Band{acopy.data(), band}, fcopy.data(), ncof, band, sigma, c, sq, rank);
  return 0;
}

// Rational interpolation of (p, f) through three points for the root of
// f(p) = 0; P3 < 0 stands for infinity. Moves P1, F1 or P3, F3 to P2, F2 so
// that F1 > 0 > F3 still hold.
float fprati(float& p1, float& f1, float p2, float f2, float& p3, float& f3) {
  float p;
  if (p3 > 0.0f) {
    const float h1 = f1 * (f2 - f3), h2 = f2 * (f3 - f1), h3 = f3 * (f1 - f2);
    p = -(p1 * p2 * h3 + p2 * p3 * h1 + p3 * p1 * h2) / (p1 * h1 + p2 * h2 + p3 * h3);
  } else {
    p = (p1 * (f1 - f3) * f2 - p2 * (f2 - f3) * f1) / ((f1 - f2) * f3);
  }
  if (f2 < 0.0f) {
    p3 = p2;
    f3 = f2;
  } else {
    p1 = p2;
    f1 = f2;
  }
  return p;
}

// Discontinuity jumps of the k-th derivative of the B-splines of degree
// k = K2 - 2 at the interior knots: B(l, j) at l * K2 + j, 0-based.
void fpdisc(const float* t, Index n, int k2, std::vector<float>& b) {
  const int k1 = k2 - 1, k = k1 - 1;
  const Index nk1 = n - k1;
  const Index nrint = nk1 - k;
  const float fac = static_cast<float>(nrint) / (t[nk1] - t[k1 - 1]);
  b.assign(static_cast<std::size_t>(std::max<Index>(nk1 - k2 + 1, 0) * k2), 0.0f);
  float h[12];
  for (Index l = k2; l <= nk1; ++l) {
    const Index lmk = l - k1;
    for (int j = 1; j <= k1; ++j) {
      const Index lj = l + j, lk = lj - k2;
      h[j - 1] = t[l - 1] - t[lk - 1];
      h[j + k1 - 1] = t[l - 1] - t[lj - 1];
    }
    Index lp = lmk;
    for (int j = 1; j <= k2; ++j) {
      int jk = j;
      float prod = h[j - 1];
      for (int i = 1; i <= k; ++i) {
        ++jk;
        prod = prod * h[jk - 1] * fac;
      }
      const Index lk = lp + k1;
      b[static_cast<std::size_t>((lmk - 1) * k2 + (j - 1))] = (t[lk - 1] - t[lp - 1]) / prod;
      ++lp;
    }
  }
}

// Panel lists: INDEX(num) is the first point of panel num (0 none), NUMMER the
// next point of the same panel. Points on the upper boundary belong to the
// last interval.
void fporde(const float* x, const float* y, Index m, int kx, int ky, const float* tx, Index nx,
            const float* ty, Index ny, std::vector<Index>& nummer, std::vector<Index>& index,
            Index nreg) {
  const Index kx1 = kx + 1, ky1 = ky + 1;
  const Index nk1x = nx - kx1, nk1y = ny - ky1;
  const Index nyy = nk1y - ky;
  index.assign(static_cast<std::size_t>(nreg + 1), 0);
  std::vector<Index> last(static_cast<std::size_t>(nreg + 1), 0);
  nummer.assign(static_cast<std::size_t>(m + 1), 0);
  for (Index im = 1; im <= m; ++im) {
    Index l = kx1;
    while (!(x[im - 1] < tx[l] || l == nk1x)) ++l;
    Index k = ky1;
    while (!(y[im - 1] < ty[k] || k == nk1y)) ++k;
    const Index num = (l - kx1) * nyy + k - ky;
    if (index[num] == 0) {
      index[num] = im;
    } else {
      nummer[last[num]] = im;
    }
    last[num] = im;
  }
}

// The surface fit proper, after the argument checks. Returns IER.
int fpsurf(int iopt, Index m, const float* x, const float* y, const float* z, const float* w,
           float xb, float xe, float yb, float ye, int kx, int ky, float s, Index nxest,
           Index nyest, float eta, Index& nx, float* tx, Index& ny, float* ty, float* c,
           float& fp, float& fp0, Index ib1, Index ib3, float* wrk1, Index lwrk2) {
  constexpr float tol = 0.001f;
  constexpr int maxit = 20;
  const Index kx1 = kx + 1, ky1 = ky + 1, kx2 = kx1 + 1, ky2 = ky1 + 1;
  const Index nminx = 2 * kx1, nminy = 2 * ky1;
  const Index nmx = nxest - nminx + 1, nmy = nyest - nminy + 1;
  int ier = 0;
  // The two band matrices live in the caller's work array.
  float* a_store = wrk1;
  float* q_store = wrk1 + (nxest - kx1) * (nyest - ky1) * ib1;
  (void)ib3;
  std::vector<float> f, ff, fpint(static_cast<std::size_t>(nmx + nmy + 1)),
      coord(static_cast<std::size_t>(nmx + nmy + 1)), h, bx, by,
      spx(static_cast<std::size_t>(m * kx1)), spy(static_cast<std::size_t>(m * ky1));
  std::vector<Index> nummer, index;
  float hx[6], hy[6];

  const float acc = tol * s;
  Index nxx = 0, nyy = 0, nrint = 0, nreg = 0, nk1x = 0, nk1y = 0, ncof = 0, iband = 0;
  Index rank = 0;
  float fpms = 0.0f;
  bool start_polynomial = iopt == 0 || (iopt == 1 && !(fp0 > s));
  if (start_polynomial) {
    nx = nminx;
    ny = nminy;
    ier = -2;
  }

  // Residual of the current coefficients over all points.
  auto residual_sum = [&](bool by_interval) {
    float sum = 0.0f;
    if (by_interval) {
      std::fill(fpint.begin(), fpint.end(), 0.0f);
      std::fill(coord.begin(), coord.end(), 0.0f);
    }
    for (Index num = 1; num <= nreg; ++num) {
      const Index lx = (num - 1) / nyy, ly = (num - 1) - lx * nyy;
      const Index jrot = lx * nk1y + ly;
      for (Index in = index[num]; in != 0; in = nummer[in]) {
        float store = 0.0f;
        Index i1 = jrot;
        for (Index i = 0; i < kx1; ++i) {
          const float hxi = spx[(in - 1) * kx1 + i];
          for (Index j = 0; j < ky1; ++j) store += hxi * spy[(in - 1) * ky1 + j] * c[i1 + j];
          i1 += nk1y;
        }
        const float r = w[in - 1] * (z[in - 1] - store);
        const float r2 = r * r;
        sum += r2;
        if (by_interval) {
          fpint[lx + 1] += r2;
          coord[lx + 1] += r2 * x[in - 1];
          fpint[ly + 1 + nxx] += r2;
          coord[ly + 1 + nxx] += r2 * y[in - 1];
        }
      }
    }
    return sum;
  };

  // Part 1: the number of knots and their positions.
  bool to_smoothing = false;
  for (Index iter = 1; iter <= m + 1; ++iter) {
    if (iter > m) return 1;
    for (Index i = 1, l = nx; i <= kx1; ++i, --l) {
      tx[i - 1] = xb;
      tx[l - 1] = xe;
    }
    for (Index i = 1, l = ny; i <= ky1; ++i, --l) {
      ty[i - 1] = yb;
      ty[l - 1] = ye;
    }
    nxx = nx - nminx + 1;
    nyy = ny - nminy + 1;
    nrint = nxx + nyy;
    nreg = nxx * nyy;
    nk1x = nx - kx1;
    nk1y = ny - ky1;
    ncof = nk1x * nk1y;
    iband = kx * nk1y + ky1;
    fporde(x, y, m, kx, ky, tx, nx, ty, ny, nummer, index, nreg);
    const Band a{a_store, iband};
    std::fill(a_store, a_store + ncof * iband, 0.0f);
    f.assign(static_cast<std::size_t>(ncof), 0.0f);
    h.assign(static_cast<std::size_t>(iband), 0.0f);
    fp = 0.0f;
    for (Index num = 1; num <= nreg; ++num) {
      const Index lx = (num - 1) / nyy, ly = (num - 1) - lx * nyy;
      const Index l1 = lx + kx1, l2 = ly + ky1;
      const Index jrot = lx * nk1y + ly;
      for (Index in = index[num]; in != 0; in = nummer[in]) {
        const float wi = w[in - 1];
        float zi = z[in - 1] * wi;
        fpbspl(tx, kx, x[in - 1], l1, hx);
        fpbspl(ty, ky, y[in - 1], l2, hy);
        for (Index i = 0; i < kx1; ++i) spx[(in - 1) * kx1 + i] = hx[i];
        for (Index j = 0; j < ky1; ++j) spy[(in - 1) * ky1 + j] = hy[j];
        std::fill(h.begin(), h.end(), 0.0f);
        for (Index i = 0, i1 = 0; i < kx1; ++i, i1 += nk1y) {
          for (Index j = 0; j < ky1; ++j) h[i1 + j] = hx[i] * hy[j] * wi;
        }
        Index irot = jrot;
        for (Index i = 1; i <= iband; ++i) {
          ++irot;
          const float piv = h[i - 1];
          if (piv == 0.0f) continue;
          float cs, sn;
          fpgivs(piv, a(irot, 1), cs, sn);
          fprota(cs, sn, zi, f[irot - 1]);
          if (i == iband) break;
          for (Index j = i + 1, i2 = 2; j <= iband; ++j, ++i2) fprota(cs, sn, h[j - 1], a(irot, i2));
        }
        fp += zi * zi;
      }
    }
    float sq = 0.0f;
    if (const Index need = solve_reduced(a, f.data(), ncof, iband, eta, lwrk2, c, sq, rank); need != 0) {
      return static_cast<int>(std::min<Index>(need, 2147483647));
    }
    fp += sq;
    if (ier == -2) fp0 = fp;
    if (iopt < 0) break;
    fpms = fp - s;
    if (std::fabs(fpms) <= acc) {
      // An interpolating surface; a rank deficiency still reports the rank.
      if (fp <= 0.0f) {
        fp = 0.0f;
        ier = -1;
      }
      break;
    }
    if (fpms < 0.0f) {
      if (ier == -2) return -2;
      to_smoothing = true;
      break;
    }
    if (ncof > m) return 4;
    ier = 0;
    residual_sum(true);
    // Add a knot in the interval with the largest residual sum, at the
    // residual-weighted centre of its points, unless it would lie too close to
    // either end of the interval.
    for (;;) {
      Index l = 0;
      float fpmax = 0.0f;
      Index first = 1, last = nrint;
      if (nx == nxest) first = nxx + 1;
      if (ny == nyest) last = nxx;
      if (first > last) return 1;
      for (Index i = first; i <= last; ++i) {
        if (fpmax >= fpint[i]) continue;
        l = i;
        fpmax = fpint[i];
      }
      if (l == 0) return 5;
      const float arg = coord[l] / fpint[l];
      fpint[l] = 0.0f;
      float* t = l <= nxx ? tx : ty;
      Index& nt = l <= nxx ? nx : ny;
      const Index jxy = l <= nxx ? l + kx1 : l + ky1 - nxx;
      const float fac1 = t[jxy - 1] - arg, fac2 = arg - t[jxy - 2];
      if (fac1 > 10.0f * fac2 || fac2 > 10.0f * fac1) continue;
      for (Index j = nt; j >= jxy; --j) t[j] = t[j - 1];
      t[jxy - 1] = arg;
      ++nt;
      break;
    }
  }

  if (to_smoothing) {
    // Part 2: the smoothing parameter p with f(p) = fp(p) - s = 0.
    fpdisc(tx, nx, static_cast<int>(kx2), bx);
    fpdisc(ty, ny, static_cast<int>(ky2), by);
    const Band a{a_store, iband};
    float p1 = 0.0f, f1 = fp0 - s, p3 = -1.0f, f3 = fpms;
    float p = 0.0f;
    for (Index i = 1; i <= ncof; ++i) p += a(i, 1);
    p = static_cast<float>(ncof) / p;
    const Index iband3 = kx1 * nk1y, iband4 = iband3 + 1;
    const Band q{q_store, iband4};
    bool ich1 = false, ich3 = false;
    h.assign(static_cast<std::size_t>(iband4 + 1), 0.0f);
    ff.assign(static_cast<std::size_t>(ncof), 0.0f);
    // Rotates the row H, whose first element belongs to column JROT, into Q.
    auto rotate_in = [&](Index jrot) {
      float zi = 0.0f;
      for (Index irot = jrot; irot <= ncof; ++irot) {
        const float piv = h[0];
        const Index i2 = std::min(iband4 - 1, ncof - irot);
        if (piv != 0.0f) {
          float cs, sn;
          fpgivs(piv, q(irot, 1), cs, sn);
          fprota(cs, sn, zi, ff[irot - 1]);
          if (i2 == 0) return;
          for (Index l = 1; l <= i2; ++l) fprota(cs, sn, h[l], q(irot, l + 1));
        } else if (i2 == 0) {
          return;
        }
        for (Index l = 1; l <= i2; ++l) h[l - 1] = h[l];
        h[i2] = 0.0f;
      }
    };
    for (int iter = 1; iter <= maxit; ++iter) {
      const float pinv = 1.0f / p;
      for (Index i = 1; i <= ncof; ++i) {
        ff[i - 1] = f[i - 1];
        for (Index j = 1; j <= iband; ++j) q(i, j) = a(i, j);
        for (Index j = iband + 1; j <= iband4; ++j) q(i, j) = 0.0f;
      }
      if (ny != nminy) {
        // For x constant the surface must be a polynomial of degree ky in y.
        for (Index i = ky2; i <= nk1y; ++i) {
          const Index ii = i - ky1;
          for (Index j = 1; j <= nk1x; ++j) {
            std::fill(h.begin(), h.end(), 0.0f);
            for (Index l = 1; l <= ky2; ++l) h[l - 1] = by[(ii - 1) * ky2 + (l - 1)] * pinv;
            rotate_in((j - 1) * nk1y + ii);
          }
        }
      }
      if (nx != nminx) {
        // For y constant, a polynomial of degree kx in x.
        for (Index i = kx2; i <= nk1x; ++i) {
          const Index ii = i - kx1;
          for (Index j = 1; j <= nk1y; ++j) {
            std::fill(h.begin(), h.end(), 0.0f);
            for (Index l = 1; l <= kx2; ++l) h[(l - 1) * nk1y] = bx[(ii - 1) * kx2 + (l - 1)] * pinv;
            rotate_in((ii - 1) * nk1y + j);
          }
        }
      }
      float sq = 0.0f;
      if (const Index need = solve_reduced(q, ff.data(), ncof, iband4, eta, lwrk2, c, sq, rank); need != 0) {
        return static_cast<int>(std::min<Index>(need, 2147483647));
      }
      fp = residual_sum(false);
      fpms = fp - s;
      if (std::fabs(fpms) <= acc) break;
      if (iter == maxit) return 3;
      const float p2 = p, f2 = fpms;
      if (!ich3) {
        if (!((f2 - f3) > acc)) {
          // The first p was too large.
          p3 = p2;
          f3 = f2;
          p = p * 0.04f;
          if (p <= p1) p = p1 * 0.9f + p2 * 0.1f;
          continue;
        }
        if (f2 < 0.0f) ich3 = true;
      }
      if (!ich1) {
        if (!((f1 - f2) > acc)) {
          // The first p was too small.
          p1 = p2;
          f1 = f2;
          p = p / 0.04f;
          if (p3 < 0.0f) continue;
          if (p >= p3) p = p2 * 0.1f + p3 * 0.9f;
          continue;
        }
        if (f2 > 0.0f) ich1 = true;
      }
      if (f2 >= f1 || f2 <= f3) return 2;
      p = fprati(p1, f1, p2, f2, p3, f3);
    }
  }
  if (ncof != rank) ier = -static_cast<int>(rank);
  return ier;
}

// One refused argument: the line goes straight to the terminal.
void surfit_refusal(const char* reason) {
  if (std::FILE* terminal = io_stream(kStreamTerminal); terminal != nullptr) {
    std::fprintf(terminal, "SURFIT ERROR: %s\n", reason);
    std::fflush(terminal);
  }
}

}  // namespace

void SURFIT(int iopt, Index m, std::span<const float> x, std::span<const float> y,
            std::span<const float> z, std::span<const float> w, float xb, float xe, float yb,
            float ye, int kx, int ky, float s, Index nxest, Index nyest, Index nmax, float eps,
            Index& nx, std::span<float> tx, Index& ny, std::span<float> ty, std::span<float> c,
            float& fp, std::span<float> wrk1, Index lwrk1, std::span<float> /*wrk2*/,
            Index lwrk2, std::span<int> /*iwrk*/, Index kwrk, int& ier) {
  ier = 10;
  auto refuse = [&](const char* reason) { surfit_refusal(reason); };
  if (!(eps > 0.0f && eps < 1.0f)) return refuse("eps is incorrectly defined");
  if (kx < 1 || kx > 5) return refuse("kx is incorrectly defined");
  if (ky < 1 || ky > 5) return refuse("ky is incorrectly defined");
  if (iopt < -1 || iopt > 1) return refuse("iopt is incorrectly defined");
  const Index kx1 = kx + 1, ky1 = ky + 1;
  if (m < kx1 * ky1) return refuse("m is too small wrt kx and ky");
  const Index nminx = 2 * kx1, nminy = 2 * ky1;
  if (nxest < nminx || nxest > nmax) return refuse("nxest is out of range");
  if (nyest < nminy || nyest > nmax) return refuse("nyest is out of range");
  const Index nest = std::max(nxest, nyest);
  const Index nxk = nxest - kx1, nyk = nyest - ky1;
  const Index ncest = nxk * nyk;
  const Index nrint = (nxest - nminx + 1) + (nyest - nminy + 1);
  const Index nreg = (nxest - nminx + 1) * (nyest - nminy + 1);
  const Index km1 = std::max(kx, ky) + 1, km2 = km1 + 1;
  // Bandwidths of the observation matrix and of the extended one. The fit
  // runs with X and Y interchanged when that gives the narrower band.
  Index ib1 = kx * nyk + ky1;
  Index ib3 = kx1 * nyk + 1;
  const bool interchange = ib1 > ky * nxk + kx1;
  if (interchange) {
    ib1 = ky * nxk + kx1;
    ib3 = ky1 * nxk + 1;
  }
  const Index lwest = ncest * (2 + ib1 + ib3) + 2 * (nrint + nest * km2 + m * km1) + ib3;
  if (lwrk1 < lwest || static_cast<Index>(wrk1.size()) < lwrk1) return refuse("lwrk1 is too small");
  if (kwrk < m + nreg) return refuse("kwrk is too small");
  if (!(xb < xe)) return refuse("xb >= xe");
  if (!(yb < ye)) return refuse("yb >= ye");
  for (Index i = 0; i < m; ++i) {
    if (!(w[i] > 0.0f)) return refuse("Zero or negative weight");
    if (!(x[i] >= xb && x[i] <= xe)) return refuse("X-coordinate out of range");
    if (!(y[i] >= yb && y[i] <= ye)) return refuse("Y-coordinate out of range");
  }
  if (iopt == -1) {
    auto knots_ok = [](Index n, Index nmin, Index nest_, Index k1, std::span<float> t, float b,
                       float e) {
      if (n < nmin || n > nest_) return false;
      const Index nk = n - k1;
      t[k1 - 1] = b;
      t[nk] = e;
      for (Index i = k1; i <= nk; ++i) {
        if (!(t[i] > t[i - 1])) return false;
      }
      return true;
    };
    if (!knots_ok(nx, nminx, nxest, kx1, tx, xb, xe)) return refuse("nx out of range");
    if (!knots_ok(ny, nminy, nyest, ky1, ty, yb, ye)) return refuse("ny out of range");
  } else if (s < 0.0f) {
    return refuse("s negative");
  }
  // The residual of the least-squares polynomial is kept for a later call
  // with IOPT 1 in the first element of WRK1, the band matrices after it.
  float fp0 = wrk1[0];
  if (!interchange) {
    ier = fpsurf(iopt, m, x.data(), y.data(), z.data(), w.data(), xb, xe, yb, ye, kx, ky, s, nxest,
                 nyest, eps, nx, tx.data(), ny, ty.data(), c.data(), fp, fp0, ib1, ib3,
                 wrk1.data() + 1, lwrk2);
  } else {
    ier = fpsurf(iopt, m, y.data(), x.data(), z.data(), w.data(), yb, ye, xb, xe, ky, kx, s, nyest,
                 nxest, eps, ny, ty.data(), nx, tx.data(), c.data(), fp, fp0, ib1, ib3,
                 wrk1.data() + 1, lwrk2);
    // Back to the caller's order of coefficients, the Y index fastest.
    const Index nk1x = nx - kx1, nk1y = ny - ky1;
    if (nk1x > 0 && nk1y > 0) {
      const std::vector<float> swapped(c.begin(), c.begin() + nk1x * nk1y);
      for (Index i = 0; i < nk1x; ++i) {
        for (Index j = 0; j < nk1y; ++j) c[i * nk1y + j] = swapped[j * nk1x + i];
      }
    }
  }
  wrk1[0] = fp0;
}

void MA_SINTERPOLATE(int option, bool weighted, float sigma, Index max_points, Index num_points,
                     std::span<const float> x, std::span<const float> y,
                     std::span<const float> z, Index xmaxdat, Index ymaxdat, Index xstrelm,
                     Index ystrelm, Index xendelm, Index yendelm,
                     std::span<const float> x_coords, std::span<const float> y_coords,
                     std::span<float> weights, int& failed, float& fp, std::span<float> array,
                     Status& status) {
  constexpr const char* kPosition = "Subroutine MA_SINTERPOLATE V0.4";
  if (st_bad(status, kPosition)) return;
  if (max_points < 1) return st_fail(status, kBaseMath + 1, kPosition);
  if (const Status e =
          region_error(xmaxdat, ymaxdat, xstrelm, ystrelm, xendelm, yendelm, kBaseMath);
      e != 0)
    return st_fail(status, e, kPosition);
  if (option != 0) return st_fail(status, kBaseMath + 17, kPosition);
  // The point arrays end at MAX_POINTS.
  if (num_points < 1 || num_points > max_points) return st_fail(status, kBaseMath + 5, kPosition);
  if (const Status e = span_error({{max_points, 1, x.size()}, {max_points, 1, y.size()},
                                   {max_points, 1, z.size()}, {max_points, 1, weights.size()},
                                   {xmaxdat, 1, x_coords.size()}, {ymaxdat, 1, y_coords.size()},
                                   {xmaxdat, ymaxdat, array.size()}});
      e != 0)
    return st_fail(status, e, kPosition);
  failed = 1;
  const Index m = num_points;
  if (!weighted) std::fill(weights.begin(), weights.begin() + m, 1.0f);

  float xb = kAboveEveryValue, xe = kBelowEveryValue, yb = kAboveEveryValue,
        ye = kBelowEveryValue;
  for (Index i = 0; i < m; ++i) {
    xb = std::min(xb, x[i]);
    xe = std::max(xe, x[i]);
    yb = std::min(yb, y[i]);
    ye = std::max(ye, y[i]);
  }
  extremes_found(xb, xe);
  extremes_found(yb, ye);
  const Index nest = std::max<Index>(std::lround(std::sqrt(static_cast<double>(m))) + 8, 10);
  const float s = static_cast<float>(m) * sigma * sigma;
  const Index u = nest - 4, v = nest - 4;
  const Index b1 = 3 * nest - 8, b2 = b1 + v - 3;
  const Index lwrk1 = u * v * (2 + b1 + b2) + 2 * (u + v + 4 * (m + nest) + nest - 6) + b2 + 1;
  const Index lwrk2 = u * v * (b2 + 1) + b2;
  const Index kwrk = m + (nest - 7) * (nest - 7);

  std::vector<float> tx, ty, c, wrk1, wrk2;
  std::vector<int> iwrk;
  try {
    tx.assign(static_cast<std::size_t>(nest), 0.0f);
    ty.assign(static_cast<std::size_t>(nest), 0.0f);
    c.assign(static_cast<std::size_t>(u * v), 0.0f);
    iwrk.assign(static_cast<std::size_t>(kwrk), 0);
    wrk1.assign(static_cast<std::size_t>(lwrk1), 0.0f);
  } catch (const std::bad_alloc&) {
    return st_fail(status, kBaseCore + 1002, kPosition);
  }
  Index nx = 0, ny = 0;
  int ier = 0;
  SURFIT(0, m, x, y, z, weights, xb, xe, yb, ye, 3, 3, s, nest, nest, nest, 1.0e-6f, nx, tx, ny,
         ty, c, fp, wrk1, lwrk1, wrk2, lwrk2, iwrk, kwrk, ier);
  wrk1 = {};
  iwrk = {};

  if (ier <= 0) {
    std::vector<float> xbasis, ybasis;
    std::vector<int> xinterval, yinterval;
    try {
      xbasis.assign(static_cast<std::size_t>(4 * xendelm), 0.0f);
      xinterval.assign(static_cast<std::size_t>(4 * xendelm), 0);
      ybasis.assign(static_cast<std::size_t>(4 * yendelm), 0.0f);
      yinterval.assign(static_cast<std::size_t>(4 * yendelm), 0);
    } catch (const std::bad_alloc&) {
      return st_fail(status, kBaseCore + 1002, kPosition);
    }
    MA_CAL_2DNCUBSPLINE(1, nest, nx, tx, nest, ny, ty, u * v, c, xmaxdat, x_coords, ymaxdat,
                        y_coords, xstrelm, ystrelm, xendelm, yendelm, 4 * xendelm, 4 * yendelm,
                        array, xbasis, ybasis, xinterval, yinterval, status);
    if (status == kStatusGood) failed = 0;
    return;
  }
  if (ier == 1) {
    IO_WRITE("WARNING: The required closeness of fit could not be attained. Surface", status);
    IO_WRITE("         not calculated", status);
  } else {
    IO_WRITE("WARNING: Problem fitting coordinates: SURFIT Error status = " + format_i(ier, 6),
             status);
  }
}

}  // namespace kesta
