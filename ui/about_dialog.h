#pragma once

#include "ui/dialog_builder.h"

#include <QDialog>

#include <functional>
#include <string>

namespace qvr {

// The About box: the program's icon, product name and the running executable's
// version. A plain dialog, not a skinned one.
class CAboutDialog : public QDialog {
    Q_OBJECT

public:
    // The version text of the running executable; empty when it cannot be read.
    using VersionSource = std::function<std::string()>;

    // `parent` is the window that opens the box, so that the box stays above a
    // window that stays on top.
    explicit CAboutDialog(VersionSource version, QWidget* parent = nullptr);

    // Fills the texts (the version is read afresh) and runs the box to its end.
    int doModal();
    bool OnInitDialog();

    // Moves the two texts between the members and their controls: from the
    // controls when `saveAndValidate`, to them otherwise.
    void doDataExchange(bool saveAndValidate);

    std::string m_strVersion;  // control IDC_ABOUT_VERSION
    std::string m_strProduct;  // control IDC_ABOUT_PRODUCT

    QWidget* control(int id) const { return m_controls.control(id); }

private:
    VersionSource m_version;
    DialogControls m_controls;
};

} // namespace qvr
