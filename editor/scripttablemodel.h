// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTableModel>

// What the table asks for its rows, on every call: the editor's controller answers.
class ScriptTableDataSource {
public:
    virtual qint64 numberOfRowsInTableView() const = 0;
    virtual QString objectValueForRow(qsizetype row) const = 0;

protected:
    ~ScriptTableDataSource() = default;
};

// The table's model: one column of script names, asked of the data source on every call.
class ScriptTableModel : public QAbstractTableModel {
public:
    explicit ScriptTableModel(const ScriptTableDataSource &source, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Asks the data source again for everything; the views drop their selection.
    void reloadData();
    // Bracket rows first to last inserted into or removed from the data source's; the views keep
    // the selection of every other row, wherever it moves.
    void beginInsert(int first, int last);
    void endInsert();
    void beginRemove(int first, int last);
    void endRemove();

private:
    const ScriptTableDataSource &source_;
};
