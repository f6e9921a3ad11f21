// File helpers. Every file the tool writes is written whole: to a temporary
// file in the same folder, then renamed over the old one, so an interrupted
// write never leaves half a file behind.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Reads the whole file into *out (at most maxBytes of it). False when it
// cannot be opened.
bool ReadWholeFile(const std::string& path, std::string* out, std::size_t maxBytes = SIZE_MAX);

// Writes data as the new content of path, atomically. Keeps the mode of an
// existing file; a symbolic link is followed and stays a link. False on any
// failure; the old file is then untouched.
bool WriteFileAtomic(const std::string& path, const void* data, std::size_t length);

// Files below dir are scratch (a working folder removed at the end): they
// are still written whole, but not synced to disk, which only costs time
// there. Set once, before any other thread starts.
void SetScratchDirectory(const std::string& dir);

// True when path exists and its owner may write it. Checked from the mode
// bits, so a read-only file stays read-only for root as well.
bool IsWritableFile(const std::string& path);

bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);

// Stores data under path, creating the missing directories on the way.
// Backslashes and slashes both separate directories. Returns 1 on success and
// 0 on failure (a directory that cannot be made, a file that cannot be
// written); a length of 0 leaves an empty file.
int WriteFileMakingDirs(const std::string& path, const void* data, std::size_t length);

}  // namespace platform
