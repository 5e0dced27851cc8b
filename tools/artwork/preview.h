#pragma once

#include "tools/artwork/artwork.h"

#include <QImage>

#include <vector>

namespace qvr::artwork {

// A picture for people: the window as it will look (skin with its outline cut,
// buttons in place, stand-ins for the other controls), once at its size on a
// desktop-like backdrop and once from the pictures at scale 2, then every button in
// its three states.
QImage renderPreview(const std::vector<File>& files);

} // namespace qvr::artwork
