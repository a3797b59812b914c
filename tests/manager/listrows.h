// Rows of the manager's lists by the text of their first column, as a test finds and picks them.
#pragma once
#include <QStringList>
#include <QTreeWidget>
#include <QtTest>

namespace vtxtest {

inline QTreeWidgetItem* Row(QTreeWidget* list, const QString& first) {
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    if (list->topLevelItem(i)->text(0) == first) return list->topLevelItem(i);
  return nullptr;
}

// Selects exactly these rows; the first becomes the current one.
inline void SelectRows(QTreeWidget* list, const QStringList& firsts) {
  list->clearSelection();
  bool current = true;
  for (const QString& first : firsts) {
    QTreeWidgetItem* row = Row(list, first);
    QVERIFY2(row, qPrintable(first));
    if (current) list->setCurrentItem(row);
    current = false;
    row->setSelected(true);
  }
}

}  // namespace vtxtest
