// Entries a hostile user plants where a program expects a plain file: FIFOs, device nodes, and an
// entry swapped back and forth with another while a program works on it.
#pragma once

#include <atomic>
#include <string>
#include <thread>

// A FIFO at path; false when it cannot be made.
bool MakeFifo(const std::string& path);

// A character device at path with the numbers of /dev/null (root only); false when it cannot be
// made.
bool MakeNullDevice(const std::string& path);

// Opens the FIFO for writing without waiting and closes it again, which releases a reader that
// was left waiting in its open; false when no reader was waiting.
bool ReleaseFifoReader(const std::string& path);

// Whether the tests run as root.
bool RunningAsRoot();

// An entry as lstat sees it: mode bits (with the set-id and sticky bits), owner and group.
struct EntryStatus {
  bool Exists = false;
  unsigned Mode = 0;
  unsigned Owner = 0;
  unsigned Group = 0;
};
EntryStatus StatusOf(const std::string& path);

// The number of a group by its name; -1 when there is none.
long GroupNumber(const std::string& name);

// Gives the entry to the group (root, or a member of the group); false when refused.
bool GiveToGroup(const std::string& path, unsigned group);

// Swaps two directory entries back and forth as fast as it can (each swap atomic), from its start
// until it goes; the entries end where they began.
class EntrySwapper {
 public:
  EntrySwapper(std::string first, std::string second);
  ~EntrySwapper();
  EntrySwapper(const EntrySwapper&) = delete;
  EntrySwapper& operator=(const EntrySwapper&) = delete;
  // How many swaps were made; 0 when the system refused the first one.
  long Swaps() const { return swaps_; }

 private:
  std::string first_, second_;
  std::atomic<bool> stop_ = false;
  std::atomic<long> swaps_ = 0;
  std::thread thread_;
};
