#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "common/CodecError.hpp"
#include "entropy/ArithCoder.hpp"
#include "entropy/DirectCoder.hpp"
#include "geometry/Quantizer.hpp"
#include "pca/PCA.hpp"
#include "support/LittleEndian.hpp"
#include "support/MeshGenerators.hpp"

namespace meshcodec {
namespace {

std::stringstream binaryStream(const std::string& bytes = {}) {
  return std::stringstream(bytes, std::ios::in | std::ios::out | std::ios::binary);
}

DynamicMesh animationOf(const AnimationMatrix& data) {
  DynamicMesh mesh(static_cast<int>(data.cols()), static_cast<int>(data.rows() / 3), 0);
  mesh.setVertices(data);
  return mesh;
}

// A sphere of 98 vertices that breathes, bends and drifts: several spatial modes with
// their own time courses and falling amplitudes, so that each basis vector adds detail.
AnimationMatrix deformingSphere(int frames) {
  const Mesh sphere = testing::uvSphere(8, 12);
  const VertexMatrix& p = sphere.getVertices();
  AnimationMatrix a(3 * frames, p.rows());
  for (int f = 0; f < frames; ++f) {
    const double t = 2 * M_PI * f / frames;
    for (Eigen::Index v = 0; v < p.rows(); ++v) {
      const double x = p(v, 0), y = p(v, 1), z = p(v, 2);
      const double s = 1 + 0.3 * std::sin(t) * z + 0.1 * std::cos(2 * t) * x * y +
                       0.03 * std::sin(3 * t) * x + 0.01 * std::cos(5 * t) * y * z;
      a(f, v) = s * x + 0.5 * std::sin(t);
      a(frames + f, v) = s * y + 0.2 * std::cos(3 * t) * x;
      a(2 * frames + f, v) = s * z + 0.05 * std::sin(7 * t) * y * y;
    }
  }
  return a;
}

struct SubStream {
  std::vector<float> steps;
  std::vector<int> mean;
  std::vector<std::vector<int>> columns;
};

SubStream readSubStream(const std::string& bytes, int k) {
  std::stringstream s = binaryStream(bytes);
  SubStream sub;
  sub.steps = DirectCoder::decode(s, k + 1);
  sub.mean = ArithCoder::decode(s, true);
  for (int j = 0; j < k; ++j) sub.columns.push_back(ArithCoder::decode(s, true));
  EXPECT_EQ(s.peek(), EOF) << "bytes after the sub-stream";
  return sub;
}

std::string writeSubStream(const SubStream& sub) {
  std::stringstream s = binaryStream();
  DirectCoder::encode(sub.steps, s, false);
  ArithCoder::encode(sub.mean, s, true);
  for (const std::vector<int>& d : sub.columns) ArithCoder::encode(d, s, true);
  return s.str();
}

double rmsError(const AnimationMatrix& a, const AnimationMatrix& b) {
  return std::sqrt((a - b).squaredNorm() / static_cast<double>(a.size()));
}

TEST(PCA, NoBasesCodeTheMeanAlone) {
  // s[0] = 2 / 2 vertices = 1, so the mean entries are the quotients themselves.
  AnimationMatrix data(6, 2);
  data.col(0) << 2.5, -2.5, -0.4, 0, 1, 2;
  data.col(1) = data.col(0);
  std::stringstream s = binaryStream();
  const CoefficientMatrix coef = PCA::encode(animationOf(data), s, 0, 2.0f);
  EXPECT_EQ(coef.rows(), 2);
  EXPECT_EQ(coef.cols(), 0);
  EXPECT_EQ(s.str(), writeSubStream({{1.0f}, {3, -3, 0, 0, 1, 2}, {}}));

  const PCA decoder(s, 0);
  EXPECT_EQ(s.peek(), EOF);
  AnimationMatrix expected(6, 2);
  expected.col(0) << 3, -3, 0, 0, 1, 2;
  expected.col(1) = expected.col(0);
  EXPECT_EQ(decoder.getData(Eigen::MatrixXd(2, 0)), expected);
}

TEST(PCA, DecoderRebuildsTheEncodersQuantizedMeanAndBasis) {
  const struct {
    const char* name;
    int frames, k;
  } cases[] = {{"two frames", 2, 3}, {"three frames", 3, 4}, {"24 frames", 24, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const float q = 0.05f;
    const AnimationMatrix data = deformingSphere(c.frames);
    const Eigen::Index rows = data.rows(), F = c.frames, V = data.cols();
    PCA encoder(data);
    std::stringstream s = binaryStream();
    encoder.encode(s, c.k, q);
    const SubStream sub = readSubStream(s.str(), c.k);
    const Eigen::MatrixXd coef = encoder.getCoef(c.k);

    ASSERT_EQ(sub.steps.size(), static_cast<size_t>(c.k) + 1);
    EXPECT_EQ(sub.steps[0], q / static_cast<float>(V));
    const PCA decoder(s, c.k);
    for (Eigen::Index i = 0; i < rows; ++i) {
      EXPECT_EQ(sub.mean[i], quantize(encoder.getMean()(i), sub.steps[0]));
      EXPECT_EQ(decoder.getMean()(i), dequantize(sub.mean[i], sub.steps[0]));
    }
    for (int j = 0; j < c.k; ++j) {
      const float step = sub.steps[j + 1];
      EXPECT_EQ(step, static_cast<float>(q / coef.col(j).cwiseAbs().sum()));
      for (Eigen::Index block = 0; block < rows; block += F) {
        // Summing the second differences back must give the encoder's own indices.
        int64_t b2 = 0, b1 = 0;
        for (Eigen::Index t = 0; t < F; ++t) {
          const int64_t d = sub.columns[j][block + t];
          const int64_t b = t == 0 ? d : t == 1 ? b1 + d : 2 * b1 - b2 + d;
          const Eigen::Index i = block + t;
          const double original = encoder.getBasis()(i, rows - c.k + j);
          ASSERT_EQ(b, quantize(original, step)) << "column " << j << " row " << i;
          const double decoded = decoder.getBasis()(i, j);
          if (t < 2) {
            EXPECT_EQ(decoded, dequantize(static_cast<int>(b), step));
          }
          EXPECT_NEAR(decoded, original, 0.5 * step + 1e-6 * std::abs(original));
          b2 = b1;
          b1 = b;
        }
      }
    }
    // Doubling the precision doubles every step exactly.
    std::stringstream twice = binaryStream();
    PCA(data).encode(twice, c.k, 2 * q);
    const std::vector<float> doubled = readSubStream(twice.str(), c.k).steps;
    for (int j = 0; j <= c.k; ++j) EXPECT_EQ(doubled[j], 2 * sub.steps[j]) << "step " << j;
  }
}

TEST(PCA, ReconstructionErrorShrinksWithBasesAndPrecision) {
  const int frames = 20;
  const AnimationMatrix data = deformingSphere(frames);
  const DynamicMesh mesh = animationOf(data);
  const auto errorOf = [&](int k, float q) {
    std::stringstream s = binaryStream();
    const CoefficientMatrix coef = PCA::encode(mesh, s, k, q);
    EXPECT_EQ(coef.rows(), data.cols());
    EXPECT_EQ(coef.cols(), k);
    return rmsError(PCA(s, k).getData(coef), data);
  };
  double previous = std::numeric_limits<double>::infinity();
  for (int k : {0, 1, 2, 4, 8, 3 * frames}) {
    const double error = errorOf(k, 0.01f);
    EXPECT_LT(error, previous) << k << " bases";
    previous = error;
  }
  EXPECT_LT(previous, 5e-4);
  previous = std::numeric_limits<double>::infinity();
  for (float q : {10.0f, 1.0f, 0.1f, 0.01f}) {
    const double error = errorOf(3 * frames, q);
    EXPECT_LT(error, previous) << "precision " << q;
    previous = error;
  }
}

TEST(PCA, ColumnsWithoutCoefficientsDecodeToZero) {
  // Every vertex follows the same trajectory: the centred data is exactly zero, every
  // coefficient sum is 0, and the steps are +inf as the format has them.
  AnimationMatrix data(9, 4);
  for (Eigen::Index v = 0; v < 4; ++v) data.col(v) << 0, 1, 2, 5, 4, 3, -1, -2, -8;
  std::stringstream s = binaryStream();
  const CoefficientMatrix coef = PCA::encode(animationOf(data), s, 2, 1.0f);
  const SubStream sub = readSubStream(s.str(), 2);
  EXPECT_EQ(sub.steps[1], std::numeric_limits<float>::infinity());
  EXPECT_EQ(sub.steps[2], std::numeric_limits<float>::infinity());
  const AnimationMatrix decoded = PCA(s, 2).getData(coef);
  EXPECT_TRUE(decoded.allFinite());
  EXPECT_LT(rmsError(decoded, data), 0.25 / 4);  // the mean's step is 1/4
}

TEST(PCA, WrappedSecondDifferencesDecodeExactly) {
  // Two vertices swinging in opposite phase along x: the one basis vector alternates
  // in sign, so with q = 2/1.5e9 its indices are about +-1.5e9 and the first and
  // second differences (-3e9, 6e9) wrap around 32 bits.
  AnimationMatrix data = AnimationMatrix::Zero(9, 2);
  data.col(0).head(3) << 1, -1, 1;
  data.col(1) = -data.col(0);
  const DynamicMesh mesh = animationOf(data);
  std::stringstream s = binaryStream();
  const CoefficientMatrix coef = PCA::encode(mesh, s, 1, 2.0f / 1.5e9f);
  const std::vector<int> d = readSubStream(s.str(), 1).columns[0];
  EXPECT_GT(std::abs(static_cast<double>(d[0])), 1.4e9);
  EXPECT_GT(d[1] * static_cast<int64_t>(d[0]), 0);  // -2 b0 wrapped to the sign of b0
  const AnimationMatrix decoded = PCA(s, 1).getData(coef);
  EXPECT_LT((decoded - data).cwiseAbs().maxCoeff(), 1e-6);

  std::stringstream tooFine = binaryStream();
  EXPECT_THROW(PCA::encode(mesh, tooFine, 1, 2.0f / 3e9f), BadArgument);
  EXPECT_TRUE(tooFine.str().empty());
}

TEST(PCA, FramesDecodeToPinnedBitsOnEveryTarget) {
  // The decoded doubles depend on the order of the additions only; pinning their hash
  // shows that every build, whatever its vector instructions, sums in the one order.
  // The inputs come from integer arithmetic alone, so that they are the same everywhere.
  const struct {
    int vertices, frames, bases, used;
    std::uint64_t hash;
  } cases[] = {{7, 2, 0, 0, 0x97178c2cdbad23f6ull},
               {23, 5, 15, 12, 0x841afc4170a8da69ull},
               {301, 3, 9, 9, 0x6b011e173734b3dbull},
               {40, 40, 120, 97, 0x84bc743987f79e1cull}};
  std::uint64_t state = 7;
  const auto next = [&state](int range) {  // a multiply-with-carry generator, by hand
    state = 4294957665ull * (state & 0xffffffffull) + (state >> 32);
    return static_cast<int>((state & 0xffffffffull) % static_cast<std::uint64_t>(range));
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.vertices) + " vertices, " + std::to_string(c.frames) + " frames, k " +
                 std::to_string(c.bases));
    SubStream sub{{1e-4f}, {}, {}};
    for (int i = 0; i < 3 * c.frames; ++i) sub.mean.push_back(next(2000001) - 1000000);
    for (int j = 0; j < c.bases; ++j) {
      sub.steps.push_back(1e-3f * static_cast<float>(j + 1));
      sub.columns.emplace_back();
      for (int i = 0; i < 3 * c.frames; ++i) sub.columns.back().push_back(next(6001) - 3000);
    }
    std::stringstream s = binaryStream(writeSubStream(sub));
    const PCA decoder(s, c.bases);
    // Magnitudes over six decades, with zeros of both signs, so that the order of the
    // additions shows in the last bits.
    const double scales[] = {1e-3, 1e-2, 0.1, 1, 10, 100, 1000};
    Eigen::MatrixXd coef(c.vertices, c.used);
    for (Eigen::Index i = 0; i < coef.size(); ++i) {
      const double u = (next(2000001) - 1000000) / 1e6;
      coef(i) = i % 11 == 0 ? std::copysign(0.0, u) : u * scales[next(7)];
    }
    // Frame by frame, and through the whole matrix in the same frame order.
    const AnimationMatrix whole = decoder.getData(coef);
    std::vector<double> xyz(3 * static_cast<size_t>(c.vertices));
    std::uint64_t frames = 14695981039346656037ull, rows = frames;
    for (int f = 0; f < c.frames; ++f) {
      decoder.getFrame(coef, f, xyz.data(), xyz.data() + c.vertices, xyz.data() + 2 * c.vertices);
      frames = testing::hashDoubles(xyz.data(), xyz.size(), frames);
      for (int r : {f, c.frames + f, 2 * c.frames + f}) rows = testing::hashDoubles(whole.row(r).data(), c.vertices, rows);
    }
    EXPECT_EQ(rows, frames);
    EXPECT_EQ(frames, c.hash) << std::hex << "frames hash to " << frames;
  }
}

TEST(PCA, EncoderRefusesWhatItCannotCode) {
  const AnimationMatrix sphere = deformingSphere(4);
  AnimationMatrix withNan = sphere;
  withNan(5, 7) = std::numeric_limits<double>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    const char* name;
    AnimationMatrix data;
    int k;
    float q;
    ErrorKind kind;
  } cases[] = {
      {"one frame", sphere.topRows(3), 0, 1.0f, ErrorKind::OutOfDomain},
      {"no vertices", AnimationMatrix(6, 0), 0, 1.0f, ErrorKind::OutOfDomain},
      {"not finite", withNan, 1, 1.0f, ErrorKind::OutOfDomain},
      {"rows not 3 per frame", sphere.topRows(7), 0, 1.0f, ErrorKind::Misuse},
      {"negative k", sphere, -1, 1.0f, ErrorKind::BadArgument},
      {"k above 3F", sphere, 13, 1.0f, ErrorKind::BadArgument},
      {"zero precision", sphere, 1, 0.0f, ErrorKind::BadArgument},
      {"infinite precision", sphere, 1, inf, ErrorKind::BadArgument},
      {"NaN precision", sphere, 1, std::nanf(""), ErrorKind::BadArgument},
      {"precision too fine for the mean", sphere, 0, 1e-20f, ErrorKind::BadArgument},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::stringstream s = binaryStream();
    try {
      PCA::encode(animationOf(c.data), s, c.k, c.q);
      ADD_FAILURE() << "accepted";
    } catch (const CodecError& e) {
      EXPECT_EQ(e.kind(), c.kind) << e.what();
    }
    EXPECT_TRUE(s.str().empty());
  }
}

TEST(PCA, CorruptSubStreamsAreRejected) {
  const int k = 3;
  std::stringstream genuine = binaryStream();
  const CoefficientMatrix coef = PCA::encode(animationOf(deformingSphere(4)), genuine, k, 0.1f);
  const std::string bytes = genuine.str();
  const SubStream sub = readSubStream(bytes, k);
  const auto decode = [](const std::string& b, int bases) {
    std::stringstream s = binaryStream(b);
    return PCA(s, bases);
  };

  for (size_t n = 0; n < bytes.size(); ++n) {
    EXPECT_THROW(decode(bytes.substr(0, n), k), CorruptStream) << "prefix of " << n << " bytes";
  }

  const auto forged = [&](const std::function<void(SubStream&)>& change) {
    SubStream copy = sub;
    change(copy);
    return writeSubStream(copy);
  };
  const struct {
    const char* name;
    std::string bytes;
    int k;
  } cases[] = {
      {"negative k", bytes, -1},
      {"one frame", forged([](SubStream& x) { x.mean.resize(3); }), k},
      {"mean not 3F", forged([](SubStream& x) { x.mean.push_back(0); }), k},
      {"k above 3F", forged([](SubStream& x) {
         x.steps.resize(14, 1.0f);
         x.columns.resize(13, x.columns[0]);
       }), 13},
      {"short basis block", forged([](SubStream& x) { x.columns[1].pop_back(); }), k},
      {"long basis block", forged([](SubStream& x) { x.columns[2].push_back(0); }), k},
      {"mean step inf", forged([](SubStream& x) { x.steps[0] = INFINITY; }), k},
      {"basis step NaN", forged([](SubStream& x) { x.steps[1] = NAN; }), k},
      {"basis overflows", forged([](SubStream& x) { x.steps[2] = 3e38f; }), k},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(decode(c.bytes, c.k), CorruptStream) << c.name;
  }

  // A flipped bit is either caught or decodes to finite frames.
  for (size_t bit = 0; bit < 8 * bytes.size(); ++bit) {
    std::string flipped = bytes;
    flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
    try {
      EXPECT_TRUE(decode(flipped, k).getData(coef).allFinite()) << "bit " << bit;
    } catch (const CorruptStream&) {
    }
  }
}

}  // namespace
}  // namespace meshcodec
