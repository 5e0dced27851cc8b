#include "ui/prompts.h"

#include <QFileDialog>
#include <QPointer>
#include <QTimer>
#include <QGuiApplication>
#include <QMessageBox>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qvr {

namespace {

// Qt names a window with an empty title after the program, in the name window
// managers read first (_NET_WM_NAME), and a window manager then shows that. On X11
// that name goes once the box's window exists, before it shows, and the one left,
// WM_NAME, is empty.
void keepCaptionEmpty(QWidget& box)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return;
    xcb_connection_t* connection = x11->connection();
    constexpr const char* kName = "_NET_WM_NAME";
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(kName), kName), nullptr),
        &std::free);
    if (!atom)
        return;
    xcb_delete_property(connection, static_cast<xcb_window_t>(box.winId()), atom->atom);
    xcb_flush(connection);
}

// The look every box of the window shares: its caption, its text and its icon.
void prepareBox(QMessageBox& box, const std::string& text, const std::string& caption, unsigned type)
{
    box.setWindowTitle(QString::fromStdString(caption));
    if (caption.empty())
        keepCaptionEmpty(box);
    // Texts name titles, requests and folders that come from outside: shown as they
    // are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    switch (type & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
}

// A request as a box may show it: whole characters, none of them a control or
// format character (line breaks, escapes, direction overrides and the like would
// reshape the box, or hide what the request is), and no more than `limit` of them.
std::string shownRequest(const std::string& request, std::size_t limit)
{
    // A character takes four bytes at most: what lies past those of one more than
    // `limit` is never shown, however long the request.
    const std::size_t read = std::min(request.size(), 4 * (limit + 1));
    QString shown;
    std::size_t count = 0;
    for (const char32_t point : QString::fromUtf8(request.data(), static_cast<qsizetype>(read)).toUcs4()) {
        if (++count > limit) {
            shown += u'\u2026';
            break;
        }
        const QChar::Category category = QChar::category(point);
        const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
        shown += hidden ? QString(QChar::ReplacementCharacter) : QString::fromUcs4(&point, 1);
    }
    return shown.toStdString();
}

// A notice box that leaves the window to the user.
class QtNotice final : public ShownNotice {
public:
    explicit QtNotice(QMessageBox* box) : m_box(box) {}
    ~QtNotice() override
    {
        if (!m_box)
            return;  // went with its window
        m_box->disconnect();
        m_box->hide();
        m_box->deleteLater();
    }

private:
    QPointer<QMessageBox> m_box;
};

} // namespace

int QtPrompts::messageBox(QWidget* owner, const std::string& text, const std::string& caption,
                          unsigned type)
{
    QMessageBox box(owner);
    prepareBox(box, text, caption, type);
    if ((type & 0xF) == MB_YESNO) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    }
    if ((type & 0xF) == MB_OKCANCEL) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

std::unique_ptr<ShownNotice> QtPrompts::showNotice(QWidget* owner, const std::string& text,
                                                   const std::string& caption, std::function<void()> closed)
{
    // Not modal: a box that took the window would keep the user from closing it.
    auto* box = new QMessageBox(owner);
    prepareBox(*box, text, caption, MB_OK | MB_ICONWARNING);
    box->setStandardButtons(QMessageBox::Ok);
    box->setModal(false);
    QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)](int) { closed(); });
    box->show();
    return std::make_unique<QtNotice>(box);
}

std::unique_ptr<ShownNotice> Prompts::showNotice(QWidget* owner, const std::string& text, const std::string& caption,
                                                 std::function<void()> closed)
{
    messageBox(owner, text, caption, MB_OK | MB_ICONWARNING);
    closed();
    return nullptr;
}

NoticeQueue::NoticeQueue(Prompts*& prompts, QWidget& owner) : m_prompts(prompts), m_owner(owner)
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_owner, [this] { showNext(); });
}

void NoticeQueue::post(const std::string& text, const std::string& caption)
{
    const auto same = [&](const Notice& notice) {
        return !notice.isRefusals() && notice.text == text && notice.caption == caption;
    };
    if (m_ended || (m_open && same(*m_open)) || std::any_of(m_waiting.begin(), m_waiting.end(), same))
        return;
    Notice& notice = m_waiting.emplace_back();
    notice.text = text;
    notice.caption = caption;
    showSoon();
}

void NoticeQueue::tellRefused(const std::string& request)
{
    if (m_ended)
        return;
    auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(), [](const Notice& notice) { return notice.isRefusals(); });
    if (waiting == m_waiting.end()) {
        waiting = m_waiting.emplace(m_waiting.end());
        waiting->caption = "Quavero Music Manager";
        waiting->due = std::chrono::steady_clock::now() + kRefusalGathering;
    }
    // Only the first are named; a damaged queue file can make hundreds.
    if (waiting->refused.size() < kRefusalsNamed)
        waiting->refused.push_back(shownRequest(request, kRequestShown));
    else
        ++waiting->refusedMore;
    showSoon();
}

void NoticeQueue::end()
{
    m_ended = true;
    m_timer.stop();
    m_waiting.clear();
    m_open.reset();
    m_shown.reset();
}

std::string NoticeQueue::refusalText(const Notice& notice)
{
    std::string text = notice.refused.size() == 1
        ? "The store gave no track for this request, so it was left out:\n"
        : "The store gave no track for these requests, so they were left out:\n";
    for (const std::string& request : notice.refused)
        text += "\n" + request;
    if (notice.refusedMore > 0)
        text += "\n...and " + std::to_string(notice.refusedMore) + " more";
    return text;
}

void NoticeQueue::showSoon()
{
    // Never from inside the sender's call, which may be a worker's report.
    if (!m_open && !m_timer.isActive())
        m_timer.start(0);
}

void NoticeQueue::showNext()
{
    if (m_ended || m_open || m_waiting.empty())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_waiting.front().due > now) {
        m_timer.start(std::chrono::ceil<std::chrono::milliseconds>(m_waiting.front().due - now));
        return;
    }
    m_open = std::move(m_waiting.front());
    m_waiting.pop_front();
    if (m_open->isRefusals())
        m_open->text = refusalText(*m_open);
    const std::uint64_t box = ++m_boxes;
    std::unique_ptr<ShownNotice> shown = m_prompts->showNotice(&m_owner, m_open->text, m_open->caption,
                                                               [this, box] { onClosed(box); });
    if (box == m_boxes && m_open)
        m_shown = std::move(shown);
}

void NoticeQueue::onClosed(std::uint64_t box)
{
    if (box != m_boxes || !m_open)
        return;
    m_open.reset();
    showSoon();
}

std::optional<std::string> QtPrompts::chooseFolder(QWidget* owner, const std::string& title,
                                                   const std::string& startFolder)
{
    const QString folder = QFileDialog::getExistingDirectory(owner, QString::fromStdString(title),
                                                             QString::fromStdString(startFolder));
    if (folder.isEmpty())
        return std::nullopt;
    return folder.toStdString();
}

} // namespace qvr
