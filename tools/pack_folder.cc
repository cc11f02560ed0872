#include "tools/pack_folder.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "payload/archive.h"
#include "tools/archive_check.h"
#include "tools/name_text.h"

namespace fs = std::filesystem;

namespace {

// The extractor keeps offsets as signed 32-bit values.
const uint64_t kMaxArchiveSize = 0x7FFFFFFF;
// What the threads may hold of entries not yet in the archive: a few whole
// entries in memory, however many cores there are.
const uint64_t kHeldBudget = uint64_t{512} << 20;

std::string EntryName(const fs::path& relative) {
  std::string name;
  for (const fs::path& part : relative) {
    std::string component = part.string();
    // On Windows a backslash inside a file name would become a separator.
    if (component.find('\\') != std::string::npos) {
      throw PackError(Quoted(relative.string()) + ": a backslash in a file or folder name");
    }
    if (!name.empty()) name += '\\';
    name += component;
  }
  return name;
}

void CheckName(const std::string& name) {
  NameProblem problem = CheckEntryName(reinterpret_cast<const uint8_t*>(name.data()),
                                       static_cast<uint32_t>(name.size()));
  if (problem != NameProblem::kNone) {
    throw PackError(Quoted(name) + ": " + DescribeNameProblem(problem) +
                    "; the extractor would refuse it");
  }
}

// Windows folds letter case, so two names that differ only in case would be
// one file, and a file whose name folds to a folder of another cannot exist.
void CheckCaseClashes(const std::vector<PackItem>& items) {
  std::map<std::string, std::string> files;
  for (const PackItem& item : items) {
    auto inserted = files.emplace(LowerAscii(item.name), item.name);
    if (!inserted.second) {
      throw PackError(Quoted(item.name) + " and " + Quoted(inserted.first->second) +
                      " differ only in letter case: Windows would keep only one");
    }
  }
  for (const PackItem& item : items) {
    std::string folded = LowerAscii(item.name);
    for (size_t slash = folded.find('\\'); slash != std::string::npos;
         slash = folded.find('\\', slash + 1)) {
      auto file = files.find(folded.substr(0, slash));
      if (file != files.end()) {
        throw PackError(Quoted(item.name) + " needs a folder where the file " +
                        Quoted(file->second) + " is");
      }
    }
  }
}

bool IsRaw(const PackItem& item) {
  return IsRawEntryName(reinterpret_cast<const uint8_t*>(item.name.data()),
                        static_cast<uint32_t>(item.name.size()));
}

}  // namespace

std::vector<PackItem> CollectFolder(const fs::path& folder) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    throw PackError(Quoted(folder.string()) + " is not a folder");
  }
  std::vector<PackItem> items;
  uint64_t total = 0;
  fs::recursive_directory_iterator walk(folder, error), end;
  for (; !error && walk != end; walk.increment(error)) {
    const fs::directory_entry& found = *walk;
    std::string name = EntryName(found.path().lexically_relative(folder));
    // Following a link could pack files from outside the folder, or loop.
    if (found.is_symlink(error)) throw PackError(Quoted(name) + ": a symbolic link");
    if (found.is_directory(error)) continue;
    if (!found.is_regular_file(error)) throw PackError(Quoted(name) + ": not a regular file");
    CheckName(name);
    PackItem item{name, found.path(), found.file_size(error)};
    if (error) break;
    total += item.size + kEntryHeaderSize + name.size();
    if (total > kMaxArchiveSize) {
      throw PackError("the files add up to 2^31 bytes or more: too big for the extractor");
    }
    items.push_back(std::move(item));
  }
  if (error) throw PackError(Quoted(folder.string()) + ": " + error.message());

  std::sort(items.begin(), items.end(), [](const PackItem& a, const PackItem& b) {
    if (IsRaw(a) != IsRaw(b)) return IsRaw(a);
    return a.name < b.name;  // bytewise: std::string compares as unsigned char
  });
  CheckCaseClashes(items);  // after sorting, so its message does not vary
  if (items.empty() || !IsRaw(items.front())) {
    throw PackError("no \"zlib1.dll\" at the top of the folder: the extractor needs it "
                    "to inflate every other file");
  }
  return items;
}

std::vector<PackItem> OrderByList(const std::vector<PackItem>& items,
                                  const std::string& listText) {
  std::map<std::string, const PackItem*> byName;
  for (const PackItem& item : items) byName[item.name] = &item;

  std::vector<PackItem> ordered;
  std::set<std::string> listed;
  std::istringstream lines(listText);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::replace(line.begin(), line.end(), '/', '\\');
    auto item = byName.find(line);
    if (item == byName.end()) {
      throw PackError("the list names " + Quoted(line) + ", which is not a file in the folder");
    }
    if (!listed.insert(line).second) {
      throw PackError("the list names " + Quoted(line) + " twice");
    }
    ordered.push_back(*item->second);
  }
  for (const PackItem& item : items) {
    if (listed.count(item.name) == 0) {
      throw PackError(Quoted(item.name) + " is in the folder but not in the list");
    }
  }
  if (ordered.empty() || !IsRaw(ordered.front())) {
    throw PackError("the list must name \"zlib1.dll\" first: the extractor loads it "
                    "before it inflates anything");
  }
  return ordered;
}

Bytes PackItems(const std::vector<PackItem>& items, const PackOptions& options) {
  // The library first: a bad one is refused before minutes of compression.
  std::map<size_t, Bytes> libraries;
  for (size_t i = 0; i < items.size(); ++i) {
    if (!IsRaw(items[i])) continue;
    Bytes content = ReadEntryFile(items[i].path, items[i].name);
    std::string problem = CheckZlibLibrary(content.data(), content.size(), options.machine);
    if (!problem.empty()) throw PackError(Quoted(items[i].name) + ": " + problem);
    libraries.emplace(i, std::move(content));
  }

  ArchiveWriter writer;
  uint64_t total = kTrailerSize;
  for (const PackItem& item : items) total += kEntryHeaderSize + item.name.size() + item.size;
  // Pages reserved but never written cost nothing; growing by copies would.
  writer.Reserve(std::min(total, kMaxArchiveSize));
  OrderedJobs jobs;
  jobs.count = items.size();
  jobs.size = [&](size_t i) { return items[i].size; };
  jobs.run = [&](size_t i) {
    // Each job runs once, so the library's bytes can move into the archive.
    auto library = libraries.find(i);
    if (library != libraries.end()) return std::move(library->second);
    return EntryStream(items[i].path, items[i].name, items[i].size, options.level);
  };
  jobs.take = [&](size_t i, Bytes&& data) {
    writer.AppendEntry(static_cast<uint32_t>(data.size()), items[i].name, data);
    if (writer.bytes().size() + kTrailerSize > kMaxArchiveSize) {
      throw PackError("the archive would reach 2^31 bytes: too big for the extractor");
    }
  };
  RunInOrder(jobs, options.threads ? options.threads : CoreCount(), kHeldBudget,
             options.progress);
  writer.AppendTrailer();
  // Each stream was inflated as it was made; what is left is the layout.
  ArchiveReport report = InspectArchive(writer.bytes().data(), writer.bytes().size(),
                                        StreamCheck::kLayoutOnly);
  if (!report.problem.empty()) {
    throw PackError("the archive does not read back: " + report.problem);
  }
  return writer.Take();
}
