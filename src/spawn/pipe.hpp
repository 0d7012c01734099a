#pragma once

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

struct Pipe {
    UniqueFd read_end;
    UniqueFd write_end;
};

// A pipe whose ends are close-on-exec and numbered above the standard
// descriptors, so that no spawn hands them on unasked and no redirection of a
// child's standard streams can overwrite or close them.
Result<Pipe> make_pipe();

}  // namespace quillbox
