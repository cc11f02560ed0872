// Small text helpers for entry names in the host tools' messages and case
// folding. Names are printable ASCII (the name check makes sure), so folding
// ASCII letters folds them the way Windows does.
#pragma once

#include <string>

inline std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

inline std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}
