// Following a file that another process keeps appending to (the lab log, the sound output).
#pragma once
#include <cstddef>
#include <string>

// Appends to *cache what path holds beyond cache's length. A file that shrank was started
// anew and is read from its beginning. A missing file leaves the cache as it is.
void ReadAppended(const std::string& path, std::string* cache);
// The file's size now (0 while it does not exist); safe from any thread.
size_t FileSize(const std::string& path);
