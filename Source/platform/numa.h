// NUMA placement of search threads.  The processor topology is read from
// sysfs; when it cannot be read, placement is skipped without a word.
#pragma once

#include <bitset>
#include <string>

// CPUs a mask can hold (glibc's cpu_set_t has as many); higher numbers in a
// kernel list are dropped.
constexpr int MAX_CPUS = 1024;
using CpuMask = std::bitset<MAX_CPUS>;

// Below this many threads the scheduler's own placement is left alone.
constexpr int NUMA_MIN_THREADS = 33;

// Parses a kernel CPU list such as "0-3,8-11" (a trailing newline is fine,
// an empty list is an empty mask).  Text that is no CPU list gives false
// and an empty mask.
bool parse_cpulist(const char* text, CpuMask& mask);

// Root of the sysfs tree the topology is read from: "/sys" unless a test
// points it at a tree of its own.  Set it only while no threads start.
void set_sysfs_root(const std::string& root);

// Node for search thread `index`, or -1 (topology unreadable, or more
// threads than the table has entries).  The first threads fill the physical
// cores node by node, cores / nodes to a node; the second hardware threads
// of SMT cores follow, spread over the nodes in turn.
int numa_node_of_thread(int index);

// Binds the calling thread to the CPUs of its node when more than 32 threads
// search.  Called before the thread first writes its record, so that the
// record's pages are taken from that node.  Returns whether it was bound.
bool numa_place_thread(int index, int thread_count);
