// What the host tools throw for a refused folder, a bad archive or a bad file:
// talvorn-pack prints the message and exits with code 1.
#pragma once

#include <stdexcept>

class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
