// A temporary folder that is removed with everything in it, and whole-file helpers.
#pragma once

#include <string>
#include <vector>

namespace test_support {

class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
// The file's bytes; "<missing>" when it cannot be read.
std::string readFile(const std::string& path);
// A folder's tree, one sorted line per entry: "sub/" for a folder, "name BYTES" for a
// file, "name@" for a link (never followed), paths relative to `root`; for comparing two trees.
std::string treeText(const std::string& root);
// The names of the entries in `folder` (not below it), sorted.
std::vector<std::string> names(const std::string& folder);
// `size` bytes that differ from one position to the next.
std::string patternBytes(std::size_t size);

}  // namespace test_support
