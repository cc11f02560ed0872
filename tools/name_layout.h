// Where payload entries land on Windows, which folds letter case: each
// name's folders and file as first spelled, which earlier entry's file a
// later one replaces, and the names the extractor could not create at all
// (a file where a folder must go, or the other way round). The archive check
// and the host extraction both place entries through it, so verify judges
// exactly what extract then writes.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

struct Landing {
  std::vector<std::string> folders;  // as first spelled
  std::string file;                  // as first spelled
  // The earlier entry whose file this one replaces (by index), or -1.
  long replaces = -1;
  std::string clash;  // why the entry cannot land; empty when it can
};

class FoldedLayout {
 public:
  // Places the next entry; entries are numbered from 0 in the order placed.
  Landing Place(const std::string& name);

 private:
  struct Seen {
    bool isFile;
    std::string spelling;  // of this component, as first met
    size_t entry;          // the entry that made it, or last wrote the file
  };
  std::map<std::string, Seen> seen_;  // by folded path
  std::vector<std::string> names_;    // of the entries placed so far
};
