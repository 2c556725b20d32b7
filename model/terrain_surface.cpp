#include "model/terrain_surface.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <future>
#include <limits>
#include <numeric>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <CGAL/AABB_traits.h>
#include <CGAL/AABB_tree.h>
#include <CGAL/AABB_triangle_primitive.h>
#include <CGAL/Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Projection_traits_xy_3.h>
#include <CGAL/Triangulation_data_structure_2.h>
#include <CGAL/Triangulation_face_base_2.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>

#include "model/grid_mesh.h"
#include "model/run_context.h"

namespace ortavia {
namespace {

using K = CGAL::Exact_predicates_inexact_constructions_kernel;
using Gt = CGAL::Projection_traits_xy_3<K>;
using Vb = CGAL::Triangulation_vertex_base_with_info_2<std::uint32_t, Gt>;
using Fb = CGAL::Triangulation_face_base_2<Gt>;
using Tds = CGAL::Triangulation_data_structure_2<Vb, Fb>;
using Delaunay = CGAL::Delaunay_triangulation_2<Gt, Tds>;

using Triangles = std::vector<K::Triangle_3>;
using Primitive = CGAL::AABB_triangle_primitive<K, Triangles::const_iterator>;
using AabbTree = CGAL::AABB_tree<CGAL::AABB_traits<K, Primitive>>;

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
constexpr int kIterationsPerPump = 16;
// How often the window is kept alive while the meshing or the search trees are built.
constexpr std::chrono::milliseconds kPumpInterval{20};

// Runs `work` on a thread of its own while this one keeps the window alive, when there is one to
// keep (ctx with a pump); otherwise here. The work is the same either way, so is what it builds;
// it must touch nothing the pumped messages can reach.
template <class Work>
void WhilePumping(const RunContext* ctx, Work&& work) {
  if (!ctx || !ctx->pump) {
    work();
    return;
  }
  std::future<void> done = std::async(std::launch::async, std::forward<Work>(work));
  while (done.wait_for(kPumpInterval) != std::future_status::ready) ctx->Pump();
  done.get();
}
constexpr std::size_t kParallelTriangles = 100000;

// True when the points run row by row (y constant along a row, stepping one way from row to row,
// x stepping one way along every row), as grid samples do: then no two share x and y.
bool RowOrdered(const std::vector<cv::Point3d>& points) {
  int ySign = 0, xSign = 0;
  for (std::size_t i = 1; i < points.size(); ++i) {
    const cv::Point3d& a = points[i - 1];
    const cv::Point3d& b = points[i];
    const bool sameRow = a.y == b.y;
    const double d = sameRow ? b.x - a.x : b.y - a.y;
    int& sign = sameRow ? xSign : ySign;
    const int s = d > 0 ? 1 : (d < 0 ? -1 : 0);
    if (s == 0 || (sign != 0 && s != sign)) return false;
    sign = s;
  }
  return true;
}

bool Finite(const cv::Point3d& p) {
  return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// Indices of the finite points, without those that repeat an earlier point's x and y.
std::vector<std::uint32_t> DistinctInXy(const std::vector<cv::Point3d>& points) {
  if (RowOrdered(points)) {
    std::vector<std::uint32_t> kept;
    kept.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
      if (Finite(points[i])) kept.push_back(static_cast<std::uint32_t>(i));
    return kept;
  }
  std::vector<std::uint32_t> order;
  order.reserve(points.size());
  for (std::size_t i = 0; i < points.size(); ++i)
    if (Finite(points[i])) order.push_back(static_cast<std::uint32_t>(i));
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const auto& pa = points[a];
    const auto& pb = points[b];
    if (pa.x != pb.x) return pa.x < pb.x;
    if (pa.y != pb.y) return pa.y < pb.y;
    return a < b;
  });
  std::vector<std::uint32_t> kept;
  kept.reserve(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    const auto& p = points[order[i]];
    if (i > 0 && p.x == points[order[i - 1]].x && p.y == points[order[i - 1]].y) continue;
    kept.push_back(order[i]);
  }
  std::sort(kept.begin(), kept.end());
  return kept;
}

using Adjacency = MeshAdjacency;

}  // namespace

struct TerrainSurface::Impl {
  std::vector<cv::Point3d> vertices;
  std::vector<std::array<std::uint32_t, 3>> faces;
  Triangles triangles;  // non-degenerate faces of the smoothed surface
  // Two trees over the two halves of the triangles, built side by side; a query asks both.
  AabbTree trees[2];

  void BuildTrees(int threads) {
    const auto mid = triangles.cbegin() + static_cast<std::ptrdiff_t>(triangles.size() / 2);
    auto build = [&](int i) {
      AabbTree& tree = trees[i];
      if (i == 0) tree.insert(triangles.cbegin(), mid);
      else tree.insert(mid, triangles.cend());
      if (tree.size() > 0) tree.build();
    };
    const bool parallel = threads != 1 && triangles.size() >= 2 * kParallelTriangles &&
                          std::thread::hardware_concurrency() > 1;
    if (parallel) {
      try {
        std::thread helper(build, 1);
        try {
          build(0);
        } catch (...) {
          helper.join();
          throw;
        }
        helper.join();
        return;
      } catch (const std::system_error&) {
        trees[1].clear();  // no thread to be had: build both here
      }
    }
    build(0);
    build(1);
  }
  geo::GroundBounds bounds{0, 0, 0, 0, 0, 0};
};

namespace {

// Laplacian smoothing, each iteration computed from the previous one's positions, so the result
// does not depend on how the work is split. Interior vertices move towards the mean of all their
// neighbours; boundary vertices towards the mean of their two boundary neighbours (so they slide
// along the outline); vertices without neighbours stay.
//
// The iterations run in sweeps of kIterationsPerPump. A sweep walks the vertices in chunks, each
// chunk doing every iteration of the sweep while its data is still in cache: at iteration t chunk k
// covers [k*B - t*h, (k+1)*B - t*h), h being the largest index distance between neighbours, so
// what it reads of iteration t-1 was written by itself or by chunk k-1 and what it overwrites of
// iteration t-2 nobody reads any more. Chunk k may do iteration t once chunk k-1 has done t-1,
// which lets two threads take alternate chunks.
#if defined(__x86_64__) || defined(__i386__)
// x, y, z and the pad of a vertex as one vector: every lane does the scalar arithmetic of the plain
// loop in the same order, and without fused multiply-adds, so the positions are the same to the bit.
__attribute__((target("avx"))) void IterateAvx(const double* p, double* q,
                                               const std::uint32_t* off, const std::uint32_t* adj,
                                               const double* weight, double relaxation,
                                               std::size_t lo, std::size_t hi) {
  for (std::size_t v = lo; v < hi; ++v) {
    const double w = weight[v];
    const double r = w > 0.0 ? relaxation : 0.0;
    __m256d sum = _mm256_setzero_pd();
    for (std::uint32_t k = off[v]; k < off[v + 1]; ++k)
      sum = _mm256_add_pd(sum, _mm256_load_pd(p + 4 * std::size_t{adj[k]}));
    const __m256d self = _mm256_load_pd(p + 4 * v);
    const __m256d mean = _mm256_mul_pd(sum, _mm256_set1_pd(w));
    _mm256_store_pd(q + 4 * v,
                    _mm256_add_pd(self, _mm256_mul_pd(_mm256_set1_pd(r), _mm256_sub_pd(mean, self))));
  }
}
#endif

#if defined(__x86_64__) || defined(__i386__)
// Interior vertices of a grid two at a time: the same six neighbours in the same order for every
// one, so the sums are those of the vertex-by-vertex loop, lane by lane. AVX-512 has fused
// multiply-adds, which would round differently: the compiler must not contract.
__attribute__((target("avx512f"), optimize("fp-contract=off"))) void IteratePairsOfGrid(const double* p, double* q,
                                                           const std::ptrdiff_t* steps,
                                                           const double* weight, double relaxation,
                                                           std::size_t lo, std::size_t hi) {
  for (std::size_t v = lo; v < hi; v += 2) {
    const double w0 = weight[v], w1 = weight[v + 1];
    const double r0 = w0 > 0.0 ? relaxation : 0.0, r1 = w1 > 0.0 ? relaxation : 0.0;
    const __m512d w = _mm512_set_pd(w1, w1, w1, w1, w0, w0, w0, w0);
    const __m512d r = _mm512_set_pd(r1, r1, r1, r1, r0, r0, r0, r0);
    const double* at = p + 4 * v;
    __m512d sum = _mm512_setzero_pd();
    for (int k = 0; k < 6; ++k) sum = _mm512_add_pd(sum, _mm512_loadu_pd(at + 4 * steps[k]));
    const __m512d self = _mm512_loadu_pd(at);
    const __m512d mean = _mm512_mul_pd(sum, w);
    _mm512_storeu_pd(q + 4 * v, _mm512_add_pd(self, _mm512_mul_pd(r, _mm512_sub_pd(mean, self))));
  }
}
#endif

class Smoother {
 public:
  // grid: the mesh when the vertices are a complete grid, else null.
  Smoother(std::vector<cv::Point3d>& pos, const Adjacency& nb, const GridMesh* grid,
           const TerrainSurfaceOptions& options)
      : pos_(pos), nb_(nb), relaxation_(options.relaxation), n_(pos.size()) {
#if defined(__x86_64__) || defined(__i386__)
    if (grid && grid->cols >= 3 && grid->rows >= 3 && __builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx")) {
      gridCols_ = grid->cols;
      gridRows_ = grid->rows;
      steps_ = grid->innerSteps;
    }
#else
    (void)grid;
#endif
    for (int i = 0; i < 2; ++i) {
      // A vertex a cache line's half: its four lanes never straddle two lines.
      store_[i].assign(kStride * n_ + kAlign / sizeof(double), 0.0);
      const auto at = reinterpret_cast<std::uintptr_t>(store_[i].data());
      buf_[i] = store_[i].data() + (kAlign - at % kAlign) % kAlign / sizeof(double);
    }
    for (std::size_t v = 0; v < n_; ++v) {
      buf_[0][kStride * v] = pos[v].x;
      buf_[0][kStride * v + 1] = pos[v].y;
      buf_[0][kStride * v + 2] = pos[v].z;
    }
    weight_.resize(n_);
    for (std::size_t v = 0; v < n_; ++v) {
      const std::uint32_t deg = nb.offsets[v + 1] - nb.offsets[v];
      weight_[v] = deg ? 1.0 / deg : 0.0;
      for (std::uint32_t k = nb.offsets[v]; k < nb.offsets[v + 1]; ++k) {
        const std::size_t u = nb.adj[k];
        reach_ = std::max(reach_, u > v ? u - v : v - u);
      }
    }
    chunk_ = std::max<std::size_t>({options.chunkVertices, 2 * reach_, 1});
    threads_ = options.threads > 0 ? std::min(options.threads, 2)
               : n_ >= kParallelVertices && std::thread::hardware_concurrency() > 1 ? 2 : 1;
  }

  bool Run(int iterations, const RunContext* ctx) {
    int cur = 0;  // buffer holding the latest positions
    for (int done = 0; done < iterations;) {
      const int levels = std::min(kIterationsPerPump, iterations - done);
      Sweep(cur, levels, threads_);
      if (levels % 2) cur = 1 - cur;
      done += levels;
      if (ctx && ctx->AbortCheck()) return false;
    }
    const double* p = buf_[cur];
    for (std::size_t v = 0; v < n_; ++v)
      pos_[v] = {p[kStride * v], p[kStride * v + 1], p[kStride * v + 2]};
    return true;
  }

 private:
  static constexpr std::size_t kParallelVertices = 100000;

  void Sweep(int cur, int levels, int threads) {
    const std::size_t span = n_ + static_cast<std::size_t>(levels) * reach_;
    const std::size_t chunks = (span + chunk_ - 1) / chunk_;
    std::vector<std::atomic<int>> done(chunks);
    for (auto& d : done) d.store(0);
    auto work = [&](std::size_t first, std::size_t step) {
      for (std::size_t k = first; k < chunks; k += step)
        for (int t = 1; t <= levels; ++t) {
          if (k > 0) {
            for (int seen = done[k - 1].load(std::memory_order_acquire); seen < t - 1;
                 seen = done[k - 1].load(std::memory_order_acquire))
              done[k - 1].wait(seen, std::memory_order_acquire);
          }
          const std::ptrdiff_t shift = static_cast<std::ptrdiff_t>(t * reach_);
          const std::ptrdiff_t lo = static_cast<std::ptrdiff_t>(k * chunk_) - shift;
          const std::ptrdiff_t hi = static_cast<std::ptrdiff_t>((k + 1) * chunk_) - shift;
          const std::size_t from = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, lo));
          const std::size_t to = static_cast<std::size_t>(
              std::clamp<std::ptrdiff_t>(hi, 0, static_cast<std::ptrdiff_t>(n_)));
          if (from < to) Iterate(buf_[(cur + t - 1) % 2], buf_[(cur + t) % 2], from, to);
          done[k].store(t, std::memory_order_release);
          done[k].notify_all();
        }
    };
    if (threads == 1 || chunks < 2) {
      work(0, 1);
      return;
    }
    std::thread helper;
    try {
      helper = std::thread(work, 1, 2);
    } catch (const std::system_error&) {
      work(0, 1);  // no thread to be had: the same work alone
      return;
    }
    work(0, 2);
    helper.join();
  }

  void Iterate(const double* p, double* q, std::size_t lo, std::size_t hi) {
#if defined(__x86_64__) || defined(__i386__)
    if (gridCols_) {
      IterateGrid(p, q, lo, hi);
      return;
    }
    if (avx_) {
      IterateAvx(p, q, nb_.offsets.data(), nb_.adj.data(), weight_.data(), relaxation_, lo, hi);
      return;
    }
#endif
    IteratePairs(p, q, lo, hi);
  }

#if defined(__x86_64__) || defined(__i386__)
  // Row by row: the first and last rows and columns one vertex at a time, the rest in pairs.
  void IterateGrid(const double* p, double* q, std::size_t lo, std::size_t hi) {
    const std::size_t w = gridCols_;
    for (std::size_t v = lo; v < hi;) {
      const std::size_t r = v / w, c = v % w, rowEnd = std::min(hi, v - c + w);
      if (r == 0 || r + 1 == gridRows_) {
        OneByOne(p, q, v, rowEnd);
        v = rowEnd;
      } else if (c == 0 || c + 1 == w) {
        OneByOne(p, q, v, v + 1);
        ++v;
      } else {
        const std::size_t stop = std::min(rowEnd, v - c + w - 1);
        const std::size_t pairs = v + (stop - v) / 2 * 2;
        IteratePairsOfGrid(p, q, steps_.data(), weight_.data(), relaxation_, v, pairs);
        OneByOne(p, q, pairs, stop);
        v = stop;
      }
    }
  }

  void OneByOne(const double* p, double* q, std::size_t lo, std::size_t hi) {
    IterateAvx(p, q, nb_.offsets.data(), nb_.adj.data(), weight_.data(), relaxation_, lo, hi);
  }
#endif

  // x and y of a vertex are summed as one pair; every lane does the scalar arithmetic in the same
  // order, so the positions are those of a plain loop over x, y and z.
  void IteratePairs(const double* p, double* q, std::size_t lo, std::size_t hi) {
    const std::uint32_t* off = nb_.offsets.data();
    const std::uint32_t* adj = nb_.adj.data();
    for (std::size_t v = lo; v < hi; ++v) {
      const double w = weight_[v];
      const double r = w > 0.0 ? relaxation_ : 0.0;
      const double* self = p + kStride * v;
      double* to = q + kStride * v;
#if defined(__SSE2__)
      __m128d sxy = _mm_setzero_pd();
      double sz = 0.0;
      for (std::uint32_t k = off[v]; k < off[v + 1]; ++k) {
        const double* nbr = p + kStride * adj[k];
        sxy = _mm_add_pd(sxy, _mm_loadu_pd(nbr));
        sz += nbr[2];
      }
      const __m128d xy = _mm_loadu_pd(self);
      const __m128d mean = _mm_mul_pd(sxy, _mm_set1_pd(w));
      _mm_storeu_pd(to, _mm_add_pd(xy, _mm_mul_pd(_mm_set1_pd(r), _mm_sub_pd(mean, xy))));
#else
      double sx = 0.0, sy = 0.0, sz = 0.0;
      for (std::uint32_t k = off[v]; k < off[v + 1]; ++k) {
        const double* nbr = p + kStride * adj[k];
        sx += nbr[0];
        sy += nbr[1];
        sz += nbr[2];
      }
      to[0] = self[0] + r * (sx * w - self[0]);
      to[1] = self[1] + r * (sy * w - self[1]);
#endif
      to[2] = self[2] + r * (sz * w - self[2]);
    }
  }

  std::vector<cv::Point3d>& pos_;
  const Adjacency& nb_;
  double relaxation_;
  std::size_t n_;
  static constexpr std::size_t kStride = 4;  // x, y, z and a pad, a vertex to half a cache line
  static constexpr std::size_t kAlign = kStride * sizeof(double);
  std::vector<double> store_[2], weight_;
  double* buf_[2] = {nullptr, nullptr};
#if defined(__x86_64__) || defined(__i386__)
  bool avx_ = __builtin_cpu_supports("avx");
  std::size_t gridCols_ = 0, gridRows_ = 0;  // set when the grid is smoothed in pairs
  std::array<std::ptrdiff_t, 6> steps_{};
#endif
  std::size_t reach_ = 0, chunk_ = 0;
  int threads_ = 1;
};

// The boundary cycle of the triangulation (its convex hull, collinear points included), in order.
std::vector<std::uint32_t> HullCycle(const Delaunay& dt, const std::vector<std::uint32_t>& compact) {
  std::vector<std::uint32_t> cycle;
  auto vc = dt.incident_vertices(dt.infinite_vertex());
  const auto start = vc;
  do {
    if (!dt.is_infinite(vc)) cycle.push_back(compact[vc->info()]);
  } while (++vc != start);
  return cycle;
}

Adjacency BuildAdjacency(const Delaunay& dt, const std::vector<std::uint32_t>& compact,
                         const std::vector<cv::Point3d>& pos, double edgeAngleDeg) {
  const std::size_t n = pos.size();
  std::vector<std::uint32_t> boundaryPrev(n, kNone), boundaryNext(n, kNone);
  std::vector<bool> onBoundary(n, false);
  const auto cycle = HullCycle(dt, compact);
  for (std::size_t i = 0; i < cycle.size(); ++i) {
    const std::uint32_t v = cycle[i];
    onBoundary[v] = true;
    boundaryPrev[v] = cycle[(i + cycle.size() - 1) % cycle.size()];
    boundaryNext[v] = cycle[(i + 1) % cycle.size()];
  }
  const double cosLimit = std::cos(edgeAngleDeg * CV_PI / 180.0);

  // Vertices are visited in their compact order so that the rows come out in place.
  std::vector<Delaunay::Vertex_handle> byIndex(n);
  for (auto v = dt.finite_vertices_begin(); v != dt.finite_vertices_end(); ++v)
    byIndex[compact[v->info()]] = v;

  Adjacency nb;
  nb.offsets.assign(n + 1, 0);
  nb.adj.reserve(n * 7);
  for (std::size_t v = 0; v < n; ++v) {
    if (onBoundary[v]) {
      const bool straight =
          BoundaryRunsStraight(pos[boundaryPrev[v]], pos[v], pos[boundaryNext[v]], cosLimit);
      if (straight && cycle.size() >= 3) {
        nb.adj.push_back(boundaryPrev[v]);
        nb.adj.push_back(boundaryNext[v]);
      }
    } else {
      auto vc = dt.incident_vertices(byIndex[v]);
      const auto start = vc;
      do {
        if (!dt.is_infinite(vc)) nb.adj.push_back(compact[vc->info()]);
      } while (++vc != start);
    }
    nb.offsets[v + 1] = static_cast<std::uint32_t>(nb.adj.size());
  }
  return nb;
}

// The Delaunay triangulation of points in any order: the vertices (the points without repeats, in
// their order), the faces and, when asked, the smoothing's neighbours. False when no triangle.
bool TriangulateScattered(const std::vector<cv::Point3d>& points, double boundaryEdgeAngleDeg,
                          bool withNeighbours, std::vector<cv::Point3d>& vertices,
                          std::vector<std::array<std::uint32_t, 3>>& faces, Adjacency& nb) {
  const std::vector<std::uint32_t> kept = DistinctInXy(points);
  if (kept.size() < 3) return false;
  std::vector<std::pair<K::Point_3, std::uint32_t>> input;
  input.reserve(kept.size());
  for (std::uint32_t i : kept) input.emplace_back(K::Point_3(points[i].x, points[i].y, points[i].z), i);
  Delaunay dt;
  dt.insert(input.begin(), input.end());
  input = {};
  if (dt.dimension() < 2) return false;

  // Vertices keep the order of the points they came from, which keeps grid neighbours close in
  // memory while smoothing.
  std::vector<std::uint32_t> compact(points.size(), kNone);
  vertices.reserve(kept.size());
  for (std::uint32_t i : kept) {
    compact[i] = static_cast<std::uint32_t>(vertices.size());
    vertices.push_back(points[i]);
  }
  faces.reserve(dt.number_of_faces());
  for (auto f = dt.finite_faces_begin(); f != dt.finite_faces_end(); ++f)
    faces.push_back({compact[f->vertex(0)->info()], compact[f->vertex(1)->info()],
                     compact[f->vertex(2)->info()]});
  if (withNeighbours) nb = BuildAdjacency(dt, compact, vertices, boundaryEdgeAngleDeg);
  return true;
}

geo::GroundBounds BoundsOf(const std::vector<cv::Point3d>& pos) {
  geo::GroundBounds b{pos[0].x, pos[0].x, pos[0].y, pos[0].y, pos[0].z, pos[0].z};
  for (const auto& p : pos) {
    b.minX = std::min(b.minX, p.x);
    b.maxX = std::max(b.maxX, p.x);
    b.minY = std::min(b.minY, p.y);
    b.maxY = std::max(b.maxY, p.y);
    b.minZ = std::min(b.minZ, p.z);
    b.maxZ = std::max(b.maxZ, p.z);
  }
  return b;
}

}  // namespace

TerrainSurface::TerrainSurface() : impl_(std::make_unique<Impl>()) {}
TerrainSurface::~TerrainSurface() = default;
TerrainSurface::TerrainSurface(TerrainSurface&&) noexcept = default;
TerrainSurface& TerrainSurface::operator=(TerrainSurface&&) noexcept = default;

TerrainSurface TerrainSurface::Build(const std::vector<cv::Point3d>& points, int smoothingIterations) {
  TerrainSurfaceOptions options;
  options.smoothingIterations = smoothingIterations;
  return Build(points, options, nullptr);
}

TerrainSurface TerrainSurface::Build(const std::vector<cv::Point3d>& points,
                                     const TerrainSurfaceOptions& options, const RunContext* ctx) {
  TerrainSurface surface;
  if (points.size() < 3 || points.size() >= kNone) return surface;
  Impl& s = *surface.impl_;
  Adjacency nb;
  GridMesh grid;
  bool gridMeshed = false, meshed = false;
  WhilePumping(ctx, [&] {
    gridMeshed = MeshGrid(points, options.boundaryEdgeAngleDeg, grid);
    if (gridMeshed) {
      s.vertices = points;
      s.faces = std::move(grid.faces);
      nb = std::move(grid.neighbours);
      meshed = true;
    } else {
      meshed = TriangulateScattered(points, options.boundaryEdgeAngleDeg,
                                    options.smoothingIterations > 0, s.vertices, s.faces, nb);
    }
  });
  if (!meshed || (ctx && ctx->AbortCheck())) return TerrainSurface{};
  if (options.smoothingIterations > 0 &&
      !Smoother(s.vertices, nb, gridMeshed ? &grid : nullptr, options)
           .Run(options.smoothingIterations, ctx))
    return TerrainSurface{};
  nb = {};

  WhilePumping(ctx, [&] {
    s.triangles.reserve(s.faces.size());
    for (const auto& f : s.faces) {
      const auto& a = s.vertices[f[0]];
      const auto& b = s.vertices[f[1]];
      const auto& c = s.vertices[f[2]];
      K::Triangle_3 t(K::Point_3(a.x, a.y, a.z), K::Point_3(b.x, b.y, b.z), K::Point_3(c.x, c.y, c.z));
      if (!t.is_degenerate()) s.triangles.push_back(t);
    }
    if (!s.triangles.empty()) s.BuildTrees(options.threads);
  });
  if (s.triangles.empty() || (ctx && ctx->AbortCheck())) return TerrainSurface{};
  s.bounds = BoundsOf(s.vertices);
  return surface;
}

bool TerrainSurface::Empty() const { return impl_->triangles.empty(); }
std::size_t TerrainSurface::VertexCount() const { return impl_->vertices.size(); }
std::size_t TerrainSurface::TriangleCount() const { return impl_->faces.size(); }
geo::GroundBounds TerrainSurface::Bounds() const { return impl_->bounds; }
std::vector<cv::Point3d> TerrainSurface::Vertices() const { return impl_->vertices; }

bool TerrainSurface::FirstHit(const cv::Point3d& p0, const cv::Point3d& p1, double tolerance,
                              cv::Point3d& hit) const {
  if (Empty()) return false;
  const cv::Point3d d = p1 - p0;
  const double len = std::sqrt(d.dot(d));
  if (!(len > 0.0) || !std::isfinite(len)) return false;
  tolerance = std::max(0.0, tolerance);
  const cv::Point3d u = d * (1.0 / len);
  const cv::Point3d from = p0 - u * tolerance;
  const K::Ray_3 ray(K::Point_3(from.x, from.y, from.z), K::Vector_3(u.x, u.y, u.z));
  bool any = false;
  cv::Point3d h;
  double nearest = std::numeric_limits<double>::max();
  for (const AabbTree& tree : impl_->trees) {
    if (tree.empty()) continue;
    const auto found = tree.first_intersection(ray);
    if (!found) continue;
    K::Point_3 q;
    if (const K::Point_3* p = boost::get<K::Point_3>(&found->first)) {
      q = *p;
    } else if (const K::Segment_3* seg = boost::get<K::Segment_3>(&found->first)) {
      // A segment lying in a triangle: its end nearer to the start is the first hit.
      q = CGAL::squared_distance(seg->source(), ray.source()) <=
                  CGAL::squared_distance(seg->target(), ray.source())
              ? seg->source()
              : seg->target();
    } else {
      continue;
    }
    const double dist = CGAL::squared_distance(q, ray.source());
    if (dist < nearest) {
      nearest = dist;
      h = {q.x(), q.y(), q.z()};
      any = true;
    }
  }
  if (!any) return false;
  if ((h - from).dot(u) > len + 2.0 * tolerance) return false;
  hit = h;
  return true;
}

bool TerrainSurface::HeightAt(double x, double y, double& z) const {
  if (Empty()) return false;
  const auto& b = impl_->bounds;
  const double margin = 1.0 + (b.maxZ - b.minZ);
  cv::Point3d hit;
  if (!FirstHit({x, y, b.maxZ + margin}, {x, y, b.minZ - margin}, 0.0, hit)) return false;
  z = hit.z;
  return true;
}

}  // namespace ortavia
