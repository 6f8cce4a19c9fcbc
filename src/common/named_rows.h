// The names of a table's rows, one by one: how a table that accepts a
// command's texts tells the command vocabulary what it accepts.
#pragma once

#include <cstddef>

// The index-th row's name, nullptr past the last row.
template <typename Row, size_t N>
constexpr const char* NameAt(const Row (&rows)[N], size_t index) {
  return index < N ? rows[index].name : nullptr;
}
