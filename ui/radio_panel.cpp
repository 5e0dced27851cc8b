#include "ui/radio_panel.h"

#include "controls/simple_browser.h"
#include "ui/layout.h"

#include <QWidget>

#include <utility>

namespace qvr {

HttpOptions RadioCheckOptions()
{
    using namespace std::chrono_literals;
    return {.connect = 2000ms, .stall = 3000ms, .followRedirects = true, .total = 3000ms};
}

int RadioPageStatus(const HttpClientFactory& http, const std::string& url)
{
    const std::unique_ptr<HttpClient> client = http(kRadioStatusAgent);
    if (!client)
        return 0;
    const std::unique_ptr<HttpResponse> response = client->get(url, {});
    return response ? response->statusCode() : 0;
}

RadioPanel::RadioPanel(QWidget* prompt, SimpleBrowser& browser, HttpClientFactory http, std::string url)
    : m_prompt(prompt), m_browser(browser), m_http(std::move(http)), m_url(std::move(url))
{
}

void RadioPanel::CreateBrowser(QWidget* window, int placeholderId)
{
    m_browser.CreateInPlaceOf(window, placeholderId);
    m_browser.MoveWindow(kBrowserRect);
}

void RadioPanel::ShowPrompt()
{
    m_browser.ShowWindow(false);
    if (m_prompt)
        m_prompt->show();
}

void RadioPanel::LoadRadio()
{
    if (!m_browser.widget() || RadioPageStatus(m_http, m_url) != 200) {
        ShowPrompt();
        return;
    }
    if (m_prompt)
        m_prompt->hide();
    m_browser.ShowWindow(true);
    m_browser.NavigateTo(m_url);
}

} // namespace qvr
