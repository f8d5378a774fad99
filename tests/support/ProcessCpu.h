#pragma once
// Processor time this process has used so far (user + system), in seconds.

namespace qvl::test {

double ProcessCpuSeconds();

}  // namespace qvl::test
