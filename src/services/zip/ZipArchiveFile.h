// The file functions minizip reads the archive through: the archive is
// opened from a wide path (given to unzOpen2_64 as the path). qorv_zip reads
// it through the services' open file, the fuzz build from memory.
#pragma once

#include <minizip/ioapi.h>

namespace qorv {

void ZipFillArchiveFunctions(zlib_filefunc64_def* functions);

}  // namespace qorv
