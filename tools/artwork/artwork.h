#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>

#include <map>
#include <vector>

namespace qvr::artwork {

// Where the main window shows its controls, in pixels: the skin's panels sit
// behind them and each button's pictures are drawn over the skin beneath it.
struct Places {
    QRect queueList;
    QRect fileList;
    QRect folderText;
    QRect statusText;
    QRect percentText;
    QRect progressTrack;  // the bar at 100 percent
    QRect radio;
    std::map<int, QRect> buttons;  // by control ID
};
Places mainWindowPlaces();

struct File {
    QString name;  // in res/images
    QByteArray bytes;
};

// Every picture of the program as the files res/images holds; empty, with
// `error` set, when the pictures cannot be made here as they were made for the
// committed files (Liberation Sans must be installed).
std::vector<File> renderArtwork(QString* error);

// The pictures themselves. A picture at scale 2 has twice the pixels each way and
// that device pixel ratio; places stay in the window's logical pixels.
QImage renderSkin(const Places& places, int scale = 1);
// Idle, hover and pressed pictures of button `id` at `place`, black where the skin
// shows through, at the skin's scale.
std::vector<QImage> renderButton(int id, const QRect& place, const QImage& skin);
QImage renderProgressBar();
QImage renderIcon(int size);
// The icon as an SVG document, drawn by the same code as the PNGs.
QByteArray renderIconSvg();

// The sizes of the icon's PNGs, for the desktop's icon theme; the program's own
// window icon uses some of them (kIconSizes).
constexpr int kThemeIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

} // namespace qvr::artwork
