#pragma once

#include "ui/message_box.h"

#include <deque>
#include <optional>
#include <string>
#include <utility>

class QWidget;

namespace qvr {

// Every modal question the program asks goes through here, so that tests can
// answer it; the real one shows the dialogs.
class Prompts {
public:
    virtual ~Prompts() = default;
    virtual int messageBox(QWidget* owner, const std::string& text, const std::string& caption,
                           unsigned type) = 0;
    // The chosen folder, or nothing when the user cancelled.
    virtual std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                                    const std::string& startFolder) = 0;
};

// Boxes that tell the user something without waiting for an answer: each shows once
// the window is free, one at a time, in the order they came; a text already waiting
// is not queued twice. The sender of a message is never kept waiting for the user.
class NoticeQueue {
public:
    NoticeQueue(Prompts*& prompts, QWidget& owner) : m_prompts(prompts), m_owner(owner) {}
    void post(const std::string& text, const std::string& caption);

private:
    void showNext();

    Prompts*& m_prompts;
    QWidget& m_owner;
    std::deque<std::pair<std::string, std::string>> m_waiting;
    bool m_bShowing = false;
};

class QtPrompts : public Prompts {
public:
    int messageBox(QWidget* owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                            const std::string& startFolder) override;
};

} // namespace qvr
