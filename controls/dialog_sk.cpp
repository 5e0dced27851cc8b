#include "controls/dialog_sk.h"

#include "controls/resources.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

namespace qvr {

namespace {

QSize logicalSize(const QImage& image)
{
    return image.deviceIndependentSize().toSize();
}

// Blits are in logical pixels; a skin with a device pixel ratio above 1 has that
// many pixels to each of them.
void paintSkin(QPainter& painter, const QImage& skin, int layout, QSize client)
{
    const qreal ratio = skin.devicePixelRatio();
    for (const SkinBlit& blit : skinBlits(layout, client, logicalSize(skin))) {
        if (blit.stretch)
            painter.drawImage(QRect(blit.at, blit.extent), skin);
        else
            painter.drawImage(QPointF(blit.at), skin, QRectF(QPointF(0, 0), QSizeF(blit.extent) * ratio) & QRectF(skin.rect()));
    }
}

// The device pixels [first, end) that logical pixel `at` covers in a line of `count`.
std::pair<int, int> devicePixels(int at, qreal ratio, int count)
{
    const int first = std::min(count - 1, static_cast<int>(std::floor(at * ratio)));
    return {first, std::clamp(static_cast<int>(std::ceil((at + 1) * ratio)), first + 1, count)};
}

} // namespace

std::vector<SkinBlit> skinBlits(int layout, QSize client, QSize skin)
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

bool isDragHit(bool dragAnywhere, const QRect& client, const QPoint& point)
{
    return dragAnywhere && client.contains(point);
}

QRegion regionWithoutColor(const QImage& image, QColor key)
{
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    const QRgb keyRgb = key.rgb() & RGB_MASK;
    const qreal ratio = image.devicePixelRatio();
    const int width = static_cast<int>(std::ceil(pixels.width() / ratio));
    const int height = static_cast<int>(std::ceil(pixels.height() / ratio));
    // Rows with the same runs share one band, which keeps the region small.
    std::vector<QRect> rects;
    std::vector<std::pair<int, int>> band;
    std::vector<std::pair<int, int>> row;
    std::vector<char> shows(static_cast<std::size_t>(std::max(width, 0)));
    int bandTop = 0;
    const auto closeBand = [&](int bottom) {
        for (const auto& [left, right] : band)
            rects.emplace_back(left, bandTop, right - left, bottom - bandTop);
    };
    for (int y = 0; y < height; ++y) {
        // A logical pixel shows when none of its device pixels is the key: at the
        // skin's own ratio no key colour is then ever seen.
        std::fill(shows.begin(), shows.end(), 1);
        const auto [top, bottom] = devicePixels(y, ratio, pixels.height());
        for (int deviceY = top; deviceY < bottom; ++deviceY) {
            const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(deviceY));
            for (int x = 0; x < width; ++x) {
                const auto [left, right] = devicePixels(x, ratio, pixels.width());
                for (int deviceX = left; deviceX < right && shows[x]; ++deviceX)
                    shows[x] = (line[deviceX] & RGB_MASK) != keyRgb;
            }
        }
        row.clear();
        for (int x = 0; x < width;) {
            while (x < width && !shows[x])
                ++x;
            const int start = x;
            while (x < width && shows[x])
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
    closeBand(height);
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

namespace {

// `image` with every pixel of `key` clear; scaled, its edges blend into what is
// behind the window, never into the key colour.
QImage clearColor(const QImage& image, QColor key)
{
    QImage clear = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QRgb keyRgb = key.rgb() & RGB_MASK;
    for (int y = 0; y < clear.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(clear.scanLine(y));
        for (int x = 0; x < clear.width(); ++x) {
            if ((line[x] & RGB_MASK) == keyRgb)
                line[x] = 0;
        }
    }
    return clear;
}

} // namespace

QImage withoutColor(const QImage& image, QColor key)
{
    QImage filled = image.convertToFormat(QImage::Format_RGB32);
    const QRgb keyRgb = key.rgb() & RGB_MASK;
    const int width = filled.width();
    std::vector<int> filledRows;
    for (int y = 0; y < filled.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(filled.scanLine(y));
        bool any = false;
        for (int x = 0; x < width;) {
            if ((line[x] & RGB_MASK) != keyRgb) {
                any = true;
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && (line[x] & RGB_MASK) == keyRgb)
                ++x;
            // The run [start, x) between its neighbours, each half to the nearer one.
            for (int i = start; i < x; ++i) {
                const bool fromLeft = start > 0 && (x == width || i - start < x - i);
                if (fromLeft || x < width)
                    line[i] = fromLeft ? line[start - 1] : line[x];
            }
        }
        if (any)
            filledRows.push_back(y);
    }
    if (filledRows.empty())
        return filled;
    // Rows of nothing but the key take the nearest row that had something else.
    for (int y = 0, next = 0; y < filled.height(); ++y) {
        while (next + 1 < static_cast<int>(filledRows.size()) && std::abs(filledRows[next + 1] - y) <= std::abs(filledRows[next] - y))
            ++next;
        if (filledRows[next] != y)
            std::copy_n(filled.constScanLine(filledRows[next]), filled.bytesPerLine(), filled.scanLine(y));
    }
    return filled;
}

CDialogSK::CDialogSK(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {}

bool CDialogSK::LoadSkinBitmap(unsigned id)
{
    return SetSkinBitmap(loadBitmapResource(id, devicePixelRatioF()));
}

bool CDialogSK::SetSkinBitmap(QImage skin)
{
    ReleaseSkinBitmap();
    if (!skin.isNull())
        m_skin = skin.convertToFormat(QImage::Format_RGB32);
    update();
    updateMask();
    return true;
}

void CDialogSK::ReleaseSkinBitmap()
{
    m_skin = QImage();
    m_face = QImage();
}

void CDialogSK::SetSkinLayout(int layout)
{
    m_nSkinLayout = layout;
    if (layout == SKIN_FITWINDOW && hasSkin()) {
        const QSize size = logicalSize(m_skin);
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
    updateMask();
}

bool CDialogSK::SetColorKey(COLORREF color, bool on)
{
    const KeyColourWay way = keyColourWay();
    if (way == KeyColourWay::None)
        return false;
    m_face = QImage();
    m_translucent = way == KeyColourWay::Translucency;
    if (on) {
        m_colorKey = colorFromColorRef(color);
        // Only a window made translucent before it first shows can be.
        if (m_translucent)
            setAttribute(Qt::WA_TranslucentBackground);
        updateMask();
        update();
    } else {
        m_colorKey.reset();
        clearMask();
        update();
        for (QWidget* child : findChildren<QWidget*>())
            child->update();
    }
    return true;
}

KeyColourWay keyColourWayFor(QStringView platform)
{
    if (platform == u"xcb")
        return KeyColourWay::Shape;
    // "wayland", "wayland-egl", "wayland-brcm" and the like.
    if (platform.startsWith(u"wayland"))
        return KeyColourWay::Translucency;
    return KeyColourWay::None;
}

KeyColourWay CDialogSK::keyColourWay() const
{
    return keyColourWayFor(QGuiApplication::platformName());
}

void CDialogSK::updateMask()
{
    if (!m_colorKey || m_translucent)
        return;
    // The shape follows what the skin paints, in whatever layout, at the skin's own
    // ratio: the window takes it in logical pixels, which Qt scales to the screen's.
    const qreal ratio = hasSkin() ? m_skin.devicePixelRatio() : 1;
    QImage painted(size() * ratio, QImage::Format_RGB32);
    painted.setDevicePixelRatio(ratio);
    painted.fill(palette().color(backgroundRole()));
    {
        QPainter painter(&painted);
        paintSkin(painter, m_skin, m_nSkinLayout, size());
    }
    setMask(regionWithoutColor(painted, *m_colorKey));
}

void CDialogSK::paintEvent(QPaintEvent*)
{
    if (!hasSkin())
        return;
    QPainter painter(this);
    // At the skin's own ratio every pixel lands on one of the screen's, and the
    // shape is exact. At any other the skin is scaled smoothly, and the shape, whole
    // logical pixels scaled and rounded, may take in a sliver beyond the outline:
    // there the key colour must not show.
    const bool scaled = painter.deviceTransform().m11() != m_skin.devicePixelRatio();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, scaled);
    const bool faced = m_colorKey && (scaled || m_translucent);
    if (faced && m_face.isNull())
        m_face = m_translucent ? clearColor(m_skin, *m_colorKey) : withoutColor(m_skin, *m_colorKey);
    paintSkin(painter, faced ? m_face : m_skin, m_nSkinLayout, size());
}

void CDialogSK::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    update();
    updateMask();
}

void CDialogSK::mousePressEvent(QMouseEvent* event)
{
    const QPoint global = event->globalPosition().toPoint();
    if (event->button() == Qt::LeftButton
        && isDragHit(m_bDragAnywhere, QRect(mapToGlobal(QPoint(0, 0)), size()), global)) {
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
