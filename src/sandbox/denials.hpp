#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillbox {

// The places a sandboxed command may never reach, however wide the allowed
// path beneath which they lie. Every path here is absolute and canonical.
class Denials {
public:
    // `path` and everything beneath it.
    void add(std::filesystem::path path);
    // Every entry of `folder` whose name begins with `stem`, and everything
    // beneath those: a file together with the lockfile, temporaries and
    // backups named after it.
    void add_family(std::filesystem::path folder, std::string stem);

    // Whether `path` is denied or lies beneath a denied path.
    bool covers(const std::filesystem::path& path) const;
    // Whether something denied lies strictly beneath `directory`, so that a
    // rule on it as a whole would reach it.
    bool lie_beneath(const std::filesystem::path& directory) const;

private:
    struct Family {
        std::filesystem::path folder;
        std::string stem;
    };

    std::vector<std::filesystem::path> paths_;
    std::vector<Family> families_;
};

// Whether `path` is `root` or lies beneath it; both absolute and canonical.
bool is_within(const std::filesystem::path& path, const std::filesystem::path& root);

}  // namespace quillbox
