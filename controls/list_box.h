#pragma once

#include <QListView>

namespace qvr {

// A list of a model of its own that shows the keyboard's focus even while it is
// empty: the style's focus mark round its inside, as the style draws it round the
// current item of a full list (and, as there, perhaps only once the keyboard has
// moved the focus).
class CListView : public QListView {
    Q_OBJECT
public:
    explicit CListView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace qvr
