#include "app/GeometryMethod.hpp"

#include "geometry/CotanLaplace.hpp"
#include "geometry/DataDependentLaplace.hpp"
#include "geometry/DiffusionCotan.hpp"
#include "geometry/DiffusionLaplace.hpp"
#include "geometry/Laplace.hpp"
#include "geometry/NewCotanLaplace.hpp"
#include "geometry/NewLaplace.hpp"
#include "geometry/NewLaplaceQR.hpp"

namespace meshcodec {

namespace {

using RowMajorMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// Each coder is called as the format prescribes: without write-back, and with a
// row-major copy of the data where the coder walks it row by row. Laplace and the
// diffusion coders take the anchor list by reference, so they get a copy.

void encodeNewLaplace(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd*, std::iostream& s,
                      float q, int n, const AnchorList& anchors) {
  NewLaplace::encode(tris, data, s, q, n, anchors, false);
}

void encodeLaplace(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd*, std::iostream& s,
                   float q, int n, const AnchorList& anchors) {
  AnchorList copy = anchors;
  Laplace::encode(tris, data, s, q, n, copy, false);
}

void encodeDiffusionLaplace(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd*, std::iostream& s,
                            float q, int n, const AnchorList& anchors) {
  AnchorList copy = anchors;
  DiffusionLaplace::encode(tris, RowMajorMatrix(data), s, q, n, copy);
}

void encodeNewLaplaceQR(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd*, std::iostream& s,
                        float q, int n, const AnchorList& anchors) {
  NewLaplaceQR::encode(tris, data, s, q, n, anchors, false);
}

void encodeCotanLaplace(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd* shape, std::iostream& s,
                        float q, int n, const AnchorList& anchors) {
  AnchorList copy = anchors;
  CotanLaplace::encode(tris, data, *shape, s, q, n, copy);
}

void encodeNewCotanLaplace(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd* shape,
                           std::iostream& s, float q, int n, const AnchorList& anchors) {
  AnchorList copy = anchors;
  NewCotanLaplace::encode(tris, RowMajorMatrix(data), *shape, s, q, n, copy);
}

void encodeDiffusionCotan(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd* shape,
                          std::iostream& s, float q, int n, const AnchorList& anchors) {
  AnchorList copy = anchors;
  DiffusionCotan::encode(tris, data, *shape, s, q, n, copy);
}

void encodeDataDependentLaplace(const TriangleList& tris, Eigen::MatrixXd& data, Eigen::MatrixXd* shape,
                                std::iostream& s, float q, int n, const AnchorList& anchors) {
  DataDependentLaplace::encode(tris, RowMajorMatrix(data), *shape, s, q, n, anchors);
}

const GeometryMethod kStaticMethods[] = {
    {GeometryCoder::NewLaplace, false, encodeNewLaplace, NewLaplace::decode},
    {GeometryCoder::Laplace, false, encodeLaplace, Laplace::decode},
    {GeometryCoder::DiffusionLaplace, false, encodeDiffusionLaplace, DiffusionLaplace::decode},
    {GeometryCoder::NewLaplaceQR, false, encodeNewLaplaceQR, NewLaplaceQR::decode},
};

const GeometryMethod kAnimatedMethods[] = {
    {GeometryCoder::NewLaplace, false, encodeNewLaplace, NewLaplace::decode},
    {GeometryCoder::Laplace, false, encodeLaplace, Laplace::decode},
    {GeometryCoder::DiffusionLaplace, false, encodeDiffusionLaplace, DiffusionLaplace::decode},
    {GeometryCoder::CotanLaplace, true, encodeCotanLaplace, CotanLaplace::decode},
    {GeometryCoder::NewCotanLaplace, true, encodeNewCotanLaplace, NewCotanLaplace::decode},
    {GeometryCoder::DiffusionCotan, true, encodeDiffusionCotan, DiffusionCotan::decode},
    {GeometryCoder::DataDependentLaplace, true, encodeDataDependentLaplace, nullptr},
};

template <size_t N>
const GeometryMethod* find(const GeometryMethod (&table)[N], int number) {
  return number >= 0 && static_cast<size_t>(number) < N ? &table[number] : nullptr;
}

}  // namespace

const GeometryMethod* staticMethod(int number) { return find(kStaticMethods, number); }
const GeometryMethod* animatedMethod(int number) { return find(kAnimatedMethods, number); }

}  // namespace meshcodec
