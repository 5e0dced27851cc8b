#pragma once

#include <optional>
#include <string>

class QWidget;

namespace qvr {

// Message box types and answers, with the numbers the rest of the program uses.
enum MessageBoxType : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_YESNO = 0x4,
    MB_ICONERROR = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
    MB_ICONINFORMATION = 0x40,
};
enum MessageBoxAnswer : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

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
