#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>

#include <vector>

class QPainter;

namespace qvr {

// Pictures of one logical size, each with one colour standing for "show what is
// beneath". A picture may have more pixels than its logical size (a device pixel
// ratio above 1), to be sharp on a screen of that ratio. A plain value: copying it
// gives an independent list.
class CImageList {
public:
    CImageList() = default;
    explicit CImageList(QSize size) : m_size(size) {}

    // Appends `bitmap` with every pixel of `maskColor` made transparent; a bitmap of
    // another size is cut (or padded with transparent pixels) to the list's size at
    // the bitmap's device pixel ratio.
    // False, and nothing appended, for a null bitmap.
    bool addMasked(const QImage& bitmap, QColor maskColor);

    QSize size() const { return m_size; }
    int count() const { return static_cast<int>(m_images.size()); }
    bool empty() const { return m_images.empty(); }

    // Draws picture `index` at its logical size with its top-left corner at `at`; an
    // index the list does not have draws nothing.
    void draw(QPainter& painter, int index, QPoint at) const;

private:
    QSize m_size;
    std::vector<QImage> m_images;  // premultiplied ARGB
};

} // namespace qvr
