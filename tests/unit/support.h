// Small helpers the unit test programs share.
#pragma once
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// A file's whole content, byte for byte (the path in UTF-8); "" when it cannot be opened.
inline std::string slurp(const std::string& path) {
  std::ifstream in(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
  if (!in) return "";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
