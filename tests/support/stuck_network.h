#pragma once

#include "platform/http.h"

#include <condition_variable>
#include <functional>
#include <mutex>

namespace qvr::test {

// A transport whose requests hang, deaf to any interrupt, until the test releases
// them: a connection stuck where no request of the program reaches it. Its clients
// may outlive it.
class StuckNetwork {
public:
    HttpClientFactory factory() const
    {
        return [state = m_state](const std::string&) { return std::make_unique<Client>(state); };
    }
    // Waits until a request hangs.
    bool waitUntilStuck() { return waitUntil([&] { return m_state->stuck > 0; }); }
    // Waits until every client made has been destroyed.
    bool waitUntilGone() { return waitUntil([&] { return m_state->clients == 0; }); }
    // Every hanging request, and every later one, fails.
    void release() { m_state->change([&] { m_state->released = true; }); }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        int stuck = 0, clients = 0;
        bool released = false;
        void change(const std::function<void()>& what)
        {
            const std::lock_guard lock(mutex);
            what();
            changed.notify_all();
        }
    };
    bool waitUntil(const std::function<bool()>& condition)
    {
        std::unique_lock lock(m_state->mutex);
        return m_state->changed.wait_for(lock, std::chrono::seconds(30), condition);
    }

    class Client final : public HttpClient {
    public:
        explicit Client(std::shared_ptr<State> state) : m_state(std::move(state)) { m_state->change([&] { ++m_state->clients; }); }
        ~Client() override { m_state->change([&] { --m_state->clients; }); }
        std::unique_ptr<HttpResponse> get(const std::string&, const std::vector<std::string>&) override
        {
            m_state->change([&] { ++m_state->stuck; });
            std::unique_lock lock(m_state->mutex);
            m_state->changed.wait(lock, [&] { return m_state->released; });
            --m_state->stuck;
            return nullptr;
        }
        void setInterrupt(std::function<bool()>) override {}

    private:
        std::shared_ptr<State> m_state;
    };

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace qvr::test
