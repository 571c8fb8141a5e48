#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <string>
#include <thread>

#include "platform/numa.h"

namespace {

namespace fs = std::filesystem;

// A sysfs tree of our own in a temporary folder; the real one is restored after.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vorn_sysfs_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    set_sysfs_root(root_);
  }
  void TearDown() override {
    set_sysfs_root("/sys");
    fs::remove_all(root_);
  }
  void write(const std::string& rel, const std::string& text) {
    const fs::path path = fs::path(root_) / "devices/system" / rel;
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
  }
  void node(int id, const std::string& cpus) { write("node/node" + std::to_string(id) + "/cpulist", cpus); }
  void siblings(int cpu, const std::string& list) {
    write("cpu/cpu" + std::to_string(cpu) + "/topology/thread_siblings_list", list);
  }
  std::string root_;
};

TEST(CpuList, ParsesKernelListsAndRefusesEverythingElse) {
  CpuMask mask;
  ASSERT_TRUE(parse_cpulist("0-3,8-11\n", mask));
  EXPECT_EQ(mask.to_ulong(), 0xF0Fu);
  ASSERT_TRUE(parse_cpulist("5", mask));
  EXPECT_EQ(mask.to_ulong(), 0x20u);
  // CPUs past the mask are dropped, however far a range goes.
  ASSERT_TRUE(parse_cpulist("1020-4000000000,2000", mask));
  EXPECT_EQ(mask.count(), 4u);
  EXPECT_EQ((mask >> 1020).to_ulong(), 0xFu);
  for (const char* none : {"", "\n", "99999999999999999999999"}) {
    mask.set(1);
    EXPECT_TRUE(parse_cpulist(none, mask)) << none;
    EXPECT_TRUE(mask.none()) << none;
  }
  for (const char* bad : {"abc", "1-", "-1", "3-1", "1,,2", "1,", "0-7:2/4", "1 2", "0x3"}) {
    mask.set(1);
    EXPECT_FALSE(parse_cpulist(bad, mask)) << bad;
    EXPECT_TRUE(mask.none()) << bad;
  }
}

// Two nodes of eight cores with two hardware threads each: the first thread
// of every core fills node 0 then node 1, the second threads alternate.
TEST_F(FakeSysfs, CoresFillNodesInTurnThenSmtSiblingsAlternate) {
  node(0, "0-7,16-23");
  node(1, "8-15,24-31");
  for (int cpu = 0; cpu < 32; ++cpu) siblings(cpu, std::to_string(cpu % 16) + "," + std::to_string(cpu % 16 + 16));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(numa_node_of_thread(i), 0) << i;
  for (int i = 8; i < 16; ++i) EXPECT_EQ(numa_node_of_thread(i), 1) << i;
  for (int i = 16; i < 32; ++i) EXPECT_EQ(numa_node_of_thread(i), i % 2) << i;
  EXPECT_EQ(numa_node_of_thread(32), -1);
  EXPECT_EQ(numa_node_of_thread(-1), -1);
}

// No readable topology, then node numbers with gaps, a memory-only node,
// cores that do not divide evenly and CPUs without topology files (each one
// a core of its own).
TEST_F(FakeSysfs, UnevenNodesKeepTheirNumbersAndMemoryOnlyNodesGetNothing) {
  EXPECT_EQ(numa_node_of_thread(0), -1);
  EXPECT_FALSE(numa_place_thread(0, 64));
  node(0, "garbage");
  EXPECT_EQ(numa_node_of_thread(0), -1);
  node(0, "0-3");
  node(1, "");
  node(3, "4-6");
  const int expected[] = {0, 0, 0, 3, 3, 3, -1};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(numa_node_of_thread(i), expected[i]) << i;
}

// A one-CPU node made from a CPU this process may use: placement binds the
// thread to exactly that CPU, and only when more than 32 threads search.
TEST_F(FakeSysfs, PlacementBindsTheThreadToItsNode) {
  std::thread worker([this] {
    cpu_set_t before;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof(before), &before), 0);
    int cpu = 0;
    while (!CPU_ISSET(cpu, &before)) ++cpu;
    node(0, std::to_string(cpu));
    siblings(cpu, std::to_string(cpu));
    EXPECT_FALSE(numa_place_thread(0, 32));
    ASSERT_TRUE(numa_place_thread(0, 33));
    cpu_set_t after;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof(after), &after), 0);
    EXPECT_EQ(CPU_COUNT(&after), 1);
    EXPECT_TRUE(CPU_ISSET(cpu, &after));
  });
  worker.join();
}

}  // namespace
