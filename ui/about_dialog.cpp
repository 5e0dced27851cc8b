#include "ui/about_dialog.h"

#include "res/strings.h"

#include <QLabel>
#include <QPushButton>

#include <utility>

namespace qvr {

CAboutDialog::CAboutDialog(VersionSource version, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_version(std::move(version))
{
    if (const DialogTemplate* dialogTemplate = findDialogTemplate(IDD_ABOUTBOX))
        m_controls.build(*dialogTemplate, this, makePlainControl);
    if (auto* ok = m_controls.control<QPushButton>(IDC_ABOUT_OK))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

int CAboutDialog::doModal()
{
    OnInitDialog();
    return exec();
}

bool CAboutDialog::OnInitDialog()
{
    doDataExchange(false);
    doDataExchange(true);
    const std::string version = m_version ? m_version() : std::string();
    m_strVersion = "Version: " + version;
    m_strProduct = loadString(IDS_PRODUCT_NAME);
    setWindowTitle(QString::fromStdString("About " + m_strProduct));
    doDataExchange(false);
    return true;
}

void CAboutDialog::doDataExchange(bool saveAndValidate)
{
    const std::pair<int, std::string*> texts[] = {
        {IDC_ABOUT_VERSION, &m_strVersion},
        {IDC_ABOUT_PRODUCT, &m_strProduct},
    };
    for (const auto& [id, text] : texts) {
        auto* label = m_controls.control<QLabel>(id);
        if (!label)
            continue;
        if (saveAndValidate)
            *text = label->text().toStdString();
        else
            label->setText(QString::fromStdString(*text));
    }
}

} // namespace qvr
