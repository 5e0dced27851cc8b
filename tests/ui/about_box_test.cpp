#include "ui/about_dialog.h"
#include "ui/system_menu.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace qvr {
namespace {

std::string Text(const CAboutDialog& box, int id)
{
    auto* label = qobject_cast<QLabel*>(box.control(id));
    return label ? label->text().toStdString() : "(none)";
}

TEST(AboutBox, ShowsProductAndTheVersionReadAtEachOpening)
{
    std::string version = "2.1.0.0";
    int reads = 0;
    CAboutDialog box([&] {
        ++reads;
        return version;
    });
    EXPECT_TRUE(box.OnInitDialog());
    EXPECT_EQ(box.windowTitle().toStdString(), "About Quavero Music Manager");
    EXPECT_EQ(Text(box, IDC_ABOUT_VERSION), "Version: 2.1.0.0");
    EXPECT_EQ(Text(box, IDC_ABOUT_PRODUCT), "Quavero Music Manager");

    version.clear();  // an executable without a version
    box.OnInitDialog();
    EXPECT_EQ(Text(box, IDC_ABOUT_VERSION), "Version: ");
    EXPECT_EQ(reads, 2);

    const auto icons = box.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(icons.begin(), icons.end(), [](QLabel* label) {
        return !label->pixmap().isNull() && label->pixmap().size() == QSize(32, 32);
    })) << "the program's icon";

    auto* ok = qobject_cast<QPushButton*>(box.control(IDC_ABOUT_OK));
    ASSERT_TRUE(ok);
    EXPECT_TRUE(ok->isDefault());
    QTimer::singleShot(0, ok, &QPushButton::click);
    EXPECT_EQ(box.DoModal(), QDialog::Accepted);
}

TEST(SystemMenu, MoveItemsAreDisabledAndOnlyCommand16OpensTheAboutBox)
{
    std::vector<SystemMenuItem> items {
        {SC_MOVE, "&Move"}, {1, "Move"}, {2, "&move"}, {3, "&Move"}, {4, "&Move "}, {SC_CLOSE, "&Close"},
    };
    DisableMoveItems(items);
    std::vector<bool> enabled;
    for (const SystemMenuItem& item : items)
        enabled.push_back(item.enabled);
    EXPECT_EQ(enabled, (std::vector<bool> {false, true, true, false, true, true}));

    EXPECT_TRUE(OpensAboutBox(16));
    for (unsigned command = 17; command <= 31; ++command)
        EXPECT_FALSE(OpensAboutBox(command)) << command;
    EXPECT_FALSE(OpensAboutBox(0));

    // The menu itself is checked as the window shows it; here the cases it never shows.
    EXPECT_TRUE(SystemMenuItems("About Quavero Music Manager...", true)[0].enabled) << "Restore when minimised";
    EXPECT_EQ(SystemMenuItems("", true).size(), 4u) << "no About item without its text";
}

} // namespace
} // namespace qvr
