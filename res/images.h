#pragma once

#include "res/dialog_templates.h"

#include <array>

namespace qvr {

// Resource numbers of the program's pictures (the files are res/images/<number>.bmp,
// <number>@2x.bmp at twice the size, res/images/186-<size>.png and the scalable 186.svg,
// made by tools/artwork; the icon theme gets every size, the program the ones below).
constexpr unsigned IDB_SKIN = 191;      // 773 x 146, 24-bit; 0x808040 outside its rounded outline
constexpr unsigned IDB_PROGRESS = 189;  // 2 x 10
constexpr unsigned IDI_QUAVERO = 186;   // 16, 32, 48 and 256 pixels

// The key colour of the skin: RGB(64, 128, 128).
constexpr unsigned kSkinColorKey = 0x808040;

// The three pictures of each image button: idle, hover (and latched), pressed; and
// its name, which the wide buttons show and assistive technology reads.
struct ButtonImages {
    int controlId;
    std::array<unsigned, 3> bitmaps;
    const char* name;
};

constexpr std::array<ButtonImages, 9> kButtonImages {{
    {IDC_HOME_PAGE, {158, 159, 160}, "Store"},
    {IDC_REMOVE, {161, 165, 166}, "Remove"},
    {IDC_CLEAR, {164, 162, 163}, "Clear"},
    {IDC_CHOOSE_FOLDER, {170, 168, 169}, "Choose Folder"},
    {IDC_OPEN_FOLDER, {173, 171, 172}, "Open Folder"},
    {IDC_RESUME, {167, 177, 178}, "Resume"},
    {IDC_PAUSE, {176, 174, 175}, "Pause"},
    {IDC_CLOSE, {181, 182, 183}, "Close"},
    {IDC_MINIMIZE, {180, 184, 185}, "Minimize"},
}};

} // namespace qvr
