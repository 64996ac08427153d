// Files written whole or not at all: the bytes go to a temporary file beside the target, which
// takes the target's name only once every byte is written, so that a disk that fills leaves no
// cut-off file behind.
#pragma once

#include <cstddef>
#include <string>

// Writes size bytes to the open file descriptor, resuming after short writes and interruptions:
// 0, or the error that stopped the write.
int WriteAll(int file, const char* data, std::size_t size);

// Writes data as the file at path (the file system's bytes): 0, or the error that stopped it, in
// which case nothing is left at path or beside it.
int WriteWholeFile(const std::string& path, const std::string& data);
