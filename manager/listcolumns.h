// The column widths of the configuration window's lists: kept as REG_DWORD values under the
// application key, a column without a value sized to its header and the list fitted to its width.
#pragma once
#include <string>
#include <vector>

#include "platform/types.h"

class QTreeWidget;

namespace vtx::manager {

// What the fit of one list starts from, in pixels.
struct ColumnFit {
  std::vector<int> stored;  // the stored width of each column, -1 when there is none
  std::vector<int> header;  // the width that shows each column's header
  int listWidth = 0;        // the list's window
  int frame = 4;            // the list's borders together
  int scrollBar = 16;       // a vertical scroll bar
  bool rowsFit = true;      // every row fits on one page
  bool giveToName = false;  // the currency lists: the rest of the width goes to column 1
};

// Each column takes its stored width, else its header's. When the last column has no stored width
// it fills the rest of the list; on the currency lists it is then narrowed to its header and the
// width it gave up, less a scroll bar, goes to column 1. When the columns together are wider than
// the list (less a scroll bar when the rows do not fit), column 1 gives up the excess, keeping at
// least 10 pixels.
std::vector<int> FitColumnWidths(const ColumnFit& fit);

// The list's columns from the stored values `names` (one per column; a width below 10 counts as
// missing), fitted as above; a column's header width is that of its header or its widest row.
void ApplyColumnWidths(QTreeWidget* list, const std::vector<std::string>& names, bool giveToName);
// Writes every column's current width back under its name.
void StoreColumnWidths(QTreeWidget* list, const std::vector<std::string>& names);

}  // namespace vtx::manager
