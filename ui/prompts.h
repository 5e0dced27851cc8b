#pragma once

#include "ui/message_box.h"

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace qvr {

// A notice box on the screen; it goes when this goes.
class ShownNotice {
public:
    virtual ~ShownNotice() = default;
};

// Every box the program shows goes through here, so that tests can answer it; the
// real one shows the dialogs.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual int messageBox(QWidget* owner, const std::string& text, const std::string& caption,
                           unsigned type) = 0;
    // The chosen folder, or nothing when the user cancelled.
    virtual std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                                    const std::string& startFolder) = 0;
    // A box that tells something and asks nothing. It leaves the window to the user
    // (its close button above all), and `closed` runs once the user has closed it;
    // `closed` may run before this returns. Unless overridden, a message box with OK.
    [[nodiscard]] virtual std::unique_ptr<ShownNotice> showNotice(QWidget* owner, const std::string& text,
                                                                  const std::string& caption,
                                                                  std::function<void()> closed);
};

// Boxes that tell the user something without waiting for an answer: each shows once
// the window is free, one at a time, in the order they came; a text already shown or
// waiting is not queued twice. The sender of a message is never kept waiting for the
// user, and the window ends whatever boxes wait.
class NoticeQueue {
public:
    NoticeQueue(Prompts*& prompts, QWidget& owner);
    void post(const std::string& text, const std::string& caption);
    // A request the store gave no track for, and which was left out. Requests refused
    // close together are told in one box: one waiting, or gathering for a moment, takes
    // the others, so a queue of refused requests is a box or two, not one each.
    void tellRefused(const std::string& request);
    // The window ends: what waits is dropped, an open box closed, and nothing more shown.
    void end();

    static constexpr std::chrono::milliseconds kRefusalGathering {1000};
    static constexpr std::size_t kRefusalsNamed = 10;
    // A request's characters shown, past which it is cut: the box stays readable
    // whatever the request file held.
    static constexpr std::size_t kRequestShown = 100;

private:
    struct Notice {
        std::string text, caption;
        // Of a box of refusals: the first requests, how many more, and when it may show.
        std::vector<std::string> refused;
        std::size_t refusedMore = 0;
        std::chrono::steady_clock::time_point due {};
        bool isRefusals() const { return !refused.empty(); }
    };
    static std::string refusalText(const Notice& notice);
    void showSoon();
    void showNext();
    void onClosed(std::uint64_t box);

    Prompts*& m_prompts;
    QWidget& m_owner;
    std::deque<Notice> m_waiting;
    QTimer m_timer;
    std::unique_ptr<ShownNotice> m_shown;
    std::optional<Notice> m_open;  // the notice of the box on the screen
    std::uint64_t m_boxes = 0;    // boxes shown so far: a late word of an older one is ignored
    bool m_ended = false;
};

class QtPrompts : public Prompts {
public:
    int messageBox(QWidget* owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                            const std::string& startFolder) override;
    std::unique_ptr<ShownNotice> showNotice(QWidget* owner, const std::string& text, const std::string& caption,
                                            std::function<void()> closed) override;
};

} // namespace qvr
