// In-memory archive file functions for the fuzz build of the zip layer: every
// path that the layer opens reads the bytes given here instead of a file.
#pragma once

#include <minizip/ioapi.h>

#include <cstddef>
#include <cstdint>

// The bytes that every following open reads; they must outlive the opens.
void SetMemoryArchive(const uint8_t* data, size_t size);

// The in-memory functions, also for reading the archive with minizip itself.
void FillMemoryArchiveFunctions(zlib_filefunc64_def* functions);
