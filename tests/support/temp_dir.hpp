// A fresh directory per test under the temporary directory, removed with all
// its content when the object goes away.
#pragma once

#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return dir; }
  // Path of a file inside the directory.
  std::string file(const std::string& name) const { return dir + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string dir;
};

// Whole-file helpers for any path.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
