#pragma once

#include <QPixmap>
#include <QProgressBar>

namespace qvr {

// A progress bar that shows nothing but a picture, from its left edge and cut off at
// the control's width: its owner gives it the width that shows the progress. What it
// tells assistive technology is its value, 0 to 100 percent.
class CPictureProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit CPictureProgressBar(QPixmap picture, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
};

} // namespace qvr
