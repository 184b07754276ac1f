// A directory of its own for one test, removed with everything in it afterwards.
#pragma once

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

namespace veldrane::test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/veldrane-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() { RemoveTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // The names in the directory.
  std::set<std::string> List() const { return ListOf(path_); }

  static std::set<std::string> ListOf(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.insert(n);
      }
      closedir(d);
    }
    return names;
  }

 private:
  static void RemoveTree(const std::string& dir) {
    chmod(dir.c_str(), 0700);
    for (const std::string& n : ListOf(dir)) {
      std::string p = dir + "/" + n;
      struct stat st {};
      if (lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        RemoveTree(p);
      } else {
        unlink(p.c_str());
      }
    }
    rmdir(dir.c_str());
  }

  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace veldrane::test
