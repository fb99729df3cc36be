#pragma once
// A debugging aid for the 3D views: a 4 x 4 float matrix (row-major, as the
// scene's transforms hold it) written as one line of 16 "%f " values to the
// debugger output.
void PrintMatrix4x4(const float* m);
