#pragma once

// The queue decisions alone: a QueueController with everything around it played by
// the test. The view writes down what the user would see, the gates which job went to
// which worker, and the store keeps the two lists "on disk" as titles and request
// texts, with a hook that runs after every save (where a crash could strike).

#include "engine/messages.h"
#include "engine/queue_controller.h"
#include "engine/workers.h"

#include "tests/support/common.h"

namespace qvr::test {

// The titles of a queue, or the texts of the raw entries, head first.
template <class Node>
std::vector<std::string> linesOf(const EntryList<Node>& list)
{
    std::vector<std::string> lines;
    for (const Node* node = list.GetHead(); node; node = node->next.get())
        if constexpr (std::is_same_v<Node, QueueItem>)
            lines.push_back(node->title);
        else
            lines.push_back(node->text);
    return lines;
}

class RecordingView final : public QueueView {
public:
    void setStatus(const std::string& text) override { status = text; }
    void ResetProgress() override {}
    void SetProgress(int) override {}
    void showQueue(const EntryList<QueueItem>& queue) override { rows = linesOf(queue); }
    void showRowsAdded(const EntryList<QueueItem>& queue, std::uint32_t row, std::uint32_t count) override
    {
        for (std::uint32_t i = row; i < row + count; ++i)
            rows.insert(rows.begin() + i, queue.GetAt(i)->title);
    }
    void showRowsRemoved(std::uint32_t row, std::uint32_t count) override
    {
        rows.erase(rows.begin() + row, rows.begin() + row + count);
    }
    void RefreshFileList(const std::string& folder) override { refreshes.push_back(folder); }
    void showLatched(bool resume, bool pause) override { latched = {resume, pause}; }
    void showFolder(const std::string& folder) override { folderText = folder; }
    bool ask(const std::string&, const std::string& caption, Buttons) override
    {
        asked.push_back(caption);
        if (const std::function<void()> during = std::exchange(whileAsking, nullptr))
            during();
        return answer;
    }
    std::optional<std::string> chooseFolder(const std::string&, const std::string&) override { return chosen; }
    void warn(const std::string& text, const std::string&) override { warnings.push_back(text); }
    void tellRefused(const RawEntry& request) override { warnings.push_back(request); }
    void retrySavesAfter(std::chrono::milliseconds pause) override
    {
        ++retriesAsked;
        saveRetry = pause;
    }
    void retryWaitingAfter(std::chrono::milliseconds pause) override { waitRetry = pause; }

    std::string status, folderText;
    std::vector<std::string> rows, refreshes, asked, warnings;
    std::pair<bool, bool> latched {false, false};
    bool answer = true;  // the box's Yes, or its OK
    int retriesAsked = 0;
    std::optional<std::chrono::milliseconds> waitRetry;  // the last pause of retryWaitingAfter
    std::optional<std::chrono::milliseconds> saveRetry;  // and of retrySavesAfter
    std::function<void()> whileAsking;  // runs while the next box is open, as events would
    std::optional<std::string> chosen;
};

class RecordingGates final : public WorkerGates {
public:
    void handOver(Gate gate) override { handed.push_back(gate == Gate::Download ? "download" : "resolve"); }
    void takeBack(Gate) override {}
    void pokeFolderWatcher() override { ++pokes; }
    std::vector<std::string> handed;
    int pokes = 0;
};

class MemoryStore final : public QueueStore {
public:
    FileResult LoadDownloadQueue(EntryList<QueueItem>& queue) override
    {
        for (const std::string& title : downloadQueue)
            queue.AddTail(std::make_unique<QueueItem>(title, "http://store/" + title));
        return FileResult::ok();
    }
    FileResult LoadRawQueue(EntryList<RawEntryItem>& entries) override
    {
        for (const std::string& text : rawQueue)
            entries.AddTail(std::make_unique<RawEntryItem>(text));
        return FileResult::ok();
    }
    FileResult SaveDownloadQueue(const EntryList<QueueItem>& queue) override { return save(downloadQueue, linesOf(queue)); }
    FileResult SaveRawQueue(const EntryList<RawEntryItem>& entries) override { return save(rawQueue, linesOf(entries)); }
    FileResult appendRawQueue(std::string_view text) override
    {
        std::vector<std::string> lines = rawQueue;
        lines.emplace_back(text);
        return save(rawQueue, std::move(lines));
    }
    std::string folderOf(File) const override { return "/queues"; }

    std::vector<std::string> downloadQueue, rawQueue;
    int failures = 0;  // saves that fail before the disk has room again
    std::function<void()> afterSave;

private:
    FileResult save(std::vector<std::string>& file, std::vector<std::string> lines)
    {
        if (failures > 0) {
            --failures;
            return FileResult::failed(ENOSPC);
        }
        file = std::move(lines);
        if (afterSave)
            afterSave();
        return FileResult::ok();
    }
};

class ControllerTest : public ::testing::Test {
protected:
    // These titles loaded behind the queue, as at the start.
    void givenAQueue(std::vector<std::string> titles)
    {
        store.downloadQueue = std::move(titles);
        controller.LoadDownloadQueue();
    }
    // The resolver's report on the entry it holds: a track (at the address of its
    // title, unless `url` says another), or none (nullptr title).
    void theResolverReports(const char* title, ResolveReport::Outcome outcome = ResolveReport::Outcome::Consumed,
                            std::string url = {})
    {
        ResolveReport report {outcome, std::nullopt};
        if (title)
            report.item.emplace(title, url.empty() ? std::string("http://store/") + title : url);
        controller.onEntryResolved(std::move(report));
    }
    // The raw entries loaded, then these requests taken, as from second starts.
    void givenRequests(std::initializer_list<const char*> requests)
    {
        controller.LoadRawQueue();
        for (const char* request : requests)
            ASSERT_TRUE(controller.AddRawEntry(request));
    }
    void theDownloaderReports(const DownloadReport& report) { controller.onDownloadFinished(report); }
    void whileTheBoxIsOpen(std::function<void()> act) { view.whileAsking = std::move(act); }
    std::vector<std::string> queued() const { return linesOf(controller.queue()); }

    RecordingView view;
    RecordingGates gates;
    const Configuration configuration = [] { Configuration start; start.strings.m_strDownloadFolder = "/music"; return start; }();
    WorkerShared shared {configuration};
    MemoryStore store;
    std::vector<std::string> folderWrites;
    SettingResult folderWriteResult = SettingResult::ok();
    std::chrono::steady_clock::time_point now;  // the controller's clock, moved by the test
    std::chrono::microseconds clockStep {0};     // and by this much more at each reading
    QueueController controller {view, gates, shared, store,
                                [this](const std::string& folder) {
                                    folderWrites.push_back(folder);
                                    return folderWriteResult;
                                },
                                [this] { return std::exchange(now, now + clockStep); }};
};

// Three tracks queued, the first downloading.
class WhileATrackDownloads : public ControllerTest {
protected:
    WhileATrackDownloads()
    {
        givenAQueue({"A", "B", "C"});
        controller.StartNextDownload();
    }
};

} // namespace qvr::test
