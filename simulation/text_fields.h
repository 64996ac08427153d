// The panel's text formats, as pure functions: how numbers and vectors are written into the edit
// fields and read back from them. The dialog and velmoth-sim both use them.
#pragma once

#include <string>

#include "matrix/matrix.h"

// Number text: "%.3f" strictly inside (-1000000, 1000000), else "%.3g"; at most 64 characters. A
// NaN is written "nan" whatever its sign bit (in vector text too).
std::string NumberText(double value);

// Vector text: every element of column 0 written with "% 6.2g, ", first to last ("" for a vector
// without rows). Each element is formatted into a bounded buffer of its own, so any length fits.
std::string VectorText(const matrix<double>& vector);

// Reads vector text into the existing n x 1 vector, keeping its shape: each number (strtod) uses
// up exactly one following character as its separator, an unreadable character costs one element
// (0), missing numbers become 0, text beyond the n-th number is ignored. The whole text is read:
// the panel's fields limit what they hand over, a command line does not.
void ReadVectorText(const std::string& text, matrix<double>& vector);

// A coefficient: atof of the text; text that starts with no number gives 0.
double ReadCoefficientText(const std::string& text);
