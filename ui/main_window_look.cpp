// The window's look: which class stands for which control, the skin, the texts'
// fonts and colours, the places given in pixels, the buttons' pictures, what
// assistive technology reads, where the window opens, and the window's own menu.
#include "ui/main_window.h"

#include "controls/color_static.h"
#include "controls/fonts.h"
#include "controls/image_button.h"
#include "controls/picture_progress_bar.h"
#include "controls/resources.h"
#include "res/images.h"
#include "res/strings.h"
#include "ui/about_dialog.h"
#include "ui/downloaded_files.h"
#include "ui/layout.h"
#include "ui/message_pump.h"
#include "ui/right_click_filter.h"
#include "ui/system_menu.h"
#include "ui/uniform_rows.h"
#include "update/auto_updater.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QShortcut>

#include <algorithm>
#include <functional>

namespace qvr {

namespace {

QString resourceText(unsigned id)
{
    return QString::fromStdString(loadString(id, ""));
}

const ButtonImages* findButtonImages(int id)
{
    const auto found = std::find_if(kButtonImages.begin(), kButtonImages.end(),
                                    [id](const ButtonImages& button) { return button.controlId == id; });
    return found == kButtonImages.end() ? nullptr : &*found;
}

// The progress bar shows bitmap IDB_PROGRESS side by side across its width: a
// picture as wide as the full bar, of which the bar's width shows the left part.
QPixmap progressPicture(qreal devicePixelRatio)
{
    const QImage tile = loadBitmapResource(IDB_PROGRESS, devicePixelRatio);
    if (tile.isNull())
        return {};
    const qreal ratio = tile.devicePixelRatio();
    const QSize size(progressBarWidth(100), qRound(tile.height() / ratio));
    QPixmap picture(size * ratio);
    picture.setDevicePixelRatio(ratio);
    QPainter painter(&picture);
    painter.drawTiledPixmap(QRect(QPoint(0, 0), size), QPixmap::fromImage(tile));
    return picture;
}

// The one place that decides which class stands for which control of the window.
QWidget* makeMainWindowControl(const DialogControl& control, QWidget* parent)
{
    if (findButtonImages(control.id)) {
        auto* button = new CImageButton(parent);
        // Tab reaches every button; a click leaves the focus where it was, so that
        // Enter after a click still ends the window.
        button->setFocusPolicy(Qt::TabFocus);
        // Resume and Pause show which of the two was pressed last.
        button->setLatchable(control.id == IDC_RESUME || control.id == IDC_PAUSE);
        return button;
    }
    switch (control.id) {
    case IDC_QUEUE_LIST: {
        auto* queue = new CDragDropListBox(parent);
        new UniformRows(queue);
        return queue;
    }
    case IDC_FILE_LIST:
        return makeDownloadedFilesView(parent);
    case IDC_STATUS_TEXT:
    case IDC_PERCENT_TEXT:
    case IDC_FOLDER_TEXT:
    case IDC_RADIO_LABEL: {
        auto* text = new CColorStaticST(parent);
        text->setAlignment(staticAlignment(control));
        text->setText(QString::fromUtf8(control.text));
        return text;
    }
    case IDC_PROGRESS_BAR:
        return new CPictureProgressBar(progressPicture(parent->devicePixelRatioF()), parent);
    default:
        return makePlainControl(control, parent);
    }
}

// What assistive technology reads for each control: a button's name, a list's, the
// progress bar's, and for the texts (whose own words are their names, the folder's
// whole path for its label) what they tell.
QWidget* mainWindowControlFactory(const DialogControl& control, QWidget* parent)
{
    QWidget* made = makeMainWindowControl(control, parent);
    if (const ButtonImages* button = findButtonImages(control.id))
        made->setAccessibleName(QString::fromUtf8(button->name));
    switch (control.id) {
    case IDC_QUEUE_LIST: made->setAccessibleName(QStringLiteral("Download queue")); break;
    case IDC_FILE_LIST: made->setAccessibleName(QStringLiteral("Downloaded tracks")); break;
    case IDC_PROGRESS_BAR: made->setAccessibleName(QStringLiteral("Download progress")); break;
    case IDC_STATUS_TEXT: made->setAccessibleDescription(QStringLiteral("Download status")); break;
    case IDC_PERCENT_TEXT: made->setAccessibleDescription(QStringLiteral("Download progress")); break;
    case IDC_FOLDER_TEXT: made->setAccessibleDescription(QStringLiteral("Download folder")); break;
    default: break;
    }
    return made;
}

struct TextLook {
    unsigned face;     // string of the face name
    int tenthsOfPoint;
    COLORREF text;
    COLORREF back;
};

void applyTextLook(QWidget* control, const TextLook& look)
{
    auto* text = qobject_cast<CColorStaticST*>(control);
    if (!text)
        return;
    text->setFont(makePointFont(resourceText(look.face), look.tenthsOfPoint));
    text->SetForeColor(look.text);
    text->SetBackColor(look.back);
}

constexpr COLORREF kOrange = makeColorRef(255, 102, 0);
constexpr COLORREF kWhite = makeColorRef(255, 255, 255);

// A static that notifies: a left press on it is its click, and the press is its
// own, so that it does not start a drag of the window. The second press of a
// double click is no click. (The keys that press the radio prompt are the radio
// panel's.)
class ClickNotifier final : public QObject {
public:
    ClickNotifier(QWidget* control, std::function<void()> clicked)
        : QObject(control), m_clicked(std::move(clicked))
    {
        control->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if ((type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
            || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return false;
        if (type == QEvent::MouseButtonPress)
            m_clicked();
        return true;
    }

private:
    std::function<void()> m_clicked;
};

} // namespace

void CquaveromfcDlg::setUpLook()
{
    if (const DialogTemplate* dialogTemplate = findDialogTemplate(IDD_MAIN_WINDOW))
        m_look.controls.build(*dialogTemplate, this, mainWindowControlFactory);
    // No caption and no frame: the skin is the whole window. Both flags are set
    // before the window is first shown; a change later would make it anew.
    setWindowFlag(Qt::FramelessWindowHint);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowTitle(resourceText(IDS_APP_TITLE));
    // The menu (with its About item, string IDS_ABOUT_MENU) is made as it opens:
    // see openSystemMenu. Alt+Space opens it wherever the focus is: as a shortcut
    // of the window it is answered before the focused control gets the key, which
    // a button would take as Space (and be pressed) and a list as a selection. A
    // window manager may keep Alt+Space for its own menu.
    auto* menuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    menuKey->setContext(Qt::WindowShortcut);
    connect(menuKey, &QShortcut::activated, this, [this] { openSystemMenu(mapToGlobal(QPoint(0, 0))); });
    //
    // The icon is all a minimised window shows, and the window system draws it:
    // an iconic window is not mapped on X11, so there is nothing of ours to paint.
    setWindowIcon(loadIconResource(IDI_QUAVERO));

    SetDragAnywhere(true);
    LoadSkinBitmap(IDB_SKIN);
    SetSkinLayout(SKIN_FITWINDOW);
    SetColorKey(kSkinColorKey, true);

    applyTextLook(control(IDC_STATUS_TEXT), {IDS_STATUS_FONT, 110, kOrange, kWhite});
    if (QWidget* status = control(IDC_STATUS_TEXT))
        status->move(kStatusTextOrigin);
    applyTextLook(control(IDC_PERCENT_TEXT), {IDS_PERCENT_FONT, 110, kOrange, kWhite});
    applyTextLook(control(IDC_FOLDER_TEXT), {IDS_FOLDER_FONT, 80, makeColorRef(0, 0, 0), makeColorRef(254, 226, 207)});
    if (QWidget* minimize = control(IDC_MINIMIZE))
        minimize->setGeometry(kMinimizeButtonRect);
    if (QWidget* close = control(IDC_CLOSE))
        close->setGeometry(kCloseButtonRect);
    for (const ButtonImages& button : kButtonImages) {
        if (auto* imageButton = m_look.controls.control<CImageButton>(button.controlId))
            imageButton->SetImages(loadImageListResource(button.bitmaps, devicePixelRatioF()));
    }
    connectCommands();

    // Placed once, before it shows: Qt would centre it and, were it wider than the
    // screen, cut off its right end, where the caption buttons are.
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    move(windowPlace((screen ? screen : this->screen())->availableGeometry(), size()));
}

void CquaveromfcDlg::setUpControls()
{
    // Not paused at start: resume shows latched.
    showLatched(true, false);
    showFolder(m_work.controller().downloadFolder());
    ResetProgress();
    // The keyboard starts in the queue, as it always did: Enter there ends the
    // window, and Tab goes on to the tracks and round the buttons.
    if (QWidget* queue = control(IDC_QUEUE_LIST))
        queue->setFocus();

    QWidget* prompt = control(IDC_RADIO_LABEL);
    if (auto* text = qobject_cast<CColorStaticST*>(prompt)) {
        applyTextLook(text, {IDS_RADIO_FONT, 140, kOrange, kWhite});
        text->setText(QLatin1StringView(kRadioPromptText));
        new ClickNotifier(text, [this] { OnRadioPromptClicked(); });
    }
    m_look.radio = std::make_unique<RadioPanel>(prompt, m_look.browser, m_environment.radioHttp,
                                                loadString(IDS_RADIO_URL, m_config.storeHost));
    if (m_environment.webViews)
        m_look.radio->placeBrowser(this, IDC_BROWSER_PLACE, m_environment.webViews, m_environment.rightClicks);
}

void CquaveromfcDlg::showFolder(const std::string& folder)
{
    auto* text = m_look.controls.control<QLabel>(IDC_FOLDER_TEXT);
    if (!text)
        return;
    const QString whole = QString::fromStdString(folder);
    text->setText(QString::fromStdString(folderLabel(folder)));
    // The label cuts a long path short; the tooltip has all of it, as plain text on
    // one line whatever the folder's name holds, and so has the name a screen reader
    // reads.
    text->setToolTip(QStringLiteral("<p style='white-space:pre'>%1</p>").arg(whole.toHtmlEscaped()));
    text->setAccessibleName(whole);
}

void CquaveromfcDlg::showLatched(bool resume, bool pause)
{
    for (const auto& [id, latched] : {std::pair(IDC_RESUME, resume), std::pair(IDC_PAUSE, pause)}) {
        if (auto* button = m_look.controls.control<CImageButton>(id))
            button->setLatched(latched);
    }
}

void CquaveromfcDlg::LoadRadio()
{
    if (m_look.radio)
        static_cast<void>(m_look.radio->LoadRadio());  // without a budget it is never cut short
}

void CquaveromfcDlg::OnRadioPromptClicked()
{
    LoadRadio();
}

void CquaveromfcDlg::contextMenuEvent(QContextMenuEvent* event)
{
    // The Menu key (which X11 also sends as this request) opens it as Alt+Space does.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        openSystemMenu(mapToGlobal(QPoint(0, 0)));
        return;
    }
    // The skin answers, and so do the texts painted on it; the controls that take
    // clicks of their own (buttons, lists, the radio prompt, the page) do not.
    QWidget* under = childAt(event->pos());
    const bool onSkin = !under || under == control(IDC_PROGRESS_BAR)
        || (qobject_cast<CColorStaticST*>(under) && under != control(IDC_RADIO_LABEL));
    if (!onSkin) {
        event->ignore();
        return;
    }
    openSystemMenu(event->globalPos());
}

void CquaveromfcDlg::openSystemMenu(const QPoint& at)
{
    if (!m_look.systemMenu) {
        m_look.systemMenu = new QMenu(this);
        connect(m_look.systemMenu, &QMenu::triggered, this, [this](QAction* action) {
            sendMessage(*m_pump, msg::SysCommand {action->data().toUInt()});
        });
    }
    if (m_look.systemMenu->isVisible())
        return;  // asked twice by one key
    std::vector<SystemMenuItem> items = systemMenuItems(loadString(IDS_ABOUT_MENU, ""), isMinimized());
    disableMoveItems(items);
    fillMenu(*m_look.systemMenu, items);
    m_look.systemMenu->popup(at);
}

void CquaveromfcDlg::onAbout()
{
    // The version of the executable that runs, read afresh at each opening.
    CAboutDialog box([] { return CAutoUpdater::GetFileVersion(CAutoUpdater().GetModulePath()); }, this);
    box.doModal();
}

} // namespace qvr
