// The query strings of CGI requests: values escaped so that they stay on the request line and
// inside their pair, and the key=value lists of the settings tables.
#pragma once

#include <cstddef>
#include <string_view>

namespace ipcam {

// Appends value to the terminated text, writing as "%XX" (upper-case hex) the bytes that
// cannot stand in a query value: blanks, control characters, '%', '#', '&' and '='. Every
// other byte is kept as it is. Returns false, with text unchanged, when the result would not
// fit capacity.
bool appendQueryValue(char *text, std::size_t capacity, std::string_view value);

// The value alone, escaped into out; false with out emptied when it does not fit.
bool encodeQueryValue(std::string_view value, char *out, std::size_t capacity);

// Appends "key" and the escaped value for every entry with a non-empty value, last entry
// first, with "&" between the pairs it appends; when it appends none, a "&" that ends text is
// removed. Keys carry their "=" and are written as given.
// Returns false, with text unchanged, when the result would not fit capacity.
bool BuildQuery(char *text, std::size_t capacity, int count, const char *const *keys,
                const char *const *values);

}  // namespace ipcam
