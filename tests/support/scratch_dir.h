#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

// A fresh directory under the system's temporary directory, named
// "<prefix>-XXXXXX", removed with everything in it at the end.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    m_path = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path operator/(const std::string& relative) const { return m_path / relative; }

 private:
  std::filesystem::path m_path;
};
