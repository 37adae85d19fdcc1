// The pair of files a probe consists of, written together: the angular map
// and the light list, under the names the renderer reads (kProbeImageName,
// kProbeLightsName) in one directory.
#pragma once

#include <string>
#include <vector>

#include "base/working_folder.h"
#include "probe/hdr_image.h"
#include "probe/median_cut.h"

namespace lumeno::probe {

// Creates directory (and its parents) when missing. False with a message in
// error on failure.
bool WriteProbeFiles(const std::string& directory, const HdrImage& map,
                     const std::vector<ProbeLightRecord>& lights, std::string& error);

}  // namespace lumeno::probe
