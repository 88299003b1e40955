// Temporary folders for tests: each TempDir is a fresh folder removed with everything in it when the
// object goes away. ScopedDriveRoot points QUENTA_DRIVE_ROOT at such a folder for its lifetime, so
// drive paths ("C:\\Work/...") used by the code under test land inside it.
#pragma once

#include <string>

namespace quenta_test {

class TempDir {
  public:
    // A new folder "<prefix>XXXXXX" under $QUENTA_DRIVE_ROOT when set, else $TMPDIR, else /tmp.
    explicit TempDir(const std::string& prefix = "quenta-test-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }  // local UTF-8 path, no trailing "/"
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

class ScopedDriveRoot {
  public:
    ScopedDriveRoot();
    ~ScopedDriveRoot();
    ScopedDriveRoot(const ScopedDriveRoot&) = delete;
    ScopedDriveRoot& operator=(const ScopedDriveRoot&) = delete;

    const std::string& path() const { return dir_.path(); }

  private:
    TempDir dir_;
    bool hadOld_ = false;
    std::string old_;
};

// Whole content of a local file ("" when it cannot be read), and writing one. Paths are UTF-8 (as
// the command line gives them), also on Windows.
std::string readWholeFile(const std::string& localPath);
bool writeWholeFile(const std::string& localPath, const std::string& content);
// A text file written in text mode (the log), with its line ends as "\n": on Windows such files end
// their lines with "\r\n".
std::string readTextFile(const std::string& localPath);

}  // namespace quenta_test
