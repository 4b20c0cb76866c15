// Included by the compiler ahead of every translation unit of the project (GCC only;
// see CMakeLists.txt). GCC 12 reports -Wmaybe-uninitialized and -Wuninitialized
// inside its own AVX-512 intrinsics header when the linear-algebra library's packet
// reductions are inlined into our functions, although both are system headers: a
// -march=native build printed hundreds of them. The library and the intrinsics it
// includes are read here first, with those two warnings ignored for their lines
// only; code outside this region, ours included, keeps every warning.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <Eigen/Core>
#pragma GCC diagnostic pop
