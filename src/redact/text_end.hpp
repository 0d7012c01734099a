#pragma once

namespace quillbox {

// How a text ends: where its writer ended it; cut off by us (at a size limit
// or when the writer was stopped), perhaps inside a secret; or not yet, as
// its writer may still add to it.
enum class TextEnd { Whole, Cut, Open };

}  // namespace quillbox
