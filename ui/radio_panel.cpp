#include "ui/radio_panel.h"

#include "controls/simple_browser.h"
#include "platform/failure_log.h"
#include "platform/process_memory.h"
#include "ui/layout.h"
#include "ui/right_click_filter.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <optional>
#include <utility>

#include <unistd.h>

namespace qvr {

namespace {

// Runs an action on the next turn of the event loop after the window's first paint,
// so that what it shows is on the screen before the action starts.
class AfterFirstPaint final : public QObject {
public:
    AfterFirstPaint(QWidget* window, std::function<void()> action) : QObject(window), m_action(std::move(action))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_action) {
            QTimer::singleShot(0, watched, std::exchange(m_action, {}));
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_action;
};

// The prompt stands in for a button that the keyboard reaches too: Tab stops on it,
// and Return, Enter or Space press it there instead of going on to the window (where
// Return would end it). While it has the keyboard it wears a dotted frame in its own
// text colour, as the image buttons wear theirs; theirs is white, which the prompt's
// white ground would hide.
class PromptKeys final : public QObject {
public:
    PromptKeys(QWidget* prompt, std::function<void()> pressed) : QObject(prompt), m_pressed(std::move(pressed))
    {
        prompt->setFocusPolicy(Qt::TabFocus);
        prompt->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* prompt = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const bool plain = key->modifiers() == Qt::NoModifier || key->modifiers() == Qt::KeypadModifier;
            if (!plain || (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter && key->key() != Qt::Key_Space))
                return false;
            if (!key->isAutoRepeat())
                m_pressed();
            return true;
        }
        if (event->type() != QEvent::Paint || !prompt->hasFocus())
            return false;
        // The prompt paints itself first, so that the frame lies over its ground.
        static_cast<QObject*>(prompt)->event(event);
        QPainter painter(prompt);
        painter.setPen(QPen(prompt->palette().color(prompt->foregroundRole()), 1, Qt::DotLine));
        painter.drawRect(prompt->rect().adjusted(0, 0, -1, -1));
        return true;
    }

private:
    std::function<void()> m_pressed;
};

} // namespace

HttpOptions radioCheckOptions()
{
    using namespace std::chrono_literals;
    return {.connect = 2000ms, .stall = 3000ms, .followRedirects = true, .total = 3000ms};
}

int radioPageStatus(const HttpClientFactory& http, const std::string& url, const std::function<bool()>& overdue,
                    std::string* failure)
{
    const std::unique_ptr<HttpClient> client = http(kRadioStatusAgent);
    if (!client) {
        if (failure)
            *failure = "no session for the store";
        return 0;
    }
    if (overdue)
        client->setInterrupt(overdue);
    const std::unique_ptr<HttpResponse> response = client->get(url, {});
    if (!response && failure)
        *failure = client->failure();
    return response ? response->statusCode() : 0;
}

RadioPanel::RadioPanel(QWidget* prompt, SimpleBrowser& browser, HttpClientFactory http, std::string url)
    : m_prompt(prompt), m_browser(browser), m_http(std::move(http)), m_url(std::move(url))
{
    if (prompt)
        new PromptKeys(prompt, [this] { OnRadioPromptClicked(); });
    // Blob addresses that a page keeps grow the engine's store in this process, from
    // what it held at the first measure, once the engine ran; its renderers are this
    // process's children.
    m_gauge = [before = std::optional<std::uint64_t>()]() mutable {
        const std::uint64_t own = residentBytes(::getpid());
        if (!before)
            before = own;
        return (own > *before ? own - *before : 0) + descendantsResidentBytes(::getpid());
    };
}

void RadioPanel::placeBrowser(QWidget* window, int placeholderId, WebViewSource views, RightClickFilter* rightClicks)
{
    m_window = window;
    m_placeholderId = placeholderId;
    m_views = std::move(views);
    m_rightClicks = rightClicks;
}

void RadioPanel::showPrompt()
{
    if (m_memoryCheck)
        m_memoryCheck->stop();
    m_browser.showWindow(false);
    if (m_prompt)
        m_prompt->show();
}

bool RadioPanel::LoadRadio(WaitBudget* budget)
{
    if (!m_window || !m_views) {
        showPrompt();
        return true;
    }
    if (budget && budget->spent()) {
        showPrompt();
        return false;
    }
    int status = 0;
    std::string failure;
    {
        const WaitBudget::Wait wait(budget, radioCheckOptions().total);
        status = radioPageStatus(m_http, m_url, wait.overdue(), &failure);
    }
    if (status == 0 && budget && budget->spent()) {
        showPrompt();
        return false;
    }
    showCheck(status, failure);
    return true;
}

void RadioPanel::loadInBackground()
{
    showPrompt();
    if (!m_window || !m_views)
        return;
    m_background.start([this] {
        std::string failure;
        const int status = radioPageStatus(m_http, m_url, m_background.stopping(), &failure);
        m_background.post([this, status, failure] {
            // A click has shown the page meanwhile.
            if (!m_prompt || !m_prompt->isHidden())
                showCheck(status, failure);
        });
    });
}

void RadioPanel::showCheck(int status, const std::string& failure)
{
    if (status != 200) {
        logFailure("the radio page " + m_url, status == 0 ? failure : httpStatusText(status),
                   "showing the prompt, which asks again when clicked");
        showPrompt();
        return;
    }
    if (m_prompt)
        m_prompt->hide();
    // The window shows as soon as one without a page would; the web engine starts
    // while the user already sees it.
    const QWindow* surface = m_window->windowHandle();
    if (surface && surface->isExposed())
        showPage();
    else
        new AfterFirstPaint(m_window, [this] { showPage(); });
}

void RadioPanel::showPage()
{
    if (!m_browser.widget()) {
        const WebViews* views = m_views();
        if (!views || !m_browser.CreateInPlaceOf(m_window, m_placeholderId, *views)) {
            showPrompt();
            return;
        }
        m_browser.moveWindow(kBrowserRect);
        // A screen reader names the page by this, not by whatever title the store gives it.
        m_browser.widget()->setAccessibleName(QLatin1StringView(kRadioPageName));
        if (m_rightClicks)
            m_rightClicks->setTarget(m_browser.view());
    }
    m_browser.showWindow(true);
    m_browser.NavigateTo(m_url);
    if (!m_memoryCheck) {
        m_memoryCheck = new QTimer(m_window);
        QObject::connect(m_memoryCheck, &QTimer::timeout, m_memoryCheck, [this] { checkMemory(); });
    }
    m_memoryCheck->start(kRadioMemoryCheckInterval);
}

void RadioPanel::checkMemory()
{
    const std::uint64_t used = m_gauge ? m_gauge() : 0;
    if (used <= kRadioPageMemoryLimit)
        return;
    logFailure("the radio page " + m_url,
               "it uses " + std::to_string(used >> 20) + " MiB, more than the " + std::to_string(kRadioPageMemoryLimit >> 20)
                   + " MiB a page may",
               "unloading it; the prompt loads it again when clicked");
    // A blank page lets the engine free what the radio page held.
    m_browser.NavigateTo("about:blank");
    showPrompt();
}

} // namespace qvr
