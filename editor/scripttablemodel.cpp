// SPDX-License-Identifier: GPL-3.0-or-later
#include "editor/scripttablemodel.h"

#include <limits>

ScriptTableModel::ScriptTableModel(const ScriptTableDataSource &source, QObject *parent)
    : QAbstractTableModel(parent)
    , source_(source)
{}

int ScriptTableModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    const qint64 rows = source_.numberOfRowsInTableView();
    return int(std::min<qint64>(rows, std::numeric_limits<int>::max()));
}

int ScriptTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant ScriptTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return source_.objectValueForRow(index.row());
}

QVariant ScriptTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
        return QStringLiteral("Scripts");
    return QAbstractTableModel::headerData(section, orientation, role);
}

void ScriptTableModel::reloadData()
{
    beginResetModel();
    endResetModel();
}

void ScriptTableModel::beginInsert(int first, int last)
{
    beginInsertRows({}, first, last);
}

void ScriptTableModel::endInsert()
{
    endInsertRows();
}

void ScriptTableModel::beginRemove(int first, int last)
{
    beginRemoveRows({}, first, last);
}

void ScriptTableModel::endRemove()
{
    endRemoveRows();
}
