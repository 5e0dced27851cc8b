#pragma once

#include <span>

namespace qvr {

enum class ControlKind { Button, Static, ListBox };

// Styles of a template control that change how the program treats it.
enum ControlStyle : unsigned {
    CS_NONE = 0,
    CS_OWNER_DRAWN = 1u << 0,
    CS_NOTIFY = 1u << 1,
    CS_SORTED = 1u << 2,
    CS_VSCROLL = 1u << 3,
    CS_HIDDEN = 1u << 4,
    CS_ALIGN_RIGHT = 1u << 5,
    CS_ALIGN_CENTER = 1u << 6,
    CS_BITMAP = 1u << 7,
    CS_ICON = 1u << 8,     // a static showing the icon whose resource number is its text
    CS_DEFAULT = 1u << 9,  // the default push button
};

// One control of a dialog template; the rectangle is in dialog units.
struct DialogControl {
    int id;
    ControlKind kind;
    unsigned style;
    const char* text;
    int x;
    int y;
    int cx;
    int cy;
};

struct DialogTemplate {
    int id;
    int cx;  // dialog units
    int cy;
    const char* fontFace;
    int pointSize;
    std::span<const DialogControl> controls;
    const char* caption;
};

// Control IDs of the main window's template.
enum MainWindowControl : int {
    IDC_HOME_PAGE = 1022,
    IDC_CLOSE = 1023,
    IDC_QUEUE_LIST = 1026,
    IDC_FOLDER_TEXT = 1028,
    IDC_REMOVE = 1029,
    IDC_CLEAR = 1030,
    IDC_CHOOSE_FOLDER = 1031,
    IDC_OPEN_FOLDER = 1032,
    IDC_RESUME = 1033,
    IDC_PAUSE = 1034,
    IDC_MINIMIZE = 1035,
    IDC_STATUS_TEXT = 1036,
    IDC_FILE_LIST = 1037,
    IDC_PROGRESS_BAR = 1038,
    IDC_BROWSER_PLACE = 1039,
    IDC_PERCENT_TEXT = 1040,
    IDC_RADIO_LABEL = 1041,
};

constexpr int IDD_MAIN_WINDOW = 102;

// Control IDs of the About box's template.
enum AboutBoxControl : int {
    IDC_ABOUT_OK = 1,
    IDC_ABOUT_VERSION = 1040,
    IDC_ABOUT_PRODUCT = 1041,
};

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDC_STATIC = -1;

// The template with this resource number, or null.
const DialogTemplate* findDialogTemplate(int id);

} // namespace qvr
