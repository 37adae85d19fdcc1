#include "render/film.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/exr_file.h"
#include "base/pfm_file.h"

namespace lumeno {

bool Film::SetSize(int width, int height, SumKind kind) {
    auto fail = [&] {
        image_.Allocate(0, 0);  // leaves the bitmap empty
        for (FloatPlane* plane :
             {&sumRed_, &sumGreen_, &sumBlue_, &displayRed_, &displayGreen_, &displayBlue_}) {
            plane->Release();
        }
        pending_.reset();
        fixed_.reset();
        width_ = 0;
        height_ = 0;
        return false;
    };
    if (!image_.Allocate(width, height)) {
        return fail();
    }
    std::size_t values = 3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (FloatPlane* plane :
         {&sumRed_, &sumGreen_, &sumBlue_, &displayRed_, &displayGreen_, &displayBlue_}) {
        if (!plane->Create(width, height)) {
            return fail();
        }
    }
    pending_.reset(new (std::nothrow) float[values]);
    fixed_.reset(kind == SumKind::Fixed ? new (std::nothrow) std::int64_t[values] : nullptr);
    if (!pending_ || (kind == SumKind::Fixed && !fixed_)) {
        return fail();
    }
    // Black until the first refresh.
    displayRed_.Fill(0.0f);
    displayGreen_.Fill(0.0f);
    displayBlue_.Fill(0.0f);
    width_ = width;
    height_ = height;
    kind_ = kind;
    return true;
}

void Film::Clear() {
    sumRed_.Fill(0.0f);
    sumGreen_.Fill(0.0f);
    sumBlue_.Fill(0.0f);
    if (fixed_) {
        std::fill_n(fixed_.get(), 3 * std::size_t(width_) * std::size_t(height_), 0);
    }
}

std::int64_t Film::ToFixed(float v) {
    if (!(v < kFixedLimit)) {
        v = std::isnan(v) ? 0.0f : kFixedLimit;
    } else if (!(v > -kFixedLimit)) {
        v = -kFixedLimit;
    }
    // v · 2^24 is exact in double precision; the rounding is to nearest.
    return static_cast<std::int64_t>(std::nearbyint(static_cast<double>(v) * kFixedScale));
}

void Film::CommitRows(int first, int last) {
    const std::size_t begin = std::size_t(width_) * std::size_t(first);
    const std::size_t end = std::size_t(width_) * std::size_t(last);
    if (kind_ == SumKind::Fixed) {
        for (std::size_t i = 3 * begin; i < 3 * end; ++i) {
            fixed_[i] += ToFixed(pending_[i]);
        }
        return;
    }
    float* sums[3] = {sumRed_.pixels.get(), sumGreen_.pixels.get(), sumBlue_.pixels.get()};
    for (std::size_t i = begin; i < end; ++i) {
        sums[0][i] += pending_[3 * i];
        sums[1][i] += pending_[3 * i + 1];
        sums[2][i] += pending_[3 * i + 2];
    }
}

float Film::Sum(std::size_t i, int channel, bool withPending) const {
    std::size_t k = 3 * i + static_cast<std::size_t>(channel);
    if (kind_ == SumKind::Fixed) {
        std::int64_t sum = fixed_[k] + (withPending ? ToFixed(pending_[k]) : 0);
        return static_cast<float>(static_cast<double>(sum) / kFixedScale);
    }
    const FloatPlane& plane = channel == 0 ? sumRed_ : (channel == 1 ? sumGreen_ : sumBlue_);
    float sum = plane.pixels[i];
    return withPending ? sum + pending_[k] : sum;
}

void Film::ToneMapRows(int first, int end, int passNumber, bool rowsInPass) {
    float k = 1.0f / static_cast<float>(passNumber);
    for (int y = first; y < end; ++y) {
        std::size_t row = std::size_t(y) * std::size_t(width_);
        for (int x = 0; x < width_; ++x) {
            std::size_t i = row + std::size_t(x);
            displayRed_.At(x, y) = ToneCurve(k * Sum(i, 0, rowsInPass));
            displayGreen_.At(x, y) = ToneCurve(k * Sum(i, 1, rowsInPass));
            displayBlue_.At(x, y) = ToneCurve(k * Sum(i, 2, rowsInPass));
        }
    }
}

void Film::MarkRow(int y) {
    for (int x = 0; x < width_; ++x) {
        displayRed_.At(x, y) = 255.0f;
        displayGreen_.At(x, y) = 255.0f;
        displayBlue_.At(x, y) = 0.0f;
    }
}

void Film::ConvertRows(int first, int end) {
    image_.FromPlaneRows(displayRed_, displayGreen_, displayBlue_, first, end);
}

void Film::FixedToPlanes() {
    std::size_t pixels = std::size_t(width_) * std::size_t(height_);
    for (std::size_t i = 0; i < pixels; ++i) {
        sumRed_.pixels[i] = Sum(i, 0, false);
        sumGreen_.pixels[i] = Sum(i, 1, false);
        sumBlue_.pixels[i] = Sum(i, 2, false);
    }
}

Status Film::SaveMean(const std::string& path, int passesHeld, MeanFormat format) {
    if (kind_ == SumKind::Fixed) {
        FixedToPlanes();
    }
    auto n = static_cast<float>(passesHeld);
    return format == MeanFormat::Exr ? WriteExr(path, sumRed_, sumGreen_, sumBlue_, n)
                                     : WritePfm(path, sumRed_, sumGreen_, sumBlue_, n);
}

Vec3 Film::Mean(int x, int y, int passesHeld) const {
    std::size_t i = std::size_t(y) * std::size_t(width_) + std::size_t(x);
    float r = 1.0f / static_cast<float>(passesHeld);
    return {r * Sum(i, 0, false), r * Sum(i, 1, false), r * Sum(i, 2, false)};
}

std::span<float> Film::FloatSums(int channel) {
    FloatPlane& plane = channel == 0 ? sumRed_ : (channel == 1 ? sumGreen_ : sumBlue_);
    return {plane.pixels.get(), std::size_t(width_) * std::size_t(height_)};
}

std::span<std::int64_t> Film::FixedSums() {
    if (!fixed_) {
        return {};
    }
    return {fixed_.get(), 3 * std::size_t(width_) * std::size_t(height_)};
}

}  // namespace lumeno
