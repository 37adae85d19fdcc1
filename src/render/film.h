// Film: where a render's samples land and how the image leaves the session.
// It holds
// - the accumulation: per-pixel sums of every sample of the completed passes;
// - the samples of the pass under way, kept apart until the pass completes,
//   so that an abandoned pass leaves the sums exactly as the last complete
//   pass left them (each pixel gets one sample per pass, so adding it at the
//   end of the pass gives the same sum as adding it at once);
// - the display planes (tone-mapped means) and the bitmap the window shows;
// - the mean, saved as a PFM file.
//
// Sums come in two kinds. The exact mode adds 32-bit floats, pixel by pixel,
// as a single sequence of passes would. The parallel mode adds each sample as
// a 64-bit fixed-point integer (2^-24 resolution), so that sums made on
// several machines from different passes combine exactly, in any order,
// into the bits one machine would have made.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "base/dib_image.h"
#include "base/float_plane.h"
#include "base/status.h"
#include "scene/vec3.h"

namespace lumeno {

// The extended Reinhard curve with white point 0.9, scaled by 10000:
// a × (a × 1.2345679 + 1) / (a + 1) × 10000, in single precision.
inline float ToneCurve(float a) {
    return a * (a * 1.2345679f + 1.0f) / (a + 1.0f) * 10000.0f;
}

enum class SumKind { Float, Fixed };

// The file format of a saved mean.
enum class MeanFormat { Pfm, Exr };

class Film {
  public:
    // Fixed-point sums: a sample v adds round(v · 2^24), v first limited to
    // ±2^20, which leaves room for 2^19 samples of the largest value.
    static constexpr double kFixedScale = 16777216.0;
    static constexpr float kFixedLimit = 1048576.0f;

    // Sizes every plane and the bitmap for a width × height image and
    // chooses the kind of sums. False, leaving the film empty, for an
    // impossible size or when memory runs out. Contents are then undefined
    // (display planes black) until Clear.
    bool SetSize(int width, int height, SumKind kind);
    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return image_.Empty(); }
    SumKind Kind() const { return kind_; }

    // Zeroes the sums.
    void Clear();

    // The sample of pixel (x, y) in the pass under way (hot path, allocates
    // nothing; distinct pixels may be set from distinct threads).
    void SetSample(int x, int y, Vec3 radiance) {
        std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                        static_cast<std::size_t>(x);
        pending_[3 * i] = radiance.x;
        pending_[3 * i + 1] = radiance.y;
        pending_[3 * i + 2] = radiance.z;
    }
    // Adds the pass's samples to the sums: the pass is complete.
    void CommitPass() { CommitRows(0, height_); }
    // The same for rows [first, last) alone: the rows of a pass may be
    // committed in parts, on any threads, each row once.
    void CommitRows(int first, int last);

    // Tone-maps rows [first, end) of the mean into the display planes, with
    // divisor passNumber. rowsInPass says the rows hold the pass under way,
    // whose samples are counted (they are not committed yet).
    void ToneMapRows(int first, int end, int passNumber, bool rowsInPass);
    // Marks row y of the display planes yellow: the row just traced.
    void MarkRow(int y);
    // Converts display rows [first, end) into the bitmap.
    void ConvertRows(int first, int end);

    // The bitmap the window shows.
    const DibImage& Image() const { return image_; }
    DibImage& Image() { return image_; }
    // The float plane the wireframe preview draws into (the red sums of the
    // exact mode), and so leaves the sums invalid.
    FloatPlane& PreviewCanvas() { return sumRed_; }

    // The sums / passesHeld as a PFM (or EXR) file at path.
    Status SaveMean(const std::string& path, int passesHeld, MeanFormat format = MeanFormat::Pfm);

    // The mean of pixel (x, y) over passesHeld passes, as the PFM file holds it.
    Vec3 Mean(int x, int y, int passesHeld) const;

    // The sums themselves, for saving and restoring a render and combining
    // partial ones, row by row: one channel (0 red, 1 green, 2 blue) of the
    // Float sums; the Fixed sums, red, green, blue per pixel.
    std::span<float> FloatSums(int channel);
    std::span<std::int64_t> FixedSums();

  private:
    static std::int64_t ToFixed(float v);
    // The float sum of one channel of pixel i, pending sample included or not.
    float Sum(std::size_t i, int channel, bool withPending) const;
    // Writes the fixed sums into the float planes (for the PFM writer).
    void FixedToPlanes();

    int width_ = 0;
    int height_ = 0;
    SumKind kind_ = SumKind::Float;
    FloatPlane sumRed_, sumGreen_, sumBlue_;  // Float sums (or Fixed converted)
    std::unique_ptr<std::int64_t[]> fixed_;   // Fixed sums, 3 per pixel
    std::unique_ptr<float[]> pending_;        // the pass under way, 3 per pixel
    FloatPlane displayRed_, displayGreen_, displayBlue_;
    DibImage image_;
};

}  // namespace lumeno
