#include "manager/listcolumns.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>
#include <numeric>

#include "engine/foundation/regvalue.h"
#include "engine/foundation/servercommands.h"

namespace vtx::manager {

namespace {
constexpr int kMinNameWidth = 10;
constexpr DWORD kMinStoredWidth = 10;
}

std::vector<int> FitColumnWidths(const ColumnFit& fit) {
  size_t n = fit.header.size();
  std::vector<int> widths(n);
  for (size_t i = 0; i < n; ++i) widths[i] = i < fit.stored.size() && fit.stored[i] >= 0 ? fit.stored[i] : fit.header[i];
  if (n == 0 || (n - 1 < fit.stored.size() && fit.stored[n - 1] >= 0)) return widths;

  size_t last = n - 1;
  int bar = fit.rowsFit ? 0 : fit.scrollBar;
  int client = fit.listWidth - fit.frame - bar;
  int before = std::accumulate(widths.begin(), widths.begin() + static_cast<long>(last), 0);
  // Sized to its header, the last column of a list fills the rest of it.
  widths[last] = std::max(fit.header[last], client - before);
  if (n < 2) return widths;
  if (fit.giveToName) {
    int gaveUp = widths[last] - fit.header[last] - fit.scrollBar;
    widths[last] = fit.header[last];
    if (gaveUp > 0) widths[1] += gaveUp;
  }
  int total = std::accumulate(widths.begin(), widths.end(), 0);
  if (total > client) widths[1] = std::max(kMinNameWidth, widths[1] - (total - client));
  return widths;
}

void ApplyColumnWidths(QTreeWidget* list, const std::vector<std::string>& names, bool giveToName) {
  QHeaderView* header = list->header();
  header->setStretchLastSection(false);
  int columns = list->columnCount();
  ColumnFit fit;
  fit.giveToName = giveToName;
  for (int i = 0; i < columns; ++i) {
    DWORD stored = 0;
    RegDwordValue value;
    bool have = i < static_cast<int>(names.size()) &&
                SUCCEEDED(value.Load(HKEY_LOCAL_MACHINE, g_szAppKey, names[i].c_str()));
    if (have) stored = value;
    // A column dragged to nothing could never be seen or dragged back: such a width counts as missing.
    fit.stored.push_back(have && stored >= kMinStoredWidth ? static_cast<int>(std::min<DWORD>(stored, 0x7FFF)) : -1);
    // Sized to its header, as the other platform does it: to the header or the widest row,
    // whichever is wider (the last column may be widened to fill the list below).
    fit.header.push_back(std::max(header->sectionSizeHint(i), static_cast<QAbstractItemView*>(list)->sizeHintForColumn(i)));
  }
  fit.listWidth = list->width();
  fit.frame = 2 * list->frameWidth();
  fit.scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
  int rows = list->topLevelItemCount();
  int rowHeight = rows ? list->sizeHintForRow(0) : 0;
  fit.rowsFit = rows * rowHeight <= list->viewport()->height();
  std::vector<int> widths = FitColumnWidths(fit);
  for (int i = 0; i < columns; ++i) header->resizeSection(i, widths[i]);
}

void StoreColumnWidths(QTreeWidget* list, const std::vector<std::string>& names) {
  int columns = std::min(list->columnCount(), static_cast<int>(names.size()));
  for (int i = 0; i < columns; ++i) {
    DWORD width = static_cast<DWORD>(std::max(0, list->header()->sectionSize(i)));
    RegDwordValue(width).Save(HKEY_LOCAL_MACHINE, g_szAppKey, names[i].c_str());
  }
}

}  // namespace vtx::manager
