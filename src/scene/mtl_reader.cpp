#include "scene/mtl_reader.h"

namespace lumeno {

void MtlReader::ReadMtl(const std::string& fileName, const std::string& directory,
                        Diagnostics& diagnostics) {
    // Material libraries are not read yet: faces keep the default material.
    (void)fileName;
    (void)directory;
    (void)diagnostics;
}

}  // namespace lumeno
