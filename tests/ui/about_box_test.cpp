#include "ui/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace qvr {
namespace {

// Its version line on the screen is the real window test's, the box opened from the
// window's menu the look test's; here what neither shows.
TEST(AboutBox, ShowsTheProgramsIconAndEnterPressesOk)
{
    CAboutDialog box([] { return std::string("2.1.0.0"); });
    EXPECT_TRUE(box.OnInitDialog());
    const auto labels = box.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* label) { return label->pixmap().size() == QSize(32, 32); }));
    auto* ok = qobject_cast<QPushButton*>(box.control(IDC_ABOUT_OK));
    EXPECT_TRUE(ok && ok->isDefault());
}

} // namespace
} // namespace qvr
