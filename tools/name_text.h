// Small text helpers for entry names in the host tools' messages and case
// folding. Names are printable ASCII (the name check makes sure), so folding
// ASCII letters folds them the way Windows does.
#pragma once

#include <cstddef>
#include <string>

inline std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// How messages name an entry: its place in the archive, from 0, and its name.
inline std::string EntryLabel(size_t index, const std::string& name) {
  return "entry " + std::to_string(index) + " " + Quoted(name);
}

inline std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}
