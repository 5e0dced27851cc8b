#include "tools/artwork/artwork.h"
#include "tools/artwork/drawing.h"

#include "res/images.h"

#include <QPainter>

#include <algorithm>

namespace qvr::artwork {

namespace {

enum State { Idle, Hover, Pressed };

// A wide button shows its name; the caption buttons (minimise, close) a symbol.
QString captionOf(int id)
{
    for (const ButtonImages& button : kButtonImages) {
        if (button.controlId == id)
            return QString::fromUtf8(button.name);
    }
    return {};
}

struct Look {
    QColor top;
    QColor bottom;
    QColor rim;
    QColor sheen;
    QColor text;
};

Look wideLook(State state)
{
    switch (state) {
    case Idle: return {QColor(78, 84, 98), QColor(48, 52, 62), QColor(10, 11, 14), QColor(255, 255, 255, 46),
                       QColor(226, 229, 235)};
    case Hover: return {QColor(255, 152, 80), QColor(255, 98, 0), QColor(122, 44, 0), QColor(255, 255, 255, 110),
                        QColor(255, 255, 255)};
    case Pressed: return {QColor(196, 72, 0), QColor(232, 92, 4), QColor(92, 32, 0), QColor(0, 0, 0, 0),
                          QColor(255, 232, 214)};
    }
    return {};
}

// The symbol before a caption: play for resume, two bars for pause.
void drawSymbol(QPainter& painter, int id, const QRectF& box, const QColor& color)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    if (id == IDC_RESUME) {
        QPolygonF play;
        play << box.topLeft() << QPointF(box.right(), box.center().y()) << box.bottomLeft();
        painter.drawPolygon(play);
    } else if (id == IDC_PAUSE) {
        const qreal bar = box.width() * 0.36;
        painter.drawRect(QRectF(box.left(), box.top(), bar, box.height()));
        painter.drawRect(QRectF(box.right() - bar, box.top(), bar, box.height()));
    }
}

void drawWideButton(QPainter& painter, int id, QSize size, State state)
{
    const Look look = wideLook(state);
    const QRectF face(0, 0, size.width(), size.height());
    const qreal radius = size.height() / 2.0;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(look.rim);
    painter.drawRoundedRect(face, radius, radius);
    const QRectF inner = face.adjusted(1, 1, -1, -1);
    painter.setBrush(verticalGradient(inner, look.top, look.bottom));
    painter.drawRoundedRect(inner, radius - 1, radius - 1);
    if (look.sheen.alpha() > 0) {
        painter.setBrush(look.sheen);
        painter.drawRoundedRect(QRectF(inner.left() + 2, inner.top(), inner.width() - 4, 1), 0.5, 0.5);
    }

    const QString caption = captionOf(id);
    const QFont font = makeFace(9, true, 0.1);
    const qreal textWidth = textPath(font, caption).boundingRect().right();
    const bool symbol = id == IDC_RESUME || id == IDC_PAUSE;
    const qreal symbolWidth = symbol ? 5 + 4 : 0;
    const qreal shift = state == Pressed ? 1 : 0;
    const qreal left = std::round((size.width() - textWidth - symbolWidth) / 2) + shift;
    const QRectF textBox(left + symbolWidth, shift, textWidth, size.height());
    if (symbol)
        drawSymbol(painter, id, QRectF(left, std::round(size.height() / 2.0 - 3) + shift, 5, 6), look.text);
    drawBoxedText(painter, font, caption, textBox, Qt::AlignLeft, look.text);
}

// Minimise and close: a bare symbol when idle, on a small face otherwise.
void drawCaptionButton(QPainter& painter, int id, QSize size, State state)
{
    const bool close = id == IDC_CLOSE;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF face(0, 0, size.width(), size.height());
    if (state != Idle) {
        const QColor fill = close ? (state == Hover ? QColor(232, 72, 56) : QColor(168, 42, 30))
                                  : (state == Hover ? QColor(255, 112, 20) : QColor(190, 70, 0));
        painter.setBrush(fill);
        painter.drawRoundedRect(face, 2.5, 2.5);
    }
    const QColor symbol = state == Idle ? QColor(176, 182, 194) : QColor(255, 255, 255);
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    if (close) {
        painter.setPen(QPen(symbol, 1.4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(centre + QPointF(-2.3, -2.3), centre + QPointF(2.3, 2.3));
        painter.drawLine(centre + QPointF(-2.3, 2.3), centre + QPointF(2.3, -2.3));
    } else {
        painter.setBrush(symbol);
        painter.drawRect(QRectF(centre.x() - 2.5, centre.y() + 1, 5, 1.5));
    }
}

// Over the skin beneath, so that the edges blend; pixels the drawing leaves alone
// become black, the colour that shows the skin.
QImage compose(const QImage& layer, const QImage& beneath)
{
    QImage picture = beneath.convertToFormat(QImage::Format_RGB32);
    {
        QPainter painter(&picture);
        painter.drawImage(0, 0, layer);
    }
    const QImage alpha = layer.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        const auto* cover = reinterpret_cast<const QRgb*>(alpha.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (qAlpha(cover[x]) == 0)
                line[x] = qRgb(0, 0, 0);
            else if ((line[x] & RGB_MASK) == 0)
                line[x] = qRgb(1, 1, 1);  // black would show the skin instead
        }
    }
    return picture;
}

} // namespace

std::vector<QImage> renderButton(int id, const QRect& place, const QImage& skin)
{
    std::vector<QImage> pictures;
    const qreal scale = skin.devicePixelRatio();
    const QImage beneath = skin.copy(QRect(place.topLeft() * scale, place.size() * scale));
    for (const State state : {Idle, Hover, Pressed}) {
        QImage layer(place.size() * scale, QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(scale);
        layer.fill(Qt::transparent);
        QPainter painter(&layer);
        if (id == IDC_CLOSE || id == IDC_MINIMIZE)
            drawCaptionButton(painter, id, place.size(), state);
        else
            drawWideButton(painter, id, place.size(), state);
        painter.end();
        pictures.push_back(compose(layer, beneath));
    }
    return pictures;
}

} // namespace qvr::artwork
