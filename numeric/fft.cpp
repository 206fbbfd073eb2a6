#include "numeric/fft.hpp"

#include <cmath>
#include <utility>

#include "core/region.hpp"
#include "core/status.hpp"

namespace kesta {

namespace {

// A complex sequence laid out as N "elements" whose starts are ES floats apart;
// each element holds WIDTH interleaved complex values. A 1-D sequence has ES 2
// and WIDTH 1; the Y transform treats a whole image line as one element, so
// every butterfly runs along a contiguous line and vectorises.
struct Layout {
  float* base;
  Index n;
  Index es;
  Index width;
  float* at(Index e) const { return base + e * es; }
};

// Root k of the transform length: pair k * TSTEP of the table.
struct Roots {
  const float* table;
  Index tstep;
  float cos(Index k) const { return table[2 * k * tstep]; }
  float sin(Index k) const { return table[2 * k * tstep + 1]; }
};

// W is a compile-time width (1 for 1-D sequences) or 0 for the run-time one.
template <int W>
Index width_of(const Layout& z) {
  return W != 0 ? W : z.width;
}

// One radix-2 pass over groups of 2H elements: BUTTERFLY(a, b, c, s, width)
// on each pair of elements H apart, with the root of their place in the group
// (its sine times SIGN).
template <int W, class Butterfly>
void radix2_pass(const Layout& z, Index h, const Roots& r, float sign, Butterfly butterfly) {
  const Index width = width_of<W>(z);
  const Index rstep = z.n / (2 * h);
  for (Index g = 0; g < z.n; g += 2 * h) {
    for (Index j = 0; j < h; ++j) {
      butterfly(z.at(g + j), z.at(g + j + h), r.cos(j * rstep), sign * r.sin(j * rstep), width);
    }
  }
}

// The first three powers of a root, sines times the pass's sign.
struct Twiddles {
  float c1, s1, c2, s2, c3, s3;
};

// Two radix-2 stages (spans 2q and q) at once: BUTTERFLY(p0, p1, p2, p3, t,
// width) on each quadruple of elements Q apart in the groups of 4Q.
template <int W, class Butterfly>
void radix4_pass(const Layout& z, Index q, const Roots& r, float sign, Butterfly butterfly) {
  const Index width = width_of<W>(z);
  const Index rstep = z.n / (4 * q);
  for (Index g = 0; g < z.n; g += 4 * q) {
    for (Index j = 0; j < q; ++j) {
      const Index k = j * rstep;
      const Twiddles t{r.cos(k),     sign * r.sin(k),     r.cos(2 * k),
                       sign * r.sin(2 * k), r.cos(3 * k), sign * r.sin(3 * k)};
      butterfly(z.at(g + j), z.at(g + j + q), z.at(g + j + 2 * q), z.at(g + j + 3 * q), t, width);
    }
  }
}

// Decimation in frequency, positive exponent: natural order in, bit-reversed out.
template <int W>
void dif_radix2(const Layout& z, Index h, const Roots& r) {
  radix2_pass<W>(z, h, r, 1.0f, [](float* a, float* b, float c, float s, Index width) {
    for (Index x = 0; x < 2 * width; x += 2) {
      const float ar = a[x], ai = a[x + 1], br = b[x], bi = b[x + 1];
      a[x] = ar + br;
      a[x + 1] = ai + bi;
      const float dr = ar - br, di = ai - bi;
      b[x] = dr * c - di * s;
      b[x + 1] = dr * s + di * c;
    }
  });
}

template <int W>
void dif_radix4(const Layout& z, Index q, const Roots& r) {
  radix4_pass<W>(z, q, r, 1.0f,
                 [](float* p0, float* p1, float* p2, float* p3, const Twiddles& t, Index width) {
    const auto [c1, s1, c2, s2, c3, s3] = t;
    for (Index x = 0; x < 2 * width; x += 2) {
      const float t0r = p0[x] + p2[x], t0i = p0[x + 1] + p2[x + 1];
      const float t1r = p0[x] - p2[x], t1i = p0[x + 1] - p2[x + 1];
      const float t2r = p1[x] + p3[x], t2i = p1[x + 1] + p3[x + 1];
      // i (x1 - x3)
      const float t3r = -(p1[x + 1] - p3[x + 1]), t3i = p1[x] - p3[x];
      const float y2r = t0r - t2r, y2i = t0i - t2i;
      const float y1r = t1r + t3r, y1i = t1i + t3i;
      const float y3r = t1r - t3r, y3i = t1i - t3i;
      p0[x] = t0r + t2r;
      p0[x + 1] = t0i + t2i;
      p1[x] = y2r * c2 - y2i * s2;
      p1[x + 1] = y2r * s2 + y2i * c2;
      p2[x] = y1r * c1 - y1i * s1;
      p2[x + 1] = y1r * s1 + y1i * c1;
      p3[x] = y3r * c3 - y3i * s3;
      p3[x + 1] = y3r * s3 + y3i * c3;
    }
  });
}

// Decimation in time, negative exponent: the exact inverse of the passes above
// (times 2 per radix-2 stage).
template <int W>
void dit_radix2(const Layout& z, Index h, const Roots& r) {
  radix2_pass<W>(z, h, r, -1.0f, [](float* a, float* b, float c, float s, Index width) {
    for (Index x = 0; x < 2 * width; x += 2) {
      const float br = b[x] * c - b[x + 1] * s, bi = b[x] * s + b[x + 1] * c;
      const float ar = a[x], ai = a[x + 1];
      a[x] = ar + br;
      a[x + 1] = ai + bi;
      b[x] = ar - br;
      b[x + 1] = ai - bi;
    }
  });
}

template <int W>
void dit_radix4(const Layout& z, Index q, const Roots& r) {
  radix4_pass<W>(z, q, r, -1.0f,
                 [](float* p0, float* p1, float* p2, float* p3, const Twiddles& t, Index width) {
    const auto [c1, s1, c2, s2, c3, s3] = t;
    for (Index x = 0; x < 2 * width; x += 2) {
      const float y0r = p0[x], y0i = p0[x + 1];
      const float y2r = p1[x] * c2 - p1[x + 1] * s2, y2i = p1[x] * s2 + p1[x + 1] * c2;
      const float y1r = p2[x] * c1 - p2[x + 1] * s1, y1i = p2[x] * s1 + p2[x + 1] * c1;
      const float y3r = p3[x] * c3 - p3[x + 1] * s3, y3i = p3[x] * s3 + p3[x + 1] * c3;
      const float t0r = y0r + y2r, t0i = y0i + y2i;
      const float t2r = y0r - y2r, t2i = y0i - y2i;
      const float t1r = y1r + y3r, t1i = y1i + y3i;
      // -i (y1 - y3)
      const float ur = y1i - y3i, ui = -(y1r - y3r);
      p0[x] = t0r + t1r;
      p0[x + 1] = t0i + t1i;
      p2[x] = t0r - t1r;
      p2[x + 1] = t0i - t1i;
      p1[x] = t2r + ur;
      p1[x + 1] = t2i + ui;
      p3[x] = t2r - ur;
      p3[x + 1] = t2i - ui;
    }
  });
}

int log2_of(Index n) {
  int m = 0;
  while ((Index{1} << m) < n) ++m;
  return m;
}

// Exchanges the elements of Z in bit-reversed positions; only the first
// SWAP_WIDTH complex values of each element move.
void bit_reverse(const Layout& z, Index swap_width) {
  Index j = 0;
  for (Index i = 0; i < z.n; ++i) {
    if (i < j) {
      float* a = z.at(i);
      float* b = z.at(j);
      for (Index x = 0; x < 2 * swap_width; ++x) std::swap(a[x], b[x]);
    }
    Index bit = z.n >> 1;
    while (bit > 0 && (j & bit) != 0) {
      j ^= bit;
      bit >>= 1;
    }
    j |= bit;
  }
}

template <int W>
void complex_forward(const Layout& z, const Roots& r) {
  if (z.n < 2) return;
  const int m = log2_of(z.n);
  Index span = z.n;
  if (m % 2 == 1) {
    dif_radix2<W>(z, span / 2, r);
    span /= 2;
  }
  for (; span >= 4; span /= 4) dif_radix4<W>(z, span / 4, r);
}

template <int W>
void complex_inverse(const Layout& z, const Roots& r) {
  if (z.n < 2) return;
  const int m = log2_of(z.n);
  const Index top = (m % 2 == 1) ? z.n / 2 : z.n;
  for (Index span = 4; span <= top; span *= 4) dit_radix4<W>(z, span / 4, r);
  if (m % 2 == 1) dit_radix2<W>(z, z.n / 2, r);
}

// Real analysis of X(0 .. N-1) in place; TABLE holds N-th roots at step TSTEP.
void real_analysis(float* x, Index n, const float* table, Index tstep) {
  if (n < 2) return;
  const Index m = n / 2;
  const Layout z{x, m, 2, 1};
  complex_forward<1>(z, Roots{table, 2 * tstep});
  bit_reverse(z, 1);
  const float z0r = x[0], z0i = x[1];
  x[0] = z0r + z0i;
  x[1] = z0r - z0i;
  const Roots w{table, tstep};
  for (Index k = 1; k <= m / 2; ++k) {
    const Index mk = m - k;
    const float zr = x[2 * k], zi = x[2 * k + 1], mr = x[2 * mk], mi = x[2 * mk + 1];
    const float er = 0.5f * (zr + mr), ei = 0.5f * (zi - mi);
    const float orr = 0.5f * (zi + mi), oi = -0.5f * (zr - mr);
    const float c = w.cos(k), s = w.sin(k);
    const float pr = c * orr - s * oi, pi = c * oi + s * orr;
    x[2 * k] = er + pr;
    x[2 * k + 1] = ei + pi;
    x[2 * mk] = er - pr;
    x[2 * mk + 1] = -(ei - pi);
  }
}

// Real synthesis, the inverse of real_analysis times N.
void real_synthesis(float* x, Index n, const float* table, Index tstep) {
  if (n < 2) return;
  const Index m = n / 2;
  const float f0 = x[0], fm = x[1];
  x[0] = f0 + fm;
  x[1] = f0 - fm;
  const Roots w{table, tstep};
  for (Index k = 1; k <= m / 2; ++k) {
    const Index mk = m - k;
    const float fr = x[2 * k], fi = x[2 * k + 1], gr = x[2 * mk], gi = x[2 * mk + 1];
    const float er = fr + gr, ei = fi - gi;
    const float dr = fr - gr, di = fi + gi;
    const float c = w.cos(k), s = w.sin(k);
    const float orr = dr * c + di * s, oi = di * c - dr * s;
    x[2 * k] = er - oi;
    x[2 * k + 1] = ei + orr;
    x[2 * mk] = er + oi;
    x[2 * mk + 1] = orr - ei;
  }
  const Layout z{x, m, 2, 1};
  bit_reverse(z, 1);
  complex_inverse<1>(z, Roots{table, 2 * tstep});
}

// Checks shared by the 1-D pair.
bool check_1d(Index maxdat, Index n, Index maxtab, std::size_t table_size, std::size_t data_size,
              Status& status, const char* position) {
  Status code = 0;
  if (maxdat < 1 || maxtab < 2) {
    code = 1;
  } else if (n < 1 || n > maxdat || static_cast<std::size_t>(n) > data_size) {
    code = 5;
  } else if (2 * n > maxtab || static_cast<std::size_t>(2 * n) > table_size) {
    code = 13;
  } else if (!is_power_of_two(n)) {
    code = 25;
  }
  if (code == 0) return true;
  st_fail(status, kBaseMath + code, position);
  return false;
}

// Checks of the row and column drivers: dimensions, sizes, powers of two and
// the table length.
bool check_driver(Index xmaxdat, Index ymaxdat, Index nx, Index ny, Index lines_limit,
                  std::size_t table_size, Index table_need, std::size_t data_size, Status& status,
                  const char* position) {
  Status code = dimension_error(xmaxdat, ymaxdat, 0);
  if (code == 0) {
    if (nx < 1 || nx > xmaxdat) {
      code = 5;
    } else if (ny < 0 || ny > lines_limit) {
      code = 6;
    } else if (!is_power_of_two(nx)) {
      code = 25;
    } else if (static_cast<std::size_t>(table_need) > table_size) {
      code = 37;
    } else if (!array_holds(data_size, xmaxdat, ymaxdat)) {
      code = 2;
    }
  }
  if (code == 0) return true;
  st_fail(status, kBaseMath + code, position);
  return false;
}

// Checks of the 2-D transforms.
bool check_2d(Index xmaxdat, Index ymaxdat, Index nx, Index ny, Index nrows, bool forward,
              std::size_t xtable_size, std::size_t ytable_size, std::size_t data_size,
              Status& status, const char* position) {
  Status code = dimension_error(xmaxdat, ymaxdat, 0);
  if (code == 0) {
    // A single column has no X transform to undo or scale, so it is refused.
    if (nx < 2 || nx > xmaxdat) {
      code = 5;
    } else if (ny < 1 || ny > ymaxdat || (forward && (nrows < 0 || nrows > ny))) {
      code = 6;
    } else {
      if (!is_power_of_two(nx)) code = 25;
      if (!is_power_of_two(ny)) code = 26;
    }
  }
  if (code == 0) {
    if (xtable_size < static_cast<std::size_t>(2 * nx)) {
      code = 37;
    } else if (ytable_size < static_cast<std::size_t>(2 * ny)) {
      code = 38;
    } else if (!array_holds(data_size, xmaxdat, ymaxdat)) {
      code = 2;
    }
  }
  if (code == 0) return true;
  st_fail(status, kBaseMath + code, position);
  return false;
}

// YTABLE's pairs as every STEP-th pair of XTABLE (the shorter table's roots
// are a subset of the longer one's).
void take_every(std::span<const float> from, Index step, Index pairs, std::span<float> to) {
  for (Index k = 0; k < pairs; ++k) {
    to[2 * k] = from[2 * k * step];
    to[2 * k + 1] = from[2 * k * step + 1];
  }
}

}  // namespace

void MA_EXPNT(Index maxtab, Index l, Index stride, std::span<float> table, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_EXPNT V0.1";
  if (st_bad(status, kPosition)) return;
  if (maxtab < 1) return st_fail(status, kBaseMath + 1, kPosition);
  if (l > maxtab || static_cast<std::size_t>(l < 0 ? 0 : l) > table.size()) {
    return st_fail(status, kBaseMath + 5, kPosition);
  }
  if (stride < 1) return st_fail(status, kBaseMath + 17, kPosition);
  const Index p = l / 2;
  if (p < 1) return;
  const float step = 6.2831855f / static_cast<float>(p);
  auto direct = [&](Index k) {
    const double angle = static_cast<double>(static_cast<float>(k) * step);
    table[2 * k] = static_cast<float>(std::cos(angle));
    table[2 * k + 1] = static_cast<float>(std::sin(angle));
  };
  table[0] = 1.0f;
  table[1] = 0.0f;
  if (p % 4 != 0) {
    for (Index k = 1; k < p; ++k) direct(k);
    return;
  }
  const Index q = p / 4;
  const float cs = static_cast<float>(std::cos(static_cast<double>(step)));
  const float sn = static_cast<float>(std::sin(static_cast<double>(step)));
  for (Index j = 1; j <= q; j += stride) {
    direct(j);
    for (Index i = j + 1; i < j + stride && i <= q; ++i) {
      const float c = table[2 * (i - 1)], s = table[2 * (i - 1) + 1];
      const float t = (c + s) * cs;
      table[2 * i] = t - s * (cs + sn);
      table[2 * i + 1] = t + c * (sn - cs);
    }
  }
  for (Index k = q + 1; k <= p / 2; ++k) {
    table[2 * k] = -table[2 * (p / 2 - k)];
    table[2 * k + 1] = table[2 * (p / 2 - k) + 1];
  }
  for (Index k = p / 2; k < p; ++k) {
    table[2 * k] = -table[2 * (k - p / 2)];
    table[2 * k + 1] = -table[2 * (k - p / 2) + 1];
  }
}

void MA_FFA8(Index maxdat, Index n, Index maxtab, std::span<const float> table, bool /*order*/,
             std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_FFA8 V0.2";
  if (st_bad(status, kPosition)) return;
  if (!check_1d(maxdat, n, maxtab, table.size(), data.size(), status, kPosition)) return;
  real_analysis(data.data(), n, table.data(), 1);
}

void MA_FFS8(Index maxdat, Index n, Index maxtab, std::span<const float> table, bool /*order*/,
             std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_FFS8 V0.2";
  if (st_bad(status, kPosition)) return;
  if (!check_1d(maxdat, n, maxtab, table.size(), data.size(), status, kPosition)) return;
  real_synthesis(data.data(), n, table.data(), 1);
}

void MA_FRCLFFT(Index xmaxdat, Index ymaxdat, Index nx, Index nrows, bool /*order*/,
                std::span<const float> xtable, std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_FRCLFFT V0.2";
  if (st_bad(status, kPosition)) return;
  if (!check_driver(xmaxdat, ymaxdat, nx, nrows, ymaxdat, xtable.size(), 2 * nx, data.size(),
                    status, kPosition)) {
    return;
  }
  for (Index y = 0; y < nrows; ++y) real_analysis(data.data() + y * xmaxdat, nx, xtable.data(), 1);
}

void MA_IHCLFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, bool /*order*/,
                std::span<const float> xtable, std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_IHCLFFT V0.2";
  if (st_bad(status, kPosition)) return;
  if (!check_driver(xmaxdat, ymaxdat, nx, ny, ymaxdat, xtable.size(), 2 * nx, data.size(), status,
                    kPosition)) {
    return;
  }
  for (Index y = 0; y < ny; ++y) real_synthesis(data.data() + y * xmaxdat, nx, xtable.data(), 1);
}

namespace {

bool check_rows(Index xmaxdat, Index ymaxdat, Index nx, Index ny, std::size_t table_size,
                std::size_t data_size, Status& status, const char* position) {
  if (!check_driver(xmaxdat, ymaxdat, nx, ny, ymaxdat, table_size, 2 * ny, data_size, status,
                    position)) {
    return false;
  }
  if (!is_power_of_two(ny)) {
    st_fail(status, kBaseMath + 26, position);
    return false;
  }
  return true;
}

}  // namespace

void MA_FROWFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, bool order,
                std::span<const float> ytable, std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_FROWFFT V0.1";
  if (st_bad(status, kPosition)) return;
  if (!check_rows(xmaxdat, ymaxdat, nx, ny, ytable.size(), data.size(), status, kPosition)) return;
  // Each butterfly runs along whole lines: the passes stream through memory
  // (column strips would alias in the cache at power-of-two line lengths).
  const Layout lines{data.data(), ny, xmaxdat, nx / 2};
  complex_forward<0>(lines, Roots{ytable.data(), 1});
  bit_reverse(lines, order ? nx / 2 : 1);
}

void MA_IROWFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, bool order,
                std::span<const float> ytable, std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_IROWFFT V0.1";
  if (st_bad(status, kPosition)) return;
  if (!check_rows(xmaxdat, ymaxdat, nx, ny, ytable.size(), data.size(), status, kPosition)) return;
  const Layout lines{data.data(), ny, xmaxdat, nx / 2};
  bit_reverse(lines, order ? nx / 2 : 1);
  complex_inverse<0>(lines, Roots{ytable.data(), 1});
}

void MA_2DFRFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, Index nrows, bool order,
                bool& tables_done, std::span<float> xtable, std::span<float> ytable,
                std::span<float> data, Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DFRFFT V0.1";
  if (st_bad(status, kPosition)) return;
  if (!check_2d(xmaxdat, ymaxdat, nx, ny, nrows, true, xtable.size(), ytable.size(), data.size(),
                status, kPosition)) {
    return;
  }
  if (!tables_done) MA_EXPNT(2 * xmaxdat, 2 * nx, 16, xtable, status);
  MA_FRCLFFT(xmaxdat, ymaxdat, nx, nrows, order, xtable, data, status);
  if (ny > 1) {
    if (!tables_done) {
      if (ny > nx) {
        MA_EXPNT(2 * ymaxdat, 2 * ny, 16, ytable, status);
      } else {
        take_every(xtable, nx / ny, ny, ytable);
      }
    }
    MA_FROWFFT(xmaxdat, ymaxdat, nx, ny, order, ytable, data, status);
    if (status != kStatusGood) return;
    // Columns 1 and 2 held two real sequences (X frequencies 0 and NX/2)
    // transformed as one complex sequence; separate them.
    float* d = data.data();
    auto at = [&](Index x, Index y) -> float& { return d[element(x, y, xmaxdat)]; };
    std::swap(at(1, ny / 2 + 1), at(2, 1));
    for (Index j = 1; j <= ny / 2 - 1; ++j) {
      const float a = at(1, j + 1), b = at(2, j + 1), c = at(1, ny - j + 1), e = at(2, ny - j + 1);
      at(1, j + 1) = 0.5f * (a + c);
      at(2, j + 1) = 0.5f * (b - e);
      at(1, ny - j + 1) = 0.5f * (e + b);
      at(2, ny - j + 1) = 0.5f * (c - a);
    }
  }
  if (status == kStatusGood) tables_done = true;
}

void MA_2DIHFFT(Index xmaxdat, Index ymaxdat, Index nx, Index ny, bool order, bool& tables_done,
                std::span<float> xtable, std::span<float> ytable, std::span<float> data,
                Status& status) {
  constexpr const char* kPosition = "Subroutine MA_2DIHFFT V0.1";
  if (st_bad(status, kPosition)) return;
  if (!check_2d(xmaxdat, ymaxdat, nx, ny, 0, false, xtable.size(), ytable.size(), data.size(),
                status, kPosition)) {
    return;
  }
  if (!tables_done) MA_EXPNT(2 * ymaxdat, 2 * ny, 16, ytable, status);
  float* d = data.data();
  auto at = [&](Index x, Index y) -> float& { return d[element(x, y, xmaxdat)]; };
  if (ny > 1) {
    std::swap(at(1, ny / 2 + 1), at(2, 1));
    for (Index j = 1; j <= ny / 2 - 1; ++j) {
      const float a = at(1, j + 1), b = at(2, j + 1), c = at(1, ny - j + 1), e = at(2, ny - j + 1);
      at(1, j + 1) = a - e;
      at(2, j + 1) = b + c;
      at(1, ny - j + 1) = e + a;
      at(2, ny - j + 1) = c - b;
    }
    MA_IROWFFT(xmaxdat, ymaxdat, nx, ny, order, ytable, data, status);
  }
  if (!tables_done) {
    if (nx > ny) {
      MA_EXPNT(2 * xmaxdat, 2 * nx, 16, xtable, status);
    } else {
      take_every(ytable, ny / nx, nx, xtable);
    }
  }
  MA_IHCLFFT(xmaxdat, ymaxdat, nx, ny, order, xtable, data, status);
  if (status != kStatusGood) return;
  const float scale = 1.0f / static_cast<float>(nx * ny);
  for (Index y = 1; y <= ny; ++y) {
    float* line = d + element(1, y, xmaxdat);
    for (Index x = 0; x < nx; ++x) line[x] *= scale;
  }
  tables_done = true;
}

}  // namespace kesta
