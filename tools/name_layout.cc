#include "tools/name_layout.h"

#include "tools/name_text.h"

Landing FoldedLayout::Place(const std::string& name) {
  const size_t index = names_.size();
  names_.push_back(name);
  Landing landing;
  std::string folded;
  for (size_t start = 0;;) {
    const size_t end = name.find('\\', start);
    const std::string part = name.substr(start, end - start);
    const bool isFile = end == std::string::npos;
    folded += (start ? "\\" : "") + LowerAscii(part);
    auto known = seen_.emplace(folded, Seen{isFile, part, index}).first;
    Seen& seen = known->second;
    if (seen.isFile != isFile) {
      landing.clash = std::string("needs a ") + (isFile ? "file" : "folder") + " where " +
                      EntryLabel(seen.entry, names_[seen.entry]) + " has a " +
                      (isFile ? "folder" : "file") + ": the extractor would fail";
      return landing;
    }
    if (!isFile) {
      landing.folders.push_back(seen.spelling);
      start = end + 1;
      continue;
    }
    landing.file = seen.spelling;
    if (seen.entry != index) landing.replaces = static_cast<long>(seen.entry);
    seen.entry = index;
    return landing;
  }
}
