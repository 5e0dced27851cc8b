#pragma once

#include "engine/message_box.h"

#include <optional>
#include <string>

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

class QtPrompts : public Prompts {
public:
    int messageBox(QWidget* owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    std::optional<std::string> chooseFolder(QWidget* owner, const std::string& title,
                                            const std::string& startFolder) override;
};

} // namespace qvr
