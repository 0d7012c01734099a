#include "python/native/redacted_str.hpp"

#include <cstdint>
#include <span>
#include <string_view>

#include "core/code_points.hpp"
#include "core/page_advice.hpp"

namespace quillbox::python {
namespace {

// The text is copied into the str a piece at a time from its end, and each
// piece's pages go back to the system as soon as it is copied, so that the two
// never both hold the whole text. Pieces end on 2 MiB boundaries of the
// buffer's addresses, so that each gives back whole huge pages.
constexpr std::size_t kPieceBytes = std::size_t{2} << 20;
// A str this large is asked for huge pages: it is filled whole at once.
constexpr std::size_t kHugePagesFrom = std::size_t{4} << 20;

// Where the piece that ends at `end` begins: the 2 MiB boundary before it,
// moved back to the start of a character.
std::size_t piece_start(std::string_view bytes, std::size_t end) {
    const auto base = reinterpret_cast<std::uintptr_t>(bytes.data());
    const std::uintptr_t boundary = (base + end - 1) / kPieceBytes * kPieceBytes;
    std::size_t start = boundary > base ? boundary - base : 0;
    while (start > 0 && (static_cast<unsigned char>(bytes[start]) & 0xC0) == 0x80) --start;
    return start;
}

// A RedactedText is valid UTF-8: the redactor decodes what it returns.
template <typename Unit>
void fill_from_the_end(RedactedText& text, bool ascii, std::span<Unit> units) {
    const std::string_view bytes = text.view();
    std::size_t end = bytes.size();
    std::size_t units_end = units.size();
    while (end > 0) {
        const std::size_t start = piece_start(bytes, end);
        const std::string_view piece = bytes.substr(start, end - start);
        const std::size_t piece_units = ascii ? piece.size() : count_code_points(piece).count;
        decode_code_points(piece, units.subspan(units_end - piece_units, piece_units));
        text.release_from(start);
        end = start;
        units_end -= piece_units;
    }
}

}  // namespace

PyObject* take_as_str(RedactedText& text) {
    const CodePointCount count = count_code_points(text.view());
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(count.count), count.ceiling);
    if (str == nullptr) {
        text.release_from(0);
        return nullptr;
    }
    void* data = PyUnicode_DATA(str);
    const std::size_t size = count.count * PyUnicode_KIND(str);
    if (size >= kHugePagesFrom) advise_huge_pages(data, size);
    const bool ascii = count.ceiling == 0x7F;
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            fill_from_the_end(text, ascii, std::span(static_cast<Py_UCS1*>(data), count.count));
            break;
        case PyUnicode_2BYTE_KIND:
            fill_from_the_end(text, ascii, std::span(static_cast<Py_UCS2*>(data), count.count));
            break;
        default:
            fill_from_the_end(text, ascii, std::span(static_cast<Py_UCS4*>(data), count.count));
            break;
    }
    return str;
}

}  // namespace quillbox::python
