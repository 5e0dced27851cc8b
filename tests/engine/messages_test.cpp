#include "engine/messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace qvr {
namespace {

// What a window would see of a typed message.
struct Seen {
    unsigned message = 0;
    MessageParams params;
};

class Recorder : public MessageSink {
public:
    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        seen = {message, {wParam, lParam}};
        return 0;
    }
    Seen seen;
};

template <class Message>
Message throughWindow(const Message& message, Recorder& window)
{
    Send(window, message);
    EXPECT_EQ(window.seen.message, Message::kNumber);
    return Message::unpack(window.seen.params);
}

TEST(Messages, EveryPayloadArrivesAsSentUnderItsOwnNumber)
{
    Recorder window;
    const std::string text = "Network Error";
    EXPECT_EQ(throughWindow(msg::SetStatus {text.c_str()}, window).value, text.c_str());
    EXPECT_EQ(throughWindow(msg::FileOpenFailed {text.c_str()}, window).value, text.c_str());
    for (const std::int32_t number : {0, 100, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(throughWindow(msg::DownloadProgress {number}, window).value, number);
        EXPECT_EQ(throughWindow(msg::DownloadFinished {number}, window).value, number);
        EXPECT_EQ(throughWindow(msg::ThreadExited {number}, window).value, number);
    }

    auto item = std::make_unique<QueueItem>("Title", "http://h/t?x=1");
    const auto resolved = throughWindow(msg::EntryResolved {&item, RSF_CONSUMED | RSF_NETWORK_ERROR}, window);
    ASSERT_EQ(resolved.item, &item);
    EXPECT_EQ((*resolved.item)->title, "Title");
    EXPECT_EQ(resolved.flags, RSF_CONSUMED | RSF_NETWORK_ERROR);
    EXPECT_EQ(throughWindow(msg::EntryResolved {nullptr, RSF_CONSUMED}, window).item, nullptr);

    const CopyDataStruct data {COPYDATA_RAW_ENTRY, 8, "track=1"};
    EXPECT_EQ(throughWindow(msg::CopyData {&data}, window).value, &data);
    EXPECT_EQ(throughWindow(msg::SysCommand {SC_RESTORE}, window).command, SC_RESTORE);
    throughWindow(msg::FolderChanged {}, window);
    throughWindow(msg::SwitchQuit {}, window);
}

TEST(Messages, KeepTheirNumbersAndParameterPlaces)
{
    // Other instances send these numbers; a restore travels in wParam, everything
    // else the workers report in lParam.
    EXPECT_EQ(msg::FolderChanged::kNumber, 1124u);
    EXPECT_EQ(msg::SetStatus::kNumber, 1126u);
    EXPECT_EQ(msg::ThreadExited::kNumber, 1132u);
    EXPECT_EQ(msg::SwitchQuit::kNumber, 1130u);
    EXPECT_EQ((msg::SysCommand {SC_RESTORE}.pack().wParam), SC_RESTORE);
    EXPECT_EQ((msg::DownloadFinished {DLF_DONE}.pack().wParam), 0u);
    EXPECT_EQ((msg::DownloadFinished {DLF_DONE}.pack().lParam), DLF_DONE);
    EXPECT_EQ((msg::EntryResolved {nullptr, RSF_CONSUMED}.pack().wParam), 0u) << "no item: 0";
}

} // namespace
} // namespace qvr
