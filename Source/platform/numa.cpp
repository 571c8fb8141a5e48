#include "platform/numa.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <pthread.h>
#include <sched.h>
#include <set>
#include <string_view>
#include <vector>

namespace {

std::string g_sysfs_root = "/sys";

// Reads a whole sysfs file; false when it cannot be opened.
bool read_text(const std::string& path, std::string& text) {
  std::ifstream in(path);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool read_mask(const std::string& path, CpuMask& mask) {
  std::string text;
  return read_text(path, text) && parse_cpulist(text.c_str(), mask);
}

std::string node_dir() { return g_sysfs_root + "/devices/system/node"; }

// Numbers of the nodes that have CPUs (memory-only nodes cannot take a
// thread), ascending, with their CPU masks.
struct Node {
  int id;
  CpuMask cpus;
};

std::vector<Node> read_nodes() {
  std::vector<Node> nodes;
  DIR* dir = opendir(node_dir().c_str());
  if (!dir) return nodes;
  while (dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::string_view(name).substr(0, 4) != "node" || !std::isdigit((unsigned char)name[4])) continue;
    char* end = nullptr;
    long id = std::strtol(name + 4, &end, 10);
    if (*end != '\0' || id > 100000) continue;
    Node node{int(id), {}};
    if (read_mask(node_dir() + "/" + name + "/cpulist", node.cpus) && node.cpus.any()) nodes.push_back(node);
  }
  closedir(dir);
  std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) { return a.id < b.id; });
  return nodes;
}

}  // namespace

bool parse_cpulist(const char* text, CpuMask& mask) {
  mask.reset();
  // Numbers are capped so that an absurd one cannot overflow; anything at
  // or above MAX_CPUS is dropped anyway.
  auto number = [&text](long& value) {
    if (!std::isdigit((unsigned char)*text)) return false;
    value = 0;
    while (std::isdigit((unsigned char)*text)) value = std::min(value * 10 + (*text++ - '0'), 1L << 40);
    return true;
  };
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '\0' || *text == '\n') return true;
  for (;;) {
    long first = 0;
    long last = 0;
    if (!number(first)) break;
    last = first;
    if (*text == '-') {
      ++text;
      if (!number(last) || last < first) break;
    }
    for (long cpu = first; cpu <= std::min(last, long(MAX_CPUS - 1)); ++cpu) mask.set(std::size_t(cpu));
    if (*text == ',') {
      ++text;
      continue;
    }
    while (*text == ' ' || *text == '\t' || *text == '\n') ++text;
    if (*text == '\0') return true;
    break;
  }
  mask.reset();
  return false;
}

void set_sysfs_root(const std::string& root) { g_sysfs_root = root; }

int numa_node_of_thread(int index) {
  const std::vector<Node> nodes = read_nodes();
  if (nodes.empty() || index < 0) return -1;

  // A core is known by its lowest hardware thread; a CPU whose siblings
  // cannot be read counts as a core of its own.
  std::set<int> cores;
  int smt_cores = 0;
  for (const Node& node : nodes) {
    for (int cpu = 0; cpu < MAX_CPUS; ++cpu) {
      if (!node.cpus.test(std::size_t(cpu))) continue;
      CpuMask siblings;
      const std::string path =
          g_sysfs_root + "/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/thread_siblings_list";
      if (!read_mask(path, siblings) || siblings.none()) siblings.set(std::size_t(cpu));
      int first = 0;
      while (!siblings.test(std::size_t(first))) ++first;
      if (cores.insert(first).second && siblings.count() > 1) ++smt_cores;
    }
  }

  std::vector<int> table;
  const int count = int(nodes.size());
  const int per = int(cores.size()) / count;
  for (const Node& node : nodes) table.insert(table.end(), std::size_t(per), node.id);
  for (int k = 0; k < smt_cores; ++k) table.push_back(nodes[std::size_t(k % count)].id);
  return index < int(table.size()) ? table[std::size_t(index)] : -1;
}

bool numa_place_thread(int index, int thread_count) {
  if (thread_count < NUMA_MIN_THREADS) return false;
  const int node = numa_node_of_thread(index);
  if (node < 0) return false;
  CpuMask cpus;
  if (!read_mask(node_dir() + "/node" + std::to_string(node) + "/cpulist", cpus) || cpus.none()) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int cpu = 0; cpu < MAX_CPUS && cpu < CPU_SETSIZE; ++cpu)
    if (cpus.test(std::size_t(cpu))) CPU_SET(cpu, &set);
  return pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
}
