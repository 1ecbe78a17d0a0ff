// The index layer's trees and their upkeep, together: the b-tree (index_tree.h), a table's
// indexes as maintenance sees them (index_outline.h) and their maintenance as rows change
// (table_indexes.h).
//
// How a table's writes use it: build the outlines with indexOutlines() from the table's description and
// the root page of each real index, and keep one TableIndexes per open table. If problem() is not
// empty the table is read-only (say so on any write). For each change, with the row's values in
// field order: maintain(old, oldId, new, newId) - nullptr for the missing side of an insert or a
// delete. It checks everything first (3022, 3058, 3421, key length) and changes nothing when it
// throws, so call it before writing the row (an insert knows its RowId before writing) or undo the
// row write if it throws. A bulk load sets deferred writes and flushes at the end. After a write
// of the storage layer is rolled back, call discardCache(). check and compaction use verify() and
// rebuild() with a RowSource that streams the table's rows.
#pragma once

#include "jet/index/index_outline.h"
#include "jet/index/index_tree.h"
#include "jet/index/table_indexes.h"
