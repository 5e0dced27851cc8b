#include "controls/dialog_sk.h"

#include "controls/resources.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <utility>

namespace qvr {

namespace {

void PaintSkin(QPainter& painter, const QImage& skin, int layout, QSize client)
{
    for (const SkinBlit& blit : SkinBlits(layout, client, skin.size())) {
        if (blit.stretch)
            painter.drawImage(QRect(blit.at, blit.extent), skin);
        else
            painter.drawImage(blit.at, skin, QRect(QPoint(0, 0), blit.extent) & skin.rect());
    }
}

} // namespace

std::vector<SkinBlit> SkinBlits(int layout, QSize client, QSize skin)
{
    const int width = client.width();
    const int height = client.height();
    if (width <= 0 || height <= 0 || skin.width() <= 0 || skin.height() <= 0)
        return {};
    switch (layout) {
    case SKIN_TOPLEFT:
    case SKIN_FITWINDOW:
        return {{QPoint(0, 0), client}};
    case SKIN_TILE: {
        std::vector<SkinBlit> blits;
        for (int y = 0; y < height; y += skin.height()) {
            for (int x = 0; x < width; x += skin.width())
                blits.push_back({QPoint(x, y), client});
        }
        return blits;
    }
    case SKIN_CENTER:
        // Signed, so that a skin larger than the area is centred and clipped.
        return {{QPoint((width - skin.width()) / 2, (height - skin.height()) / 2), skin}};
    case SKIN_STRETCH:
        return {{QPoint(0, 0), client, true}};
    default:
        return {};
    }
}

bool IsDragHit(bool dragAnywhere, const QRect& client, const QPoint& point)
{
    return dragAnywhere && client.contains(point);
}

QRegion RegionWithoutColor(const QImage& image, QColor key)
{
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    const QRgb keyRgb = key.rgb() & RGB_MASK;
    // Rows with the same runs share one band, which keeps the region small.
    std::vector<QRect> rects;
    std::vector<std::pair<int, int>> band;
    std::vector<std::pair<int, int>> row;
    int bandTop = 0;
    const auto closeBand = [&](int bottom) {
        for (const auto& [left, right] : band)
            rects.emplace_back(left, bandTop, right - left, bottom - bandTop);
    };
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        row.clear();
        for (int x = 0; x < pixels.width();) {
            while (x < pixels.width() && (line[x] & RGB_MASK) == keyRgb)
                ++x;
            const int start = x;
            while (x < pixels.width() && (line[x] & RGB_MASK) != keyRgb)
                ++x;
            if (x > start)
                row.emplace_back(start, x);
        }
        if (row != band) {
            closeBand(y);
            band = row;
            bandTop = y;
        }
    }
    closeBand(pixels.height());
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

CDialogSK::CDialogSK(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

bool CDialogSK::LoadSkinBitmap(unsigned id)
{
    return SetSkinBitmap(LoadBitmapResource(id));
}

bool CDialogSK::SetSkinBitmap(QImage skin)
{
    ReleaseSkinBitmap();
    if (!skin.isNull())
        m_skin = skin.convertToFormat(QImage::Format_RGB32);
    update();
    UpdateMask();
    return true;
}

void CDialogSK::ReleaseSkinBitmap()
{
    m_skin = QImage();
}

void CDialogSK::SetSkinLayout(int layout)
{
    m_nSkinLayout = layout;
    if (layout == SKIN_FITWINDOW && hasSkin()) {
        const QSize size = m_skin.size();
        if (minimumSize() == maximumSize()) {
            setFixedSize(size);
        } else {
            setMinimumSize(minimumSize().boundedTo(size));
            setMaximumSize(maximumSize().expandedTo(size));
            resize(size);
        }
        if (isVisible())
            raise();
    }
    update();
    UpdateMask();
}

bool CDialogSK::SetColorKey(COLORREF color, bool on)
{
    if (!CanShapeWindow())
        return false;
    if (on) {
        m_colorKey = ColorFromColorRef(color);
        UpdateMask();
    } else {
        m_colorKey.reset();
        clearMask();
        update();
        for (QWidget* child : findChildren<QWidget*>())
            child->update();
    }
    return true;
}

bool CDialogSK::CanShapeWindow() const
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void CDialogSK::UpdateMask()
{
    if (!m_colorKey)
        return;
    // The shape follows what the skin paints, in whatever layout.
    QImage painted(size(), QImage::Format_RGB32);
    painted.fill(palette().color(backgroundRole()));
    {
        QPainter painter(&painted);
        PaintSkin(painter, m_skin, m_nSkinLayout, size());
    }
    setMask(RegionWithoutColor(painted, *m_colorKey));
}

void CDialogSK::paintEvent(QPaintEvent*)
{
    if (!hasSkin())
        return;
    QPainter painter(this);
    PaintSkin(painter, m_skin, m_nSkinLayout, size());
}

void CDialogSK::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    update();
    UpdateMask();
}

void CDialogSK::mousePressEvent(QMouseEvent* event)
{
    const QPoint global = event->globalPosition().toPoint();
    if (event->button() == Qt::LeftButton
        && IsDragHit(m_bDragAnywhere, QRect(mapToGlobal(QPoint(0, 0)), size()), global)) {
        m_drag = Drag {global, pos()};
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CDialogSK::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_drag) {
        QDialog::mouseMoveEvent(event);
        return;
    }
    if (!(event->buttons() & Qt::LeftButton)) {
        m_drag.reset();  // the release went elsewhere
        return;
    }
    const QPoint global = event->globalPosition().toPoint();
    if (!m_drag->following) {
        if ((global - m_drag->pressGlobal).manhattanLength() < QApplication::startDragDistance())
            return;
        // Without a window manager that moves windows the request is refused, and
        // the window follows the mouse itself until the release.
        if (windowHandle() && windowHandle()->startSystemMove()) {
            m_drag.reset();
            return;
        }
        m_drag->following = true;
    }
    move(m_drag->windowAtPress + global - m_drag->pressGlobal);
}

void CDialogSK::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_drag && event->button() == Qt::LeftButton) {
        m_drag.reset();
        event->accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

} // namespace qvr
