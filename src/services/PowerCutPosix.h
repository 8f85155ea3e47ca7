// The native file layer's side of a test's power cut (CutPowerAfter in
// FileSystem.h): FileSystemPosix.cpp asks before each change and notes what
// is written, flushed and moved, so RestorePower can lose what a disk would.
#pragma once

#include <cstdint>
#include <string>

namespace qorv {

// True when a change may be made; false, the change unmade, once the power
// is cut.
bool Change();

// The file open as descriptor holds bytes not yet flushed, or (written
// false) holds none any more.
void NoteBytes(int descriptor, bool written);

// Flushes the file open as descriptor. While a test watches for a power cut
// the flush is only noted: the cut is simulated, not the disk's.
int FlushDescriptor(int descriptor);

// A noted file moved to path is known there from now on.
void NoteMove(const std::string& path);

}  // namespace qorv
