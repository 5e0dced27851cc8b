#pragma once

#include "platform/http.h"
#include "platform/wait_budget.h"
#include "ui/background_work.h"

#include <QPointer>

#include <chrono>
#include <cstdint>

#include <functional>
#include <string>

class QTimer;
class QWidget;

namespace qvr {

class RightClickFilter;
class SimpleBrowser;
class WebViews;

// The web engine's views, loaded when first asked for; null when they cannot be had.
using WebViewSource = std::function<const WebViews*()>;

inline constexpr const char* kRadioStatusAgent = "Get Radio Status";
inline constexpr const char* kRadioPromptText = "Click Here to Load Online Radio";
inline constexpr const char* kRadioPageName = "Online radio";

// The radio check runs on the window's thread, which stands still while it waits:
// it gives up after 3 seconds in all, and follows redirects to the final answer.
HttpOptions radioCheckOptions();

// The final status of a GET of `url` as a client of `http` sees it, with the agent
// "Get Radio Status"; the body is never read. 0 when no answer came, also when
// `overdue` (if given) said so first; `failure`, when given, then says why.
int radioPageStatus(const HttpClientFactory& http, const std::string& url,
                    const std::function<bool()>& overdue = nullptr, std::string* failure = nullptr);

// What a radio page may take: past it, the page goes and the prompt loads it again.
inline constexpr std::uint64_t kRadioPageMemoryLimit = std::uint64_t(512) << 20;
// How often a page that shows is measured against the limit.
inline constexpr std::chrono::seconds kRadioMemoryCheckInterval {5};

// The memory in use by the page that shows, in bytes.
using PageMemoryGauge = std::function<std::uint64_t()>;

// The main window's radio panel: the store's radio page in a browser when it answers,
// otherwise a prompt whose clicks try again. The prompt and the browser belong to the
// window; the panel switches between them, and makes the prompt a stop of the Tab
// chain that Return, Enter and Space press, marked while it has the keyboard. Mouse
// clicks on the prompt are the window's to pass on (OnRadioPromptClicked).
class RadioPanel {
public:
    // `http` makes the clients of the check, normally curlHttpClientFactory(radioCheckOptions()).
    RadioPanel(QWidget* prompt, SimpleBrowser& browser, HttpClientFactory http, std::string url);

    // Where the browser goes once the page answers: in place of the window's control
    // `placeholderId`, moved over the prompt (kBrowserRect), with a view from `views`;
    // `rightClicks`, when given, is told of it. The web engine is not loaded here.
    void placeBrowser(QWidget* window, int placeholderId, WebViewSource views, RightClickFilter* rightClicks);

    // Checks the page: when it answers 200 the prompt goes and the browser shows the
    // page (loading it itself), made once the window has painted itself; otherwise the
    // browser goes and the prompt stays. Without a place for the browser, or when no
    // view can be made, nothing is checked and the prompt stays, so the user can retry.
    // With a budget the check waits no longer than it leaves, and not at all once it
    // is spent: false when the budget cut it short, and the prompt shows until
    // loadInBackground() asks again.
    [[nodiscard]] bool LoadRadio(WaitBudget* budget = nullptr);

    // The check of LoadRadio() off the window's thread, which shows the prompt until the
    // page answers: for a check cut short before the window showed.
    void loadInBackground();

    // The prompt without a check, as after one that failed.
    void showPrompt();

    // A click on the prompt.
    void OnRadioPromptClicked() { static_cast<void>(LoadRadio()); }

    // How a page's memory is measured; by default what the web engine's processes
    // hold together with what this process has taken since the first measure (where
    // the engine keeps a page's stored data).
    void setMemoryGauge(PageMemoryGauge gauge) { m_gauge = std::move(gauge); }

private:
    // What a check came to: the page when it answered 200, else the prompt.
    void showCheck(int status, const std::string& failure);
    void showPage();
    // Unloads a page past the memory limit, for the prompt.
    void checkMemory();

    QPointer<QWidget> m_prompt;
    SimpleBrowser& m_browser;
    QPointer<QWidget> m_window;
    int m_placeholderId = 0;
    WebViewSource m_views;
    RightClickFilter* m_rightClicks = nullptr;
    HttpClientFactory m_http;
    std::string m_url;
    PageMemoryGauge m_gauge;
    QTimer* m_memoryCheck = nullptr;  // a child of the window, while the page shows
    // Last, so that it ends first: its job uses the rest.
    BackgroundWork m_background;
};

} // namespace qvr
