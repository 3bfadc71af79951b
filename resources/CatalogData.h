// The compiled catalogs: one entry per key, sorted by key, with its text in each language. The
// table is made at build time by resources/catalog.py from po/ja.po and po/en.po.
#pragma once

#include <cstddef>

namespace vexil::catalog {

struct Entry {
    const char* key;
    const char* japanese;
    const char* english;
};

extern const Entry kEntries[];
extern const std::size_t kEntryCount;

}  // namespace vexil::catalog
