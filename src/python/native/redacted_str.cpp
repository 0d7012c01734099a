#include "python/native/redacted_str.hpp"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/code_points.hpp"
#include "core/page_advice.hpp"

namespace quillbox::python {
namespace {

// The text is decoded into the str a piece at a time from its end, and each
// piece's pages go back to the system as soon as it is decoded, so that the
// two never both hold the whole text. Pieces meet at the 2 MiB boundaries of
// the buffer's addresses (moved back to the start of a code point), so that
// each gives back whole huge pages.
constexpr std::size_t kPieceBytes = std::size_t{2} << 20;
// A str this large is asked for huge pages: it is filled whole at once.
constexpr std::size_t kHugePagesFrom = std::size_t{4} << 20;

struct Piece {
    std::size_t start;
    std::size_t code_points;
};

// The text's pieces from its start, each counted, and the count of all.
// Each piece is read once here and once more as it is decoded.
std::vector<Piece> count_pieces(std::string_view bytes, CodePointCount& total) {
    const auto base = reinterpret_cast<std::uintptr_t>(bytes.data());
    std::vector<Piece> pieces;
    total = {0, 0x7F};
    for (std::size_t start = 0; start < bytes.size();) {
        const std::uintptr_t boundary = (base + start) / kPieceBytes * kPieceBytes + kPieceBytes;
        std::size_t end = std::min<std::size_t>(boundary - base, bytes.size());
        while (end < bytes.size() && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) {
            ++end;
        }
        const CodePointCount count = count_code_points(bytes.substr(start, end - start));
        pieces.push_back({start, count.count});
        total = {total.count + count.count, std::max(total.ceiling, count.ceiling)};
        start = end;
    }
    return pieces;
}

// A RedactedText is valid UTF-8: the redactor decodes what it returns.
template <typename Unit>
void fill_from_the_end(RedactedText& text, const std::vector<Piece>& pieces,
                       std::span<Unit> units) {
    const std::string_view bytes = text.view();
    std::size_t end = bytes.size();
    std::size_t units_end = units.size();
    for (auto piece = pieces.rbegin(); piece != pieces.rend(); ++piece) {
        units_end -= piece->code_points;
        decode_code_points(bytes.substr(piece->start, end - piece->start),
                           units.subspan(units_end, piece->code_points));
        text.release_from(piece->start);
        end = piece->start;
    }
}

}  // namespace

PyObject* take_as_str(RedactedText& text) {
    CodePointCount count;
    const std::vector<Piece> pieces = count_pieces(text.view(), count);
    PyObject* str = PyUnicode_New(static_cast<Py_ssize_t>(count.count), count.ceiling);
    if (str == nullptr) {
        text.release_from(0);
        return nullptr;
    }
    void* data = PyUnicode_DATA(str);
    const std::size_t size = count.count * PyUnicode_KIND(str);
    if (size >= kHugePagesFrom) advise_huge_pages(data, size);
    switch (PyUnicode_KIND(str)) {
        case PyUnicode_1BYTE_KIND:
            fill_from_the_end(text, pieces, std::span(static_cast<Py_UCS1*>(data), count.count));
            break;
        case PyUnicode_2BYTE_KIND:
            fill_from_the_end(text, pieces, std::span(static_cast<Py_UCS2*>(data), count.count));
            break;
        default:
            fill_from_the_end(text, pieces, std::span(static_cast<Py_UCS4*>(data), count.count));
            break;
    }
    return str;
}

}  // namespace quillbox::python
