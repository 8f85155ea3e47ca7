// Installs made before the install state kept a package's raw central
// directory as its record ("shell.dir", "GameClient.dir"). Such a record is
// taken over once: it becomes the package's state, with what is on disk
// now taken as what extraction left for every file of the entry's size
// (another size is fetched again), and it goes.
#pragma once

#include <string>

namespace qorv {

// Does nothing when there is no record at recordPath, or a state at
// statePath already. version: the version text the install was made for.
void TakeOverRecord(const std::wstring& recordPath, const std::wstring& statePath,
                    const std::wstring& targetDir, const std::string& version);

}  // namespace qorv
