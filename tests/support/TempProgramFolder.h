#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace corvald::test {

// A fresh temporary folder that is the current directory while the object
// lives; the previous current directory comes back and the folder is removed
// afterwards.
class TempProgramFolder {
 public:
  TempProgramFolder();
  ~TempProgramFolder();
  TempProgramFolder(const TempProgramFolder&) = delete;
  TempProgramFolder& operator=(const TempProgramFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // Writes a file (path relative to the folder, "/" separated) with these bytes.
  void WriteFile(std::string_view relative, std::string_view bytes) const;
  std::string ReadFile(std::string_view relative) const;

 private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

}  // namespace corvald::test
