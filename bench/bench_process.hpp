#pragma once

#include <string>
#include <vector>

namespace qbr::bench {

// What a child run of this executable left: its exit status (-1 when it did not exit
// normally), its standard output, and its peak resident memory in KiB from the kernel's
// account of the finished process.
struct ChildRun {
  int exitStatus = -1;
  std::string output;
  long maxResidentKiB = 0;
};

// Runs this executable again with `args`, collecting its standard output; standard error
// stays shared. The child starts from a fresh image, so its memory figures are its own.
ChildRun runSelf(const std::vector<std::string>& args);

// Peak resident memory of this process so far, in KiB.
long peakResidentKiB();

// Processor time of this process so far (user and system, all threads), in seconds.
double processorSeconds();

// The three load averages as /proc/loadavg gives them.
std::string loadAverages();

// The CPU model named in /proc/cpuinfo.
std::string cpuModel();

}  // namespace qbr::bench
