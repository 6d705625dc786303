#include "support/temp_dir.hpp"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir() {
  std::error_code error;
  std::string base = std::filesystem::temp_directory_path(error).string();
  if (error || base.empty()) base = "/tmp";
  std::string pattern = base + "/voxsifter_test_XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  dir = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(dir, error);
}

void TempDir::write(const std::string& name, const std::string& bytes) const { write_file(file(name), bytes); }
std::string TempDir::read(const std::string& name) const { return read_file(file(name)); }
bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), (std::streamsize)bytes.size());
}
