#include "res/dialog_templates.h"

#include <array>

namespace qvr {

namespace {

constexpr std::array kMainWindowControls {
    DialogControl {IDC_HOME_PAGE, ControlKind::Button, CS_OWNER_DRAWN, "", 17, 66, 52, 7},
    DialogControl {IDC_REMOVE, ControlKind::Button, CS_OWNER_DRAWN, "", 89, 39, 52, 6},
    DialogControl {IDC_CLEAR, ControlKind::Button, CS_OWNER_DRAWN, "", 147, 39, 52, 6},
    DialogControl {IDC_CHOOSE_FOLDER, ControlKind::Button, CS_OWNER_DRAWN, "", 231, 39, 52, 6},
    DialogControl {IDC_OPEN_FOLDER, ControlKind::Button, CS_OWNER_DRAWN, "", 289, 39, 52, 6},
    DialogControl {IDC_RESUME, ControlKind::Button, CS_OWNER_DRAWN, "", 372, 67, 52, 6},
    DialogControl {IDC_PAUSE, ControlKind::Button, CS_OWNER_DRAWN, "", 428, 67, 52, 6},
    DialogControl {IDC_MINIMIZE, ControlKind::Button, CS_OWNER_DRAWN, "", 488, 2, 9, 7},
    DialogControl {IDC_CLOSE, ControlKind::Button, CS_OWNER_DRAWN, "", 503, 2, 9, 7},
    DialogControl {IDC_STATUS_TEXT, ControlKind::Static, CS_NONE, "", 385, 29, 97, 12},
    DialogControl {IDC_FOLDER_TEXT, ControlKind::Static, CS_NONE, "", 248, 15, 100, 8},
    DialogControl {IDC_QUEUE_LIST, ControlKind::ListBox, CS_NOTIFY | CS_VSCROLL, "", 86, 15, 120, 22},
    DialogControl {IDC_FILE_LIST, ControlKind::ListBox, CS_NOTIFY | CS_SORTED | CS_VSCROLL, "", 246, 24, 101, 13},
    DialogControl {IDC_PROGRESS_BAR, ControlKind::Static, CS_BITMAP, "", 374, 54, 1, 6},
    DialogControl {IDC_PERCENT_TEXT, ControlKind::Static, CS_ALIGN_RIGHT, "100%", 458, 49, 24, 12},
    DialogControl {IDC_RADIO_LABEL, ControlKind::Static, CS_ALIGN_CENTER | CS_NOTIFY, "", 89, 51, 255, 34},
    DialogControl {IDC_BROWSER_PLACE, ControlKind::Static, CS_HIDDEN, "<Radio location>", 89, 51, 255, 35},
};

constexpr DialogTemplate kMainWindow {IDD_MAIN_WINDOW, 515, 77, "MS Shell Dlg", 8, kMainWindowControls, "Quavero"};

constexpr std::array kAboutBoxControls {
    DialogControl {IDC_STATIC, ControlKind::Static, CS_ICON, "186", 11, 17, 20, 20},
    DialogControl {IDC_ABOUT_PRODUCT, ControlKind::Static, CS_NONE, "Music Manager", 40, 10, 119, 11},
    DialogControl {IDC_ABOUT_VERSION, ControlKind::Static, CS_NONE, "Version: ", 40, 23, 119, 11},
    DialogControl {IDC_STATIC, ControlKind::Static, CS_NONE, "\xC2\xA9 Quavero. All rights reserved.", 40, 36, 119, 11},
    DialogControl {IDC_ABOUT_OK, ControlKind::Button, CS_DEFAULT, "OK", 178, 7, 50, 16},
};

constexpr DialogTemplate kAboutBox {IDD_ABOUTBOX, 235, 55, "MS Shell Dlg", 8, kAboutBoxControls, "About Music Manager"};

} // namespace

const DialogTemplate* findDialogTemplate(int id)
{
    switch (id) {
    case IDD_MAIN_WINDOW: return &kMainWindow;
    case IDD_ABOUTBOX: return &kAboutBox;
    default: return nullptr;
    }
}

} // namespace qvr
