#pragma once
// Internals of SeparateReflection: float pixel records, buffers of them, and
// the separator. Labels are those of CV::Reflection::CSpecularitySeparation
// (10 horizontal test failed, 11 vertical, 12 handled, 13 colour boundary,
// 14 equal maximum chromaticity or refused adjustment, 15 dark or not
// representable, never cleared). Not exported: tests include this header.
#include <cstddef>
#include <vector>

class ReflectancePixel {
public:
    ReflectancePixel() = default;
    ReflectancePixel(float r, float g, float b, float label) : r(r), g(g), b(b), label(label) {}

    void Set(float red, float green, float blue, float newLabel) {
        r = red;
        g = green;
        b = blue;
        label = newLabel;
    }
    // Each derived value is 0 for a black pixel.
    float Sum() const { return r + g + b; }
    float Max() const;
    float RedChroma() const;
    float GreenChroma() const;
    float MaxChroma() const;

    float r = 0.0f;  // byte 2 of the image pixel
    float g = 0.0f;  // byte 1
    float b = 0.0f;  // byte 0
    float label = 0.0f;
};

// Row-major records of rows x columns pixels.
class PixelBuffer {
public:
    void Release();
    void Allocate(int rows, int columns);  // zeroed records
    void CopyFrom(const PixelBuffer& other);

    ReflectancePixel& At(int row, int column) { return records[static_cast<size_t>(row) * columns + column]; }
    const ReflectancePixel& At(int row, int column) const {
        return records[static_cast<size_t>(row) * columns + column];
    }

    std::vector<ReflectancePixel> records;
    int rows = 0;
    int columns = 0;
};

class zPellamSeparation {
public:
    zPellamSeparation() = default;
    virtual ~zPellamSeparation();

    int SetInput(const PixelBuffer& input);
    // The diffuse image of the input into the result buffer.
    int Separate();
    int SeparateInto(PixelBuffer& out1, PixelBuffer& out2);
    // Number of pixels labelled 10 or 11. The outer ring is never labelled.
    int LogDiff(PixelBuffer& work, PixelBuffer& sfi, float threshold);
    int Iteration(PixelBuffer& work, PixelBuffer& sfi, float threshold);
    int ResetLabels(PixelBuffer& work);
    // 0 on success; 1 when refused (a channel would reach 0 or below: label
    // 14; or a chromaticity not finite or at most 1/3; or a dark pixel).
    int SpecularToDiffuse(ReflectancePixel& pixel, float chromaticity);

    const PixelBuffer& Result() const { return m_result; }

private:
    void AdjustPair(ReflectancePixel& p, ReflectancePixel& n);

    PixelBuffer m_input;
    PixelBuffer m_result;
    PixelBuffer m_unused;
};
