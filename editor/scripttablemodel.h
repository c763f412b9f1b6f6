#pragma once

#include <QAbstractTableModel>

class ViewController;

// The table's data source: one column of script names, asked of the controller on every call.
class ScriptTableModel : public QAbstractTableModel {
public:
    explicit ScriptTableModel(const ViewController &controller, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Asks the controller again for everything; the views drop their selection.
    void reloadData();
    // Bracket one name appended to the controller's rows; the selection stays as it is.
    void beginAppend();
    void endAppend();

private:
    const ViewController &controller_;
};
