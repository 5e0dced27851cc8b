#pragma once

#include "controls/colorref.h"

#include <QDialog>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>

#include <optional>
#include <vector>

namespace qvr {

// How the skin covers the client area.
enum SkinLayout : int {
    SKIN_TOPLEFT = 0,    // once at the origin, unscaled
    SKIN_TILE = 1,       // in rows and columns from the origin
    SKIN_CENTER = 2,     // once, centred (clipped when larger than the client area)
    SKIN_STRETCH = 3,    // scaled to the client area
    SKIN_FITWINDOW = 4,  // as SKIN_TOPLEFT; setting it sizes the window to the skin
};

// One copy of the skin: its top-left `extent`, clipped to the skin, drawn at `at`;
// or, for a stretch, the whole skin scaled onto the rectangle (`at`, `extent`).
struct SkinBlit {
    QPoint at;
    QSize extent;
    bool stretch = false;
    bool operator==(const SkinBlit&) const = default;
};

// The copies that paint a `skin`-sized bitmap onto a `client`-sized area in
// `layout`; none for an empty area or skin or an unknown layout.
std::vector<SkinBlit> skinBlits(int layout, QSize client, QSize skin);

// Whether a press at `point` acts as a press on a caption: dragging is on and the
// point lies in `client` (both in the same coordinates), whose right and bottom
// edge lines lie outside.
bool isDragHit(bool dragAnywhere, const QRect& client, const QPoint& point);

// The logical pixels of `image` (its pixels over its device pixel ratio) none of
// whose pixels has the colour `key`.
QRegion regionWithoutColor(const QImage& image, QColor key);

// `image` with every pixel of `key` in the colour of the nearest other pixel of its
// row (of the nearest row, in rows of nothing but the key), so that scaling it
// blends no key colour into the pixels next to it.
QImage withoutColor(const QImage& image, QColor key);

// How a top-level window leaves out the key colour of its skin on Qt's platform
// `platform`: X11 takes a shape; native Wayland has none, but a translucent window
// shows what is behind it where the skin is clear; elsewhere (offscreen) neither.
enum class KeyColourWay { Shape, Translucency, None };
[[nodiscard]] KeyColourWay keyColourWayFor(QStringView platform);

// A dialog painted with a bitmap, shaped by a key colour, and moved by a drag on
// any point of its own surface (children answer their own presses).
class CDialogSK : public QDialog {
    Q_OBJECT
public:
    explicit CDialogSK(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    void SetDragAnywhere(bool on) { m_bDragAnywhere = on; }

    // Adopts the program's bitmap `id`, from the set for the screen's device pixel
    // ratio, as the skin; a missing bitmap leaves the dialog without a skin. True
    // (as SetSkinBitmap).
    bool LoadSkinBitmap(unsigned id);
    // Adopts `skin`, whose logical size (pixels over device pixel ratio) is the size
    // it covers; a null image removes the skin. Always true.
    bool SetSkinBitmap(QImage skin);
    void ReleaseSkinBitmap();
    // With SKIN_FITWINDOW and a skin present, the window takes the skin's size. A
    // skin adopted later does not resize the window.
    void SetSkinLayout(int layout);
    // On: the window leaves out every pixel of `color` as painted by the skin, by its
    // shape or, where it can have none, as clear pixels of a translucent window (set
    // before the window first shows). Off: the whole window shows again. False, and
    // nothing changed, where the platform can do neither.
    bool SetColorKey(COLORREF color, bool on);

    bool hasSkin() const { return !m_skin.isNull(); }
    const QImage& skin() const { return m_skin; }
    int skinLayout() const { return m_nSkinLayout; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

    // keyColourWayFor() the platform that runs.
    virtual KeyColourWay keyColourWay() const;

private:
    void updateMask();

    bool m_bDragAnywhere = false;
    QImage m_skin;
    // The skin without its key colour, made when first painted: scaled, in the colour
    // of the pixels around it; on a translucent window, clear.
    QImage m_face;
    int m_nSkinLayout = SKIN_TOPLEFT;
    std::optional<QColor> m_colorKey;  // while the window leaves it out
    bool m_translucent = false;

    // A drag on the surface: where it started, and whether the window follows the
    // mouse itself because the window system would not move it.
    struct Drag {
        QPoint pressGlobal;
        QPoint windowAtPress;
        bool following = false;
    };
    std::optional<Drag> m_drag;
};

} // namespace qvr
