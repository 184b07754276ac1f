// A directory of its own for one test, removed with everything in it afterwards.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>

namespace veldrane::test {

class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path p = fs::temp_directory_path() /
                   ("veldrane-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
      std::error_code ec;
      if (fs::create_directory(p, ec)) path_ = p.generic_string();
    }
    if (path_.empty()) throw std::runtime_error("cannot make a temporary directory");
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
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
      names.insert(e.path().filename().string());
    }
    return names;
  }

 private:
  // Everything goes, read-only files and folders too.
  static void RemoveTree(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    for (const auto& e : fs::recursive_directory_iterator(dir, ec)) {
      fs::permissions(e.path(), fs::perms::owner_all,
                      fs::perm_options::add | fs::perm_options::nofollow, ec);
    }
    fs::remove_all(dir, ec);
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
