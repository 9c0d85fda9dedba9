#pragma once

#include <QAbstractListModel>

class StationList;

// Lets the list control show the station list itself, so there is no second copy.
class StationListModel : public QAbstractListModel {
public:
    explicit StationListModel(const StationList &list, QObject *parent = nullptr)
        : QAbstractListModel(parent), m_list(list)
    {
    }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // Call around every change of the list: one widget update per operation.
    void beginChange() { beginResetModel(); }
    void endChange() { endResetModel(); }

private:
    const StationList &m_list;
};
