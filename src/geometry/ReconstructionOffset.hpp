#pragma once
// The reconstruction offset of the Laplacian coder with a rate estimate: non-zero
// indices of its free rows are decoded not at the bin centre k * q but at the mean of
// an exponential density of the coded rate over the bin of index 1, shifted by the
// same amount for every non-zero index. Encoder feedback and decoder use it alike.

namespace meshcodec {

// Offset for step q and rate lambda, both widened to double: the mean of the
// exponential density of rate lambda restricted to [0.5 q, 1.5 q], minus q. Negative
// for a positive rate. When that mean is not a finite number (lambda zero, infinite,
// not a number, negative, or so large that both tails underflow) the offset is 0, so
// that a flat or constant input still decodes to finite values.
double reconstructionOffset(float q, float lambda);

// 0 stays exactly 0.0; other indices move from k * q (single-precision product,
// widened) away from zero by off, so towards zero when off is negative.
double dequantizeWithOffset(int k, float q, double off);

}  // namespace meshcodec
