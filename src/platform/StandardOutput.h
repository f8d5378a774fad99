#pragma once
// Writing a download to the process's standard output.
#include <optional>
#include <string>

namespace qvl::platform {

// A file name that opens standard output for writing from its start, when writing there gives
// the same as writing to standard output itself: a pipe, a terminal, or a file we are at the
// start of (as after ">"). Nothing when it would not (a file opened for appending or with
// content before us, a socket), or where the platform has no such name.
std::optional<std::string> StandardOutputFileName();

// Makes standard output take bytes as they are, without any line-end translation.
void UseBinaryStandardOutput();

}  // namespace qvl::platform
