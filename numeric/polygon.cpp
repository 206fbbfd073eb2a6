#include "numeric/polygon.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <vector>

#include "core/io_output.hpp"

namespace kesta {
namespace {

constexpr float kNowhere = -1.0e38f;
// Table values are 16-bit: vertex numbers beyond this cannot be stored.
constexpr Index kMaxTableValue = std::numeric_limits<std::int16_t>::max();

// The arrays of one prepared curve.
struct Curve {
  Index n = 0;
  int mode = 1;
  std::span<const float> w;
  std::span<const std::int16_t> lnd;
  std::span<const float> x;
  std::span<const float> y;
};

// Sizes the preparation left in the table: number of cuts and of runs, or a
// failure number in the first value.
bool failed(const Curve& c) { return c.lnd.size() < 2 || c.lnd[0] > 0; }
Index cut_count(const Curve& c) { return -c.lnd[0]; }
Index run_count(const Curve& c) { return c.lnd[1]; }
// Values at the start of W ahead of the cut lists: the derivatives of a
// smooth curve.
Index derivative_length(Index n, int mode) { return mode == 1 ? 0 : 2 * n; }

// Straight to the terminal, as the package always reported.
void report_failure(const char* reason) {
  std::FILE* terminal = io_stream(kStreamTerminal);
  if (terminal == nullptr) return;
  std::fprintf(terminal, " + ERROR RETURN FROM GA05 BECAUSE\n%32s%s\n", "", reason);
  std::fflush(terminal);
}

// Crossings of y = YP with the straight segments: each run of vertices that
// is monotone in Y and spans YP (half-open, lower end included) is cut once;
// the segment is found by bisection along the run.
void straight_crossings(const Curve& c, double yp, std::vector<double>& out) {
  const Index m = c.n - 1;  // distinct vertices
  const Index cuts = cut_count(c);
  if (m < 1 || cuts < 1) return;
  const float* sorted = c.w.data() + derivative_length(c.n, c.mode);
  if (yp < sorted[0] || yp >= sorted[cuts - 1]) return;
  auto vertex = [m](Index start, Index k) { return (start - 1 + k) % m; };
  for (Index j = 1; j <= run_count(c); ++j) {
    const Index signed_start = c.lnd[2 * j];
    const Index start = std::abs(signed_start);
    const Index end = c.lnd[2 * j + 1];
    Index length = (end - start + m) % m;
    if (length == 0) continue;
    const double y_first = c.y[vertex(start, 0)];
    const double y_last = c.y[vertex(start, length)];
    Index lo = 0;
    Index hi = length;
    if (signed_start > 0) {  // Y increases along the run
      if (!(y_first <= yp && yp < y_last)) continue;
      while (hi - lo > 1) {
        const Index mid = (lo + hi) / 2;
        (c.y[vertex(start, mid)] <= yp ? lo : hi) = mid;
      }
    } else {  // Y decreases along the run
      if (!(y_last <= yp && yp < y_first)) continue;
      while (hi - lo > 1) {
        const Index mid = (lo + hi) / 2;
        (c.y[vertex(start, mid)] > yp ? lo : hi) = mid;
      }
    }
    const Index a = vertex(start, lo);
    const Index b = vertex(start, hi);
    const double ya = c.y[a];
    const double yb = c.y[b];
    const double xa = c.x[a];
    const double xb = c.x[b];
    out.push_back(xa + (yp - ya) * (xb - xa) / (yb - ya));
  }
}

// One coordinate of the cubic Hermite segment from P0 to P1 with end
// derivatives D0, D1 (per unit of chord length H), as a polynomial in s in
// [0, 1]: a0 + a1 s + a2 s^2 + a3 s^3.
struct Cubic {
  double a0, a1, a2, a3;
  Cubic(double p0, double p1, double d0, double d1, double h) {
    const double m0 = d0 * h;
    const double m1 = d1 * h;
    a0 = p0;
    a1 = m0;
    a2 = -3.0 * p0 + 3.0 * p1 - 2.0 * m0 - m1;
    a3 = 2.0 * p0 - 2.0 * p1 + m0 + m1;
  }
  double operator()(double s) const { return ((a3 * s + a2) * s + a1) * s + a0; }
};

// Crossings of y = YP with the smooth curve: each segment's cubic in Y is
// split at its turning points, and every monotone piece spanning YP
// (half-open, as for straight segments) gives one zero found by NB01A.
bool smooth_crossings(const Curve& c, double yp, std::vector<double>& out) {
  const float* xd = c.w.data();
  const float* yd = c.w.data() + c.n;
  for (Index i = 0; i + 1 < c.n; ++i) {
    const double h = std::hypot(double{c.x[i + 1]} - c.x[i], double{c.y[i + 1]} - c.y[i]);
    if (h == 0.0) continue;
    const Cubic cy(c.y[i], c.y[i + 1], yd[i], yd[i + 1], h);
    const Cubic cx(c.x[i], c.x[i + 1], xd[i], xd[i + 1], h);
    // Turning points: zeros of 3 a3 s^2 + 2 a2 s + a1 inside (0, 1).
    double breaks[4] = {0.0, 0.0, 0.0, 1.0};
    int count = 1;
    const double qa = 3.0 * cy.a3;
    const double qb = 2.0 * cy.a2;
    const double qc = cy.a1;
    auto add_break = [&](double s) {
      if (s > 0.0 && s < 1.0) breaks[count++] = s;
    };
    if (std::fabs(qa) > 1.0e-300) {
      const double disc = qb * qb - 4.0 * qa * qc;
      if (disc > 0.0) {
        const double root = std::sqrt(disc);
        double s1 = (-qb - root) / (2.0 * qa);
        double s2 = (-qb + root) / (2.0 * qa);
        if (s1 > s2) std::swap(s1, s2);
        add_break(s1);
        add_break(s2);
      }
    } else if (std::fabs(qb) > 1.0e-300) {
      add_break(-qc / qb);
    }
    breaks[count++] = 1.0;
    // The breaks are sorted already: s1 < s2 and both inside (0, 1).
    for (int k = 0; k + 1 < count; ++k) {
      const double sa = breaks[k];
      const double sb = breaks[k + 1];
      const double ya = cy(sa);
      const double yb = cy(sb);
      if (!(std::min(ya, yb) <= yp && yp < std::max(ya, yb))) continue;
      // s runs over [0, 1]: a fixed tolerance in s places the crossing far
      // more finely than a float coordinate can hold.
      double s = 0.0;
      const int outcome = NB01A([&](double v) { return cy(v) - yp; }, sa, sb, 1.0e-9, 100, s);
      if (outcome != 2) return false;
      out.push_back(cx(s));
    }
  }
  return true;
}

// R from the sorted crossings of the point's line.
float distance_result(const std::vector<double>& xs, double xp) {
  if (xs.empty()) return kNowhere;
  const auto it = std::lower_bound(xs.begin(), xs.end(), xp);
  const auto left = it - xs.begin();
  if (it != xs.end() && *it == xp) return 0.0f;
  double nearest = std::numeric_limits<double>::infinity();
  if (it != xs.end()) nearest = *it - xp;
  if (it != xs.begin()) nearest = std::min(nearest, xp - *(it - 1));
  return static_cast<float>(left % 2 == 1 ? nearest : -nearest);
}

// Crossings of the last line asked about, kept for the next point of the row.
struct CrossingCache {
  bool valid = false;
  std::uint64_t generation = 0;
  const void* key = nullptr;
  float yp = 0.0f;
  bool ok = true;
  std::vector<double> xs;
};

// The package's state: a count of preparations (a cache made before the
// latest one is stale), a copy of the last prepared curve for MA_GA05C, and
// the crossing cache.
struct Ga05Db {
  std::uint64_t generation = 0;
  bool prepared = false;
  Index n = 0;
  int mode = 1;
  std::vector<float> w, x, y;
  std::vector<std::int16_t> lnd;
  CrossingCache cache;
};
Ga05Db ga05_db;

void test_point(const Curve& c, const void* key, float xp, float yp, float& r) {
  if (failed(c) || c.n < 2 ||
      static_cast<Index>(c.w.size()) < derivative_length(c.n, c.mode) + cut_count(c) ||
      static_cast<Index>(c.lnd.size()) < 2 * (run_count(c) + 1)) {
    r = kNowhere;
    return;
  }
  CrossingCache& cache = ga05_db.cache;
  if (!cache.valid || cache.generation != ga05_db.generation || cache.key != key ||
      !(cache.yp == yp)) {
    cache.xs.clear();
    cache.ok = c.mode == 1 ? (straight_crossings(c, yp, cache.xs), true)
                           : smooth_crossings(c, yp, cache.xs);
    std::sort(cache.xs.begin(), cache.xs.end());
    cache.valid = true;
    cache.generation = ga05_db.generation;
    cache.key = key;
    cache.yp = yp;
    if (!cache.ok) report_failure("OF NB01 FAILURE");
  }
  r = cache.ok ? distance_result(cache.xs, xp) : kNowhere;
}

}  // namespace

void KB01A(std::span<float> list, Index length) {
  const Index count = std::clamp<Index>(length, 0, static_cast<Index>(list.size()));
  std::sort(list.begin(), list.begin() + count);
}

int NB01A(const std::function<double(double)>& f, double a, double b, double tolerance,
          int max_iterations, double& zero) {
  double fa = f(a);
  const double fb = f(b);
  if (fa == 0.0) {
    zero = a;
    return 2;
  }
  if (fb == 0.0) {
    zero = b;
    return 2;
  }
  if ((fa > 0.0) == (fb > 0.0)) return 1;
  for (int i = 0; i < max_iterations; ++i) {
    const double mid = 0.5 * (a + b);
    if (0.5 * std::fabs(b - a) < tolerance) {
      zero = mid;
      return 2;
    }
    const double fm = f(mid);
    if (fm == 0.0) {
      zero = mid;
      return 2;
    }
    if ((fm > 0.0) == (fa > 0.0)) {
      a = mid;
      fa = fm;
    } else {
      b = mid;
    }
  }
  zero = 0.5 * (a + b);
  return 3;
}

void MA_GA05A(Index n, int mode, std::span<float> w, Index iw, std::span<std::int16_t> lnd,
              Index lnd_length, std::span<const float> x, std::span<const float> y,
              std::span<float> t, std::span<float> xd, std::span<float> yd) {
  ++ga05_db.generation;
  ga05_db.prepared = false;
  iw = std::clamp<Index>(iw, 0, static_cast<Index>(w.size()));
  lnd_length = std::clamp<Index>(lnd_length, 0, static_cast<Index>(lnd.size() / 2));
  n = std::clamp<Index>(n, 0, static_cast<Index>(std::min(x.size(), y.size())));
  auto fail = [&](std::int16_t number, const char* reason) {
    report_failure(reason);
    if (!lnd.empty()) lnd[0] = number;
  };
  if (lnd_length < 1) return fail(2, "lnd IS TOO SMALL");
  if (n < 1 || x[0] != x[n - 1] || y[0] != y[n - 1]) return fail(3, "THE DATA IS NOT PERIODIC");
  if (n > kMaxTableValue) return fail(2, "lnd IS TOO SMALL");

  const Index m = n - 1;  // distinct vertices; vertex m + 1 closes the curve
  const Index offset = derivative_length(n, mode);
  if (offset > iw) return fail(1, "iw IS TOO SMALL");
  const Index quarter = (iw - offset) / 4;

  // Cuts: vertices where Y turns (or stays level) on the closed curve.
  std::vector<Index> cuts;
  for (Index i = 0; i < m; ++i) {
    const double before = double{y[i]} - y[(i + m - 1) % m];
    const double after = double{y[(i + 1) % m]} - y[i];
    if (before * after <= 0.0) cuts.push_back(i + 1);
  }
  const Index ncuts = static_cast<Index>(cuts.size());
  if (ncuts > quarter) return fail(1, "iw IS TOO SMALL");
  // One run between each cut and the next; a single cut has no run.
  const Index nruns = ncuts > 1 ? ncuts : 0;
  if (nruns + 1 > lnd_length) return fail(2, "lnd IS TOO SMALL");

  if (mode != 1) {
    // Smooth curve: chord-length parameter and derivatives of the periodic
    // curve from the neighbouring vertices.
    std::vector<double> chord(static_cast<std::size_t>(n), 0.0);
    for (Index i = 1; i < n; ++i)
      chord[i] = chord[i - 1] + std::hypot(double{x[i]} - x[i - 1], double{y[i]} - y[i - 1]);
    for (Index i = 0; i < n; ++i) {
      const Index v = m > 0 ? i % m : 0;
      const Index prev = m > 0 ? (v + m - 1) % m : 0;
      const Index next = m > 0 ? (v + 1) % m : 0;
      const double span = std::hypot(double{x[v]} - x[prev], double{y[v]} - y[prev]) +
                          std::hypot(double{x[next]} - x[v], double{y[next]} - y[v]);
      const float dx = span > 0.0 ? static_cast<float>((double{x[next]} - x[prev]) / span) : 0.0f;
      const float dy = span > 0.0 ? static_cast<float>((double{y[next]} - y[prev]) / span) : 0.0f;
      w[i] = dx;
      w[n + i] = dy;
      if (i < static_cast<Index>(t.size())) t[i] = static_cast<float>(chord[i]);
      if (i < static_cast<Index>(xd.size())) xd[i] = dx;
      if (i < static_cast<Index>(yd.size())) yd[i] = dy;
    }
  }

  // Quarters of W: sorted cut values, their vertex numbers, the cut values
  // in vertex order and their vertex numbers.
  float* q1 = w.data() + offset;
  float* q2 = q1 + quarter;
  float* q3 = q2 + quarter;
  float* q4 = q3 + quarter;
  std::vector<Index> order(static_cast<std::size_t>(ncuts));
  std::iota(order.begin(), order.end(), Index{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](Index a, Index b) { return y[cuts[a] - 1] < y[cuts[b] - 1]; });
  for (Index k = 0; k < ncuts; ++k) {
    q3[k] = y[cuts[k] - 1];
    q4[k] = static_cast<float>(cuts[k]);
    q1[k] = q3[k];
    q2[k] = static_cast<float>(cuts[order[k]]);
  }
  KB01A(std::span<float>(q1, static_cast<std::size_t>(ncuts)), ncuts);

  // Runs: signed start vertex (positive when Y rises along the run) and end.
  lnd[0] = static_cast<std::int16_t>(-ncuts);
  lnd[1] = static_cast<std::int16_t>(nruns);
  for (Index j = 0; j < nruns; ++j) {
    const Index start = cuts[j];
    const Index end = cuts[(j + 1) % ncuts];
    const Index next = start % m;  // the vertex after the start (0-based)
    const bool rising = y[next] > y[start - 1];
    lnd[2 * (j + 1)] = static_cast<std::int16_t>(rising ? start : -start);
    lnd[2 * (j + 1) + 1] = static_cast<std::int16_t>(end);
  }

  ga05_db.prepared = true;
  ga05_db.n = n;
  ga05_db.mode = mode;
  ga05_db.w.assign(w.begin(), w.begin() + iw);
  ga05_db.lnd.assign(lnd.begin(), lnd.begin() + 2 * lnd_length);
  ga05_db.x.assign(x.begin(), x.begin() + n);
  ga05_db.y.assign(y.begin(), y.begin() + n);
}

void MA_GA05B(float xp, float yp, float& r, Index n, int mode, std::span<const float> w, Index iw,
              std::span<const std::int16_t> lnd, Index lnd_length, std::span<const float> x,
              std::span<const float> y, std::span<const float> /*t*/, std::span<const float> /*xd*/,
              std::span<const float> /*yd*/) {
  Curve c;
  c.n = std::clamp<Index>(n, 0, static_cast<Index>(std::min(x.size(), y.size())));
  c.mode = mode;
  c.w = w.first(static_cast<std::size_t>(std::clamp<Index>(iw, 0, static_cast<Index>(w.size()))));
  c.lnd = lnd.first(static_cast<std::size_t>(
      2 * std::clamp<Index>(lnd_length, 0, static_cast<Index>(lnd.size() / 2))));
  c.x = x;
  c.y = y;
  test_point(c, w.data(), xp, yp, r);
}

void MA_GA05C(float xp, float yp, float& r) {
  if (!ga05_db.prepared) {
    r = kNowhere;
    return;
  }
  Curve c;
  c.n = ga05_db.n;
  c.mode = ga05_db.mode;
  c.w = ga05_db.w;
  c.lnd = ga05_db.lnd;
  c.x = ga05_db.x;
  c.y = ga05_db.y;
  test_point(c, &ga05_db, xp, yp, r);
}

}  // namespace kesta
