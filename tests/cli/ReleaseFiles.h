#pragma once
// The four files the unattended runs serve.
#include <string>

#include "support/NginxFixture.h"

namespace qvl::test {

inline const std::string kLauncher = "#!/bin/sh\necho 'the Quorvale launcher'\n";
inline const std::string kWallet = "#!/bin/sh\necho 'the Quorvale wallet'\n";
inline const std::string kVersion = "2.0.1\n";

// A chain archive in small: a program that unpacks one block file into the chain directory.
// The bytes after "exit 0" are never read by the shell; they make the download take several
// chunks.
inline std::string ChainArchive() {
    return "#!/bin/sh\nset -e\nmkdir -p \"$APPDATA/Quorvale/blocks\"\n"
           "printf 'block 0\\n' > \"$APPDATA/Quorvale/blocks/blk00000.dat\"\nexit 0\n" +
           GeneratedBytes(300 * 1024, 7);
}

}  // namespace qvl::test
