#pragma once
// Numbers of the program's text files, read one white-space-separated token
// at a time. A real is decimal only (sign, digits, point, exponent): "nan",
// "inf" and hex floats such as "0x1p3", which the C library's "%lf" takes,
// are refused, as is a value beyond the type's range. A number must end at
// white space or at the end of the file: "1.5abc" and "1,5" are refused, not
// read as 1.5 and 1. Locale-independent. On refusal *value is unchanged and
// the file position is unspecified: the reader stops there.
#include <cstdio>

namespace quorl {

bool ReadReal(std::FILE* file, double* value);
bool ReadReal(std::FILE* file, float* value);
bool ReadInt(std::FILE* file, int* value);

}  // namespace quorl
