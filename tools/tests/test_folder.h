// A scratch folder for one test, removed afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "tools/archive_writer.h"

class TestFolder {
 public:
  TestFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "talvorn-pack-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  ~TestFolder() { std::filesystem::remove_all(root_); }

  const std::filesystem::path& root() const { return root_; }

  // Writes a file at a slash-separated path below the root.
  std::filesystem::path Write(const std::string& relative, const std::string& content) {
    std::filesystem::path path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static Bytes Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Everything below a folder by relative path: a file's content, or "/"
  // for a folder.
  static std::map<std::string, std::string> Tree(const std::filesystem::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      Bytes content = entry.is_directory() ? Bytes{'/'} : Read(entry.path());
      tree[entry.path().lexically_relative(root).string()] =
          std::string(content.begin(), content.end());
    }
    return tree;
  }

 private:
  std::filesystem::path root_;
};
