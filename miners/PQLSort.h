#pragma once
// Ordering of [name, value] rows by their name, for sorting display lists.

#include "miners/data_set.h"

namespace vq::PQLSort {

enum ComparisonResult : int { kOrderedAscending = -1, kOrderedSame = 0, kOrderedDescending = 1 };

// Compares element 0 of two arrays as strings, ignoring case ("cpu" before
// "Drive"; "CPU A" and "cpu a" are the same). Throws std::invalid_argument
// when either is not an array whose element 0 is a string.
ComparisonResult compare(const Value& receiver, const Value& other);

// The comparison as a strict weak order, for std::sort and friends.
inline bool ascending(const Value& a, const Value& b) { return compare(a, b) == kOrderedAscending; }

}  // namespace vq::PQLSort
