#include "miners/PQLSort.h"

#include <stdexcept>

namespace vq::PQLSort {
namespace {

const std::string& firstString(const Value& row) {
    if (!row.is_array() || row.empty() || !row[0].is_string())
        throw std::invalid_argument("compare: element 0 must be a string");
    return row[0].get_ref<const std::string&>();
}

// Case folding of ASCII letters only; other bytes (UTF-8 sequences) compare
// by value, which keeps the order total and stable.
unsigned char fold(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

}  // namespace

ComparisonResult compare(const Value& receiver, const Value& other) {
    const std::string& a = firstString(receiver);
    const std::string& b = firstString(other);
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = fold(a[i]), y = fold(b[i]);
        if (x != y) return x < y ? kOrderedAscending : kOrderedDescending;
    }
    if (a.size() == b.size()) return kOrderedSame;
    return a.size() < b.size() ? kOrderedAscending : kOrderedDescending;
}

}  // namespace vq::PQLSort
