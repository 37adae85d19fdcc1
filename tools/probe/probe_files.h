// The pair of files a probe consists of, written together: the angular map
// "grace_probe.pfm" and the light list "grace.txt" in one directory. Both are
// written completely under temporary names first and only then renamed into
// place, so a failure leaves the directory as it was.
#pragma once

#include <string>
#include <vector>

#include "probe/hdr_image.h"
#include "probe/median_cut.h"

namespace lumeno::probe {

inline constexpr const char* kProbeImageName = "grace_probe.pfm";
inline constexpr const char* kProbeLightsName = "grace.txt";

// Creates directory (and its parents) when missing. False with a message in
// error on failure.
bool WriteProbeFiles(const std::string& directory, const HdrImage& map,
                     const std::vector<ProbeLightRecord>& lights, std::string& error);

}  // namespace lumeno::probe
