#pragma once
// Opening a file for reading only when it is a regular file.
#include <cstdio>
#include <string>

// Opens name for reading in binary mode. Anything that is not a regular file (a FIFO, a
// device, a folder) is refused without blocking: a FIFO with no writer would hold the
// caller, a device could feed it endlessly. On failure returns nullptr and sets reason
// to a short text ("No such file or directory", "not a regular file").
std::FILE* OpenRegularFileForReading(const std::string& name, std::string& reason);
