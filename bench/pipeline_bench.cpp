// Stage times of one static encode or decode, for scripts/bench.sh:
//   pipeline_bench encode <in.obj> <out.bin> <quantization> <method>
//   pipeline_bench decode <in.bin> <out.obj> <method> [<original.obj>]
// It runs the steps of the meshcodec -e and -d commands in the same order through the
// same library pieces (loader, EdgeBreaker, the coders' constructors and members, the
// corrected quantization and error diffusion, the arithmetic coder, saver) and writes
// the same files (out.bin and map.txt, or out.obj). Where a coder member does the work
// of two stages (factorise, then quantise or solve), the bench makes that member's
// Eigen calls itself on the coder's own matrix, so that each stage is timed alone and
// factorises once. The script checks every file byte for byte against the program's,
// which keeps these steps equal to the coders'.
//
// Prints one line of name=value fields: the seconds of each stage (read,
// connectivity, assembly, factorisation, quantisation, entropy, write), the bytes of
// the mesh (positions and triangles) and of the sparse factor, the vertex count, the
// compressed size and, for decode with the original mesh, the RMS and largest vertex
// error relative to the bounding-box diagonal.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <Eigen/OrderingMethods>
#include <Eigen/SparseCholesky>
#include <Eigen/SparseQR>

#include "app/GeometryMethod.hpp"
#include "common/CodecError.hpp"
#include "common/OutputFile.hpp"
#include "connectivity/EdgeBreaker.hpp"
#include "entropy/ArithCoder.hpp"
#include "entropy/BlockFormat.hpp"
#include "geometry/AnchoredLaplacian.hpp"
#include "geometry/ColumnBlocks.hpp"
#include "geometry/CorrectedQuantization.hpp"
#include "geometry/DiffusionLaplace.hpp"
#include "geometry/ErrorDiffusion.hpp"
#include "geometry/FreeVertexLaplacian.hpp"
#include "geometry/Laplace.hpp"
#include "geometry/NewLaplace.hpp"
#include "geometry/NewLaplaceQR.hpp"
#include "geometry/Quantizer.hpp"
#include "geometry/ReconstructionOffset.hpp"
#include "mesh/MeshObjLoader.hpp"
#include "mesh/MeshObjSaver.hpp"
#include "support/ErrorMetrics.hpp"

namespace meshcodec {

namespace {

// The solvers of the coders, with the same template arguments.
using LdltSolver =
    Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>, Eigen::Lower, Eigen::AMDOrdering<int>>;

// The QR coder's solver; the subclass only exposes the size of the stored reflectors.
class QrSolver : public Eigen::SparseQR<Eigen::SparseMatrix<double>, Eigen::NaturalOrdering<int>> {
 public:
  Eigen::Index reflectorNonZeros() const { return m_Q.nonZeros(); }
};

// NewLaplace's pivot guard.
constexpr double kMinPivot = 1e-10;

constexpr std::int64_t kHeaderBytes = 12;
constexpr int kColumns = 3;

struct Stages {
  double read = 0, connectivity = 0, assembly = 0, factorisation = 0, quantisation = 0,
         entropy = 0, write = 0;
};

struct Report {
  Stages t;
  std::int64_t vertices = 0, meshBytes = 0, factorBytes = 0, fileBytes = 0;
  double rms = -1, max = -1;
};

// Runs work, adds its wall time to slot and returns its result.
template <typename Work>
decltype(auto) timed(double& slot, Work&& work) {
  struct Charge {
    double& slot;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    ~Charge() {
      slot += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
  } charge{slot};
  return work();
}

std::int64_t sparseBytes(const Eigen::SparseMatrix<double>& m) {
  return m.nonZeros() * static_cast<std::int64_t>(sizeof(double) + sizeof(int)) +
         (m.outerSize() + 1) * static_cast<std::int64_t>(sizeof(int));
}

// Factor L plus D and the two permutations.
std::int64_t factorBytes(const LdltSolver& solver) {
  const Eigen::Index m = solver.rows();
  return sparseBytes(solver.matrixL().nestedExpression()) +
         m * static_cast<std::int64_t>(sizeof(double) + 2 * sizeof(int));
}

// R, the reflectors, their coefficients and the three column permutations.
std::int64_t factorBytes(const QrSolver& solver) {
  const Eigen::Index m = solver.cols();
  return sparseBytes(solver.matrixR()) +
         solver.reflectorNonZeros() * static_cast<std::int64_t>(sizeof(double) + sizeof(int)) +
         (m + 1) * static_cast<std::int64_t>(sizeof(int)) +
         m * static_cast<std::int64_t>(sizeof(double) + 3 * sizeof(int));
}

std::int64_t meshBytes(const Mesh& mesh) {
  return mesh.getVertices().size() * static_cast<std::int64_t>(sizeof(double)) +
         static_cast<std::int64_t>(mesh.getTriangles().size() * sizeof(mesh.getTriangles()[0]));
}

// The permutation that takes dequantized rows in factor order to the solver's input.
Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int> factorOrder(const LdltSolver& solver) {
  return solver.permutationPinv();
}
Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int> factorOrder(const QrSolver& solver) {
  return solver.colsPermutation();
}

template <typename Solver>
void factorise(Solver& solver, const Eigen::SparseMatrix<double>& L, Report& r) {
  timed(r.t.factorisation, [&] { solver.compute(L); });
  if (solver.info() != Eigen::Success) throw OutOfDomain("the factorisation failed");
  r.factorBytes = factorBytes(solver);
}

void putField(std::ostream& s, std::uint32_t bits) {
  std::uint8_t bytes[4];
  putLE32(bytes, bits);
  s.write(reinterpret_cast<const char*>(bytes), 4);
}

std::uint32_t floatBits(float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

float bitsFloat(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

float readFloat(std::istream& s) {
  std::uint8_t bytes[4] = {};
  s.read(reinterpret_cast<char*>(bytes), 4);
  return bitsFloat(getLE32(bytes));
}

void encodeColumns(const std::vector<std::vector<int>>& columns, std::iostream& s, Report& r) {
  timed(r.t.entropy, [&] {
    for (const std::vector<int>& column : columns) ArithCoder::encode(column, s, true);
  });
}

void encodeGeometry(int method, Mesh& mesh, std::iostream& s, float q, const AnchorList& anchors,
                    Report& r) {
  const TriangleList& tris = mesh.getTriangles();
  Eigen::MatrixXd& V = mesh.getVertices();
  const int n = static_cast<int>(V.rows());
  const GeometryMethod* m = staticMethod(method);
  if (m == nullptr) return;  // no geometry sub-stream
  if (m->coder == GeometryCoder::NewLaplace) {
    const NewLaplace coder = timed(r.t.assembly, [&] { return NewLaplace(tris, n, anchors); });
    const float lambda = timed(r.t.quantisation, [&] { return coder.getLambda(V, n); });
    timed(r.t.entropy, [&] {
      putField(s, floatBits(lambda));
      writeAnchorBlocks(V, anchors, q, false, s);
    });
    // NewLaplace::getCorrections, stage by stage.
    const FreeVertexLaplacian& system = coder.getSystem();
    const Eigen::MatrixXd Vf = timed(r.t.quantisation, [&] { return system.gatherFreeRows(V); });
    LdltSolver solver;
    factorise(solver, system.getL(), r);
    std::vector<std::vector<int>> columns;
    timed(r.t.quantisation, [&] {
      const double off = reconstructionOffset(q, lambda);
      Eigen::MatrixXd Y = solver.matrixU() * (solver.permutationP() * Vf);
      Eigen::MatrixXd R;
      correctedQuantizationByColumns(
          solver.matrixL().nestedExpression(), solver.vectorD(), q,
          [q, off](int k) { return dequantizeWithOffset(k, q, off); },
          [](double pivot) { return std::abs(pivot) > kMinPivot; }, Y, columns, R);
    });
    encodeColumns(columns, s, r);
  } else if (m->coder == GeometryCoder::Laplace) {
    const Laplace coder = timed(r.t.assembly, [&] { return Laplace(tris, n, anchors); });
    timed(r.t.entropy, [&] { ArithCoder::encode(anchors, s, false); });
    std::vector<std::vector<int>> indices;
    timed(r.t.quantisation, [&] {
      const Eigen::MatrixXd D = coder.getCorrections(V);
      indices.assign(kColumns, std::vector<int>(static_cast<size_t>(D.rows())));
      for (Eigen::Index c = 0; c < D.cols(); ++c) {
        for (Eigen::Index i = 0; i < D.rows(); ++i) indices[c][i] = quantize(D(i, c), q);
      }
    });
    encodeColumns(indices, s, r);
  } else if (m->coder == GeometryCoder::DiffusionLaplace) {
    const DiffusionLaplace coder =
        timed(r.t.assembly, [&] { return DiffusionLaplace(tris, n, anchors); });
    timed(r.t.entropy, [&] { ArithCoder::encode(anchors, s, false); });
    std::vector<std::vector<int>> indices;
    timed(r.t.quantisation, [&] {
      // The command hands the coder a row-major copy, which it copies back.
      const DiffusionLaplace::RowMajorMatrix rows(V);
      const Eigen::MatrixXd columns = rows;
      DiffusionMatrix D = coder.getCorrections(columns);
      quantizeWithErrorDiffusion(D, coder.getOrder(), coder.getNeighbors(), q, indices);
    });
    encodeColumns(indices, s, r);
  } else if (m->coder == GeometryCoder::NewLaplaceQR) {
    timed(r.t.entropy, [&] { writeAnchorBlocks(V, anchors, q, false, s); });
    const NewLaplaceQR coder =
        timed(r.t.assembly, [&] { return NewLaplaceQR(tris, n, anchors); });
    // NewLaplaceQR::getCorrections, stage by stage.
    const FreeVertexLaplacian& system = coder.getSystem();
    const Eigen::MatrixXd Vf = timed(r.t.quantisation, [&] { return system.gatherFreeRows(V); });
    QrSolver solver;
    factorise(solver, system.getL(), r);
    std::vector<std::vector<int>> columns;
    timed(r.t.quantisation, [&] {
      const auto& U = solver.matrixR();
      const Eigen::Map<const RowMajorSparse> T(U.cols(), U.rows(), U.nonZeros(),
                                               U.outerIndexPtr(), U.innerIndexPtr(),
                                               U.valuePtr(), U.innerNonZeroPtr());
      Eigen::MatrixXd Y = solver.matrixQ().transpose() * Vf;
      Eigen::MatrixXd R;
      correctedQuantization(
          T, q, [q](int k) { return dequantize(k, q); }, acceptEveryPivot, Y, columns, R);
    });
    encodeColumns(columns, s, r);
  }
}

Report benchEncode(const std::string& in, const std::string& out, float quantization, int method) {
  Report r;
  Mesh mesh = timed(r.t.read, [&] { return MeshObjLoader(in).Load(); });
  r.vertices = mesh.getVertices().rows();
  r.meshBytes = meshBytes(mesh);
  const float q = timed(r.t.quantisation, [&] { return quantization * mesh.avgEL(); });

  std::stringstream s(std::ios::in | std::ios::out | std::ios::binary);
  putField(s, floatBits(q));
  putField(s, static_cast<std::uint32_t>(mesh.getTriangles().size()));
  putField(s, static_cast<std::uint32_t>(mesh.getVertices().rows()));
  std::optional<EdgeBreaker> walk;
  timed(r.t.connectivity, [&] {
    walk.emplace(CornerTable(mesh.getTriangles()));
    walk->compress(0);
  });
  timed(r.t.entropy, [&] { walk->encode(s); });
  const VertexOrder order = walk->getOrder();
  walk.reset();
  timed(r.t.connectivity, [&] {
    // The command decodes the connectivity once to be sure that it can be read back.
    s.seekg(kHeaderBytes);
    EdgeBreaker::decode(static_cast<int>(mesh.getTriangles().size()), s);
  });

  OutputFile map("map.txt");
  timed(r.t.write, [&] {
    for (int entry : order) map.stream() << entry << "\n";
  });
  const AnchorList anchors = timed(r.t.connectivity, [&] {
    mesh.reindex(order);
    const int vertexCount = static_cast<int>(mesh.getVertices().rows());
    return mesh.computeAnchors3(std::max(1, vertexCount / 1000));
  });
  encodeGeometry(method, mesh, s, q, anchors, r);

  timed(r.t.write, [&] {
    OutputFile file(out);
    const std::string bytes = s.str();
    r.fileBytes = static_cast<std::int64_t>(bytes.size());
    file.stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.commit();
    map.commit();
  });
  return r;
}

// Methods 0 and 3: anchors stored directly, free rows through the factor's solve.
template <typename Coder, typename Solver>
Eigen::MatrixXd decodeFreeRows(const TriangleList& tris, std::iostream& s, float q, int n,
                               bool withRate, Report& r) {
  AnchorBlocks blocks;
  Eigen::MatrixXd R;
  timed(r.t.entropy, [&] {
    const float lambda = withRate ? readFloat(s) : 0.0f;
    const double off = reconstructionOffset(q, lambda);
    blocks = readAnchorBlocks(s, n, kColumns);
    const int m = n - static_cast<int>(blocks.anchors.size());
    R = withRate ? readColumnBlocks(s, m, kColumns,
                                    [q, off](int k) { return dequantizeWithOffset(k, q, off); })
                 : readColumnBlocks(s, m, kColumns, [q](int k) { return dequantize(k, q); });
  });
  const Coder coder = timed(r.t.assembly, [&] { return Coder(tris, n, blocks.anchors); });
  // The coder's getCoefficients, stage by stage.
  Solver solver;
  factorise(solver, coder.getSystem().getL(), r);
  return timed(r.t.quantisation, [&] {
    Eigen::MatrixXd W = Eigen::MatrixXd::Zero(n, kColumns);
    placeAnchorRows(blocks, q, W);
    const Eigen::MatrixXd X = solver.solve(factorOrder(solver) * R);
    if (!X.allFinite()) throw CorruptStream("the solve is not finite");
    coder.getSystem().scatterFreeRows(X, W);
    return W;
  });
}

// Methods 1 and 2: the least-squares solve, whose normal matrix L^T L counts as assembly.
Eigen::MatrixXd decodeLeastSquares(const TriangleList& tris, std::iostream& s, float q, int n,
                                   Report& r) {
  AnchorList anchors;
  Eigen::MatrixXd D;
  timed(r.t.entropy, [&] {
    anchors = ArithCoder::decode(s, false);
    D = readDequantizedColumns(s, q, n + static_cast<Eigen::Index>(anchors.size()), kColumns);
  });
  checkAnchorList(anchors, n, CodingSide::Decoder);
  // The Laplace constructor and solveAnchoredLeastSquares, stage by stage.
  const Eigen::SparseMatrix<double> L = timed(r.t.assembly, [&] {
    NeighborTable table(static_cast<size_t>(n));
    buildNeighborsTable(tris, table);
    return buildAnchoredLaplacian(table, anchors);
  });
  LdltSolver solver;
  {
    const Eigen::SparseMatrix<double> A =
        timed(r.t.assembly, [&] { return Eigen::SparseMatrix<double>(L.transpose() * L); });
    factorise(solver, A, r);
  }
  return timed(r.t.quantisation, [&] {
    Eigen::MatrixXd X = solver.solve(L.transpose() * D);
    if (solver.info() != Eigen::Success || !X.allFinite()) {
      throw CorruptStream("the solve is not finite");
    }
    return X;
  });
}

std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UnreadableInput("cannot open the compressed file", path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

Report benchDecode(const std::string& in, const std::string& out, int method,
                   const std::string& original) {
  Report r;
  const std::string bytes = timed(r.t.read, [&] { return readWholeFile(in); });
  r.fileBytes = static_cast<std::int64_t>(bytes.size());
  if (r.fileBytes < kHeaderBytes) throw CorruptStream("shorter than its header");
  const auto* head = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const float q = bitsFloat(getLE32(head));
  const int triangleCount = asInt32(getLE32(head + 4));
  const int vertexCount = asInt32(getLE32(head + 8));

  std::stringstream s(bytes, std::ios::in | std::ios::out | std::ios::binary);
  s.seekg(kHeaderBytes);
  TriangleList tris =
      timed(r.t.connectivity, [&] { return EdgeBreaker::decode(triangleCount, s); });
  const std::streamoff afterConnectivity = s.tellg();
  // The decoder's own reading of its two blocks, again, for the entropy share.
  double blockTime = 0;
  s.seekg(kHeaderBytes);
  timed(blockTime, [&] {
    ArithCoder::decode(s, false);
    ArithCoder::decode(s, false);
  });
  r.t.connectivity -= blockTime;
  r.t.entropy += blockTime;
  s.seekg(afterConnectivity);

  Eigen::MatrixXd vertices;
  const GeometryMethod* m = staticMethod(method);
  if (m == nullptr) {
    // no geometry sub-stream: face lines only
  } else if (m->coder == GeometryCoder::NewLaplace) {
    vertices = decodeFreeRows<NewLaplace, LdltSolver>(tris, s, q, vertexCount, true, r);
  } else if (m->coder == GeometryCoder::NewLaplaceQR) {
    vertices = decodeFreeRows<NewLaplaceQR, QrSolver>(tris, s, q, vertexCount, false, r);
  } else {  // Laplace and DiffusionLaplace share the least-squares decoder
    vertices = decodeLeastSquares(tris, s, q, vertexCount, r);
  }
  if (s.tellg() != static_cast<std::streamoff>(bytes.size())) {
    throw CorruptStream("bytes follow the last sub-stream");
  }
  Mesh mesh(0, 0);
  mesh.setTriangles(std::move(tris));
  mesh.setVertices(vertices);
  r.vertices = vertexCount;
  r.meshBytes = meshBytes(mesh);
  timed(r.t.write, [&] { MeshObjSaver(out).Save(mesh); });

  if (!original.empty()) {
    // The input in decoder order, at full precision, as the reindex command makes it.
    Mesh reference = MeshObjLoader(original).Load();
    std::stringstream scratch(std::ios::in | std::ios::out | std::ios::binary);
    reference.reindex(EdgeBreaker::encode(reference.getTriangles(), scratch));
    r.rms = testing::rmsRelativeError(reference.getVertices(), mesh.getVertices());
    r.max = testing::maxRelativeError(reference.getVertices(), mesh.getVertices());
  }
  return r;
}

void print(const Report& r) {
  const Stages& t = r.t;
  std::printf(
      "read=%.4f connectivity=%.4f assembly=%.4f factorisation=%.4f quantisation=%.4f "
      "entropy=%.4f write=%.4f vertices=%lld mesh_bytes=%lld factor_bytes=%lld file_bytes=%lld "
      "rms=%.4g max=%.4g\n",
      t.read, t.connectivity, t.assembly, t.factorisation, t.quantisation, t.entropy, t.write,
      static_cast<long long>(r.vertices), static_cast<long long>(r.meshBytes),
      static_cast<long long>(r.factorBytes), static_cast<long long>(r.fileBytes), r.rms, r.max);
}

}  // namespace

}  // namespace meshcodec

int main(int argc, char** argv) {
  using namespace meshcodec;
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "encode" && argc == 6) {
      print(benchEncode(argv[2], argv[3], std::stof(argv[4]), std::stoi(argv[5])));
      return 0;
    }
    if (mode == "decode" && (argc == 5 || argc == 6)) {
      print(benchDecode(argv[2], argv[3], std::stoi(argv[4]), argc == 6 ? argv[5] : ""));
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pipeline_bench: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: pipeline_bench encode <in.obj> <out.bin> <quantization> <method>\n"
               "       pipeline_bench decode <in.bin> <out.obj> <method> [<original.obj>]\n");
  return 2;
}
